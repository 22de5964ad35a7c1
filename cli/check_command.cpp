#include "cli/check_command.h"

#include <QJsonObject>

#include <array>
#include <cstdio>

#include "cli/command_line.h"
#include "cli/json_events.h"
#include "cli/operands.h"
#include "log/text_format.h"

namespace {

constexpr std::array kCheckOptions{OptionSpec{"--json", false}};

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
