#include "cli/job_command.h"

#include <QJsonArray>
#include <QJsonObject>

#include <array>
#include <cstdio>

#include "cli/command_line.h"
#include "cli/json_events.h"
#include "cli/operands.h"
#include "job/job_check.h"
#include "log/escaped_text.h"

namespace {

constexpr std::array kJobOptions{OptionSpec{"--json", false}};

void PrintJob(const std::string& path, const JobCheck& check) {
    std::printf("job:     %s\n", EscapedText(path).c_str());
    if (const Job* job = check.load.job.get()) {
        std::printf("name:    %s\n", EscapedText(job->name).c_str());
        std::printf("sha256:  %s\n", job->sha256.c_str());
        std::printf("file:    %s\n", EscapedText(job->file).c_str());
    }
    for (const std::string& error : check.load.errors) {
        std::printf("%s\n", EscapedText(error).c_str());
    }
    if (check.load.exitCode == 0) {
        std::printf("valid\n");
    }
}

void PrintJobJson(const std::string& path, const JobCheck& check) {
    QJsonArray errors;
    for (const std::string& error : check.load.errors) {
        errors.append(QString::fromStdString(error));
    }
    const Job* job = check.load.job.get();
    const int code = check.load.exitCode;
    const auto text = [](const std::string& s) { return QString::fromStdString(s); };
    JsonLines out(stdout);
    out.Write(QJsonObject{
        {QStringLiteral("event"), QStringLiteral("job-check")},
        {QStringLiteral("job"), text(path)},
        {QStringLiteral("name"), text(job != nullptr ? job->name : "")},
        {QStringLiteral("jobSha256"), text(job != nullptr ? job->sha256 : "")},
        {QStringLiteral("file"), text(job != nullptr ? job->file : "")},
        {QStringLiteral("fileSha256"), text(check.fileSha256)},
        {QStringLiteral("valid"), code == 0},
        {QStringLiteral("errors"), errors},
        {QStringLiteral("message"), text(code == 0 ? "valid" : check.load.errors.front())},
        {QStringLiteral("code"), code},
        {QStringLiteral("exitStatus"), code & 0xFF}});
}

}  // namespace

std::optional<int> ParseJobRequest(std::span<const std::string> operands, std::string& path,
                                   bool& json) {
    std::string error;
    const std::optional<Operands> split = SplitOperands(operands, kJobOptions, 2, error);
    if (!split) {
        return UsageError("job", error);
    }
    if (split->help) {
        return PrintHelp(*split);
    }
    if (split->positional.empty() || UpperCase(split->positional[0]) != "CHECK") {
        return UsageError("job", "use: job check <job-file>");
    }
    if (split->positional.size() < 2) {
        return UsageError("job", "the job file is missing");
    }
    path = split->positional[1];
    json = split->Option("--json").has_value();
    return std::nullopt;
}

int RunJobCommand(std::span<const std::string> operands, LogSink&) {
    std::string path;
    bool json = false;
    if (const std::optional<int> code = ParseJobRequest(operands, path, json)) {
        return *code;
    }
    const JobCheck check = CheckJob(path);
    if (json) {
        PrintJobJson(path, check);
    } else {
        PrintJob(path, check);
    }
    return check.load.exitCode;
}
