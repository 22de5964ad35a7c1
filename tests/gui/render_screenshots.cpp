// Renders the pictures of the README: the main dialog with each tab selected (the USB pages
// listing simulated devices), the replug guidance and an FTDI transfer on the USB I page, and
// the windows of a programming run over the network, all against simulated devices. Run it
// under an X server (scripts/screenshots.sh starts Xvfb):
// render_screenshots <folder> <update file>.
#include <QApplication>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>
#include <QSettings>
#include <QTemporaryDir>
#include <QTimer>
#include <QVBoxLayout>
#include <cstdio>
#include <cstdlib>
#include <deque>
#include <memory>
#include <string>

#include "log/debug_log.h"
#include "pages/device_list.h"
#include "pages/event_loop_wait.h"
#include "pages/ip_address_edit.h"
#include "pages/main_dialog.h"
#include "pages/property_network.h"
#include "pages/property_usb_ftdi.h"
#include "pages/state_msg.h"
#include "pages/tab_ctrl.h"
#include "pages/ui_services.h"
#include "sim/ftdi_transport.h"
#include "sim/udp_transport.h"
#include "sim/usbxpress_transport.h"

namespace {

constexpr const char* kDeviceAddress = "127.0.5.250";
constexpr unsigned kSettleMs = 300;

bool Write(const QPixmap& picture, const QString& folder, const QString& name) {
    const QString path = folder + QLatin1Char('/') + name;
    if (!picture.save(path)) {
        std::fprintf(stderr, "cannot write %s\n", qPrintable(path));
        return false;
    }
    std::printf("%s\n", qPrintable(path));
    return true;
}

bool Save(QWidget& window, const QString& folder, const QString& name) {
    EventLoopWait(kSettleMs);  // let the window be mapped and painted
    return Write(window.grab(), folder, name);
}

// What the X server shows of the window now, without giving the window a chance to paint:
// proof that the window drew itself while its thread was busy.
bool SaveFromScreen(QWidget& window, const QString& folder, const QString& name) {
    QScreen* screen = window.screen();
    return screen != nullptr && Write(screen->grabWindow(window.winId()), folder, name);
}

// The message boxes of a run are shown without a loop of their own and pictured under the
// next name given (none: not pictured); every question is answered with OK.
class PicturingUiServices final : public UiServices {
  public:
    explicit PicturingUiServices(QString folder) : folder_(std::move(folder)) {}

    bool ShowMessage(QWidget* owner, const MessageBoxRequest& request) override {
        QMessageBox box(QMessageBox::Warning, ProgramTitle(), request.text, QMessageBox::Ok, owner);
        box.setWindowModality(Qt::NonModal);
        box.show();
        const QString name = names_.empty() ? QString() : names_.front();
        if (!names_.empty()) {
            names_.pop_front();
        }
        if (!name.isEmpty()) {
            ok_ = Save(box, folder_, name) && ok_;
        }
        return true;
    }
    void PictureNextMessagesAs(std::initializer_list<QString> names) { names_ = names; }
    QString ChooseFileToOpen(QWidget*, const FileOpenRequest&) override { return {}; }
    QString ChooseFileToSave(QWidget*, const FileOpenRequest&) override { return {}; }
    void SetWaitCursor(bool) override {}
    void OpenUrl(const QString&) override {}

    bool Ok() const { return ok_; }

  private:
    QString folder_;
    std::deque<QString> names_;
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

// Simulated USB devices for the USB pages: on the FTDI bus a Corvane device that refuses the
// command (so the user is guided through a replug) and a plain adapter; on the USBXpress bus a
// Pellix-USB device. The buses are set before the dialog lists them.
struct SimulatedUsb {
    QTemporaryDir ftdiBus;
    QTemporaryDir usbxpressBus;
    std::unique_ptr<FtdiSimServer> corvane;
    std::unique_ptr<FtdiSimServer> adapter;
    std::unique_ptr<UsbXpressSimServer> pellix;

    bool Start() {
        ::setenv("FLASHWRIGHT_FTDI_BUS", qPrintable(ftdiBus.path()), 1);
        ::setenv("FLASHWRIGHT_USBXPRESS_BUS", qPrintable(usbxpressBus.path()), 1);
        ::setenv("FLASHWRIGHT_CORVANE_CODE", "5AC33CA5", 1);
        FtdiSimOptions cv;
        cv.description = "Corvane";
        cv.serial = "CV10442";
        cv.startInApplication = true;
        cv.application.hardware = "HW 3.1";
        cv.application.software = "SW 2.07";
        cv.application.fault = CorvaneFault::kRefuse;
        cv.baud = 115200;  // the transfer takes as long as on the real line
        FtdiSimOptions plain;
        plain.description = "USB <-> Serial";
        plain.serial = "FT4XK2QZ";
        UsbXpressSimOptions px;
        px.description = "Pellix-USB";
        px.serial = "PX000731";
        px.startInApplication = true;
        corvane = std::make_unique<FtdiSimServer>(ftdiBus.path().toStdString(), cv);
        adapter = std::make_unique<FtdiSimServer>(ftdiBus.path().toStdString(), plain);
        pellix = std::make_unique<UsbXpressSimServer>(usbxpressBus.path().toStdString(), px);
        std::string error;
        if (!corvane->Start(error) || !adapter->Start(error) || !pellix->Start(error)) {
            std::fprintf(stderr, "simulator: %s\n", error.c_str());
            return false;
        }
        return true;
    }
};

// The desktop entry as an application launcher shows it: the entry's icon over its name.
bool RenderLauncher(const QString& folder) {
    QSettings entry(QStringLiteral("packaging/flashwright.desktop"), QSettings::IniFormat);
    const QString name = entry.value(QStringLiteral("Desktop Entry/Name")).toString();
    const QPixmap icon(QStringLiteral("packaging/icons/flashwright-64.png"));
    if (name.isEmpty() || icon.isNull()) {
        std::fprintf(stderr, "run from the repository: the desktop entry or its icon is missing\n");
        return false;
    }
    QWidget tile;
    tile.setAutoFillBackground(true);
    QPalette colours = tile.palette();
    colours.setColor(QPalette::Window, QColor(0x2e, 0x34, 0x36));
    colours.setColor(QPalette::WindowText, Qt::white);
    tile.setPalette(colours);
    auto* layout = new QVBoxLayout(&tile);
    auto* picture = new QLabel(&tile);
    picture->setPixmap(icon);
    picture->setAlignment(Qt::AlignCenter);
    auto* caption = new QLabel(name, &tile);
    caption->setAlignment(Qt::AlignCenter);
    layout->addWidget(picture);
    layout->addWidget(caption);
    tile.setFixedSize(120, 110);
    tile.show();
    return Save(tile, folder, QStringLiteral("launcher.png"));
}

// A run on the USB I page with the Corvane device: the replug request pictured, the device
// unplugged and plugged in again, and the transfer pictured from the screen half-way.
bool RunUsbI(CFlashwrightDlg& dialog, CProperty_USB_FTDI& page, SimulatedUsb& usb,
             const QString& folder, const QString& file) {
    bool ok = true;
    bool midRunTaken = false;
    page.Devices().setCurrentItem(page.Devices().topLevelItem(0));
    page.PathEdit().setEnabled(true);
    page.PathEdit().setText(file);
    QTimer::singleShot(700, [&] {
        CStateMsg* request = ShownStateMsg();
        ok = request != nullptr && Save(*request, folder, QStringLiteral("replug-request.png")) &&
             ok;
        usb.corvane->Unplug();
    });
    QTimer::singleShot(1500, [&] { usb.corvane->Replug(); });
    const QMetaObject::Connection midRun =
        QObject::connect(&page.Progress(), &QProgressBar::valueChanged, [&](int value) {
            if (value >= 50 && !midRunTaken) {
                midRunTaken = true;
                ok = SaveFromScreen(dialog, folder, QStringLiteral("usb-i-transfer.png")) && ok;
            }
        });
    page.OnButton_Program();
    QObject::disconnect(midRun);
    return ok && midRunTaken;
}

}  // namespace

int main(int argc, char** argv) {
    QApplication application(argc, argv);
    if (argc != 3) {
        std::fprintf(stderr, "usage: render_screenshots <folder> <update file>\n");
        return 2;
    }
    const QString folder = QString::fromLocal8Bit(argv[1]);
    SimulatedUsb usb;
    if (!usb.Start()) {
        return 1;
    }
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
    ok = RenderLauncher(folder) && ok;
    tabs.SelectTab(1);
    EventLoopWait(kSettleMs);
    ok = RunUsbI(dialog, tabs.PageOf<CProperty_USB_FTDI>(), usb, folder,
                 QString::fromLocal8Bit(argv[2])) &&
         ok;

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
    CProperty_NETWORK& network = tabs.PageOf<CProperty_NETWORK>();
    network.AddressEdit().SetAddress(QString::fromLatin1(kDeviceAddress));
    network.PathEdit().setText(QString::fromLocal8Bit(argv[2]));
    ui.PictureNextMessagesAs({QStringLiteral("message-box.png")});
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
