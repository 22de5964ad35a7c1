#include <gtest/gtest.h>

#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <tuple>

#include "gui_fakes.h"
#include "pages/property_com_port.h"

namespace {

class ComPortPageTest : public GuiTest {
  protected:
    ComPortPageTest()
        : link(new ScriptedSerialLink(script,
                                      {{"/dev/ttyS0", ""}, {"/dev/ttyUSB0", "FT232R USB UART"}})),
          page(context, &window, std::unique_ptr<SerialLink>(link)),
          updateFile(files.Write("app.enc", "0003AABBCC")) {}

    void Prepare(int portIndex, const QString& baud = "115200", int deviceType = 0) {
        page.PortList().setCurrentIndex(portIndex);
        page.BaudList().setCurrentText(baud);
        page.DeviceTypeList().setCurrentIndex(deviceType);
        page.PathEdit().setText(QString::fromStdString(updateFile));
    }

    ScriptedSerialLink* link;  // owned by the page
    CProperty_COM_port page;
    std::string updateFile;
};

TEST_F(ComPortPageTest, ListsThePortsTheBaudRatesAndTheDeviceTypes) {
    QComboBox& ports = page.PortList();
    ASSERT_EQ(ports.count(), 3);
    EXPECT_EQ(ports.itemText(0), " - select port - ");
    EXPECT_EQ(ports.itemText(1), "/dev/ttyS0");
    EXPECT_EQ(ports.itemText(2), "/dev/ttyUSB0  (FT232R USB UART)");
    EXPECT_EQ(ports.currentIndex(), 0);

    QStringList bauds;
    for (int i = 0; i < page.BaudList().count(); ++i) {
        bauds << page.BaudList().itemText(i);
        EXPECT_EQ(page.BaudList().itemData(i).toString(), page.BaudList().itemText(i));
    }
    EXPECT_EQ(bauds, QStringList({"110", "300", "1200", "2400", "4800", "9600", "19200", "38400",
                                  "57600", "115200", "230400", "460800", "921600"}));
    EXPECT_EQ(page.BaudList().currentText(), "115200");
    EXPECT_EQ(page.DeviceTypeList().itemText(0), "unknown");
    EXPECT_EQ(page.DeviceTypeList().itemText(1), "Mirabel");
    EXPECT_EQ(page.DeviceTypeList().currentIndex(), 0);
}

TEST_F(ComPortPageTest, StepOneWantsAPortListedOrTyped) {
    page.PortList().setCurrentIndex(2);
    EXPECT_EQ(page.SelectedPort(), "/dev/ttyUSB0");
    EXPECT_TRUE(page.PathEdit().isEnabled());
    EXPECT_TRUE(page.BrowseButton().isEnabled());

    page.PortList().setCurrentIndex(0);
    EXPECT_EQ(page.SelectedPort(), "");
    EXPECT_FALSE(page.PathEdit().isEnabled());
    EXPECT_FALSE(page.BrowseButton().isEnabled());

    // A pseudo-terminal is not enumerated but can be typed.
    page.PortList().setEditText("/dev/pts/7");
    EXPECT_EQ(page.SelectedPort(), "/dev/pts/7");
    EXPECT_TRUE(page.PathEdit().isEnabled());

    page.PortList().setEditText("  ");
    EXPECT_FALSE(page.PathEdit().isEnabled());
}

TEST_F(ComPortPageTest, SearchNewPortRefillsWithoutTouchingTheFileControls) {
    Prepare(1);
    ASSERT_TRUE(page.PathEdit().isEnabled());
    link->Ports().push_back({"/dev/ttyACM0", "USB serial"});

    page.SearchButton().click();

    EXPECT_EQ(page.PortList().count(), 4);
    EXPECT_EQ(page.PortList().currentIndex(), 0);
    EXPECT_TRUE(page.PathEdit().isEnabled());
    EXPECT_TRUE(page.BrowseButton().isEnabled());
    // With no port selected, Program does nothing at all.
    page.ProgramButton().click();
    EXPECT_TRUE(script.calls.empty());
    EXPECT_TRUE(ui.messages.empty());
    EXPECT_EQ(ShownStateMsg(), nullptr);
}

TEST_F(ComPortPageTest, MirabelIsSentItsCommandOnceBeforeTheFirstAttempt) {
    Prepare(2, "57600", 1);
    script.failedSyncs = 2;
    page.ProgramButton().click();
    EXPECT_EQ(script.calls,
              (std::vector<std::string>{"Open(/dev/ttyUSB0, 57600)", "Send(FD0707FE)", "Sync",
                                        "Sync", "Sync", "Update(" + updateFile + ")"}));
    ASSERT_EQ(ui.messages.size(), 1u);
    EXPECT_EQ(ui.messages[0].text, "Programming successful");
    EXPECT_EQ(page.Progress().value(), 100);
    EXPECT_EQ(page.BootloaderVersionLabel().text(), "Bootloader version 1.05");
    // A 10 ms plain sleep after each failed attempt.
    ASSERT_EQ(clock.Waits().size(), 2u);
    EXPECT_EQ(clock.Waits()[0].ms, 10u);
    EXPECT_FALSE(clock.Waits()[0].pump);
}

class ComPortVerdictTest : public ComPortPageTest, public ::testing::WithParamInterface<Verdict> {};

TEST_P(ComPortVerdictTest, ResultBecomesTheFinalMessage) {
    const auto [code, signatureError, expected] = GetParam();
    Prepare(1);
    script.updateResult = code;
    script.info.signatureError = signatureError;
    page.ProgramButton().click();
    ASSERT_EQ(ui.messages.size(), 1u);
    EXPECT_EQ(ui.messages[0].text.toStdString(), expected);
}

INSTANTIATE_TEST_SUITE_P(
    Codes, ComPortVerdictTest,
    ::testing::Values(Verdict{-99, false, "Error: BootLoader is hanging!"},
                      Verdict{-9, true, "Error: No or wrong response from target device!"},
                      Verdict{-7, false, "Error: unable to send data!"},
                      Verdict{-6, false, "Error: Format error in update file!"},
                      Verdict{-4, false, "Update_AVR() = -4\n"},
                      Verdict{-8, true, "Error: this is not a valid device!"}),
    VerdictName);

}  // namespace
