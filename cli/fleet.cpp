#include "cli/fleet.h"

#include <algorithm>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

#include "cli/json_events.h"
#include "cli/json_interrupt.h"
#include "cli/terminal_progress.h"
#include "engine/device_identity.h"
#include "log/device_log.h"
#include "log/escaped_text.h"
#include "log/text_format.h"

namespace {

// Redraws of the board come at most this often, but for a device that finished.
constexpr std::uint64_t kRedrawMs = 100;

std::string WithoutLineEnd(std::string_view text) {
    while (!text.empty() && text.back() == '\n') {
        text.remove_suffix(1);
    }
    return std::string(text);
}

// One line a device on a terminal, redrawn in place, and a summary at the end.
class FleetBoard {
  public:
    FleetBoard(std::FILE* out, std::span<const std::string> targets, Clock& clock)
        : out_(out), clock_(clock), startMs_(clock.NowMs()), rows_(targets.size()) {
        for (std::size_t i = 0; i < targets.size(); ++i) {
            rows_[i].target = EscapedText(targets[i]);
            width_ = std::max(width_, rows_[i].target.size());
        }
    }

    struct Row {
        std::string target;
        int percent = -1;  // none yet: waiting for the bootloader
        std::size_t bytes = 0;
        std::uint64_t elapsedMs = 0;
        std::string state = "waiting for the bootloader";
        bool finished = false;
        int exitCode = 0;
    };

    // Changes a row under the board's lock and redraws when due.
    template <typename Change>
    void Update(std::size_t row, Change change) {
        const std::lock_guard hold(mutex_);
        Row& r = rows_[row];
        if (!r.finished) {
            r.elapsedMs = clock_.NowMs() - startMs_;
        }
        const bool wasFinished = r.finished;
        change(r);
        const std::uint64_t now = clock_.NowMs();
        if (out_ != nullptr && (r.finished != wasFinished || now - lastDrawMs_ >= kRedrawMs)) {
            DrawLocked();
            lastDrawMs_ = now;
        }
    }

    void Summary() {
        const std::lock_guard hold(mutex_);
        if (out_ == nullptr) {
            return;
        }
        DrawLocked();
        const auto failed =
            std::count_if(rows_.begin(), rows_.end(), [](const Row& r) { return r.exitCode != 0; });
        std::fprintf(out_, "%zu succeeded, %ld failed%s\n", rows_.size() - failed,
                     static_cast<long>(failed), failed > 0 ? ":" : "");
        for (const Row& r : rows_) {
            if (r.exitCode != 0) {
                std::fprintf(out_, "  %s: %s (exit code %d)\n", r.target.c_str(), r.state.c_str(),
                             r.exitCode);
            }
        }
        std::fflush(out_);
    }

  private:
    void DrawLocked() {
        if (drawn_) {
            std::fprintf(out_, "\x1b[%zuA", rows_.size());  // back to the first row
        }
        for (const Row& r : rows_) {
            const std::string progress = r.percent < 0
                                             ? std::string(26, ' ')
                                             : StrPrintf("%3d%%  %8.1f KiB", r.percent,
                                                         static_cast<double>(r.bytes) / 1024.0);
            std::fprintf(out_, "\r%-*s  %s  %6.1f s  %s\x1b[K\n", static_cast<int>(width_),
                         r.target.c_str(), progress.c_str(),
                         static_cast<double>(r.elapsedMs) / 1000.0, r.state.c_str());
        }
        std::fflush(out_);
        drawn_ = true;
    }

    std::mutex mutex_;
    std::FILE* out_;
    Clock& clock_;
    const std::uint64_t startMs_;
    std::uint64_t lastDrawMs_ = 0;
    std::vector<Row> rows_;
    std::size_t width_ = 0;
    bool drawn_ = false;
};

// What one device's update tells its row of the board.
class BoardRow final : public UpdateObserver, public ProgressSink {
  public:
    BoardRow(FleetBoard& board, std::size_t row) : board_(board), row_(row) {}

    void WaitingForBootloader(std::uint64_t) override {
        board_.Update(row_, [](FleetBoard::Row&) {});
    }
    void Synchronised(const BootloaderInfo& info) override {
        board_.Update(row_, [&](FleetBoard::Row& r) {
            r.state = StrPrintf("bootloader %X.%.2X, %s", static_cast<unsigned>(info.versionHigh),
                                static_cast<unsigned>(info.versionLow),
                                DeviceName(info.deviceId).c_str());
        });
    }
    ProgressSink* TransferStarting(std::size_t imageBytes) override {
        imageBytes_ = imageBytes;
        return this;
    }
    void Finished(std::string_view verdict, int exitCode) override {
        board_.Update(row_, [&](FleetBoard::Row& r) {
            r.state = WithoutLineEnd(verdict);
            r.exitCode = exitCode;
            r.finished = true;
        });
    }
    void SetRange(int low, int high) override { scale_.SetRange(low, high); }
    void SetPos(int position) override {
        const int percent = scale_.Percent(position);
        board_.Update(row_, [&](FleetBoard::Row& r) {
            r.percent = percent;
            r.bytes = imageBytes_ * static_cast<std::size_t>(std::max(percent, 0)) / 100;
        });
    }

  private:
    FleetBoard& board_;
    const std::size_t row_;
    std::size_t imageBytes_ = 0;
    ProgressScale scale_;
};

}  // namespace

int RunSingle(const std::string& link, const std::string& target, const std::string& file,
              bool json, const std::function<int(UpdateObserver& observer)>& update) {
    if (json) {
        JsonLines lines(stdout);
        const JsonInterruptGuard interrupt(lines);
        JsonUpdateEvents events(lines, link, target, file, DefaultClock());
        events.Start();
        return update(events);
    }
    TerminalProgress display(stderr, TerminalProgress::StderrIsTerminal(), target, DefaultClock());
    return update(display);
}

int RunTargets(const std::string& link, std::span<const std::string> targets,
               const std::string& file, bool json, const DeviceUpdate& update, LogSink& log) {
    if (targets.size() == 1) {
        return RunSingle(link, targets[0], file, json, [&](UpdateObserver& observer) {
            return update(targets[0], log, observer);
        });
    }
    JsonLines lines(stdout);
    std::optional<JsonInterruptGuard> interrupt;
    if (json) {
        interrupt.emplace(lines);
    }
    FleetOptions options{link, file, TerminalProgress::StderrIsTerminal() ? stderr : nullptr,
                         json ? &lines : nullptr};
    return RunFleet(targets, update, log, options, DefaultClock());
}

int RunFleet(std::span<const std::string> targets, const DeviceUpdate& update, LogSink& log,
             const FleetOptions& options, Clock& clock) {
    FleetBoard board(options.json != nullptr ? nullptr : options.terminal, targets, clock);
    std::vector<int> codes(targets.size(), 0);
    {
        std::vector<std::jthread> devices;
        for (std::size_t i = 0; i < targets.size(); ++i) {
            devices.emplace_back([&, i] {
                DeviceLog deviceLog(log, targets[i]);
                if (options.json != nullptr) {
                    JsonUpdateEvents events(*options.json, options.link, targets[i], options.file,
                                            clock);
                    events.Start();
                    codes[i] = update(targets[i], deviceLog, events);
                } else {
                    BoardRow row(board, i);
                    codes[i] = update(targets[i], deviceLog, row);
                }
            });
        }
    }  // every device's thread has ended
    board.Summary();
    const auto failed = std::find_if(codes.begin(), codes.end(), [](int c) { return c != 0; });
    return failed == codes.end() ? 0 : *failed;
}
