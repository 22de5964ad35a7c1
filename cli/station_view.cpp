#include "cli/station_view.h"

#include <QJsonObject>

#include <sys/ioctl.h>

#include <algorithm>
#include <span>

#include "log/escaped_text.h"
#include "log/text_format.h"

namespace {

// A terminal that does not tell its size is taken for the usual one.
constexpr std::size_t kUsualLines = 24;
constexpr std::size_t kUsualColumns = 80;

// What one attempt tells its row of the board.
class BoardAttempt final : public UpdateObserver, public ProgressSink {
  public:
    BoardAttempt(StationBoard& board, std::string device)
        : board_(board), device_(std::move(device)) {}

    void WaitingForBootloader(std::uint64_t) override { board_.SetState(device_, "synchronising"); }
    ProgressSink* TransferStarting(std::size_t) override { return this; }
    void SetRange(int low, int high) override { scale_.SetRange(low, high); }
    void SetPos(int position) override {
        board_.SetState(device_, StrPrintf("%3d %%", scale_.Percent(position)));
    }

  private:
    StationBoard& board_;
    const std::string device_;
    ProgressScale scale_;
};

std::string FirstLine(const std::string& text) {
    return text.substr(0, text.find('\n'));
}

struct TerminalSize {
    std::size_t lines = kUsualLines;
    std::size_t columns = kUsualColumns;
};

TerminalSize SizeOf(int terminal) {
    winsize size{};
    if (terminal >= 0 && ::ioctl(terminal, TIOCGWINSZ, &size) == 0 && size.ws_row > 0 &&
        size.ws_col > 0) {
        return {size.ws_row, size.ws_col};
    }
    return {};
}

bool StartsCharacter(char byte) {
    return (static_cast<unsigned char>(byte) & 0xC0) != 0x80;
}

// The first `columns` characters of an escaped line, so that no line wraps onto a second.
std::string_view Clipped(std::string_view line, std::size_t columns) {
    std::size_t characters = 0;
    for (std::size_t at = 0; at < line.size(); ++at) {
        if (StartsCharacter(line[at]) && characters++ == columns) {
            return line.substr(0, at);
        }
    }
    return line;
}

// The terminal lines a line takes where it wraps.
std::size_t LinesTaken(std::string_view line, std::size_t columns) {
    const auto characters = static_cast<std::size_t>(std::ranges::count_if(line, StartsCharacter));
    return std::max<std::size_t>(1, (characters + columns - 1) / columns);
}

}  // namespace

StationBoard::StationBoard(int terminal, std::string file, std::string sha256,
                           const std::vector<std::string>& slotNames, Clock& clock)
    : terminal_(terminal), file_(EscapedText(file)), sha256_(std::move(sha256)), clock_(clock) {
    for (const std::string& slot : slotNames) {
        RowLocked(slot).slot = true;
    }
}

void StationBoard::Show() {
    painter_ = std::make_unique<TerminalPainter>(terminal_, [this] { return Frame(); });
}

void StationBoard::Changed() {
    if (painter_) {
        painter_->Request();
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

void StationBoard::SetState(const std::string& device, const std::string& state) {
    {
        const std::lock_guard hold(mutex_);
        RowLocked(device).state = state;
    }
    Changed();
}

void StationBoard::Arrived(const std::string& device) {
    {
        const std::lock_guard hold(mutex_);
        Row& row = RowLocked(device);
        row.state = "synchronising";
        row.endedMs = 0;
        row.leftMs = 0;
    }
    Changed();
}

void StationBoard::Left(const std::string& device) {
    {
        const std::lock_guard hold(mutex_);
        Row& row = RowLocked(device);
        row.leftMs = std::max<std::uint64_t>(clock_.NowMs(), 1);
        if (row.endedMs == 0) {
            row.state = "left";  // no result of this visit to show
        }
    }
    Changed();
}

std::unique_ptr<UpdateObserver> StationBoard::Attempt(const std::string& device) {
    {
        const std::lock_guard hold(mutex_);
        Row& row = RowLocked(device);
        row.state = "synchronising";
        row.startMs = clock_.NowMs();
        row.elapsedMs = 0;
        row.running = true;
    }
    Changed();
    return std::make_unique<BoardAttempt>(*this, device);
}

void StationBoard::Result(const std::string& device, int exitCode, const std::string& message,
                          bool /*needsReplug*/) {
    const std::string text = EscapedText(FirstLine(message));
    {
        const std::lock_guard hold(mutex_);
        Row& row = RowLocked(device);
        const std::uint64_t now = clock_.NowMs();
        row.elapsedMs = now - row.startMs;
        row.endedMs = std::max<std::uint64_t>(now, 1);
        row.running = false;
        row.state = exitCode == 0 ? "passed: " + text : StrPrintf("failed (%d): ", exitCode) + text;
    }
    Changed();
}

void StationBoard::Tally(const StationTally& tally) {
    {
        const std::lock_guard hold(mutex_);
        tally_ = tally;
    }
    Changed();
}

void StationBoard::Problem(const std::string& text) {
    {
        const std::lock_guard hold(mutex_);
        const std::string shown = EscapedText(text);
        if (std::find(problems_.begin(), problems_.end(), shown) != problems_.end()) {
            return;
        }
        problems_.push_back(shown);
    }
    Changed();
}

void StationBoard::ProblemCleared(const std::string& text) {
    {
        const std::lock_guard hold(mutex_);
        std::erase(problems_, EscapedText(text));
    }
    Changed();
}

void StationBoard::Plant(const PlantStatus& status) {
    {
        const std::lock_guard hold(mutex_);
        plant_ = "plant database " + EscapedText(PlantStatusText(status));
    }
    Changed();
}

void StationBoard::Lot(const LotProgress& lot) {
    {
        const std::lock_guard hold(mutex_);
        lot_ = "job " + EscapedText(lot.job) + "  lot " + EscapedText(lot.lot) + "  " + lot.Text();
    }
    Changed();
}

void StationBoard::Stopped(const JobStop& stop) {
    Problem("stopped by the job: " + stop.reason);
}

void StationBoard::Hook(const std::string& device, const std::string& outcome, bool /*succeeded*/) {
    {
        const std::lock_guard hold(mutex_);
        Row& row = RowLocked(device);
        row.state += "  (hook " + EscapedText(outcome) + ")";
    }
    Changed();
}

void StationBoard::Draw() {
    if (painter_) {
        painter_->Finish(kLastFrameLimit);
    }
}

void StationBoard::ForgetDepartedLocked(std::uint64_t now) {
    const auto gone = [&](const Row& r) {
        return r.leftMs != 0 && now - r.leftMs >= kDepartedShownMs;
    };
    for (Row& r : rows_) {
        if (r.slot && gone(r)) {
            r = {r.device, "waiting", 0, 0, 0, 0, false, true};
        }
    }
    std::erase_if(rows_, gone);
}

std::vector<const StationBoard::Row*> StationBoard::RowsShownLocked(std::size_t room,
                                                                    std::size_t& hidden) const {
    std::vector<const Row*> order;
    for (const Row& r : rows_) {
        order.push_back(&r);
    }
    hidden = 0;
    if (order.size() <= room) {
        return order;
    }
    if (room == 0) {
        return {};
    }
    // One line says how many are left out: ended attempts first, the oldest first, then the
    // rows last on the board.
    hidden = order.size() - (room - 1);
    const auto ended = [](const Row* r) { return !r->running && r->endedMs != 0; };
    std::reverse(order.begin(), order.end());
    std::stable_sort(order.begin(), order.end(), [&](const Row* a, const Row* b) {
        return ended(a) != ended(b) ? ended(a) : ended(a) && a->endedMs < b->endedMs;
    });
    const std::span<const Row* const> kept(order.begin() + static_cast<long>(hidden), order.end());
    std::vector<const Row*> shown;
    for (const Row& r : rows_) {
        if (std::ranges::find(kept, &r) != kept.end()) {
            shown.push_back(&r);
        }
    }
    return shown;
}

std::string StationBoard::Frame() {
    const std::lock_guard hold(mutex_);
    const std::uint64_t now = clock_.NowMs();
    ForgetDepartedLocked(now);
    const TerminalSize size = SizeOf(terminal_);
    // The cursor rests on the line below the board: a board as tall as the terminal scrolls.
    const std::size_t room = size.lines - 1;
    const std::string yield = tally_.YieldText();
    // The header wraps rather than lose its counters; every other line is cut at the width.
    std::vector<std::string> lines{
        StrPrintf("station  %s  sha256 %.12s  passed %d  failed %d  first-pass yield %s",
                  file_.c_str(), sha256_.c_str(), tally_.passed, tally_.failed, yield.c_str())};
    std::size_t used = LinesTaken(lines.front(), size.columns);
    const auto add = [&](std::string_view line) {
        lines.emplace_back(Clipped(line, size.columns - 1));
        ++used;
    };
    for (const std::string* line : {&lot_, &plant_}) {
        if (!line->empty()) {
            add(*line);
        }
    }
    const std::size_t problems = std::min(problems_.size(), room - std::min(room, used));
    for (auto p = problems_.end() - static_cast<long>(problems); p != problems_.end(); ++p) {
        add("! " + *p);
    }
    std::size_t hidden = 0;
    const std::vector<const Row*> rows = RowsShownLocked(room - std::min(room, used), hidden);
    std::size_t width = 6;
    for (const Row* r : rows) {
        width = std::max(width, r->device.size());
    }
    for (const Row* r : rows) {
        const std::uint64_t elapsed = r->running ? now - r->startMs : r->elapsedMs;
        add(StrPrintf("%-*s  %6.1f s  %s", static_cast<int>(width), r->device.c_str(),
                      static_cast<double>(elapsed) / 1000.0, r->state.c_str()));
    }
    if (hidden > 0) {
        add(StrPrintf("... and %zu more", hidden));
    }
    std::string frame = drawnLines_ > 0 ? StrPrintf("\x1b[%zuA", drawnLines_) : std::string();
    for (const std::string& line : lines) {
        frame += '\r';
        frame += line;
        frame += "\x1b[K\n";
    }
    frame += "\x1b[J";  // what a taller board left below
    drawnLines_ = used;
    return frame;
}

StationJson::StationJson(std::string link, std::string file, UpdateFileCheck fileCheck,
                         Clock& clock)
    : link_(std::move(link)),
      file_(std::move(file)),
      fileCheck_(std::move(fileCheck)),
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
    events->Start(&fileCheck_);
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

void StationJson::Lot(const LotProgress& lot) {
    QJsonObject event{{QStringLiteral("event"), QStringLiteral("lot")},
                      {QStringLiteral("job"), QString::fromStdString(lot.job)},
                      {QStringLiteral("lot"), QString::fromStdString(lot.lot)},
                      {QStringLiteral("passed"), static_cast<qint64>(lot.passed)}};
    if (lot.size) {
        event.insert(QStringLiteral("size"), static_cast<qint64>(*lot.size));
    }
    lines_.Write(event);
}

void StationJson::Stopped(const JobStop& stop) {
    lines_.Write(QJsonObject{{QStringLiteral("event"), QStringLiteral("stopped")},
                             {QStringLiteral("reason"), QString::fromStdString(stop.reason)},
                             {QStringLiteral("rule"), QString::fromStdString(stop.rule)}});
}

void StationJson::Hook(const std::string& device, const std::string& outcome, bool succeeded) {
    lines_.Write(QJsonObject{{QStringLiteral("event"), QStringLiteral("hook")},
                             {QStringLiteral("device"), QString::fromStdString(device)},
                             {QStringLiteral("outcome"), QString::fromStdString(outcome)},
                             {QStringLiteral("ok"), succeeded}});
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
