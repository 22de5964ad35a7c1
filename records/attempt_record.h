#pragma once

#include <cstdint>
#include <optional>
#include <string>

// How far an attempt got: its row is written when it starts and completed when it ends; a row
// still running when its store opens again belonged to a program that was killed.
enum class AttemptState { Running, Finished, Interrupted };

// One attempt to update one device, as the records keep it.
struct AttemptRecord {
    // The attempt's own id, made when it begins; a plant database that collects the records of
    // many stations keeps it as the key, so a record sent twice is kept once.
    std::string uuid;
    std::string startedUtc;  // ISO 8601 in UTC with milliseconds: 2026-12-08T03:04:05.123Z
    std::string endedUtc;    // empty while the attempt runs
    std::string station;
    std::string operatorName;
    std::string link;    // "FTDI", "USBX", "COM", "UDP"
    std::string device;  // what names the device on its link: serial number, port or address
    std::string description;
    std::string bootloaderVersion;  // "1.05"; empty when no bootloader answered
    std::optional<int> deviceId;
    std::string deviceName;
    std::string hardware;  // a Corvane device's version texts
    std::string software;
    std::string fileName;
    std::int64_t fileSize = 0;
    std::string fileSha256;  // lower-case hexadecimal
    int framesSent = 0;
    int retries = 0;
    std::optional<int> resultCode;  // the exit code; none while the attempt runs
    // A stored result code that is not a whole number, as it was stored (read back only; the
    // attempt counts as failed); resultCode is then empty.
    std::string resultText;
    std::string message;
    AttemptState state = AttemptState::Running;
    // The production job the attempt ran under: its name, the job file's SHA-256 and its lot;
    // empty without a job.
    std::string job;
    std::string jobSha256;
    std::string lot;
    // What the job's hook did after the attempt's record was written ("exit 0", "exit 3",
    // "killed after 10 s (timed out)", "signal 9", "could not start: ..."); empty when no hook
    // ran (yet).
    std::string hook;
};

// Where a front end writes its attempts. Both calls may come from any thread; each write is a
// transaction of its own and has reached the store when the call returns.
class AttemptLog {
  public:
    virtual ~AttemptLog() = default;
    // Writes the row of an attempt that starts (with the record's uuid, or a new one when it
    // has none); its id, or none when the write failed (then the attempt must not run).
    virtual std::optional<std::int64_t> Begin(const AttemptRecord& record) = 0;
    // Completes the row `id` with the attempt's end; false when the write failed.
    virtual bool Complete(std::int64_t id, const AttemptRecord& record) = 0;
};
