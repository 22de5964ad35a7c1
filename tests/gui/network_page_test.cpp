#include <gtest/gtest.h>

#include <QApplication>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QTest>
#include <tuple>

#include "engine/link_profiles.h"
#include "gui_fakes.h"
#include "pages/ip_address_edit.h"
#include "pages/property_network.h"
#include "pages/state_msg.h"

namespace {

const QString kRestartText =
    "Please switch of the power supply of the device\nand wait 5 seconds. Then switch on the "
    "power supply.\nThe device will restart and activate a bootloader!";

class NetworkPageTest : public GuiTest {
  protected:
    NetworkPageTest()
        : page(context, &window, std::make_unique<ScriptedNetworkLink>(script)),
          updateFile(files.Write("app.enc", "0003AABBCC")) {}

    // An address typed, a device type chosen, an update file named: ready to program.
    void Prepare(const QString& address, int deviceType = 0) {
        page.AddressEdit().SetAddress(address);
        page.DeviceTypeList().setCurrentIndex(deviceType);
        page.PathEdit().setText(QString::fromStdString(updateFile));
    }

    CProperty_NETWORK page;
    std::string updateFile;
};

TEST_F(NetworkPageTest, AddressCheckWantsFourNumbersAndNotAllZero) {
    const std::vector<std::pair<QString, bool>> cases = {
        {"192.168.1.20", true}, {"10.0.0.7", true}, {"127.0.0.1", true}, {"10..0.7", false},
        {"10.0.0.", false},     {"0.0.0.0", false}, {"", false},         {"255.255.255.255", true},
    };
    for (const auto& [address, enabled] : cases) {
        page.AddressEdit().SetAddress(address);
        EXPECT_EQ(page.PathEdit().isEnabled(), enabled) << address.toStdString();
        EXPECT_EQ(page.BrowseButton().isEnabled(), enabled) << address.toStdString();
    }
    // Program follows the file check only: clearing the address leaves it enabled.
    page.AddressEdit().SetAddress("127.0.0.1");
    page.PathEdit().setText(QString::fromStdString(updateFile));
    page.AddressEdit().Clear();
    EXPECT_FALSE(page.PathEdit().isEnabled());
    EXPECT_TRUE(page.ProgramButton().isEnabled());
    EXPECT_EQ(page.AddressText(), "0.0.0.0");
}

TEST_F(NetworkPageTest, TypingMovesOnAfterThreeDigitsAndRefusesNumbersAbove255) {
    window.show();
    IpAddressEdit& edit = page.AddressEdit();
    edit.FieldEdit(0).setFocus();
    for (const char* typed : {"192", "168", "1.", "300"}) {
        QTest::keyClicks(window.focusWidget(), typed);
    }
    EXPECT_EQ(edit.Field(0), 192);
    EXPECT_EQ(edit.Field(1), 168);
    EXPECT_EQ(edit.Field(2), 1);
    EXPECT_EQ(edit.Field(3), 30);  // the third digit would make 300: refused
    EXPECT_EQ(page.AddressText(), "192.168.1.30");
}

TEST_F(NetworkPageTest, SuccessfulRunReportsEveryStep) {
    Prepare("127.0.0.1");
    script.failedSyncs = 2;
    bool stateShown = false;
    script.duringSync = [&](int) {
        CStateMsg* state = ShownStateMsg();
        ASSERT_NE(state, nullptr);
        stateShown = true;
        EXPECT_EQ(state->windowTitle(), "Start Update");
        EXPECT_EQ(state->findChild<QLabel*>()->text(), kRestartText);
        EXPECT_FALSE(window.isEnabled());
    };
    script.duringUpdate = [&] {
        EXPECT_EQ(ShownStateMsg(), nullptr);
        EXPECT_TRUE(window.isEnabled());
        EXPECT_EQ(ui.waitCursorDepth, 1);
        EXPECT_EQ(page.BootloaderVersionLabel().text(), "Bootloader version 1.05");
        EXPECT_EQ(page.DeviceFoundLabel().text(), "Korvo found");
    };

    page.ProgramButton().click();

    EXPECT_TRUE(stateShown);
    EXPECT_EQ(script.calls, (std::vector<std::string>{"Open_Port(127.0.0.1)", "Sync", "Sync",
                                                      "Sync", "Update(" + updateFile + ")"}));
    ASSERT_EQ(ui.messages.size(), 1u);
    EXPECT_EQ(ui.messages[0].text, "Programming successful");
    EXPECT_EQ(ui.messages[0].icon, MessageIcon::Exclamation);
    EXPECT_EQ(ui.cursorDepthAtMessage, std::vector<int>{0});
    EXPECT_EQ(page.Progress().value(), 100);
    EXPECT_EQ(
        log.Lines(),
        (std::vector<std::string>{
            LineKey(4, kSourcePages, "OnButton_Program() - waiting for BootLoader"),
            LineKey(4, kSourcePages, "OnButton_Program() - send update"),
            LineKey(4, kSourcePages, "~OnButton_Program() - finished (Programming successful)"),
        }));
    // One 1 ms plain sleep after each failed attempt.
    ASSERT_EQ(clock.Waits().size(), 2u);
    for (const auto& wait : clock.Waits()) {
        EXPECT_FALSE(wait.pump);
        EXPECT_EQ(wait.ms, 1u);
    }
}

TEST_F(NetworkPageTest, KorvoIsToldToRestartBeforeTheFirstAttempt) {
    Prepare("127.0.0.1", 1);
    page.ProgramButton().click();
    ASSERT_GE(script.calls.size(), 3u);
    EXPECT_EQ(script.calls[1], "ResetDevice(Boot)");
    EXPECT_EQ(script.calls[2], "Sync");

    script.calls.clear();
    page.DeviceTypeList().setCurrentIndex(0);
    page.ProgramButton().click();
    EXPECT_EQ(script.calls[1], "Sync");
}

TEST_F(NetworkPageTest, OpenFailureClosesTheStateMessageAndShowsTheCode) {
    Prepare("127.0.0.1");
    script.openResult = -4;
    page.ProgramButton().click();
    EXPECT_EQ(script.calls, std::vector<std::string>{"Open_Port(127.0.0.1)"});
    ASSERT_EQ(ui.messages.size(), 1u);
    EXPECT_EQ(ui.messages[0].text, "ERROR: Unable to open a connection (error -4)!");
    EXPECT_EQ(ShownStateMsg(), nullptr);
    EXPECT_TRUE(window.isEnabled());
}

TEST_F(NetworkPageTest, CancelledWaitEndsWithoutAMessageAndKeepsTheLabels) {
    Prepare("127.0.0.1");
    page.ProgramButton().click();  // a first run sets the labels
    ui.messages.clear();
    script.calls.clear();
    script.syncAttempts = 0;
    script.info = BootloaderInfo{2, 0x10, 3, false};
    script.failedSyncs = -1;
    script.duringSync = [](int attempt) {
        if (attempt == 3) {
            ShownStateMsg()->findChild<QPushButton*>()->click();
        }
    };

    page.ProgramButton().click();

    EXPECT_EQ(script.syncAttempts, 4);
    EXPECT_TRUE(ui.messages.empty());
    EXPECT_EQ(ui.waitCursorShown, 1);  // only the first run's
    EXPECT_EQ(page.BootloaderVersionLabel().text(), "Bootloader version 1.05");
    EXPECT_EQ(page.DeviceFoundLabel().text(), "Korvo found");
    EXPECT_EQ(ShownStateMsg(), nullptr);
    EXPECT_TRUE(window.isEnabled());
    EXPECT_TRUE(page.ProgramButton().isEnabled());
}

TEST_F(NetworkPageTest, OneByteFileIsRefusedAfterSynchronisation) {
    Prepare("127.0.0.1");
    page.PathEdit().setText(QString::fromStdString(files.Write("one.enc", "0")));
    ASSERT_TRUE(page.ProgramButton().isEnabled());
    page.ProgramButton().click();
    EXPECT_EQ(script.calls, (std::vector<std::string>{"Open_Port(127.0.0.1)", "Sync"}));
    ASSERT_EQ(ui.messages.size(), 1u);
    EXPECT_EQ(ui.messages[0].text, "Error: no valid update file!");
    EXPECT_EQ(ui.cursorDepthAtMessage, std::vector<int>{0});
    EXPECT_EQ(page.BootloaderVersionLabel().text(), "Bootloader version 1.05");
}

class NetworkVerdictTest : public NetworkPageTest, public ::testing::WithParamInterface<Verdict> {};

TEST_P(NetworkVerdictTest, ResultBecomesTheFinalMessage) {
    const auto [code, signatureError, expected] = GetParam();
    Prepare("127.0.0.1");
    script.updateResult = code;
    script.info.signatureError = signatureError;
    page.ProgramButton().click();
    ASSERT_EQ(ui.messages.size(), 1u);
    EXPECT_EQ(ui.messages[0].text.toStdString(), expected);
    EXPECT_TRUE(log.HasLine(4, kSourcePages,
                            std::string("~OnButton_Program() - finished (") + expected + ")"));
}

INSTANTIATE_TEST_SUITE_P(
    Codes, NetworkVerdictTest,
    ::testing::Values(Verdict{0, true, "Error: this is not a valid device!"},
                      Verdict{-99, true, "Error: BootLoader is hanging!"},
                      Verdict{-8, false, "Error: No or wrong response from target device!"},
                      Verdict{-3, false, "Error: Format error in update file!"},
                      Verdict{-2, false, "Error: can not read update file!"},
                      Verdict{-7, false, "Update_AVR() = -7\n"},
                      Verdict{-1, true, "Error: this is not a valid device!"}),
    VerdictName);

}  // namespace
