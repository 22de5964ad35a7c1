#include "app/exit_codes.h"

int NetworkUpdateExitCode(int linkResult, bool signatureError) {
    switch (linkResult) {
        case 0:
            if (!signatureError) {
                return kExitSuccess;
            }
            break;
        case -99:
            return kExitNotReady;
        case -8:
            return kExitTooManyErrors;
        case -6:
        case -3:
            return kExitFileMalformed;
        case -5:
            return kExitFileUnreadable;
        case -2:
            return kExitFileTooShort;
        default:
            break;
    }
    if (signatureError) {
        return kExitSignatureError;
    }
    return -100 - linkResult;
}
