#include "app/flashwright_app.h"

#include <QApplication>
#include <cstdio>
#include <optional>
#include <string>
#include <vector>

#include "cli/command_line.h"
#include "pages/display_check.h"
#include "pages/event_loop_wait.h"
#include "pages/main_dialog.h"
#include "pages/page_context.h"
#include "pages/ui_services.h"
#include "pages/version_page.h"
#include "update/exit_codes.h"

namespace {

constexpr unsigned kDecimalDumps = 2;
constexpr int kLogEverything = 5;

}  // namespace

CFlashwrightApp::CFlashwrightApp(int& argc, char** argv) : argc_(argc), argv_(argv) {}

void ReportLogWorkerFailure(const C_Debug_Log& log, UiServices& ui) {
    if (!log.HasWorker()) {
        ui.ShowMessage(nullptr, MessageBoxRequest{QStringLiteral("Unable to Create Debug thread!"),
                                                  MessageIcon::Exclamation,
                                                  {},
                                                  MessageButtons::OkCancel});
    }
}

bool CFlashwrightApp::InitInstance() {
    log_.SetDumpFormat(kDecimalDumps);
    log_.SetLevel(kLogEverything);

    const std::vector<std::string> args(argv_ + 1, argv_ + argc_);
    if (!args.empty()) {
        if (const std::optional<int> code = RunCommandLine(args, log_)) {
            if (!log_.HasWorker()) {
                // No window may open for a command line.
                std::fputs("Unable to Create Debug thread!\n", stderr);
            }
            exitCode_ = *code;
            return false;
        }
    }
    if (!DisplayUsable(args)) {
        exitCode_ = kExitUsage;
        return false;
    }
    RunDialog();
    return false;
}

bool CFlashwrightApp::DisplayUsable(const std::vector<std::string>& args) {
    // A word that is no command still opens the dialog; a likely slip gets a hint first.
    std::string hint;
    if (!args.empty()) {
        if (const std::optional<std::string> meant = SuggestKeyword(args[0])) {
            hint = "flashwright: \"" + args[0] + "\" is no command; did you mean \"" + *meant +
                   "\"?\n";
        }
    }
    const DisplayCheck display = CheckDisplay(SystemDisplayProbe(argc_, argv_));
    if (display.usable) {
        std::fputs(hint.c_str(), stderr);
        return true;
    }
    std::fprintf(stderr, "flashwright: the desktop dialog cannot open: %s.\n%s",
                 display.missing.c_str(), hint.c_str());
    const std::string_view forms = CommandForms();
    std::fprintf(stderr,
                 "Without a display, update from the command line:\n%.*s"
                 "Run \"flashwright --help\" for the whole usage.\n",
                 static_cast<int>(forms.size()), forms.data());
    return false;
}

void CFlashwrightApp::RunDialog() {
    QApplication application(argc_, argv_);
    // The desktop matches the window to the installed desktop entry and its icon.
    QGuiApplication::setDesktopFileName(QStringLiteral("flashwright"));
    QApplication::setWindowIcon(ProgramIcon());
    const ScopedEventLoopWait eventLoopWait;
    QtUiServices ui;
    ReportLogWorkerFailure(log_, ui);
    PageContext context{log_, DebugSwitchFor(log_), ui, DefaultClock()};
    CFlashwrightDlg dialog(context);
    dialog.exec();  // however it closes, the program ends
}
