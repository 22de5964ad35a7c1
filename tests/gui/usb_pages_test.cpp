// The USB I and USB II pages against simulated devices on their pseudo-terminals, through the
// real FTDI and SiLabs links: the device lists, whole runs, the Corvane switch and the replug
// guidance, the Pellix-USB path, Cancel, and the run's failures.
#include <gtest/gtest.h>

#include <qpa/qwindowsysteminterface.h>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <cstdlib>
#include <memory>

#include "../links/fake_ftdi_bus.h"
#include "engine/link_profiles.h"
#include "gui_fakes.h"
#include "pages/device_list.h"
#include "pages/property_usb_ftdi.h"
#include "pages/property_usb_silabs.h"
#include "pages/state_msg.h"
#include "sim/enc_maker.h"
#include "sim/ftdi_transport.h"
#include "sim/usbxpress_transport.h"

namespace {

constexpr const char* kQuestion =
    "Error: incorrect response from device!\nIf you want to continue, press 'OK'.";

template <class Server, class Options>
Server& PlugInto(std::vector<std::unique_ptr<Server>>& devices, const TempDir& bus,
                 Options options) {
    devices.push_back(std::make_unique<Server>(bus.Path().string(), std::move(options)));
    std::string error;
    EXPECT_TRUE(devices.back()->Start(error)) << error;
    return *devices.back();
}

// Runs `action` after ms, while the page's waits dispatch events.
void After(int ms, std::function<void()> action) {
    QTimer::singleShot(ms, std::move(action));
}

void PressCancel() {
    if (CStateMsg* state = ShownStateMsg()) {
        state->findChild<QPushButton*>()->click();
    }
}

class UsbPageTest : public ::testing::Test {
  protected:
    UsbPageTest() {
        std::string error;
        EXPECT_TRUE(WriteUpdateFile(updateFile, PseudoRandomBytes(1200, 77), 250, error)) << error;
        ::setenv("FLASHWRIGHT_CORVANE_CODE", "5AC33CA5", 1);
        window.resize(700, 400);
        window.show();
    }
    ~UsbPageTest() override { ::unsetenv("FLASHWRIGHT_CORVANE_CODE"); }

    // The user clicks the row and names the update file.
    void Pick(UpdatePage& page, DeviceList& list, int row, const std::string& file) {
        QTreeWidgetItem* item = list.topLevelItem(row);
        ASSERT_NE(item, nullptr);
        QTest::mouseClick(list.viewport(), Qt::LeftButton, {}, list.visualItemRect(item).center());
        page.PathEdit().setText(QString::fromStdString(file));
        ASSERT_TRUE(page.ProgramButton().isEnabled());
    }

    std::vector<std::string> Messages() const {
        std::vector<std::string> texts;
        for (const auto& shown : ui.messages) {
            texts.push_back(shown.text.toStdString());
        }
        return texts;
    }

    static std::vector<std::string> Row(DeviceList& list, int row) {
        std::vector<std::string> texts;
        for (int i = 0; i < list.columnCount(); ++i) {
            texts.push_back(list.topLevelItem(row)->text(i).toStdString());
        }
        return texts;
    }

    void ExpectSuccess(UpdatePage& page) {
        EXPECT_EQ(Messages().back(), "Programming successful");
        EXPECT_EQ(page.Progress().value(), 100);
        EXPECT_EQ(page.BootloaderVersionLabel().text(), "Bootloader version 1.05");
        EXPECT_EQ(page.DeviceFoundLabel().text(), "Corvane found");
    }

    RecordingLog log;
    FakeUiServices ui;
    PageContext context{log, DebugSwitch{[] { return false; }, [](bool) {}}, ui, DefaultClock()};
    TempDir bus;
    TempDir files;
    QWidget window;
    std::string updateFile = (files.Path() / "app.enc").string();
};

class UsbIPageTest : public UsbPageTest {
  protected:
    FtdiSimServer& Plug(FtdiSimOptions options) { return PlugInto(devices, bus, options); }
    static FtdiSimOptions Corvane(CorvaneFault fault = CorvaneFault::kNone) {
        FtdiSimOptions o;
        o.description = "Corvane";
        o.serial = "CV0002";
        o.startInApplication = true;
        o.application.fault = fault;
        return o;
    }
    static FtdiSimOptions Plain(const char* serial) {
        FtdiSimOptions o;
        o.serial = serial;
        return o;
    }
    std::unique_ptr<CProperty_USB_FTDI> MakePage() {
        return std::make_unique<CProperty_USB_FTDI>(context, &window,
                                                    MakeSimulatedFtdiLibrary(bus.Path().string()));
    }

    std::vector<std::unique_ptr<FtdiSimServer>> devices;
};

}  // namespace

TEST_F(UsbIPageTest, ListsTheAttachedDevicesAndOpensStepTwoForAPickedRow) {
    Plug(Corvane());
    Plug(Plain("FT0001"));
    auto page = MakePage();
    DeviceList& list = page->Devices();
    ASSERT_EQ(list.topLevelItemCount(), 2);
    EXPECT_EQ(Row(list, 0),
              (std::vector<std::string>{"1", "Corvane", "CV0002", "FW-HW 2", "FW-SW 1.0"}));
    EXPECT_EQ(Row(list, 1),
              (std::vector<std::string>{"2", "Flashwright simulated device", "FT0001", "", ""}));
    EXPECT_EQ(list.headerItem()->text(3), "Hardware");
    EXPECT_EQ(list.columnWidth(1), 130);
    EXPECT_FALSE(page->PathEdit().isEnabled());

    list.setFocus();
    QTest::keyClick(&list, Qt::Key_Down);  // a key in the list picks a row as a click does
    EXPECT_TRUE(page->PathEdit().isEnabled());
    EXPECT_TRUE(page->BrowseButton().isEnabled());
    list.clearSelection();
    QTest::mouseClick(list.viewport(), Qt::LeftButton, {},
                      QPoint(5, list.viewport()->height() - 2));
    EXPECT_FALSE(page->PathEdit().isEnabled());
}

TEST_F(UsbIPageTest, ListingEdgeCases) {
    VirtualClock fakeTime;
    auto nine = std::make_unique<FakeFtdiBus>(fakeTime);
    for (int i = 0; i < 9; ++i) {
        nine->devices.push_back({"Board", "SN" + std::to_string(i), {}});
    }
    CProperty_USB_FTDI full(context, &window, std::move(nine));
    EXPECT_EQ(full.Devices().topLevelItemCount(), CCommunication::kMaxDevices);

    auto broken = std::make_unique<FakeFtdiBus>(fakeTime);
    broken->fail = {"CountDevices"};
    CProperty_USB_FTDI failed(context, &window, std::move(broken));
    EXPECT_EQ(failed.Devices().topLevelItemCount(), 0);
    EXPECT_EQ(Messages(), std::vector<std::string>{"Error by getting a device list"});

    CProperty_USB_FTDI none(context, &window, std::make_unique<FakeFtdiBus>(fakeTime));
    none.PathEdit().setEnabled(true);  // as after an earlier path
    none.PathEdit().setText(QString::fromStdString(updateFile));
    none.ProgramButton().click();
    EXPECT_EQ(Messages().back(), "Error: no device selected!");
}

TEST_F(UsbIPageTest, ProgramsAPlainDevice) {
    Plug(Plain("FT0001"));
    auto page = MakePage();
    Pick(*page, page->Devices(), 0, updateFile);
    page->ProgramButton().click();
    ExpectSuccess(*page);
    EXPECT_TRUE(
        log.HasLine(4, kSourcePages,
                    "OnButton_Program() - unknown device type (Flashwright simulated device)"));
    EXPECT_FALSE(page->Link().IsOpen());
}

TEST_F(UsbIPageTest, ACorvaneDeviceIsSwitchedByCommand) {
    FtdiSimServer& device = Plug(Corvane());
    auto page = MakePage();
    Pick(*page, page->Devices(), 0, updateFile);
    page->ProgramButton().click();
    ExpectSuccess(*page);
    EXPECT_EQ(Messages().size(), 1u);  // no question
    EXPECT_EQ(device.CorvaneCommands().back(), (CorvaneCommand{0xAA, {0x5A, 0xC3, 0x3C, 0xA5}}));
    const std::vector<std::string> lines = log.Lines();
    const auto at = [&](const char* text) {
        return std::find(lines.begin(), lines.end(), LineKey(4, kSourcePages, text)) -
               lines.begin();
    };
    EXPECT_LT(at("OnButton_Program() - Corvane switched in BootLoader mode"),
              at("OnButton_Program() - waiting for BootLoader"));
    EXPECT_LT(at("OnButton_Program() - waiting for BootLoader"), std::ssize(lines));
}

// A Corvane device that does not switch (a wrong answer, or no code to send) and the question
// declined: nothing more reaches the device.
TEST_F(UsbIPageTest, DecliningTheQuestionEndsTheRun) {
    struct Case {
        const char* code;
        CorvaneFault fault;
        std::vector<std::string> messages;
        long enterCommands;
    };
    const std::vector<Case> cases{
        {"5AC33CA5", CorvaneFault::kWrong, {kQuestion}, 1},
        {"nonsense",
         CorvaneFault::kNone,
         {"Error: FLASHWRIGHT_CORVANE_CODE is not 8 hexadecimal digits!", kQuestion},
         0}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.code);
        ::setenv("FLASHWRIGHT_CORVANE_CODE", c.code, 1);
        FtdiSimServer& device = Plug(Corvane(c.fault));
        auto page = MakePage();
        Pick(*page, page->Devices(), 0, updateFile);
        ui.messages.clear();
        ui.answers = {false};
        page->ProgramButton().click();
        EXPECT_EQ(Messages(), c.messages);
        const std::vector<CorvaneCommand> commands = device.CorvaneCommands();
        EXPECT_EQ(std::count_if(commands.begin(), commands.end(),
                                [](const CorvaneCommand& sent) { return sent.command == 0xAA; }),
                  c.enterCommands);
        EXPECT_EQ(device.Inspect([](const BootloaderSim& sim) { return sim.SyncRequests(); }), 0u);
        devices.clear();
    }
}

// The question accepted: the user unplugs the device and plugs it back in while another
// device came in, so it returns under a new index; the update goes to it there.
TEST_F(UsbIPageTest, TheReplugGuidanceFindsTheDeviceUnderItsNewIndex) {
    FtdiSimServer& corvane = Plug(Corvane(CorvaneFault::kWrong));
    auto page = MakePage();
    Pick(*page, page->Devices(), 0, updateFile);
    ui.answers = {true};
    QString firstRequest;
    bool listHeld = false;
    After(100, [&] {
        firstRequest = ShownStateMsg() != nullptr ? ShownStateMsg()->windowTitle() : QString();
        listHeld = !page->SearchButton().isEnabled() && !page->Devices().isEnabled();
        page->OnButton_Program();  // a click dispatched by the guidance's waits starts nothing
        corvane.Unplug();
    });
    After(250, [&] { Plug(Plain("AA0001")); });
    After(400, [&] { corvane.Replug(); });
    page->ProgramButton().click();

    EXPECT_EQ(firstRequest, "Request");
    EXPECT_TRUE(listHeld);
    EXPECT_EQ(Messages(), (std::vector<std::string>{kQuestion, "Programming successful"}));
    EXPECT_TRUE(
        log.HasLine(4, kSourceFtdi, "Dev_RebootTargetDevice() - device reconnected (index 1)"));
    EXPECT_EQ(
        corvane.Inspect([](const BootloaderSim& sim) { return sim.AcceptedPayload().size(); }),
        1200u);
    EXPECT_EQ(ShownStateMsg(), nullptr);
    EXPECT_TRUE(window.isEnabled());
}

TEST_F(UsbIPageTest, CancelInEitherWaitOfTheGuidanceEndsTheRunQuietly) {
    for (const bool unplugFirst : {false, true}) {
        SCOPED_TRACE(unplugFirst ? "waiting for the replug" : "waiting for the unplug");
        FtdiSimServer& corvane = Plug(Corvane(CorvaneFault::kWrong));
        auto page = MakePage();
        Pick(*page, page->Devices(), 0, updateFile);
        ui.messages.clear();
        ui.answers = {true};
        if (unplugFirst) {
            After(100, [&] { corvane.Unplug(); });
        }
        After(300, PressCancel);
        page->ProgramButton().click();
        EXPECT_EQ(Messages(), std::vector<std::string>{kQuestion});
        EXPECT_TRUE(log.HasLine(4, kSourceFtdi, "~Dev_RebootTargetDevice() - cancel"));
        EXPECT_EQ(log.CountLines("Dev_RebootTargetDevice() - device removed"),
                  unplugFirst ? 1u : 0u);
        EXPECT_EQ(ShownStateMsg(), nullptr);
        log.Clear();
        devices.clear();
    }
}

namespace {

// A window beside the page that counts what reaches it.
class Bystander final : public QWidget {
  public:
    int paints = 0;
    int presses = 0;

  protected:
    void paintEvent(QPaintEvent*) override { ++paints; }
    void mousePressEvent(QMouseEvent*) override { ++presses; }
};

}  // namespace

// The transfer's pauses let the windows repaint, but a click the desktop queued waits for the
// end of the run.
TEST_F(UsbIPageTest, TheTransferRepaintsButTakesNoInput) {
    FtdiSimOptions slow = Plain("FT0001");
    slow.bootloader.replyDelayMs = 100;
    FtdiSimServer& device = Plug(slow);
    auto page = MakePage();
    Pick(*page, page->Devices(), 0, updateFile);
    Bystander bystander;
    bystander.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&bystander));
    int paintsBefore = -1;
    QTimer mid;
    mid.callOnTimeout([&] {
        if (paintsBefore >= 0 ||
            device.Inspect([](const BootloaderSim& sim) { return sim.Frames().empty(); })) {
            return;
        }
        paintsBefore = bystander.paints;
        bystander.update();
        QWindow* w = bystander.windowHandle();
        QWindowSystemInterface::handleMouseEvent<QWindowSystemInterface::AsynchronousDelivery>(
            w, QPointF(5, 5), w->mapToGlobal(QPointF(5, 5)), Qt::LeftButton, Qt::LeftButton,
            QEvent::MouseButtonPress);
    });
    mid.start(10);
    page->ProgramButton().click();
    EXPECT_EQ(Messages().back(), "Programming successful");
    ASSERT_GE(paintsBefore, 0) << "no timer ran during the transfer";
    EXPECT_GT(bystander.paints, paintsBefore);
    EXPECT_EQ(bystander.presses, 0);
    QCoreApplication::processEvents();
    EXPECT_EQ(bystander.presses, 1);  // taken after the run
}

TEST_F(UsbIPageTest, ADeviceGoneSinceTheListingIsNotAvailable) {
    FtdiSimServer& device = Plug(Plain("FT0001"));
    auto page = MakePage();
    Pick(*page, page->Devices(), 0, updateFile);
    device.Unplug();
    page->ProgramButton().click();
    EXPECT_EQ(Messages(), std::vector<std::string>{"Error: device is not available!"});
    EXPECT_FALSE(page->PathEdit().isEnabled());
}

namespace {

class UsbIIPageTest : public UsbPageTest {
  protected:
    UsbXpressSimServer& Plug(UsbXpressSimOptions options) {
        return PlugInto(devices, bus, options);
    }
    static UsbXpressSimOptions Pellix() {
        UsbXpressSimOptions o;
        o.description = "Pellix-USB";
        o.serial = "PX0001";
        o.startInApplication = true;
        return o;
    }
    std::unique_ptr<CProperty_USB_SILABS> MakePage() {
        return std::make_unique<CProperty_USB_SILABS>(
            context, &window, MakeSimulatedUsbXpressLibrary(bus.Path().string()));
    }
    unsigned Frames(UsbXpressSimServer& device) {
        return device.Inspect(
            [](const BootloaderSim& sim) { return static_cast<unsigned>(sim.Frames().size()); });
    }

    std::vector<std::unique_ptr<UsbXpressSimServer>> devices;
};

}  // namespace

TEST_F(UsbIIPageTest, ListsEveryAttachedDevice) {
    auto empty = MakePage();
    EXPECT_EQ(empty->Devices().topLevelItemCount(), 0);
    EXPECT_FALSE(empty->PathEdit().isEnabled());

    for (int i = 0; i < 9; ++i) {
        UsbXpressSimOptions o;
        o.serial = "UX000" + std::to_string(i);
        Plug(o);
    }
    empty->SearchButton().click();
    DeviceList& list = empty->Devices();
    ASSERT_EQ(list.topLevelItemCount(), 9);
    EXPECT_EQ(Row(list, 8),
              (std::vector<std::string>{"9", "Flashwright simulated USBXpress device", "UX0008"}));
    EXPECT_EQ(list.columnWidth(2), 140);
}

TEST_F(UsbIIPageTest, APellixDeviceIsToldToStartItsUpdateAndProgrammed) {
    Plug(Pellix());
    auto page = MakePage();
    Pick(*page, page->Devices(), 0, updateFile);
    page->ProgramButton().click();
    ExpectSuccess(*page);
    std::vector<std::string> opening;
    for (const std::string& line : log.Lines()) {
        if (line.find("S50 Dev_Open(") != std::string::npos ||
            line.find("S50 Send_XML_Cmd(") != std::string::npos) {
            opening.push_back(line.substr(0, line.find('\'')));
        }
    }
    EXPECT_EQ(opening,
              (std::vector<std::string>{LineKey(4, kSourceSilabs, "Dev_Open(0, 115200)"),
                                        LineKey(4, kSourceSilabs, "Send_XML_Cmd(0xAAAA, "),
                                        LineKey(4, kSourceSilabs, "Dev_Open(0, 115200)")}));
    EXPECT_EQ(log.CountLines("OnButton_Program() - waiting for BootLoader"), 0u);
    EXPECT_FALSE(page->Link().IsOpen());
}

// Cancel ends the synchronisation quietly, also when the device was unplugged meanwhile: then
// every write fails at once, and the attempts must still wait, dispatch events and log little.
TEST_F(UsbIIPageTest, CancelWhileSynchronisingLeavesTheLinkOpenAndSendsNothing) {
    for (const bool unplugged : {false, true}) {
        SCOPED_TRACE(unplugged ? "unplugged" : "attached");
        UsbXpressSimOptions silent = Pellix();
        silent.description = "Other";  // gets no command, so its bootloader never starts
        UsbXpressSimServer& device = Plug(silent);
        auto page = MakePage();
        Pick(*page, page->Devices(), 0, updateFile);
        log.Clear();
        if (unplugged) {
            After(100, [&] { device.Unplug(); });
        }
        QString caption;
        After(unplugged ? 600 : 200, [&] {
            caption = ShownStateMsg() != nullptr ? ShownStateMsg()->windowTitle() : QString();
            PressCancel();
        });
        page->ProgramButton().click();
        EXPECT_EQ(caption, "Synchronizing device");
        EXPECT_TRUE(Messages().empty());
        EXPECT_EQ(Frames(device), 0u);
        EXPECT_TRUE(page->Link().IsOpen());
        EXPECT_EQ(log.CountLines("error 8 in SI_Write()") > 0, unplugged);
        EXPECT_LT(log.Lines().size(), 200u);
        devices.clear();
    }
}

// How a run ends: the page's verdict for what the device did, a listed code winning over the
// signature flag.
TEST_F(UsbIIPageTest, RunsEndWithThePagesMessages) {
    struct Case {
        const char* what;
        std::vector<SimFault> faults;
        bool oneByteFile;
        const char* message;
        unsigned frames;
        int progress;
    };
    const std::vector<Case> cases{
        {"1-byte file", {}, true, "Error: no valid update file!", 0, 0},
        {"0x33", {{2, 0x33}}, false, "Error: this is not a valid device!", 5, 100},
        {"0x33 then not ready",
         {{0, 0x33}, {1, 0xFE}},
         false,
         "Error: BootLoader is hanging!",
         2,
         20}};
    const std::string oneByte = (files.Path() / "one.enc").string();
    std::FILE* f = std::fopen(oneByte.c_str(), "wb");
    std::fputc(0, f);
    std::fclose(f);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        UsbXpressSimOptions o;
        o.bootloader.faults = c.faults;
        UsbXpressSimServer& device = Plug(o);
        auto page = MakePage();
        Pick(*page, page->Devices(), 0, c.oneByteFile ? oneByte : updateFile);
        ui.messages.clear();
        page->ProgramButton().click();
        EXPECT_EQ(Messages(), std::vector<std::string>{c.message});
        EXPECT_EQ(Frames(device), c.frames);
        EXPECT_EQ(page->Progress().value(), c.progress);
        devices.clear();
    }
}
