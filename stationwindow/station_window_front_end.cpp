#include "stationwindow/station_window_front_end.h"

#include <QApplication>
#include <QEventLoop>
#include <QScreen>
#include <QSocketNotifier>
#include <QTimer>
#include <vector>

#include "cli/display_check.h"
#include "cli/station_window_hook.h"
#include "pages/ui_services.h"
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
        // The window goes when the station's loop ends, not when it is closed.
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

    void Wait(std::span<pollfd> fds, int timeoutMs) override {
        for (pollfd& p : fds) {
            p.revents = 0;
        }
        QEventLoop loop;
        std::vector<std::unique_ptr<QSocketNotifier>> notifiers;
        for (const pollfd& p : fds) {
            if (p.fd >= 0) {
                notifiers.push_back(std::make_unique<QSocketNotifier>(p.fd, QSocketNotifier::Read));
                QObject::connect(notifiers.back().get(), &QSocketNotifier::activated, &loop,
                                 &QEventLoop::quit);
            }
        }
        QTimer deadline;
        deadline.setSingleShot(true);
        QObject::connect(&deadline, &QTimer::timeout, &loop, &QEventLoop::quit);
        // Nothing ready yet: the window's events run until something is, or the time is up.
        if (::poll(fds.data(), fds.size(), 0) == 0) {
            deadline.start(timeoutMs);
            loop.exec();
            ::poll(fds.data(), fds.size(), 0);
        }
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
