#include "cli/check_command.h"

#include <QJsonObject>

#include <array>
#include <cstdio>

#include "cli/command_line.h"
#include "cli/json_events.h"
#include "cli/operands.h"
#include "engine/update_file.h"
#include "log/text_format.h"
#include "update/exit_codes.h"

namespace {

constexpr std::array kCheckOptions{OptionSpec{"--json", false}};

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

void PrintCheck(const std::string& path, const UpdateFileCheck& c) {
    std::printf("file:    %s\n", path.c_str());
    if (c.fileBytes >= 0) {
        std::printf("size:    %lld bytes, %zu bytes decoded\n", c.fileBytes, c.imageBytes);
        std::printf("frames:  %zu\n", c.frames);
        if (c.frames > 0) {
            std::printf("L:       %u to %u\n", c.smallestLength, c.largestLength);
        }
    }
    std::printf("%s\n", c.verdict.c_str());
}

void PrintCheckJson(const std::string& path, const UpdateFileCheck& c) {
    JsonLines out(stdout);
    out.Write(QJsonObject{{QStringLiteral("event"), QStringLiteral("check")},
                          {QStringLiteral("file"), QString::fromStdString(path)},
                          {QStringLiteral("size"), static_cast<qint64>(c.fileBytes)},
                          {QStringLiteral("bytes"), static_cast<qint64>(c.imageBytes)},
                          {QStringLiteral("frames"), static_cast<qint64>(c.frames)},
                          {QStringLiteral("smallestL"), static_cast<qint64>(c.smallestLength)},
                          {QStringLiteral("largestL"), static_cast<qint64>(c.largestLength)},
                          {QStringLiteral("valid"), c.exitCode == 0},
                          {QStringLiteral("message"), QString::fromStdString(c.verdict)},
                          {QStringLiteral("code"), c.exitCode},
                          {QStringLiteral("exitStatus"), c.exitCode & 0xFF}});
}

}  // namespace

UpdateFileCheck CheckUpdateFile(const std::string& path) {
    UpdateFileCheck c;
    const std::optional<long long> length = UpdateFileLength(path);
    if (!length) {
        c.exitCode = kExitFileUnreadable;
        c.verdict = "cannot be opened: not a readable regular file";
        return c;
    }
    c.fileBytes = *length;
    if (*length < 2) {
        c.exitCode = kExitFileTooShort;
        c.verdict = "short file: shorter than 2 bytes";
        return c;
    }
    const UpdateFileRead read = ReadUpdateFile(path);
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
    c.imageBytes = read.image.bytes.size();
    const FrameWalk walk = WalkFrames(read.image.bytes);
    c.frames = walk.frames;
    c.smallestLength = walk.smallestLength;
    c.largestLength = walk.largestLength;
    if (walk.malformed) {
        c.exitCode = kExitFileMalformed;
        c.verdict = StrPrintf("malformed frame at offset %zu (L %u): %s", walk.malformed->offset,
                              walk.malformed->length, FaultText(walk.malformed->fault));
        return c;
    }
    c.verdict = "valid";
    return c;
}

std::optional<int> ParseCheckRequest(std::span<const std::string> operands, std::string& path,
                                     bool& json) {
    std::string error;
    const std::optional<Operands> split = SplitOperands(operands, kCheckOptions, 1, error);
    if (!split) {
        return UsageError("check", error);
    }
    if (split->help) {
        return PrintHelp(*split);
    }
    if (split->positional.empty()) {
        return UsageError("check", "the update file is missing");
    }
    path = split->positional[0];
    json = split->Option("--json").has_value();
    return std::nullopt;
}

int RunCheckCommand(std::span<const std::string> operands, LogSink&) {
    std::string path;
    bool json = false;
    if (const std::optional<int> code = ParseCheckRequest(operands, path, json)) {
        return *code;
    }
    const UpdateFileCheck check = CheckUpdateFile(path);
    if (json) {
        PrintCheckJson(path, check);
    } else {
        PrintCheck(path, check);
    }
    return check.exitCode;
}
