// Renders the pictures of the README: the main dialog with each tab selected, and the windows
// of a programming run over the network against the simulated device. Run it under an X
// server (scripts/screenshots.sh starts Xvfb): render_screenshots <folder> <update file>.
#include <QApplication>
#include <QComboBox>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>
#include <cstdio>
#include <string>

#include "log/debug_log.h"
#include "pages/event_loop_wait.h"
#include "pages/ip_address_edit.h"
#include "pages/main_dialog.h"
#include "pages/property_network.h"
#include "pages/state_msg.h"
#include "pages/tab_ctrl.h"
#include "pages/ui_services.h"
#include "sim/udp_transport.h"

namespace {

constexpr const char* kDeviceAddress = "127.0.5.250";
constexpr unsigned kSettleMs = 300;

bool Save(QWidget& window, const QString& folder, const QString& name) {
    EventLoopWait(kSettleMs);  // let the window be mapped and painted
    const QString path = folder + QLatin1Char('/') + name;
    if (!window.grab().save(path)) {
        std::fprintf(stderr, "cannot write %s\n", qPrintable(path));
        return false;
    }
    std::printf("%s\n", qPrintable(path));
    return true;
}

// The message boxes of a run are shown without a loop of their own and pictured.
class PicturingUiServices final : public UiServices {
  public:
    explicit PicturingUiServices(QString folder) : folder_(std::move(folder)) {}

    void ShowMessage(QWidget* owner, const MessageBoxRequest& request) override {
        QMessageBox box(QMessageBox::Warning, ProgramTitle(), request.text, QMessageBox::Ok, owner);
        box.setWindowModality(Qt::NonModal);
        box.show();
        ok_ = Save(box, folder_, QStringLiteral("message-box.png")) && ok_;
    }
    QString ChooseFileToOpen(QWidget*, const FileOpenRequest&) override { return {}; }
    void SetWaitCursor(bool) override {}
    void OpenUrl(const QString&) override {}

    bool Ok() const { return ok_; }

  private:
    QString folder_;
    bool ok_ = true;
};

CStateMsg* ShownStateMsg() {
    for (QWidget* widget : QApplication::topLevelWidgets()) {
        if (auto* state = dynamic_cast<CStateMsg*>(widget);
            state != nullptr && state->isVisible()) {
            return state;
        }
    }
    return nullptr;
}

}  // namespace

int main(int argc, char** argv) {
    QApplication application(argc, argv);
    if (argc != 3) {
        std::fprintf(stderr, "usage: render_screenshots <folder> <update file>\n");
        return 2;
    }
    const QString folder = QString::fromLocal8Bit(argv[1]);
    const ScopedEventLoopWait eventLoopWait;
    DebugLogOptions logOptions;
    logOptions.startWorker = false;
    C_Debug_Log log(logOptions);
    PicturingUiServices ui(folder);
    PageContext context{log, DebugSwitchFor(log), ui, DefaultClock()};
    CFlashwrightDlg dialog(context);
    dialog.show();
    CTabCtrl_new& tabs = dialog.Tabs();

    bool ok = Save(dialog, folder, QStringLiteral("tab-com-port.png"));
    tabs.SelectTab(1);
    ok = Save(dialog, folder, QStringLiteral("tab-usb-i.png")) && ok;
    tabs.SelectTab(2);
    ok = Save(dialog, folder, QStringLiteral("tab-usb-ii.png")) && ok;
    tabs.SelectTab(4);
    ok = Save(dialog, folder, QStringLiteral("tab-version.png")) && ok;

    // A programming run over the network; the device takes a moment to answer, long enough to
    // picture the state message.
    SimOptions device;
    device.syncDelayMs = 1500;
    UdpSimServer server(device, kDeviceAddress);
    std::string error;
    if (!server.Start(error)) {
        std::fprintf(stderr, "simulator: %s\n", error.c_str());
        return 1;
    }
    tabs.SelectTab(3);
    CProperty_NETWORK& network = tabs.NetworkPage();
    network.AddressEdit().SetAddress(QString::fromLatin1(kDeviceAddress));
    network.PathEdit().setText(QString::fromLocal8Bit(argv[2]));
    QTimer::singleShot(100, [&] {
        if (CStateMsg* state = ShownStateMsg()) {
            ok = Save(*state, folder, QStringLiteral("state-message.png")) && ok;
        } else {
            ok = false;
        }
    });
    network.OnButton_Program();
    ok = Save(dialog, folder, QStringLiteral("tab-network.png")) && ok && ui.Ok();
    return ok ? 0 : 1;
}
