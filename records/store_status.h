#pragma once

#include <string>

// Why a records database cannot be opened or written, each with an exit status of its own.
// The numbers stay clear of the update codes (0, 2, 236 to 246, 130, 143 and -100-r).
enum class StoreStatus {
    Ok,
    Missing,
    Locked,
    NewerSchema,
    Corrupt,
    Unwritable,
    Unreachable,
    Refused
};

inline constexpr int kExitRecordsCorrupt = 65;      // not a records database, or damaged
inline constexpr int kExitRecordsMissing = 66;      // no database at the path
inline constexpr int kExitRecordsUnreachable = 69;  // the plant database's server is away
inline constexpr int kExitRecordsUnwritable = 73;   // an attempt's record cannot be written
inline constexpr int kExitRecordsLocked = 75;       // another program holds the database
inline constexpr int kExitRecordsNewerSchema = 76;  // written by a later version of the program
inline constexpr int kExitRecordsRefused = 77;      // the plant database cannot be used

int ExitStatusOf(StoreStatus status);

// What went wrong, for standard error.
struct StoreError {
    StoreStatus status = StoreStatus::Ok;
    std::string message;
};
