#include "records/store_status.h"

int ExitStatusOf(StoreStatus status) {
    switch (status) {
        case StoreStatus::Ok:
            return 0;
        case StoreStatus::Missing:
            return kExitRecordsMissing;
        case StoreStatus::Locked:
            return kExitRecordsLocked;
        case StoreStatus::NewerSchema:
            return kExitRecordsNewerSchema;
        case StoreStatus::Corrupt:
            return kExitRecordsCorrupt;
        case StoreStatus::Unwritable:
            return kExitRecordsUnwritable;
        case StoreStatus::Unreachable:
            return kExitRecordsUnreachable;
        case StoreStatus::Refused:
            return kExitRecordsRefused;
    }
    return kExitRecordsUnwritable;
}
