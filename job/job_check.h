#pragma once

#include <string>

#include "job/job_file.h"
#include "update/update_file_check.h"

// What "job check" finds without any device: the job as LoadJob reads it, then its update file
// checked as "check" checks it and its SHA-256 compared with job.sha256.
struct JobCheck {
    JobLoad load;  // exitCode: the first problem's status, as a station with this job ends
    UpdateFileCheck file;
    std::string fileSha256;  // the update file's, when it could be read
};

// The status order: an unsafe job (80), an unusable one (78), the update file's own code
// (-12, -13, -14), then a file that is not the approved one (79).
JobCheck CheckJob(const std::string& path);
