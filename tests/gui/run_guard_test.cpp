// Clicks that reach a page through a run's dispatched waits must not start a second run.
#include <gtest/gtest.h>

#include <QComboBox>
#include <QLineEdit>
#include <QMetaObject>
#include <QPushButton>

#include "gui_fakes.h"
#include "pages/event_loop_wait.h"
#include "pages/ip_address_edit.h"
#include "pages/property_com_port.h"
#include "pages/property_network.h"

namespace {

class RunGuardTest : public GuiTest {
  protected:
    RunGuardTest()
        : comPort(context, &window,
                  std::make_unique<ScriptedSerialLink>(
                      script, std::vector<SerialPortEntry>{{"/dev/ttyS0", ""}})),
          network(context, &window, std::make_unique<ScriptedNetworkLink>(otherScript)) {
        const QString file = QString::fromStdString(files.Write("app.enc", "0003AABBCC"));
        comPort.PortList().setCurrentIndex(1);
        comPort.PathEdit().setText(file);
        network.AddressEdit().SetAddress("127.0.0.1");
        network.PathEdit().setText(file);
        context.heldDuringRuns.push_back(&tabBar);
    }

    // A click on the button as the user makes it, delivered by the next dispatching wait.
    static void ClickDuringNextWait(QPushButton& button) {
        QMetaObject::invokeMethod(
            &button, [&button] { button.click(); }, Qt::QueuedConnection);
        EventLoopWait(1);
    }

    int Opens() const {
        return static_cast<int>(
            std::count_if(script.calls.begin(), script.calls.end(),
                          [](const std::string& c) { return c.starts_with("Open"); }));
    }

    QWidget tabBar;  // stands for the main dialog's tab bar
    LinkScript otherScript;
    CProperty_COM_port comPort;
    CProperty_NETWORK network;
};

TEST_F(RunGuardTest, ClicksDuringTheTransferStartNothing) {
    bool heldDuringRun = false;
    script.duringUpdate = [&] {
        heldDuringRun = !comPort.ProgramButton().isEnabled() &&
                        !comPort.BrowseButton().isEnabled() && !comPort.PathEdit().isEnabled() &&
                        !comPort.SearchButton().isEnabled() && !comPort.PortList().isEnabled() &&
                        !comPort.BaudList().isEnabled() && !tabBar.isEnabled();
        ClickDuringNextWait(comPort.ProgramButton());
        ClickDuringNextWait(comPort.SearchButton());
        comPort.OnButton_Program();
        network.OnButton_Program();
    };

    comPort.ProgramButton().click();

    EXPECT_TRUE(heldDuringRun);
    EXPECT_EQ(Opens(), 1);
    EXPECT_TRUE(otherScript.calls.empty());
    EXPECT_EQ(ui.messages.size(), 1u);
    // Afterwards every control is as it was before the run.
    EXPECT_TRUE(comPort.ProgramButton().isEnabled());
    EXPECT_TRUE(comPort.BrowseButton().isEnabled());
    EXPECT_TRUE(comPort.PathEdit().isEnabled());
    EXPECT_TRUE(comPort.SearchButton().isEnabled());
    EXPECT_TRUE(comPort.PortList().isEnabled());
    EXPECT_TRUE(tabBar.isEnabled());
    EXPECT_EQ(comPort.PortList().currentIndex(), 1);

    comPort.ProgramButton().click();
    EXPECT_EQ(Opens(), 2);
}

TEST_F(RunGuardTest, ClicksDuringTheWaitForTheBootloaderStartNothing) {
    script.failedSyncs = 3;
    script.duringSync = [&](int) {
        comPort.OnButton_Program();
        network.OnButton_Program();
    };
    comPort.ProgramButton().click();
    EXPECT_EQ(Opens(), 1);
    EXPECT_TRUE(otherScript.calls.empty());
    EXPECT_FALSE(context.runInProgress);
}

TEST_F(RunGuardTest, ControlsDisabledBeforeTheRunStayDisabled) {
    comPort.PortList().setCurrentIndex(0);  // path edit and Browse off, Program still on
    ASSERT_TRUE(comPort.ProgramButton().isEnabled());
    comPort.PortList().setEditText("/dev/ttyS0");
    comPort.BrowseButton().setEnabled(false);
    comPort.ProgramButton().click();
    EXPECT_EQ(Opens(), 1);
    EXPECT_FALSE(comPort.BrowseButton().isEnabled());
    EXPECT_TRUE(comPort.PathEdit().isEnabled());
}

}  // namespace
