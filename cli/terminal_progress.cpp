#include "cli/terminal_progress.h"

#include <unistd.h>

#include <algorithm>

#include "engine/device_identity.h"
#include "log/escaped_text.h"
#include "log/text_format.h"

namespace {

constexpr int kBarWidth = 30;
// Redraws of an unchanged line are limited to this rate; a change of per cent always draws.
constexpr std::uint64_t kRedrawMs = 100;

double Seconds(std::uint64_t ms) {
    return static_cast<double>(ms) / 1000.0;
}

double KiB(std::size_t bytes) {
    return static_cast<double>(bytes) / 1024.0;
}

}  // namespace

TerminalProgress::TerminalProgress(std::FILE* out, bool enabled, std::string target, Clock& clock)
    : out_(out),
      enabled_(enabled),
      target_(EscapedText(target)),
      clock_(clock),
      startMs_(clock.NowMs()) {}

TerminalProgress::~TerminalProgress() {
    EndLine();
}

bool TerminalProgress::StderrIsTerminal() {
    return ::isatty(STDERR_FILENO) == 1;
}

std::string TerminalProgress::BarLine(int percent, std::size_t totalBytes,
                                      std::uint64_t elapsedMs) {
    percent = std::clamp(percent, 0, 100);
    const int filled = percent * kBarWidth / 100;
    const std::string bar = std::string(static_cast<std::size_t>(filled), '#') +
                            std::string(static_cast<std::size_t>(kBarWidth - filled), '-');
    // The update reports whole per cent of the image accepted; the bytes follow from it.
    const std::size_t done = totalBytes * static_cast<std::size_t>(percent) / 100;
    return StrPrintf("[%s] %3d%%  %.1f / %.1f KiB  %.1f s", bar.c_str(), percent, KiB(done),
                     KiB(totalBytes), Seconds(elapsedMs));
}

void TerminalProgress::Draw(const std::string& line) {
    if (!enabled_) {
        return;
    }
    // Back to the line's start and clear what a longer line left behind.
    std::fprintf(out_, "\r%s\x1b[K", line.c_str());
    std::fflush(out_);
    lineOpen_ = true;
}

void TerminalProgress::EndLine() {
    if (enabled_ && lineOpen_) {
        std::fputc('\n', out_);
        std::fflush(out_);
    }
    lineOpen_ = false;
}

bool TerminalProgress::DueForRedraw(bool changed) {
    const std::uint64_t now = clock_.NowMs();
    if (!changed && drawnOnce_ && now - lastDrawMs_ < kRedrawMs) {
        return false;
    }
    lastDrawMs_ = now;
    drawnOnce_ = true;
    return true;
}

void TerminalProgress::WaitingForBootloader(std::uint64_t elapsedMs) {
    if (enabled_ && DueForRedraw(false)) {
        Draw(StrPrintf("Waiting for the bootloader at %s (switch the device off and on) %.1f s",
                       target_.c_str(), Seconds(elapsedMs)));
    }
}

void TerminalProgress::Synchronised(const BootloaderInfo& info) {
    if (!enabled_) {
        return;
    }
    Draw(BootloaderVersionText(info) + ", " + DeviceText(info.deviceId));
    EndLine();
}

ProgressSink* TerminalProgress::TransferStarting(std::size_t imageBytes) {
    if (!enabled_) {
        return nullptr;
    }
    totalBytes_ = imageBytes;
    drawnOnce_ = false;
    return this;
}

void TerminalProgress::SetRange(int low, int high) {
    scale_.SetRange(low, high);
}

void TerminalProgress::SetPos(int position) {
    const int percent = scale_.Percent(position);
    const bool changed = percent != percent_;
    percent_ = percent;
    if (DueForRedraw(changed)) {
        Draw(BarLine(percent, totalBytes_, clock_.NowMs() - startMs_));
    }
}

void TerminalProgress::Finished(std::string_view verdict, int exitCode) {
    if (!enabled_) {
        return;
    }
    EndLine();
    // The page's texts may end in a line break of their own.
    while (!verdict.empty() && verdict.back() == '\n') {
        verdict.remove_suffix(1);
    }
    if (exitCode == 0) {
        std::fprintf(out_, "%.*s\n", static_cast<int>(verdict.size()), verdict.data());
    } else {
        std::fprintf(out_, "%.*s (exit code %d)\n", static_cast<int>(verdict.size()),
                     verdict.data(), exitCode);
    }
    std::fflush(out_);
}
