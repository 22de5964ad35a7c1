#include "job/job_check.h"

#include "update/exit_codes.h"
#include "update/sealed_file.h"

JobCheck CheckJob(const std::string& path) {
    JobCheck check;
    check.load = LoadJob(path);
    if (!check.load.job) {
        return check;
    }
    const Job& job = *check.load.job;
    check.file = CheckUpdateFile(job.file);
    if (check.file.exitCode != 0) {
        check.load.errors.push_back(job.file + ": " + check.file.verdict);
        check.load.exitCode = check.file.exitCode;
        return check;
    }
    std::string bytes;
    if (!ReadWholeFile(job.file, bytes)) {
        check.load.errors.push_back(job.file + ": cannot be read");
        check.load.exitCode = kExitFileUnreadable;
        return check;
    }
    check.fileSha256 = Sha256Hex(bytes);
    if (check.fileSha256 != job.fileSha256) {
        check.load.errors.push_back(JobFileMismatch(job, check.fileSha256));
        check.load.exitCode = kExitJobFileMismatch;
    }
    return check;
}
