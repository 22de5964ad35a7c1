#include "stationwindow/station_window_front_end.h"

#include <QApplication>
#include <QScreen>
#include <QSocketNotifier>

#include <thread>

#include "pages/display_check.h"
#include "pages/ui_services.h"
#include "station/station_window_hook.h"
#include "stationwindow/station_window.h"
#include "stationwindow/station_window_view.h"

namespace {

// The window's first size, as a share of the screen's free area.
constexpr int kScreenSharePercent = 90;

class QtStationWindow final : public StationWindowFrontEnd {
  public:
    QtStationWindow(int& argc, char** argv, const StationWindowSession& session,
                    std::function<void()> stop)
        : application_(argc, argv), window_(session, ui_, DefaultClock(), std::move(stop)) {
        QGuiApplication::setDesktopFileName(QStringLiteral("flashwright"));
        // The window goes when the station's loop ends or, once it has, when it is closed.
        QGuiApplication::setQuitOnLastWindowClosed(false);
        if (const QScreen* screen = QGuiApplication::primaryScreen()) {
            const QSize room = screen->availableGeometry().size() * kScreenSharePercent / 100;
            window_.resize(room.expandedTo(window_.minimumSizeHint())
                               .boundedTo(screen->availableGeometry().size()));
        }
        window_.show();
    }

    std::unique_ptr<StationView> MakeView() override {
        return std::make_unique<StationWindowView>(window_);
    }

    void RunBeside(const std::function<void()>& serve, int stopFd) override {
        QObject::connect(&window_, &StationWindow::Dismissed, &application_,
                         [] { QCoreApplication::exit(0); });
        // While the station runs, its loop takes the stop signals; after its end one ends the
        // window that stays, as it would end the terminal's program.
        QSocketNotifier stopped(stopFd, QSocketNotifier::Read);
        stopped.setEnabled(false);
        QObject::connect(&stopped, &QSocketNotifier::activated, &application_,
                         [] { QCoreApplication::exit(0); });
        std::jthread station([&] {
            serve();
            // Queued, so that it ends the event loop even when the loop has not started yet
            // (and runs after the window heard of the end); exit, not quit, which would first
            // ask the window to close. Stopped from the window, the window stays with its
            // final line until the operator closes it; stopped by a signal, it goes with the
            // station, as the terminal's program does.
            QMetaObject::invokeMethod(
                &application_,
                [this, &stopped] {
                    if (!window_.HasEnded() || window_.Stops() == 0) {
                        QCoreApplication::exit(0);
                    } else {
                        stopped.setEnabled(true);
                    }
                },
                Qt::QueuedConnection);
        });
        QApplication::exec();
    }

  private:
    QApplication application_;
    QtUiServices ui_;
    StationWindow window_;
};

}  // namespace

void InstallStationWindow(int& argc, char** argv) {
    SetStationWindowOpener(
        [&argc, argv](const StationWindowSession& session, std::function<void()> stop,
                      std::string& error) -> std::unique_ptr<StationWindowFrontEnd> {
            const DisplayCheck display = CheckDisplay(SystemDisplayProbe(argc, argv));
            if (!display.usable) {
                error = display.missing;
                return nullptr;
            }
            return std::make_unique<QtStationWindow>(argc, argv, session, std::move(stop));
        });
}
