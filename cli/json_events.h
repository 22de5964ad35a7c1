#pragma once

#include <QJsonObject>

#include <cstdint>
#include <cstdio>
#include <mutex>
#include <string>

#include "cli/update_observer.h"
#include "engine/clock.h"

// JSON Lines on a stream: one object a line, flushed at once. Several devices' threads may
// write through one.
class JsonLines {
  public:
    explicit JsonLines(std::FILE* out) : out_(out) {}
    void Write(const QJsonObject& object);

  private:
    std::mutex mutex_;
    std::FILE* out_;
};

// One update's events as JSON Lines: start, synchronised, progress (at most about ten a
// second), retry, result.
class JsonUpdateEvents final : public UpdateObserver, public ProgressSink {
  public:
    JsonUpdateEvents(JsonLines& out, std::string link, std::string device, std::string file,
                     Clock& clock);

    // "start": the file's size and frames, read the way the update reads them.
    void Start();

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
    unsigned framesSent_ = 0;
    unsigned retries_ = 0;
};

// The name of a device id as the bootloader reports it ("Corvane").
std::string DeviceName(unsigned id);
// A reply byte as the log writes it ("0x22").
std::string ReplyText(std::uint8_t reply);
