#include "stationwindow/station_window.h"

#include <QApplication>
#include <QCloseEvent>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLocale>
#include <QPushButton>
#include <QScrollArea>
#include <QTimer>
#include <QVBoxLayout>
#include <algorithm>
#include <iterator>

#include "log/escaped_text.h"
#include "pages/dialog_units.h"
#include "pages/ui_services.h"
#include "stationwindow/station_records_dialog.h"
#include "stationwindow/station_tile.h"
#include "stationwindow/tile_grid.h"

namespace {

// The tiles are read from across the bench: twice the system font at least.
constexpr double kTileFontScale = 2.0;
constexpr double kCounterFontScale = 2.0;
constexpr double kControlFontScale = 1.5;
constexpr double kHeaderFontScale = 1.25;
// Devices per hour are counted over this span, and shown anew this often as it moves on.
constexpr std::uint64_t kRateSpanMs = 10 * 60 * 1000;
constexpr std::uint64_t kHourMs = 60 * 60 * 1000;
constexpr int kRateRefreshMs = 10 * 1000;
constexpr std::size_t kShaShown = 12;
constexpr int kGapDu = 6;
constexpr int kButtonHeightDu = 20;  // a button large enough to hit without looking twice

QString Shown(const std::string& text) {
    return QString::fromStdString(EscapedText(text.substr(0, text.find('\n'))));
}

// A header value: its label's text, and the same for accessibility tools, whose name for it is
// the field's.
void ShowValue(QLabel& value, const QString& text) {
    value.setText(text);
    value.setAccessibleDescription(text);
}

QLabel* PlainLabel(const QFont& font, QWidget* parent, const QString& name = {}) {
    auto* label = new QLabel(parent);  // owned by the window
    label->setTextFormat(Qt::PlainText);
    label->setFont(font);
    label->setWordWrap(true);
    label->setObjectName(name);
    return label;
}

}  // namespace

QFont ScaledSystemFont(double factor) {
    QFont font = QApplication::font();
    if (font.pointSizeF() > 0) {
        font.setPointSizeF(font.pointSizeF() * factor);
    } else {
        font.setPixelSize(static_cast<int>(font.pixelSize() * factor));
    }
    return font;
}

StationWindow::StationWindow(const StationWindowSession& session, UiServices& ui, Clock& clock,
                             std::function<void()> stop, QWidget* parent)
    : QWidget(parent),
      session_(session),
      ui_(ui),
      clock_(clock),
      stop_(std::move(stop)),
      tileFont_(ScaledSystemFont(kTileFontScale)),
      grid_(new TileGrid),
      plant_(nullptr),
      problems_(nullptr) {
    setWindowTitle(QStringLiteral("%1 station %2")
                       .arg(ProgramTitle(), QString::fromStdString(session.session.station)));
    const QFont headerFont = ScaledSystemFont(kHeaderFontScale);
    const QFont counterFont = ScaledSystemFont(kCounterFontScale);
    const QFont controlFont = ScaledSystemFont(kControlFontScale);
    const DialogUnits units(headerFont);

    // The header: what is written, where from, by whom, and where it is recorded.
    auto* header = new QGridLayout;
    const StationSession& s = session.session;
    const QString file =
        QStringLiteral("%1 (%2 bytes)").arg(Shown(s.fileName), QLocale::c().toString(s.fileSize));
    const std::pair<QString, QString> fields[] = {
        {QStringLiteral("File"), file},
        {QStringLiteral("SHA-256"), QString::fromStdString(s.fileSha256.substr(0, kShaShown))},
        {QStringLiteral("Link"), QString::fromStdString(s.link)},
        {QStringLiteral("Station"), Shown(s.station)},
        {QStringLiteral("Operator"), Shown(s.operatorName)},
        {QStringLiteral("Records"), Shown(session.records)},
        {QStringLiteral("Plant database"), QString::fromStdString(session.plant)},
        {QStringLiteral("Job"), s.job.empty() ? QStringLiteral("none") : Shown(s.job)}};
    constexpr int kRows = 4;
    for (int i = 0; i < static_cast<int>(std::size(fields)); ++i) {
        QLabel* name = PlainLabel(headerFont, this);
        name->setText(fields[i].first + QStringLiteral(":"));
        QLabel* value = PlainLabel(headerFont, this);
        value->setAccessibleName(fields[i].first);
        ShowValue(*value, fields[i].second);
        value->setTextInteractionFlags(Qt::TextSelectableByMouse);
        header->addWidget(name, i % kRows, (i / kRows) * 2);
        header->addWidget(value, i % kRows, (i / kRows) * 2 + 1);
        if (i + 2 == static_cast<int>(std::size(fields))) {
            plant_ = value;
        }
        if (i + 1 == static_cast<int>(std::size(fields))) {
            job_ = value;
        }
    }
    header->setColumnStretch(1, 1);
    header->setColumnStretch(3, 1);

    problems_ = PlainLabel(headerFont, this, QStringLiteral("problems"));
    problems_->setStyleSheet(QStringLiteral("color: #b3261e; font-weight: bold;"));
    problems_->setAccessibleName(QStringLiteral("Problems"));
    problems_->hide();

    finalLine_ = PlainLabel(controlFont, this, QStringLiteral("finalLine"));
    finalLine_->setStyleSheet(QStringLiteral("font-weight: bold;"));
    finalLine_->hide();

    auto* counters = new QHBoxLayout;
    passed_ = PlainLabel(counterFont, this, QStringLiteral("passed"));
    failed_ = PlainLabel(counterFont, this, QStringLiteral("failed"));
    yield_ = PlainLabel(counterFont, this, QStringLiteral("yield"));
    perHour_ = PlainLabel(counterFont, this, QStringLiteral("perHour"));
    for (QLabel* counter : {passed_, failed_, yield_, perHour_}) {
        counter->setWordWrap(false);
        counter->setFocusPolicy(Qt::TabFocus);
        counters->addWidget(counter);
        counters->addSpacing(units.X(kGapDu * 2));
    }
    counters->addStretch();

    stopButton_ = new QPushButton(QStringLiteral("Stop taking devices"), this);
    records_ = new QPushButton(QStringLiteral("Open records"), this);
    auto* controls = new QHBoxLayout;
    for (QPushButton* button : {stopButton_, records_}) {
        button->setFont(controlFont);
        button->setAutoDefault(false);
        button->setMinimumHeight(units.Y(kButtonHeightDu));
        controls->addWidget(button);
    }
    controls->addStretch();
    connect(stopButton_, &QPushButton::clicked, this, [this] { Stop(); });
    connect(records_, &QPushButton::clicked, this, [this] { OpenRecords(); });

    auto* scroll = new QScrollArea(this);
    scroll->setWidgetResizable(true);
    scroll->setWidget(grid_);
    scroll->setFrameShape(QFrame::NoFrame);
    scroll->setFocusPolicy(Qt::NoFocus);

    auto* layout = new QVBoxLayout(this);
    layout->addLayout(header);
    layout->addWidget(problems_);
    layout->addLayout(counters);
    layout->addLayout(controls);
    layout->addWidget(finalLine_);
    layout->addWidget(scroll, 1);

    // Keyboard: the controls first, then the counters, then the tiles in their rows.
    setTabOrder(stopButton_, records_);
    setTabOrder(records_, passed_);
    setTabOrder(passed_, failed_);
    setTabOrder(failed_, yield_);
    setTabOrder(yield_, perHour_);
    setTabOrder(perHour_, finalLine_);

    for (const std::string& slot : session.slotNames) {
        TileFor(slot);
    }
    auto* rate = new QTimer(this);
    connect(rate, &QTimer::timeout, this, [this] { ShowCounters(); });
    rate->start(kRateRefreshMs);
    ShowCounters();
}

StationWindow::~StationWindow() = default;

StationTile& StationWindow::TileFor(const std::string& device) {
    if (const auto at = tiles_.find(device); at != tiles_.end()) {
        return *at->second;
    }
    auto* tile = new StationTile(QString::fromStdString(EscapedText(device)), tileFont_);
    grid_->Add(tile);  // the grid owns it and keeps the tiles' tab order that of its rows
    tiles_.emplace(device, tile);
    emit TileAdded(QString::fromStdString(device));
    return *tile;
}

StationTile* StationWindow::Tile(const std::string& device) const {
    const auto at = tiles_.find(device);
    return at == tiles_.end() ? nullptr : at->second;
}

void StationWindow::DeviceArrived(const std::string& device) {
    TileFor(device).Show(TileLook::Running, QStringLiteral("synchronising"), {}, 0);
}

void StationWindow::DeviceLeft(const std::string& device) {
    StationTile* tile = Tile(device);
    if (tile == nullptr) {
        return;
    }
    if (std::find(session_.slotNames.begin(), session_.slotNames.end(), device) !=
        session_.slotNames.end()) {
        // A fixture slot stays: it waits for the next device.
        tile->Show(TileLook::Neutral, QStringLiteral("left"),
                   QStringLiteral("waiting for the next device"), 0);
        return;
    }
    tiles_.erase(device);
    grid_->Remove(tile);
}

void StationWindow::AttemptStarted(const std::string& device) {
    ++running_;
    TileFor(device).Show(TileLook::Running, QStringLiteral("synchronising"), {}, 0);
}

void StationWindow::Synchronising(const std::string& device) {
    TileFor(device).Show(TileLook::Running, QStringLiteral("synchronising"), {}, -1);
}

void StationWindow::Progress(const std::string& device, int percent) {
    TileFor(device).Show(TileLook::Running, QStringLiteral("%1 %").arg(percent), {}, percent);
}

void StationWindow::AttemptEnded(const std::string& device, int exitCode,
                                 const std::string& message, bool needsReplug) {
    running_ = std::max(0, running_ - 1);
    endedAtMs_.push_back(clock_.NowMs());
    StationTile& tile = TileFor(device);
    if (exitCode == 0) {
        tile.Show(TileLook::Passed, QStringLiteral("\u2714 passed"), Shown(message), 100);
    } else {
        tile.Show(TileLook::Failed,
                  QStringLiteral("\u2718 %1 \u00b7 code %2")
                      .arg(needsReplug ? QStringLiteral("needs replug") : QStringLiteral("failed"))
                      .arg(exitCode),
                  Shown(message), -1);
    }
    ShowCounters();
}

void StationWindow::TallyChanged(const StationTally& tally) {
    tally_ = tally;
    ShowCounters();
}

void StationWindow::ProblemReported(const std::string& text) {
    const QString line = QStringLiteral("! ") + Shown(text);
    const QString now = problems_->text();
    if (now.split(QLatin1Char('\n')).contains(line)) {
        return;
    }
    problems_->setText(now.isEmpty() ? line : now + QLatin1Char('\n') + line);
    problems_->setAccessibleDescription(problems_->text());
    problems_->show();
}

void StationWindow::LotChanged(const LotProgress& lot) {
    lotText_ = Shown(lot.job) + QStringLiteral(" \u00b7 lot ") + Shown(lot.lot) +
               QStringLiteral(" \u00b7 ") + QString::fromStdString(lot.Text());
    ShowValue(*job_, lotText_);
}

void StationWindow::HookEnded(const std::string& device, const std::string& outcome) {
    const QString base = lotText_.isEmpty() ? Shown(session_.session.job) : lotText_;
    ShowValue(*job_, base + QStringLiteral(" \u00b7 hook for ") + Shown(device) +
                         QStringLiteral(": ") + Shown(outcome));
}

void StationWindow::SetPlantDatabaseState(const QString& state) {
    ShowValue(*plant_, state);
}

void StationWindow::StationEnded(int exitStatus) {
    ended_ = true;
    stopButton_->setEnabled(false);
    finalLine_->setText(QStringLiteral("Station stopped: passed %1, failed %2, exit status %3")
                            .arg(tally_.passed)
                            .arg(tally_.failed)
                            .arg(exitStatus));
    finalLine_->setAccessibleName(finalLine_->text());
    finalLine_->setFocusPolicy(Qt::TabFocus);
    finalLine_->show();
    finalLine_->setFocus();  // a screen reader says it at once
}

void StationWindow::ShowCounters() {
    const std::uint64_t now = clock_.NowMs();
    while (!endedAtMs_.empty() && now - endedAtMs_.front() > kRateSpanMs) {
        endedAtMs_.pop_front();
    }
    const auto perHour = static_cast<long long>(endedAtMs_.size() * kHourMs / kRateSpanMs);
    passed_->setText(QStringLiteral("\u2714 passed %1").arg(tally_.passed));
    failed_->setText(QStringLiteral("\u2718 failed %1").arg(tally_.failed));
    yield_->setText(
        QStringLiteral("first-pass yield %1").arg(QString::fromStdString(tally_.YieldText())));
    perHour_->setText(QStringLiteral("%1 devices per hour").arg(perHour));
    perHour_->setToolTip(QStringLiteral("attempts ended in the last 10 minutes, per hour"));
    for (QLabel* counter : {passed_, failed_, yield_, perHour_}) {
        counter->setAccessibleName(counter->text());
    }
}

void StationWindow::Stop() {
    if (stops_ >= 2) {
        return;
    }
    ++stops_;
    stop_();
    if (stops_ == 1) {
        stopButton_->setText(QStringLiteral("Stop now"));
    } else {
        stopButton_->setEnabled(false);
    }
}

void StationWindow::closeEvent(QCloseEvent* event) {
    if (ended_) {
        emit Dismissed();
        return;  // accepted: the operator has seen the final line
    }
    // Before the station's end a close is a stop, as Ctrl-C is on a terminal.
    event->ignore();
    if (stops_ >= 2 || (stops_ == 1 && running_ == 0)) {
        return;
    }
    if (running_ > 0) {
        const QString question = stops_ == 0
                                     ? QStringLiteral(
                                           "Updates are running. Take no new devices and close "
                                           "when the running updates have ended?")
                                     : QStringLiteral(
                                           "Stop the running updates now? They are recorded as "
                                           "interrupted.");
        if (!ui_.ShowMessage(this, MessageBoxRequest(question, MessageIcon::Exclamation, {},
                                                     MessageButtons::OkCancel))) {
            return;
        }
    }
    Stop();
}

void StationWindow::OpenRecords() {
    // Not modal: the station goes on while the operator reads.
    auto* dialog = new StationRecordsDialog(session_, ui_, this);
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    dialog->show();
}
