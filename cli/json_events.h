#pragma once

#include <QJsonObject>

#include <atomic>
#include <cstdint>
#include <cstdio>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "engine/clock.h"
#include "update/update_file_check.h"
#include "update/update_observer.h"

class JsonUpdateEvents;

// JSON Lines on a stream: one object a line (DEL and C1 controls escaped, as in the records'
// JSON), flushed at once. Several devices' threads may write through one. It knows the updates
// under way, so that an interrupted run still ends each with its result line.
class JsonLines {
  public:
    explicit JsonLines(std::FILE* out) : out_(out) {}
    void Write(const QJsonObject& object);

    // An update's events begin: from now on an interruption gives it a result line.
    void Begin(const JsonUpdateEvents* update);
    // The update's last line, its result (none when it has no result to give).
    void End(const JsonUpdateEvents* update, const std::optional<QJsonObject>& result);
    // Ends every update under way with a result line for the signal; nothing is written after.
    void Interrupt(int signal);

  private:
    void WriteLocked(const QJsonObject& object);

    std::mutex mutex_;
    std::FILE* out_;
    std::vector<const JsonUpdateEvents*> running_;
    bool interrupted_ = false;
};

// One update's events as JSON Lines: start, synchronised, progress (at most about ten a
// second), retry, result. From its making to its result it counts as under way on `out`.
class JsonUpdateEvents final : public UpdateObserver, public ProgressSink {
  public:
    JsonUpdateEvents(JsonLines& out, std::string link, std::string device, std::string file,
                     Clock& clock);
    ~JsonUpdateEvents() override;
    JsonUpdateEvents(const JsonUpdateEvents&) = delete;
    JsonUpdateEvents& operator=(const JsonUpdateEvents&) = delete;

    // "start": the file's size and frames, as the file check found them (`check`, when the
    // caller has checked the file already, else a check of the file named).
    void Start(const UpdateFileCheck* check = nullptr);

    // UpdateObserver
    void WaitingForBootloader(std::uint64_t) override {}
    void Synchronised(const BootloaderInfo& info) override;
    ProgressSink* TransferStarting(std::size_t imageBytes) override;
    void Finished(std::string_view verdict, int exitCode) override;

    // ProgressSink
    void SetRange(int low, int high) override;
    void SetPos(int position) override;
    void FrameSent(int frameNumber) override;
    void FrameRetried(int frameNumber, std::uint8_t reply) override;

    // The "result" event with what the update has done so far. Any thread may ask.
    QJsonObject Result(int exitCode, std::string_view message) const;

  private:
    QJsonObject Event(const char* name) const;

    JsonLines& out_;
    const std::string link_;
    const std::string device_;
    const std::string file_;
    Clock& clock_;
    std::uint64_t startMs_;
    std::uint64_t lastProgressMs_ = 0;
    std::size_t imageBytes_ = 0;
    ProgressScale scale_;
    int percent_ = -1;
    std::atomic<unsigned> framesSent_ = 0;  // read by an interruption's thread
    std::atomic<unsigned> retries_ = 0;
};

// A reply byte as the log writes it ("0x22").
std::string ReplyText(std::uint8_t reply);

// The result of an update that a signal interrupted: 128 + the signal's number, the status a
// shell reports for a program the signal ended (SIGINT: 130), and the message.
int InterruptedExitCode(int signal);
std::string InterruptedText(int signal);
