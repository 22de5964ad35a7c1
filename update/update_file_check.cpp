#include "update/update_file_check.h"

#include "engine/update_file.h"
#include "log/text_format.h"
#include "update/exit_codes.h"

namespace {

const char* FaultText(FrameFault fault) {
    switch (fault) {
        case FrameFault::ShortHeader:
            return "short file: fewer than the two length bytes remain";
        case FrameFault::TooLong:
            return "length over 276";
        case FrameFault::PastTheEnd:
            return "frame past the end of the file";
    }
    return "";
}

}  // namespace

int UpdateFileLengthRule(const std::string& path, long long& length) {
    const std::optional<long long> size = UpdateFileLength(path);
    if (!size) {
        return kExitFileUnreadable;
    }
    length = *size;
    return length < 2 ? kExitFileTooShort : 0;
}

UpdateFileCheck CheckUpdateFile(const std::string& path) {
    UpdateFileCheck c;
    long long length = -1;
    const int lengthCode = UpdateFileLengthRule(path, length);
    if (lengthCode == kExitFileUnreadable) {
        c.exitCode = kExitFileUnreadable;
        c.verdict = "cannot be opened: not a readable regular file";
        return c;
    }
    c.fileBytes = length;
    // Read even when too short: what it decodes to is told all the same.
    const UpdateFileRead read = ReadUpdateFile(path);
    FrameWalk walk;
    if (read.outcome == ReadOutcome::Ok) {
        c.decoded = true;
        c.imageBytes = read.image.bytes.size();
        walk = WalkFrames(read.image.bytes);
        c.frames = walk.frames;
        c.smallestLength = walk.smallestLength;
        c.largestLength = walk.largestLength;
    }
    if (lengthCode == kExitFileTooShort) {
        c.exitCode = kExitFileTooShort;
        c.verdict = "short file: shorter than 2 bytes";
        return c;
    }
    switch (read.outcome) {
        case ReadOutcome::Ok:
            break;
        case ReadOutcome::OddSize:
            c.exitCode = kExitFileMalformed;
            c.verdict = StrPrintf("odd size: %lld characters", read.detail);
            return c;
        case ReadOutcome::CannotOpen:
        case ReadOutcome::NoMemory:
        case ReadOutcome::ShortRead:
            c.exitCode = kExitFileUnreadable;
            c.verdict = "cannot be read";
            return c;
    }
    if (walk.malformed) {
        c.exitCode = kExitFileMalformed;
        c.verdict = StrPrintf("malformed frame at offset %zu (L %u): %s", walk.malformed->offset,
                              walk.malformed->length, FaultText(walk.malformed->fault));
        return c;
    }
    c.verdict = "valid";
    return c;
}
