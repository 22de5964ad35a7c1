#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "engine/device_types.h"
#include "update/expected_device.h"
#include "update/link_table.h"
#include "update/sha256_hex.h"

// Exit statuses of "job check" and of a station started with a job that cannot be used.
inline constexpr int kExitJobInvalid = 78;       // syntax, unknown key, wrong type, hook unusable
inline constexpr int kExitJobFileMismatch = 79;  // the update file's SHA-256 is not job.sha256
inline constexpr int kExitJobUnsafe = 80;        // job file or hook writable by another user

struct JobYieldRule {
    double percent = 0;      // stop when the yield falls below this...
    std::int64_t after = 0;  // ...once at least this many devices were tried
};

// A production job as its file describes it. The station's settings are checked against the
// links and device types this program knows.
struct Job {
    std::string path;    // the job file, as given
    std::string sha256;  // the job file's own SHA-256, of exactly the bytes parsed

    // [job]
    std::string name;
    std::string file;        // the update file, a relative one resolved from the job's folder
    std::string fileSha256;  // job.sha256, lower case
    // [station]
    std::string link;                        // upper case
    std::vector<std::string> slotAddresses;  // UDP and COM fixture slots
    std::vector<UsbId> match;                // COM: USB serial adapters
    const DeviceType* deviceType = nullptr;
    // [expect]
    std::optional<std::uint8_t> deviceId;
    std::optional<BootloaderVersion> bootloaderMin;
    // [lot]
    std::optional<std::string> lotId;
    std::optional<std::int64_t> lotSize;
    std::optional<std::int64_t> stopAfterFailuresInARow;
    std::optional<JobYieldRule> stopBelowYield;
    // [operator]
    bool operatorRequired = false;
    // [hook]: argv[0] made absolute (as given, or from the job file's folder; no PATH search)
    std::vector<std::string> hookArgv;
    std::optional<std::int64_t> hookTimeoutSeconds;
    bool stopOnHookFailure = false;
    // [metrics]
    std::optional<std::string> metricsListen;
};

// What loading a job found.
struct JobLoad {
    std::shared_ptr<const Job> job;  // set when exitCode is 0
    int exitCode = 0;                // 0, kExitJobInvalid or kExitJobUnsafe
    // In the file's order, each with its place where it has one:
    // "job.toml:7:1: unknown key \"lot.sise\"".
    std::vector<std::string> errors;
};

// Reads the job file once, hashes and parses those bytes, and checks every table and key, the
// file's safety, and the hook program's (it must exist, be executable and be safe). The update
// file is not looked at. Never throws.
JobLoad LoadJob(const std::string& path);

// "app.enc: its SHA-256 is <actual>, the job expects <job.sha256> (job.sha256)". Inline: the
// station's start says it too, without linking the job's parser.
inline std::string JobFileMismatch(const Job& job, const std::string& actualSha256) {
    return job.file + ": its SHA-256 is " + actualSha256 + ", the job expects " + job.fileSha256 +
           " (job.sha256)";
}
