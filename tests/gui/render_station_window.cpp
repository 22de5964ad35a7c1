// Renders the station window's pictures for the README: six simulated devices in UDP fixture
// slots, three updated, one failing and two still running (slow to answer), and the records of
// that session. Run it under an X server (scripts/screenshots.sh starts Xvfb):
// render_station_window <folder> <update file>.
#include <QApplication>
#include <QCryptographicHash>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <csignal>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "log/debug_log.h"
#include "pages/event_loop_wait.h"
#include "pages/ui_services.h"
#include "sim/udp_transport.h"
#include "station/station_records.h"
#include "stationwindow/station_records_dialog.h"
#include "stationwindow/station_tile.h"
#include "stationwindow/station_window.h"
#include "stationwindow/station_window_view.h"
#include "update/network_update.h"

namespace {

constexpr unsigned kSettleMs = 300;
constexpr int kGiveUpMs = 30000;
constexpr unsigned kLookEveryMs = 10;
// The slow devices answer each frame this late, so they are mid-transfer in the picture.
constexpr unsigned kSlowReplyMs = 60;
constexpr int kShownPercent = 15;

bool Save(QWidget& window, const QString& folder, const QString& name) {
    EventLoopWait(kSettleMs);
    const QString path = folder + QLatin1Char('/') + name;
    if (!window.grab().save(path)) {
        std::fprintf(stderr, "cannot write %s\n", qPrintable(path));
        return false;
    }
    std::printf("%s\n", qPrintable(path));
    return true;
}

// Three devices pass, one refuses every frame, two take their time.
SimOptions OptionsOf(int device) {
    SimOptions options;
    if (device == 3) {
        options.defaultReply = 0x22;
    } else if (device >= 4) {
        options.replyDelayMs = kSlowReplyMs * static_cast<unsigned>(device - 3);
    }
    return options;
}

}  // namespace

int main(int argc, char** argv) {
    QApplication application(argc, argv);
    if (argc != 3) {
        std::fprintf(stderr, "usage: render_station_window <folder> <update file>\n");
        return 2;
    }
    const QString folder = QString::fromLocal8Bit(argv[1]);
    const std::string updateFile = argv[2];
    QFile file(QString::fromStdString(updateFile));
    if (!file.open(QIODevice::ReadOnly)) {
        std::fprintf(stderr, "cannot read %s\n", argv[2]);
        return 1;
    }
    const QByteArray bytes = file.readAll();
    const QTemporaryDir scratch;
    DebugLogOptions logOptions;
    logOptions.startWorker = false;
    C_Debug_Log log(logOptions);
    QtUiServices ui;

    std::vector<std::unique_ptr<UdpSimServer>> devices;
    std::vector<StationDevice> present;
    StationWindowSession session{
        {"line-3", "ana", "UDP", updateFile, bytes.size(),
         QCryptographicHash::hash(bytes, QCryptographicHash::Sha256).toHex().toStdString()},
        (scratch.path() + QStringLiteral("/records.sqlite")).toStdString(),
        "2000-01-01T00:00:00.000Z",
        {},
        "none"};
    for (int i = 0; i < 6; ++i) {
        const std::string address = "127.0.24." + std::to_string(i + 1);
        devices.push_back(std::make_unique<UdpSimServer>(OptionsOf(i), address));
        std::string error;
        if (!devices.back()->Start(error)) {
            std::fprintf(stderr, "%s\n", error.c_str());
            return 1;
        }
        present.push_back({address, ""});
        session.slotNames.push_back(address);
    }
    std::string error;
    std::string notices;
    int status = 0;
    const std::unique_ptr<AttemptLog> records =
        OpenStationRecords(session.records, error, notices, status);
    if (!records) {
        std::fprintf(stderr, "%s\n", error.c_str());
        return 1;
    }

    StationWindow window(session, ui, DefaultClock(), [] {});
    window.resize(1280, 720);
    window.show();
    StationWindowView view(window);
    const FrontEnd frontEnd{.path = updateFile};
    Station station(session.session, *records, view,
                    [&](const StationDevice& device, UpdateObserver& observer) {
                        const std::unique_ptr<NetworkLink> link =
                            MakeNetworkLink(log, DefaultClock());
                        return UpdateOverNetwork(*link, device.id, nullptr, frontEnd, observer, log,
                                                 DefaultClock());
                    });
    station.BusListing(present);

    // Until three passed, one failed and the slow two are well into their transfer.
    const auto pictured = [&] {
        int passed = 0, failed = 0, under = 0;
        for (const StationDevice& d : present) {
            const StationTile* tile = window.Tile(d.id);
            passed += tile->Look() == TileLook::Passed ? 1 : 0;
            failed += tile->Look() == TileLook::Failed ? 1 : 0;
            under += tile->Look() == TileLook::Running &&
                             tile->State().endsWith(QLatin1Char('%')) &&
                             tile->State().section(QLatin1Char(' '), 0, 0).toInt() >= kShownPercent
                         ? 1
                         : 0;
        }
        return passed == 3 && failed == 1 && under == 2;
    };
    QElapsedTimer waited;
    waited.start();
    while (!pictured() && waited.elapsed() < kGiveUpMs) {
        EventLoopWait(kLookEveryMs);
    }
    bool ok = pictured() && Save(window, folder, QStringLiteral("station-window.png"));
    StationRecordsDialog recordsDialog(session, ui, &window);
    recordsDialog.resize(1100, 300);
    recordsDialog.show();
    ok = Save(recordsDialog, folder, QStringLiteral("station-records.png")) && ok;
    station.Cancel(SIGINT);
    return ok ? 0 : 1;
}
