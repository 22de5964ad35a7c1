#include "cli/station_view.h"

#include <QJsonObject>

#include <algorithm>

#include "log/escaped_text.h"
#include "log/text_format.h"

namespace {

// Redraws of the board come at most this often, but for a change of a row's state.
constexpr std::uint64_t kBoardRedrawMs = 100;

// What one attempt tells its row of the board.
class BoardAttempt final : public UpdateObserver, public ProgressSink {
  public:
    BoardAttempt(StationBoard& board, std::string device)
        : board_(board), device_(std::move(device)) {}

    void WaitingForBootloader(std::uint64_t) override {
        board_.SetState(device_, "synchronising", false);
    }
    ProgressSink* TransferStarting(std::size_t) override { return this; }
    void SetRange(int low, int high) override { scale_.SetRange(low, high); }
    void SetPos(int position) override {
        board_.SetState(device_, StrPrintf("%3d %%", scale_.Percent(position)), false);
    }

  private:
    StationBoard& board_;
    const std::string device_;
    ProgressScale scale_;
};

std::string FirstLine(const std::string& text) {
    return text.substr(0, text.find('\n'));
}

}  // namespace

StationBoard::StationBoard(std::FILE* out, std::string file, std::string sha256,
                           const std::vector<std::string>& slotNames, Clock& clock)
    : out_(out), file_(EscapedText(file)), sha256_(std::move(sha256)), clock_(clock) {
    for (const std::string& slot : slotNames) {
        RowLocked(slot).state = "waiting";
    }
}

StationBoard::Row& StationBoard::RowLocked(const std::string& device) {
    const std::string shown = EscapedText(device);
    const auto at =
        std::find_if(rows_.begin(), rows_.end(), [&](const Row& r) { return r.device == shown; });
    if (at != rows_.end()) {
        return *at;
    }
    rows_.push_back({shown, "waiting"});
    return rows_.back();
}

void StationBoard::SetState(const std::string& device, const std::string& state, bool now) {
    const std::lock_guard hold(mutex_);
    Row& row = RowLocked(device);
    const bool changed = FirstLine(row.state) != FirstLine(state) && !state.ends_with('%');
    row.state = state;
    const std::uint64_t at = clock_.NowMs();
    if (row.running) {
        row.elapsedMs = at - row.startMs;
    }
    if (now || changed || at - lastDrawMs_ >= kBoardRedrawMs) {
        DrawLocked();
        lastDrawMs_ = at;
    }
}

void StationBoard::Arrived(const std::string& device) {
    SetState(device, "synchronising", true);
}

void StationBoard::Left(const std::string& device) {
    SetState(device, "waiting", true);
}

std::unique_ptr<UpdateObserver> StationBoard::Attempt(const std::string& device) {
    {
        const std::lock_guard hold(mutex_);
        Row& row = RowLocked(device);
        row.startMs = clock_.NowMs();
        row.elapsedMs = 0;
        row.running = true;
    }
    SetState(device, "synchronising", true);
    return std::make_unique<BoardAttempt>(*this, device);
}

void StationBoard::Result(const std::string& device, int exitCode, const std::string& message) {
    {
        const std::lock_guard hold(mutex_);
        Row& row = RowLocked(device);
        row.elapsedMs = clock_.NowMs() - row.startMs;
        row.running = false;
    }
    const std::string text = EscapedText(FirstLine(message));
    SetState(device,
             exitCode == 0 ? "passed: " + text : StrPrintf("failed (%d): ", exitCode) + text, true);
}

void StationBoard::Tally(const StationTally& tally) {
    const std::lock_guard hold(mutex_);
    tally_ = tally;
    DrawLocked();
}

void StationBoard::Problem(const std::string& text) {
    const std::lock_guard hold(mutex_);
    const std::string shown = EscapedText(text);
    if (std::find(problems_.begin(), problems_.end(), shown) == problems_.end()) {
        problems_.push_back(shown);
        DrawLocked();
    }
}

void StationBoard::ProblemCleared(const std::string& text) {
    const std::lock_guard hold(mutex_);
    if (const auto at = std::find(problems_.begin(), problems_.end(), EscapedText(text));
        at != problems_.end()) {
        problems_.erase(at);
        DrawLocked();
        if (out_ != nullptr) {
            std::fputs("\x1b[J", out_);  // the board is a line shorter: clear what was below
            std::fflush(out_);
        }
    }
}

void StationBoard::Plant(const PlantStatus& status) {
    const std::lock_guard hold(mutex_);
    plant_ = "plant database " + EscapedText(PlantStatusText(status));
    DrawLocked();
}

void StationBoard::Draw() {
    const std::lock_guard hold(mutex_);
    DrawLocked();
}

void StationBoard::DrawLocked() {
    if (out_ == nullptr) {
        return;
    }
    if (drawnLines_ > 0) {
        std::fprintf(out_, "\x1b[%zuA", drawnLines_);  // back to the header
    }
    const int yield = tally_.YieldPercent();
    std::fprintf(
        out_, "\rstation  %s  sha256 %.12s  passed %d  failed %d  first-pass yield %d %%\x1b[K\n",
        file_.c_str(), sha256_.c_str(), tally_.passed, tally_.failed, yield);
    if (!plant_.empty()) {
        std::fprintf(out_, "\r%s\x1b[K\n", plant_.c_str());
    }
    for (const std::string& problem : problems_) {
        std::fprintf(out_, "\r! %s\x1b[K\n", problem.c_str());
    }
    std::size_t width = 6;
    for (const Row& r : rows_) {
        width = std::max(width, r.device.size());
    }
    for (const Row& r : rows_) {
        std::fprintf(out_, "\r%-*s  %6.1f s  %s\x1b[K\n", static_cast<int>(width), r.device.c_str(),
                     static_cast<double>(r.elapsedMs) / 1000.0, r.state.c_str());
    }
    drawnLines_ = 1 + (plant_.empty() ? 0 : 1) + problems_.size() + rows_.size();
    std::fflush(out_);
}

StationJson::StationJson(std::string link, std::string file, std::string sealedPath, Clock& clock)
    : link_(std::move(link)),
      file_(std::move(file)),
      sealedPath_(std::move(sealedPath)),
      clock_(clock) {}

void StationJson::Event(const char* name, const std::string& device) {
    lines_.Write(QJsonObject{{QStringLiteral("event"), QString::fromUtf8(name)},
                             {QStringLiteral("device"), QString::fromStdString(device)},
                             {QStringLiteral("link"), QString::fromStdString(link_)}});
}

void StationJson::Arrived(const std::string& device) {
    Event("arrived", device);
}

void StationJson::Left(const std::string& device) {
    Event("left", device);
}

std::unique_ptr<UpdateObserver> StationJson::Attempt(const std::string& device) {
    auto events = std::make_unique<JsonUpdateEvents>(lines_, link_, device, file_, clock_);
    events->Start(sealedPath_);
    return events;
}

void StationJson::Problem(const std::string& text) {
    const std::lock_guard hold(mutex_);
    if (told_.insert(text).second) {
        std::fprintf(stderr, "flashwright station: %s\n", EscapedText(text).c_str());
    }
}

void StationJson::ProblemCleared(const std::string& text) {
    const std::lock_guard hold(mutex_);
    told_.erase(text);
}

void StationJson::Plant(const PlantStatus& status) {
    QJsonObject event{{QStringLiteral("event"), QStringLiteral("plant")},
                      {QStringLiteral("database"), QString::fromStdString(status.database)},
                      {QStringLiteral("state"), status.connected ? QStringLiteral("connected")
                                                                 : QStringLiteral("unreachable")},
                      {QStringLiteral("waiting"), static_cast<qint64>(status.waiting)}};
    if (!status.problem.empty()) {
        event.insert(QStringLiteral("problem"), QString::fromStdString(status.problem));
    }
    lines_.Write(event);
}
