#include "update/exit_codes.h"

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

int FtdiUpdateExitCode(int linkResult, bool signatureError) {
    switch (linkResult) {
        case 0:
            if (!signatureError) {
                return kExitSuccess;
            }
            break;
        case -99:
            return kExitNotReady;
        case -7:
            return kExitTooManyErrors;
        case -2:  // odd size
        case -5:  // malformed frame
            return kExitFileMalformed;
        case -4:  // reading the file failed
            return kExitFileUnreadable;
        case -1:  // the link could not open the file
            return kExitFileTooShort;
        default:
            break;
    }
    return signatureError ? kExitSignatureError : -100 - linkResult;
}

int SerialUpdateExitCode(int linkResult, bool signatureError) {
    // The serial link's codes match the network link's but for two: its too-many-errors result
    // is -10, and its -8 is a failed status query of the port, which has no code of its own.
    switch (linkResult) {
        case -10:
            return kExitTooManyErrors;
        case -8:
            return signatureError ? kExitSignatureError : -100 - linkResult;
        default:
            return NetworkUpdateExitCode(linkResult, signatureError);
    }
}
