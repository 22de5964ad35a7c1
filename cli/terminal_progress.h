#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

#include "engine/clock.h"
#include "update/update_observer.h"

// The command line's display on a terminal: a line that shows the wait for the bootloader,
// then a progress bar with per cent, bytes and elapsed time, and finally the verdict line.
// When the stream is not a terminal it shows nothing at all: scripts see the exit code only.
class TerminalProgress final : public UpdateObserver, public ProgressSink {
  public:
    // Draws on `out` only when `enabled`; `target` names the device in the waiting line.
    TerminalProgress(std::FILE* out, bool enabled, std::string target, Clock& clock);
    ~TerminalProgress() override;

    // True when standard error is a terminal: where the display belongs.
    static bool StderrIsTerminal();

    // UpdateObserver
    void WaitingForBootloader(std::uint64_t elapsedMs) override;
    void Synchronised(const BootloaderInfo& info) override;
    ProgressSink* TransferStarting(std::size_t imageBytes) override;
    void Finished(std::string_view verdict, int exitCode) override;

    // ProgressSink
    void SetRange(int low, int high) override;
    void SetPos(int position) override;

    // The bar line for a position, as drawn (without the carriage return).
    static std::string BarLine(int percent, std::size_t totalBytes, std::uint64_t elapsedMs);

  private:
    void Draw(const std::string& line);
    void EndLine();
    bool DueForRedraw(bool changed);

    std::FILE* out_;
    bool enabled_;
    std::string target_;
    Clock& clock_;
    std::uint64_t startMs_;
    std::uint64_t lastDrawMs_ = 0;
    bool lineOpen_ = false;
    bool drawnOnce_ = false;
    std::size_t totalBytes_ = 0;
    ProgressScale scale_;
    int percent_ = -1;
};
