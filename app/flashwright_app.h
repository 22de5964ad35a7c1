#pragma once

#include <string>
#include <vector>

#include "log/debug_log.h"

class UiServices;

// Tells the user, in the application's message box with OK and Cancel (the answer changes
// nothing), that the log's worker thread could not be started.
void ReportLogWorkerFailure(const C_Debug_Log& log, UiServices& ui);

// The application object: owns the debug log for the program's whole life, runs a command
// line's windowless update, or else shows the main dialog.
class CFlashwrightApp {
  public:
    // argc and argv as main receives them; both must outlive the object.
    CFlashwrightApp(int& argc, char** argv);

    // Runs the program. A command keyword on the command line runs its update without any
    // window (and without a display); otherwise the main dialog runs until it is closed.
    // Returns false in every case: the program ends afterwards.
    bool InitInstance();
    // The process exit code: the command line's result, or 0 after the dialog.
    int ExitInstance() const { return exitCode_; }

    C_Debug_Log& Log() { return log_; }

  private:
    // Without a display the dialog cannot open: says so on standard error. False then.
    bool DisplayUsable(const std::vector<std::string>& args);
    void RunDialog();

    int& argc_;
    char** argv_;
    C_Debug_Log log_;
    int exitCode_ = 0;
};
