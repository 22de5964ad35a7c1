#include "app/flashwright_app.h"

#include <QApplication>
#include <optional>
#include <string>
#include <vector>

#include "app/command_line.h"
#include "app/main_dialog.h"
#include "pages/event_loop_wait.h"
#include "pages/page_context.h"
#include "pages/ui_services.h"

namespace {

constexpr unsigned kDecimalDumps = 2;
constexpr int kLogEverything = 5;

}  // namespace

CFlashwrightApp::CFlashwrightApp(int& argc, char** argv) : argc_(argc), argv_(argv) {}

bool CFlashwrightApp::InitInstance() {
    log_.SetDumpFormat(kDecimalDumps);
    log_.SetLevel(kLogEverything);

    const std::vector<std::string> args(argv_ + 1, argv_ + argc_);
    if (!args.empty()) {
        if (const std::optional<int> code = RunCommandLine(args, log_)) {
            exitCode_ = *code;
            return false;
        }
    }
    RunDialog();
    return false;
}

void CFlashwrightApp::RunDialog() {
    QApplication application(argc_, argv_);
    const ScopedEventLoopWait eventLoopWait;
    QtUiServices ui;
    PageContext context{log_, DebugSwitchFor(log_), ui, DefaultClock()};
    CFlashwrightDlg dialog(context);
    dialog.exec();  // however it closes, the program ends
}
