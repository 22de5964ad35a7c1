// Whole programming runs from the pages through the real links to the simulated device: over
// UDP on loopback (each test on its own 127.0.5.x address) and over a pseudo-terminal.
#include <gtest/gtest.h>

#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QTimer>

#include "engine/link_profiles.h"
#include "gui_fakes.h"
#include "pages/ip_address_edit.h"
#include "pages/property_com_port.h"
#include "pages/property_network.h"
#include "pages/state_msg.h"
#include "sim/enc_maker.h"
#include "sim/pty_transport.h"
#include "sim/udp_transport.h"

namespace {

constexpr unsigned kFrameBody = 200;

class SimRunTest : public ::testing::Test {
  protected:
    SimRunTest() : payload(PseudoRandomBytes(2500, 4107)), updateFile(files.Path() / "app.enc") {
        std::string error;
        EXPECT_TRUE(WriteUpdateFile(updateFile, payload, kFrameBody, error)) << error;
    }

    // The state message dialog's Cancel button, pressed after ms as the user would.
    static void PressCancelAfter(int ms) {
        QTimer::singleShot(ms, [] {
            if (CStateMsg* state = ShownStateMsg()) {
                state->findChild<QPushButton*>()->click();
            }
        });
    }

    std::vector<std::string> Messages() const {
        std::vector<std::string> texts;
        for (const auto& shown : ui.messages) {
            texts.push_back(shown.text.toStdString());
        }
        return texts;
    }

    void ExpectSuccess(UpdatePage& page) {
        EXPECT_EQ(Messages(), std::vector<std::string>{"Programming successful"});
        EXPECT_EQ(page.Progress().value(), 100);
        EXPECT_EQ(page.BootloaderVersionLabel().text(), "Bootloader version 1.05");
        EXPECT_EQ(page.DeviceFoundLabel().text(), "Corvane found");
        EXPECT_TRUE(log.HasLine(4, kSourcePages,
                                "~OnButton_Program() - finished (Programming successful)"));
    }

    RecordingLog log;
    FakeUiServices ui;
    PageContext context{log, DebugSwitch{[] { return false; }, [](bool) {}}, ui, DefaultClock()};
    TempDir files;
    QWidget window;
    std::vector<std::uint8_t> payload;
    std::string updateFile;
};

class NetworkSimRunTest : public SimRunTest {
  protected:
    void Prepare(const QString& address) {
        page.AddressEdit().SetAddress(address);
        page.PathEdit().setText(QString::fromStdString(updateFile));
        ASSERT_TRUE(page.ProgramButton().isEnabled());
    }

    CProperty_NETWORK page{context, &window};
};

TEST_F(NetworkSimRunTest, ProgramsTheDevice) {
    UdpSimServer device(SimOptions{}, "127.0.5.1");
    std::string error;
    ASSERT_TRUE(device.Start(error)) << error;
    Prepare("127.0.5.1");

    page.ProgramButton().click();

    ExpectSuccess(page);
    EXPECT_EQ(device.Inspect([](const BootloaderSim& sim) { return sim.AcceptedPayload(); }),
              payload);
}

TEST_F(NetworkSimRunTest, CancelledWaitEndsQuietlyAndASecondClickDoesNothing) {
    Prepare("127.0.5.2");  // no device answers there
    QTimer::singleShot(60, [this] { page.OnButton_Program(); });
    PressCancelAfter(150);

    page.ProgramButton().click();

    EXPECT_TRUE(ui.messages.empty());
    EXPECT_EQ(log.CountLines("OnButton_Program() - waiting for BootLoader"), 1u);
    EXPECT_TRUE(page.BootloaderVersionLabel().text().isEmpty());
    EXPECT_EQ(ShownStateMsg(), nullptr);
    EXPECT_TRUE(window.isEnabled());
    EXPECT_TRUE(page.ProgramButton().isEnabled());
}

class ComPortSimRunTest : public SimRunTest {
  protected:
    void Prepare(const std::string& port, const QString& baud) {
        page.PortList().setEditText(QString::fromStdString(port));
        page.BaudList().setCurrentText(baud);
        page.PathEdit().setText(QString::fromStdString(updateFile));
        ASSERT_TRUE(page.ProgramButton().isEnabled());
    }

    CProperty_COM_port page{context, &window};
};

TEST_F(ComPortSimRunTest, ProgramsTheDeviceOnATypedPort) {
    PtySimServer device(SimOptions{});
    std::string error;
    ASSERT_TRUE(device.Start(error)) << error;
    Prepare(device.Path(), "115200");

    page.ProgramButton().click();

    ExpectSuccess(page);
    EXPECT_EQ(device.Inspect([](const BootloaderSim& sim) { return sim.AcceptedPayload(); }),
              payload);
    EXPECT_EQ(device.DeviceCommands(), 0u);
}

TEST_F(ComPortSimRunTest, RateTheLinkRefusesShowsErrorMinus2) {
    PtySimServer device(SimOptions{});
    std::string error;
    ASSERT_TRUE(device.Start(error)) << error;
    Prepare(device.Path(), "921600");

    page.ProgramButton().click();

    EXPECT_EQ(Messages(),
              std::vector<std::string>{"ERROR: Unable to open a connection (error -2)!"});
    EXPECT_EQ(ShownStateMsg(), nullptr);
    EXPECT_EQ(device.Inspect([](const BootloaderSim& sim) { return sim.SyncRequests(); }), 0u);
}

}  // namespace
