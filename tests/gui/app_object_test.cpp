// The application object runs a command line's update before, and instead of, any window.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <string>
#include <vector>

#include "app/flashwright_app.h"
#include "pages/ui_services.h"

namespace {

TEST(FlashwrightApp, CommandKeywordRunsWithoutAnyWindowAndGivesTheExitCode) {
    for (const char* keyword : {"UDP", "udp", "Udp"}) {
        std::vector<std::string> words{"flashwright", keyword};
        std::vector<char*> argv;
        for (std::string& word : words) {
            argv.push_back(word.data());
        }
        argv.push_back(nullptr);
        int argc = static_cast<int>(words.size());

        CFlashwrightApp app(argc, argv.data());
        EXPECT_FALSE(app.InitInstance());
        // No address: the link cannot be opened.
        EXPECT_EQ(app.ExitInstance(), -10) << keyword;
        EXPECT_EQ(QCoreApplication::instance(), nullptr);
    }
}

// Records the message boxes asked for; never shows one.
class RecordingUi final : public UiServices {
  public:
    bool ShowMessage(QWidget*, const MessageBoxRequest& request) override {
        shown.push_back(request);
        return true;
    }
    QString ChooseFileToOpen(QWidget*, const FileOpenRequest&) override { return {}; }
    QString ChooseFileToSave(QWidget*, const FileOpenRequest&) override { return {}; }
    void SetWaitCursor(bool) override {}
    void OpenUrl(const QString&) override {}
    std::vector<MessageBoxRequest> shown;
};

TEST(FlashwrightApp, ALogWorkerThatCouldNotStartIsReportedInAMessageBoxWithOkAndCancel) {
    DebugLogOptions failed;
    failed.startWorker = false;  // as when the thread cannot be created
    const C_Debug_Log withoutWorker(failed);
    RecordingUi ui;
    ReportLogWorkerFailure(withoutWorker, ui);
    ASSERT_EQ(ui.shown.size(), 1u);
    EXPECT_EQ(ui.shown[0].text, "Unable to Create Debug thread!");
    EXPECT_EQ(ui.shown[0].buttons, MessageButtons::OkCancel);
    EXPECT_EQ(ui.shown[0].icon, MessageIcon::Exclamation);

    const C_Debug_Log working;
    ReportLogWorkerFailure(working, ui);
    EXPECT_EQ(ui.shown.size(), 1u) << "a running worker is not reported";
}

}  // namespace
