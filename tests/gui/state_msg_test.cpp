#include <gtest/gtest.h>

#include <QCloseEvent>
#include <QDialog>
#include <QLabel>
#include <QPushButton>
#include <QTest>
#include <QTimer>

#include "pages/state_msg.h"

namespace {

QPushButton& CancelButton(CStateMsg& state) {
    return *state.findChild<QPushButton*>();
}

QString Text(CStateMsg& state) {
    return state.findChild<QLabel*>()->text();
}

class StateMsgTest : public ::testing::Test {
  protected:
    QWidget owner;
};

TEST_F(StateMsgTest, DisablesItsOwnerWhileShownAndEnablesItAfterHide) {
    CStateMsg state(&owner);
    state.SetShowCancel(true);
    EXPECT_EQ(state.ShowState("Start Update", "Please wait"), 0);
    EXPECT_TRUE(state.IsShown());
    EXPECT_TRUE(state.isVisible());
    EXPECT_FALSE(owner.isEnabled());
    EXPECT_EQ(state.windowTitle(), "Start Update");
    EXPECT_EQ(Text(state), "Please wait");

    state.HideState();
    EXPECT_FALSE(state.IsShown());
    EXPECT_FALSE(state.isVisible());
    EXPECT_TRUE(owner.isEnabled());
}

TEST_F(StateMsgTest, CancelOnlySetsTheFlagAndTheCloseButtonDoesNothing) {
    CStateMsg state(&owner);
    state.SetShowCancel(true);
    state.ShowState("Start Update", "text");
    EXPECT_FALSE(state.Cancelled());

    CancelButton(state).click();
    EXPECT_TRUE(state.Cancelled());
    EXPECT_TRUE(state.isVisible());

    EXPECT_FALSE(state.close());  // the title bar's close button
    EXPECT_TRUE(state.isVisible());
    EXPECT_FALSE(owner.isEnabled());
}

TEST_F(StateMsgTest, EscapeCancelsOnlyWhereCancelIsOffered) {
    CStateMsg offered(&owner);
    offered.SetShowCancel(true);
    offered.ShowState("c", "t");
    QTest::keyClick(&offered, Qt::Key_Escape);
    EXPECT_TRUE(offered.Cancelled());
    EXPECT_TRUE(offered.isVisible());
    offered.HideState();

    CStateMsg withoutCancel(&owner);
    withoutCancel.ShowState("c", "t");
    EXPECT_TRUE(CancelButton(withoutCancel).isHidden());
    QTest::keyClick(&withoutCancel, Qt::Key_Escape);
    EXPECT_FALSE(withoutCancel.Cancelled());
    EXPECT_TRUE(withoutCancel.isVisible());
}

TEST_F(StateMsgTest, ShowingAgainReplacesTheTextsAndClearsTheFlag) {
    CStateMsg state(&owner);
    state.SetShowCancel(true);
    state.ShowState("Request", "Please remove the USB cable");
    CancelButton(state).click();
    ASSERT_TRUE(state.Cancelled());

    state.SetShowCancel(false);
    state.ShowState("Request", "Please reconnect the USB cable");
    EXPECT_FALSE(state.Cancelled());
    EXPECT_EQ(Text(state), "Please reconnect the USB cable");
    EXPECT_TRUE(CancelButton(state).isHidden());
    EXPECT_FALSE(owner.isEnabled());

    state.HideState();
    EXPECT_TRUE(owner.isEnabled());
}

TEST_F(StateMsgTest, DestructionEnablesTheOwnerEvenWhenNeverShown) {
    {
        CStateMsg state(&owner);
        state.ShowState("c", "t");
        EXPECT_FALSE(owner.isEnabled());
    }
    EXPECT_TRUE(owner.isEnabled());

    owner.setEnabled(false);
    { CStateMsg never(&owner); }
    EXPECT_TRUE(owner.isEnabled());
}

TEST_F(StateMsgTest, WithoutAnOwnerTheActiveWindowIsDisabled) {
    owner.show();
    QApplication::setActiveWindow(&owner);
    ASSERT_TRUE(QTest::qWaitForWindowActive(&owner));
    CStateMsg state;
    EXPECT_EQ(state.Owner(), &owner);
    state.ShowState("c", "t");
    EXPECT_FALSE(owner.isEnabled());
}

// The main dialog runs modally; a click on Cancel must still reach the state message, which
// lives in no loop of its own.
TEST_F(StateMsgTest, CancelClickReachesItAboveAModalDialog) {
    QDialog modal;
    bool cancelled = false;
    QTimer::singleShot(0, [&] {
        CStateMsg state(&modal);
        state.SetShowCancel(true);
        state.ShowState("Start Update", "text");
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&state));
        QPushButton& cancel = CancelButton(state);
        QTest::mouseClick(state.windowHandle(), Qt::LeftButton, {},
                          cancel.mapTo(&state, cancel.rect().center()));
        cancelled = state.Cancelled();
        state.HideState();
        modal.reject();
    });
    modal.exec();
    EXPECT_TRUE(cancelled);
}

TEST_F(StateMsgTest, AnOwnerDestroyedFirstIsNotTouched) {
    auto transient = std::make_unique<QWidget>();
    CStateMsg state(transient.get());
    state.ShowState("c", "t");
    transient.reset();
    EXPECT_EQ(state.HideState(), 0);
}

}  // namespace
