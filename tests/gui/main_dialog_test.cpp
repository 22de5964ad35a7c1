#include <gtest/gtest.h>

#include <QApplication>
#include <QComboBox>
#include <QGroupBox>
#include <QLineEdit>
#include <QPixmap>
#include <QPushButton>
#include <QTabBar>
#include <QTest>

#include "gui_fakes.h"
#include "pages/ip_address_edit.h"
#include "pages/main_dialog.h"
#include "pages/property_com_port.h"
#include "pages/property_network.h"
#include "pages/tab_ctrl.h"
#include "pages/version_page.h"

namespace {

class MainDialogTest : public GuiTest {
  protected:
    MainDialogTest() : dialog(context) {}

    // Which pages the dialog shows.
    std::vector<bool> Visible() {
        std::vector<bool> visible;
        for (int i = 0; i < dialog.Tabs().PageCount(); ++i) {
            visible.push_back(dialog.Tabs().Page(i)->isVisibleTo(&dialog));
        }
        return visible;
    }

    CFlashwrightDlg dialog;
};

TEST_F(MainDialogTest, StartsOnTheComPortPageWithFiveTabs) {
    dialog.show();
    EXPECT_EQ(dialog.windowTitle(), "Ferrovane");
    EXPECT_FALSE(dialog.windowIcon().isNull());
    EXPECT_EQ(dialog.minimumSize(), dialog.maximumSize());  // fixed size

    QTabBar& bar = dialog.Tabs().Bar();
    QStringList texts;
    for (int i = 0; i < bar.count(); ++i) {
        texts << bar.tabText(i);
    }
    EXPECT_EQ(texts, QStringList({"COM Port", "USB I", "USB II", "Network", "Version"}));
    EXPECT_EQ(bar.currentIndex(), 0);
    EXPECT_EQ(dialog.Tabs().ShownPage(), 0);
    EXPECT_EQ(Visible(), (std::vector<bool>{true, false, false, false, false}));
    EXPECT_TRUE(dialog.Tabs().Page(0)->isEnabled());
    // A run holds the tab bar along with its page's controls.
    EXPECT_EQ(context.heldDuringRuns, std::vector<QPointer<QWidget>>{&bar});
}

TEST_F(MainDialogTest, SwitchingTabsHidesAndDisablesThePreviousPage) {
    dialog.show();
    dialog.Tabs().SelectTab(3);
    EXPECT_EQ(Visible(), (std::vector<bool>{false, false, false, true, false}));
    EXPECT_FALSE(dialog.Tabs().Page(0)->isEnabled());
    EXPECT_TRUE(dialog.Tabs().Page(3)->isEnabled());

    dialog.Tabs().SelectTab(3);  // the shown tab again: nothing changes
    EXPECT_EQ(dialog.Tabs().ShownPage(), 3);
    EXPECT_EQ(Visible(), (std::vector<bool>{false, false, false, true, false}));

    dialog.Tabs().SelectTab(4);
    dialog.Tabs().SelectTab(0);
    EXPECT_EQ(Visible(), (std::vector<bool>{true, false, false, false, false}));
    EXPECT_FALSE(dialog.Tabs().Page(3)->isEnabled());
    EXPECT_FALSE(dialog.Tabs().Page(4)->isEnabled());
}

TEST_F(MainDialogTest, TabAreaFitsTheLargestPageAndHoldsEveryPage) {
    CTabCtrl_new& tabs = dialog.Tabs();
    const QRect area = tabs.DisplayArea();
    for (int i = 0; i < dialog.Tabs().PageCount(); ++i) {
        EXPECT_TRUE(area.contains(tabs.Page(i)->geometry())) << i;
        EXPECT_EQ(tabs.Page(i)->pos(), area.topLeft()) << i;
    }
    EXPECT_EQ(area.size(), tabs.Page(0)->size());
    EXPECT_TRUE(dialog.rect().contains(tabs.geometry()));
}

TEST_F(MainDialogTest, EscapeOnTheTabsClosesTheDialogUnlessARunIsUnderWay) {
    dialog.show();
    context.runInProgress = true;
    QTest::keyClick(&dialog.Tabs().Bar(), Qt::Key_Escape);
    EXPECT_TRUE(dialog.isVisible());

    context.runInProgress = false;
    QTest::keyClick(&dialog.Tabs().Bar(), Qt::Key_Escape);
    EXPECT_FALSE(dialog.isVisible());
    EXPECT_EQ(dialog.result(), QDialog::Rejected);
}

TEST_F(MainDialogTest, EnterAndEscapeOnAPageKeepTheDialogOpen) {
    dialog.show();
    CProperty_COM_port& page = dialog.Tabs().PageOf<CProperty_COM_port>();
    for (QWidget* target :
         {static_cast<QWidget*>(&page.PortList()), static_cast<QWidget*>(&page.SearchButton())}) {
        QTest::keyClick(target, Qt::Key_Escape);
        QTest::keyClick(target, Qt::Key_Return);
    }
    EXPECT_TRUE(dialog.isVisible());
    EXPECT_EQ(dialog.Tabs().ShownPage(), 0);
    EXPECT_TRUE(page.isVisible());
}

TEST_F(MainDialogTest, TabRunsThroughStepsOneTwoThreeThenTheTabBar) {
    const std::string file = files.Write("u.enc", "000111");
    CTabCtrl_new& tabs = dialog.Tabs();
    CProperty_COM_port& com = tabs.PageOf<CProperty_COM_port>();
    com.PortList().setEditText("/dev/ttyS0");
    com.PathEdit().setText(QString::fromStdString(file));
    CProperty_NETWORK& network = tabs.PageOf<CProperty_NETWORK>();
    for (int i = 0; i < IpAddressEdit::kFieldCount; ++i) {
        network.AddressEdit().FieldEdit(i).setText("10");
    }
    network.PathEdit().setText(QString::fromStdString(file));
    dialog.show();
    dialog.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&dialog));

    struct Case {
        int tab;
        QWidget* first;
        std::vector<QWidget*> stops;  // after `first`, one per Tab
    };
    QWidget* bar = &tabs.Bar();
    const std::vector<Case> cases{
        Case{0,
             &com.PortList(),
             {&com.BaudList(), &com.DeviceTypeList(), &com.SearchButton(), &com.PathEdit(),
              &com.BrowseButton(), &com.ProgramButton(), bar, &com.PortList()}},
        Case{3,
             &network.AddressEdit(),
             {&network.DeviceTypeList(), &network.PathEdit(), &network.BrowseButton(),
              &network.ProgramButton(), bar, &network.AddressEdit()}},
    };
    for (const Case& c : cases) {
        tabs.SelectTab(c.tab);
        c.first->setFocus(Qt::TabFocusReason);
        for (QWidget* expected : c.stops) {
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
            QWidget* now = QApplication::focusWidget();
            // The address's four fields are one stop here: Tab goes through them first.
            while (now != nullptr && now->parentWidget() == &network.AddressEdit() &&
                   expected != &network.AddressEdit()) {
                QTest::keyClick(now, Qt::Key_Tab);
                now = QApplication::focusWidget();
            }
            const bool reached = now == expected || (now != nullptr && expected->isAncestorOf(now));
            ASSERT_TRUE(reached) << "tab " << c.tab << ": expected "
                                 << expected->metaObject()->className() << ", got "
                                 << (now ? now->metaObject()->className() : "nothing");
        }
    }
}

TEST_F(MainDialogTest, VersionPageShowsTheVersionAndOpensItsAddresses) {
    dialog.show();
    dialog.Tabs().SelectTab(4);
    C_Version& version = dialog.Tabs().PageOf<C_Version>();
    EXPECT_EQ(version.VersionText().text(), "Vers.: 1.1.2.2\n(23.08.2006)");
    EXPECT_TRUE(version.VersionText().alignment() & Qt::AlignHCenter);
    ASSERT_NE(version.findChild<QGroupBox*>(), nullptr);
    EXPECT_EQ(version.findChild<QGroupBox*>()->title(), "PC program");
    EXPECT_FALSE(version.Picture().pixmap().isNull());

    QTest::mouseClick(&version.VersionText(), Qt::LeftButton);
    QTest::mouseClick(&version.Picture(), Qt::LeftButton);
    EXPECT_TRUE(ui.urls.empty());

    QTest::mouseClick(&version.HomePageLink(), Qt::LeftButton);
    QTest::mouseClick(&version.DocumentationLink(), Qt::LeftButton);
    EXPECT_EQ(ui.urls, (std::vector<QString>{C_Version::kHomePage, C_Version::kDocumentation}));
    EXPECT_EQ(version.HomePageLink().text(), C_Version::kHomePage);
    // The addresses are readable in full and stay on the page.
    for (ClickableLabel* link : {&version.HomePageLink(), &version.DocumentationLink()}) {
        EXPECT_GE(link->width(), link->sizeHint().width());
        EXPECT_TRUE(version.rect().contains(link->geometry()));
    }
}

}  // namespace
