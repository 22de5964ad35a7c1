#pragma once

#include <gtest/gtest.h>

#include <QString>
#include <QWidget>
#include <deque>
#include <functional>
#include <string>
#include <tuple>
#include <vector>

#include "pages/page_context.h"
#include "pages/ui_services.h"
#include "support/recording_log.h"
#include "support/temp_dir.h"
#include "support/virtual_clock.h"
#include "update/network_link.h"
#include "update/serial_link.h"

class CStateMsg;

// Records what the pages ask of the desktop; answers the file dialog from a prepared path.
class FakeUiServices final : public UiServices {
  public:
    struct Shown {
        QString text;
        MessageIcon icon;
        QString caption;
    };

    bool ShowMessage(QWidget* owner, const MessageBoxRequest& request) override;
    QString ChooseFileToOpen(QWidget* owner, const FileOpenRequest& request) override;
    QString ChooseFileToSave(QWidget* owner, const FileOpenRequest& request) override {
        return ChooseFileToOpen(owner, request);
    }
    void SetWaitCursor(bool on) override;
    void OpenUrl(const QString& url) override { urls.push_back(url); }

    std::vector<Shown> messages;
    // How the user closes the boxes that offer Cancel, in order; OK once these run out.
    std::deque<bool> answers;
    std::vector<FileOpenRequest> fileRequests;
    QString fileToChoose;  // empty: the user cancels
    std::vector<QString> urls;
    int waitCursorDepth = 0;
    int waitCursorShown = 0;
    // The wait cursor's depth when each message box appeared.
    std::vector<int> cursorDepthAtMessage;
};

// What a scripted link does and what was asked of it. The page owns the link; the test owns
// the script.
struct LinkScript {
    int openResult = 0;
    // Synchronisation attempts that fail before one succeeds; negative: none ever succeeds.
    int failedSyncs = 0;
    int updateResult = 0;
    BootloaderInfo info{1, 5, 12, false};
    // Run inside each attempt and inside the update: they stand for what a real link's waits
    // dispatch (the user's clicks).
    std::function<void(int attempt)> duringSync;
    std::function<void()> duringUpdate;

    std::vector<std::string> calls;
    int syncAttempts = 0;
};

class ScriptedSerialLink final : public SerialLink {
  public:
    ScriptedSerialLink(LinkScript& script, std::vector<SerialPortEntry> ports = {})
        : script_(script), ports_(std::move(ports)) {}
    void EnumeratePorts(std::vector<SerialPortEntry>& ports) override;
    int Open(const std::string& port, unsigned baud) override;
    int SendBuffer(std::span<const std::uint8_t> bytes) override;
    int SynchroniseBootloader() override;
    int UpdateAVR(const std::string& path, ProgressSink* progress) override;
    BootloaderInfo Info() const override { return script_.info; }

    std::vector<SerialPortEntry>& Ports() { return ports_; }

  private:
    LinkScript& script_;
    std::vector<SerialPortEntry> ports_;
};

class ScriptedNetworkLink final : public NetworkLink {
  public:
    explicit ScriptedNetworkLink(LinkScript& script) : script_(script) {}
    int Open_Port(std::string_view address) override;
    int ResetDevice(std::string_view text) override;
    int SynchroniseBootloader() override;
    int UpdateAVR(const std::string& path, ProgressSink* progress) override;
    BootloaderInfo Info() const override { return script_.info; }

  private:
    LinkScript& script_;
};

// The state message dialog now on screen, if any.
CStateMsg* ShownStateMsg();

// A result code of the update operation, the signature-error flag, the message a page shows.
using Verdict = std::tuple<int, bool, std::string>;
// "Minus7" or "Minus7Flagged": a readable test name.
std::string VerdictName(const ::testing::TestParamInfo<Verdict>& info);

// A page's world: a recording log, fake desktop services, a virtual clock, a Debug switch
// that remembers its state, and a window to live in.
class GuiTest : public ::testing::Test {
  protected:
    GuiTest();
    ~GuiTest() override;

    RecordingLog log;
    FakeUiServices ui;
    VirtualClock clock;
    bool debugOn = false;
    std::vector<bool> debugSwitched;
    PageContext context;
    TempDir files;
    QWidget window;
    LinkScript script;
};
