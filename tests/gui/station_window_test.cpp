// The station window as the station's view, headless: the real station updating simulated
// devices over UDP (each test on its own 127.0.23.x addresses) into a records database, with
// fake desktop services.
#include <gtest/gtest.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QLabel>
#include <QPushButton>
#include <QTableView>
#include <QTest>
#include <QTimer>
#include <algorithm>
#include <csignal>

#include "cli/records_output.h"
#include "gui_fakes.h"
#include "records/record_reader.h"
#include "sim/enc_maker.h"
#include "sim/udp_transport.h"
#include "station/station_records.h"
#include "stationwindow/station_records_dialog.h"
#include "stationwindow/station_tile.h"
#include "stationwindow/station_window.h"
#include "stationwindow/station_window_view.h"
#include "stationwindow/tile_grid.h"
#include "update/exit_codes.h"
#include "update/network_update.h"

namespace {

constexpr int kWaitMs = 20000;

class StationWindowTest : public GuiTest {
  protected:
    StationWindowTest() {
        std::string error;
        EXPECT_TRUE(WriteUpdateFile(updateFile, PseudoRandomBytes(1500, 23), 276, error)) << error;
        std::string notices;
        int status = 0;
        records = OpenStationRecords(recordsPath, error, notices, status);
        EXPECT_TRUE(records) << error;
    }

    // Runs the window's events until `done` holds; false when it does not in time.
    static bool RunUntil(const std::function<bool()>& done, int ms = kWaitMs) {
        QElapsedTimer elapsed;
        elapsed.start();
        while (!done()) {
            if (elapsed.elapsed() > ms) {
                return false;
            }
            QEventLoop loop;
            QTimer::singleShot(5, &loop, &QEventLoop::quit);
            loop.exec();
        }
        return true;
    }

    // The whole update over the network, as the station's command gives it.
    UpdateOutcome Update(const StationDevice& device, UpdateObserver& observer) {
        const std::unique_ptr<NetworkLink> link = MakeNetworkLink(log, DefaultClock());
        const FrontEnd frontEnd{.path = updateFile.string()};
        return UpdateOverNetwork(*link, device.id, nullptr, frontEnd, observer, log,
                                 DefaultClock());
    }

    std::unique_ptr<UdpSimServer> Device(const std::string& address, SimOptions options = {}) {
        auto device = std::make_unique<UdpSimServer>(options, address);
        std::string error;
        EXPECT_TRUE(device->Start(error)) << error;
        return device;
    }

    QString Counter(const char* name) { return shown.findChild<QLabel*>(name)->text(); }

    const std::filesystem::path updateFile = files.Path() / "app.enc";
    const std::string recordsPath = (files.Path() / "records.sqlite").string();
    std::unique_ptr<AttemptLog> records;
    StationWindowSession session{{"line-3", "ana", "UDP", "app.enc", 1500, std::string(64, 'a')},
                                 recordsPath,
                                 "2000-01-01T00:00:00.000Z",
                                 {},
                                 "none"};
    int stops = 0;
    StationWindow shown{session, ui, clock, [this] { ++stops; }};
    StationWindowView view{shown};
};

}  // namespace

TEST_F(StationWindowTest, TilesShowEachDeviceFromArrivalToResultAndGoWhenItLeaves) {
    const auto good = Device("127.0.23.1");
    SimOptions refusing;
    refusing.defaultReply = 0x22;
    const auto bad = Device("127.0.23.2", refusing);
    Station station(session.session, *records, view,
                    [this](const StationDevice& d, UpdateObserver& o) { return Update(d, o); });
    station.BusListing({{"127.0.23.1", ""}, {"127.0.23.2", ""}});
    // Tiles appear on arrival.
    ASSERT_TRUE(RunUntil([&] { return shown.Tile("127.0.23.2") != nullptr; }));
    EXPECT_NE(shown.Tile("127.0.23.1"), nullptr);
    ASSERT_TRUE(RunUntil([&] {
        return shown.Tile("127.0.23.1")->Look() == TileLook::Passed &&
               shown.Tile("127.0.23.2")->Look() == TileLook::Failed;
    }));
    StationTile& passed = *shown.Tile("127.0.23.1");
    StationTile& failed = *shown.Tile("127.0.23.2");
    EXPECT_EQ(passed.State(), QStringLiteral("\u2714 passed"));
    EXPECT_EQ(passed.accessibleDescription(),
              QStringLiteral("\u2714 passed: Programming successful"));
    EXPECT_EQ(failed.State(),
              QStringLiteral("\u2718 failed \u00b7 code %1").arg(kExitTooManyErrors));
    EXPECT_TRUE(failed.accessibleDescription().contains(QStringLiteral("No or wrong response")));
    EXPECT_EQ(passed.accessibleName(), QStringLiteral("Device 127.0.23.1"));
    EXPECT_EQ(shown.Running(), 0);

    // The counters are the records' (the tally follows the tiles' results).
    ASSERT_TRUE(
        RunUntil([&] { return Counter("yield") == QStringLiteral("first-pass yield 50.0 %"); }));
    StoreError error;
    std::vector<SummaryRow> rows;
    ASSERT_EQ(RecordReader::Open(recordsPath, error)->Summary({}, rows).status, StoreStatus::Ok);
    ASSERT_EQ(rows.size(), 1u);
    EXPECT_EQ(Counter("passed"), QStringLiteral("\u2714 passed %1").arg(rows[0].passed));
    EXPECT_EQ(Counter("failed"), QStringLiteral("\u2718 failed %1").arg(rows[0].failed));
    EXPECT_EQ(Counter("yield"), QStringLiteral("first-pass yield 50.0 %"));
    // Two attempts within ten minutes are twelve an hour; they age out of the span.
    EXPECT_EQ(Counter("perHour"), QStringLiteral("12 devices per hour"));
    clock.Advance(10 * 60 * 1000 + 1);
    shown.TallyChanged({1, 1, 2, 1});
    EXPECT_EQ(Counter("perHour"), QStringLiteral("0 devices per hour"));

    // The session's records, as "flashwright records --csv" writes them.
    StationRecordsDialog table(session, ui, &shown);
    EXPECT_EQ(table.Rows(), 2);
    const std::string csv = (files.Path() / "session.csv").string();
    ASSERT_TRUE(table.ExportCsv(QString::fromStdString(csv)));
    const std::string lines = files.Read("session.csv");
    EXPECT_EQ(std::count(lines.begin(), lines.end(), '\n'), 3) << lines;  // the header and two
    // Tab leaves the table for the buttons.
    table.show();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&table));
    table.findChild<QTableView*>()->setFocus(Qt::TabFocusReason);
    QStringList reached;
    for (int i = 0; i < 2; ++i) {
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        reached << QApplication::focusWidget()->property("text").toString().remove('&');
    }
    reached.sort();
    EXPECT_EQ(reached, (QStringList{"Close", "Export CSV..."}));

    // A finished tile keeps its result while its device stays; a departure clears it.
    station.BusListing({{"127.0.23.2", ""}});
    ASSERT_TRUE(RunUntil([&] { return shown.Tile("127.0.23.1") == nullptr; }));
    EXPECT_EQ(shown.Tile("127.0.23.2")->Look(), TileLook::Failed);

    // Closing with nothing running asks nothing and stops as the first Ctrl-C does.
    shown.close();
    EXPECT_TRUE(ui.messages.empty());
    EXPECT_EQ(stops, 1);
}

TEST_F(StationWindowTest, ClosingDuringARunAsksFirstAndThenStopsAsCtrlCDoes) {
    SimOptions slow;
    slow.replyDelayMs = 100;  // the transfer outlasts the questions
    const auto device = Device("127.0.23.3", slow);
    Station station(session.session, *records, view,
                    [this](const StationDevice& d, UpdateObserver& o) { return Update(d, o); });
    station.BusListing({{"127.0.23.3", ""}});
    ASSERT_TRUE(RunUntil([&] { return shown.Running() == 1; }));
    auto* stop = shown.findChild<QPushButton*>();
    ui.answers = {false, true, true};
    shown.close();  // Cancel: the station goes on
    EXPECT_EQ(stops, 0);
    shown.close();
    EXPECT_EQ(stops, 1);
    EXPECT_EQ(stop->text(), QStringLiteral("Stop now"));
    shown.close();
    EXPECT_EQ(stops, 2);
    EXPECT_FALSE(stop->isEnabled());
    ASSERT_EQ(ui.messages.size(), 3u);
    EXPECT_TRUE(ui.messages[0].text.startsWith(QStringLiteral("Updates are running.")));
    EXPECT_TRUE(ui.messages[2].text.startsWith(QStringLiteral("Stop the running updates now?")));
    station.Cancel(SIGINT);  // what the station's loop does on the second stop
    ASSERT_TRUE(RunUntil([&] { return shown.Running() == 0; }));
    EXPECT_EQ(shown.Tile("127.0.23.3")->State(),
              QStringLiteral("\u2718 failed \u00b7 code %1").arg(128 + SIGINT));
    // The station's loop ends: the window stays with its final line until it is closed.
    ASSERT_TRUE(RunUntil([&] { return Counter("failed") == QStringLiteral("\u2718 failed 1"); }));
    shown.StationEnded(station.ExitCode());
    EXPECT_EQ(shown.findChild<QLabel*>("finalLine")->text(),
              QStringLiteral("Station stopped: passed 0, failed 1, exit status %1")
                  .arg(station.ExitCode()));
    EXPECT_TRUE(shown.close());  // now a close ends the window, no longer a stop
}

TEST_F(StationWindowTest, ReadableFromADistanceAndReflowedWithTheWidth) {
    Station station(session.session, *records, view,
                    [](const StationDevice&, UpdateObserver&) { return UpdateOutcome{}; });
    // The time from a device's arrival to its tile, over 20 arrivals (printed, not asserted).
    std::vector<qint64> micros;
    for (int i = 0; i < 20; ++i) {
        const std::string id = "FW" + std::to_string(1000 + i);
        QEventLoop tileAdded;
        const QMetaObject::Connection added =
            QObject::connect(&shown, &StationWindow::TileAdded, &tileAdded, &QEventLoop::quit);
        QTimer::singleShot(kWaitMs, &tileAdded, &QEventLoop::quit);
        QElapsedTimer arrival;
        arrival.start();
        station.BusListing({{id, ""}});
        tileAdded.exec();
        QObject::disconnect(added);
        ASSERT_NE(shown.Tile(id), nullptr);
        micros.push_back(arrival.nsecsElapsed() / 1000);
        ASSERT_TRUE(RunUntil([&] { return shown.Tile(id)->Look() == TileLook::Passed; }));
        station.BusListing({});
        ASSERT_TRUE(RunUntil([&] { return shown.Tile(id) == nullptr; }));
    }
    std::nth_element(micros.begin(), micros.begin() + 10, micros.end());
    std::printf("arrival to tile: median %lld us over 20 arrivals\n",
                static_cast<long long>(micros[10]));

    for (int i = 0; i < 6; ++i) {
        shown.DeviceArrived("FW" + std::to_string(2000 + i));
    }
    shown.show();
    const QSize small(1366, 768);
    EXPECT_LE(shown.minimumSizeHint().width(), small.width());
    EXPECT_LE(shown.minimumSizeHint().height(), small.height());
    auto* grid = shown.findChild<TileGrid*>();
    shown.resize(small);
    ASSERT_TRUE(RunUntil([&] { return grid->Columns() > 2; }));
    const int wide = grid->Columns();
    shown.resize(shown.minimumSizeHint().width(), small.height());
    ASSERT_TRUE(RunUntil([&] { return grid->Columns() < wide; })) << wide;
    // Tab goes from the controls through the counters to the tiles in their rows.
    std::vector<QString> chain;
    QWidget* at = shown.findChild<QPushButton*>();
    for (int i = 0; i < 9; ++i, at = at->nextInFocusChain()) {
        while ((at->focusPolicy() & Qt::TabFocus) == 0) {
            at = at->nextInFocusChain();
        }
        chain.push_back(at->accessibleName().isEmpty() ? at->property("text").toString()
                                                       : at->accessibleName());
    }
    EXPECT_EQ(chain, (std::vector<QString>{"Stop taking devices", "Open records",
                                           "\u2714 passed 20", "\u2718 failed 0",
                                           "first-pass yield 100.0 %", "120 devices per hour",
                                           "Device FW2000", "Device FW2001", "Device FW2002"}));
    const QFont tileText = shown.Tile("FW2000")->findChild<QLabel*>()->font();
    EXPECT_GE(tileText.pointSizeF(), 2 * QApplication::font().pointSizeF());
    station.StopTaking();

    // A message longer than the tile's lines ends in an ellipsis; the tooltip keeps it whole.
    const QString message = QStringLiteral("configured: set ").repeated(20).trimmed();
    shown.AttemptEnded("FW2000", 2, message.toStdString());
    const auto* detail = shown.Tile("FW2000")->findChild<QLabel*>("detail");
    EXPECT_EQ(detail->text().count('\n'), 2);  // three lines, the last cut with a mark
    EXPECT_TRUE(detail->text().endsWith(QStringLiteral("\u2026"))) << detail->text().toStdString();
    EXPECT_LE(detail->fontMetrics().boundingRect({}, 0, detail->text()).width(),
              detail->contentsRect().width());
    EXPECT_EQ(shown.Tile("FW2000")->toolTip(), message);
    EXPECT_TRUE(shown.Tile("FW2000")->accessibleDescription().endsWith(message));
    // The header's values reach accessibility tools under their fields' names.
    shown.SetPlantDatabaseState(QStringLiteral("connected"));
    std::map<QString, QString> told;
    for (const QLabel* label : shown.findChildren<QLabel*>()) {
        told[label->accessibleName()] = label->accessibleDescription();
    }
    EXPECT_EQ(told["File"], QStringLiteral("app.enc (1500 bytes)"));
    EXPECT_EQ(told["Plant database"], QStringLiteral("connected"));
}

TEST_F(StationWindowTest, TheYieldIsRoundedAlikeInTheWindowAndTheSummary) {
    using Case = std::tuple<int, int, std::string>;  // first-pass devices, devices, yield
    for (const auto& [firstPass, devices, text] : {Case{0, 0, "\u2013"}, Case{2, 3, "66.7 %"},
                                                   Case{1, 16, "6.3 %"}, Case{7, 7, "100.0 %"}}) {
        shown.TallyChanged({firstPass, devices - firstPass, devices, firstPass});
        EXPECT_EQ(Counter("yield"), QString::fromStdString("first-pass yield " + text));
        SummaryRow row{"2030-01-01", std::string(64, 'a'), devices, 0, 0, devices, firstPass};
        char table[512] = {};
        std::unique_ptr<std::FILE, int (*)(std::FILE*)> out(fmemopen(table, sizeof table, "w"),
                                                            &std::fclose);
        RecordsPrinter printer(out.get(), RecordsFormat::Table);
        printer.Summary({&row, 1});
        printer.Finish();
        out.reset();
        EXPECT_NE(std::string(table).find("  " + text), std::string::npos) << table;
    }
}
