// What every link page shares, exercised on the Network page with a scripted link.
#include <gtest/gtest.h>

#include <QCheckBox>
#include <QDialog>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QTest>

#include "gui_fakes.h"
#include "pages/ip_address_edit.h"
#include "pages/property_network.h"

namespace {

class UpdatePageTest : public GuiTest {
  protected:
    std::unique_ptr<CProperty_NETWORK> MakePage(QWidget* parent) {
        return std::make_unique<CProperty_NETWORK>(context, parent,
                                                   std::make_unique<ScriptedNetworkLink>(script));
    }
};

TEST_F(UpdatePageTest, StartsWithOnlyStepOneOpen) {
    auto page = MakePage(&window);
    window.show();
    EXPECT_FALSE(page->PathEdit().isEnabled());
    EXPECT_FALSE(page->BrowseButton().isEnabled());
    EXPECT_FALSE(page->ProgramButton().isEnabled());
    EXPECT_FALSE(page->Progress().isEnabled());
    EXPECT_EQ(page->Progress().minimum(), 0);
    EXPECT_EQ(page->Progress().maximum(), 100);
    EXPECT_EQ(page->Progress().value(), 0);
    EXPECT_TRUE(page->BootloaderVersionLabel().text().isEmpty());
    EXPECT_TRUE(page->DeviceFoundLabel().text().isEmpty());
    EXPECT_TRUE(page->DebugBox().isHidden());
}

TEST_F(UpdatePageTest, EveryChangeOfThePathChecksTheFile) {
    auto page = MakePage(&window);
    const std::string full = files.Write("app.enc", "0003AABBCC");
    const std::string empty = files.Write("empty.enc", "");
    page->Progress().setValue(60);

    page->PathEdit().setText(QString::fromStdString(full).chopped(2));  // typing, not done yet
    EXPECT_FALSE(page->ProgramButton().isEnabled());
    EXPECT_EQ(page->Progress().value(), 0);

    page->PathEdit().setText(QString::fromStdString(full));
    EXPECT_TRUE(page->ProgramButton().isEnabled());

    page->PathEdit().setText(QString::fromStdString(empty));
    EXPECT_FALSE(page->ProgramButton().isEnabled());

    page->PathEdit().setText(QString::fromStdString(files.Path().string()));  // a folder
    EXPECT_FALSE(page->ProgramButton().isEnabled());
}

TEST_F(UpdatePageTest, BrowseWritesThePathAndEnablesProgramWhateverTheCheckSaid) {
    auto page = MakePage(&window);
    ui.fileToChoose.clear();
    page->BrowseButton().setEnabled(true);
    page->BrowseButton().click();
    ASSERT_EQ(ui.fileRequests.size(), 1u);
    EXPECT_EQ(ui.fileRequests[0].filter, "Encrypted Update (*.enc)");
    EXPECT_EQ(ui.fileRequests[0].initialName, "*.enc");
    EXPECT_EQ(ui.fileRequests[0].defaultSuffix, "enc");
    EXPECT_TRUE(page->PathEdit().text().isEmpty());  // cancelled: nothing changes
    EXPECT_FALSE(page->ProgramButton().isEnabled());

    ui.fileToChoose = QString::fromStdString(files.Write("empty.enc", ""));
    page->BrowseButton().click();
    EXPECT_EQ(page->PathEdit().text(), ui.fileToChoose);
    EXPECT_TRUE(page->ProgramButton().isEnabled());
}

TEST_F(UpdatePageTest, DebugBoxMirrorsTheLogWhenShownAndSwitchesAllOutputs) {
    debugOn = true;
    auto page = MakePage(&window);
    window.show();
    EXPECT_TRUE(page->DebugBox().isChecked());

    page->DebugBox().click();
    page->DebugBox().click();
    EXPECT_EQ(debugSwitched, (std::vector<bool>{false, true}));
    EXPECT_TRUE(page->DebugBox().isHidden());
}

TEST_F(UpdatePageTest, EnterAndEscapeOnAPageChangeNothing) {
    QDialog dialog;
    auto page = MakePage(&dialog);
    page->AddressEdit().SetAddress("127.0.0.1");
    page->PathEdit().setText(QString::fromStdString(files.Write("app.enc", "0001AA")));
    dialog.show();
    page->ProgramButton().setFocus();

    for (const Qt::Key key : {Qt::Key_Return, Qt::Key_Enter, Qt::Key_Escape}) {
        QTest::keyClick(&page->ProgramButton(), key);
        QTest::keyClick(&page->PathEdit(), key);
        QTest::keyClick(&page->AddressEdit().FieldEdit(0), key);
    }
    EXPECT_TRUE(dialog.isVisible());
    EXPECT_EQ(dialog.result(), 0);
    EXPECT_TRUE(script.calls.empty());
    EXPECT_TRUE(ui.messages.empty());
    EXPECT_EQ(page->AddressText(), "127.0.0.1");
}

}  // namespace
