#include "gui_fakes.h"

#include <QApplication>

#include "log/text_format.h"
#include "pages/state_msg.h"

bool FakeUiServices::ShowMessage(QWidget* /*owner*/, const MessageBoxRequest& request) {
    messages.push_back({request.text, request.icon, request.caption});
    cursorDepthAtMessage.push_back(waitCursorDepth);
    if (request.buttons == MessageButtons::Ok || answers.empty()) {
        return true;
    }
    const bool ok = answers.front();
    answers.pop_front();
    return ok;
}

QString FakeUiServices::ChooseFileToOpen(QWidget* /*owner*/, const FileOpenRequest& request) {
    fileRequests.push_back(request);
    return fileToChoose;
}

void FakeUiServices::SetWaitCursor(bool on) {
    waitCursorDepth += on ? 1 : -1;
    waitCursorShown += on ? 1 : 0;
}

namespace {

int Synchronise(LinkScript& script) {
    const int attempt = script.syncAttempts++;
    script.calls.push_back("Sync");
    if (script.duringSync) {
        script.duringSync(attempt);
    }
    const bool succeeds = script.failedSyncs >= 0 && attempt >= script.failedSyncs;
    return succeeds ? 0 : -4;
}

int Update(LinkScript& script, const std::string& path, ProgressSink* progress) {
    script.calls.push_back("Update(" + path + ")");
    progress->SetRange(0, 100);
    progress->SetPos(0);
    if (script.duringUpdate) {
        script.duringUpdate();
    }
    progress->SetPos(script.updateResult == 0 ? 100 : 40);
    return script.updateResult;
}

}  // namespace

void ScriptedSerialLink::EnumeratePorts(std::vector<SerialPortEntry>& ports) {
    ports = ports_;
}

int ScriptedSerialLink::Open(const std::string& port, unsigned baud) {
    script_.calls.push_back(StrPrintf("Open(%s, %u)", port.c_str(), baud));
    return script_.openResult;
}

int ScriptedSerialLink::SendBuffer(std::span<const std::uint8_t> bytes) {
    std::string call = "Send(";
    for (std::uint8_t b : bytes) {
        call += StrPrintf("%.2X", b);
    }
    script_.calls.push_back(call + ")");
    return 0;
}

int ScriptedSerialLink::SynchroniseBootloader() {
    return Synchronise(script_);
}

int ScriptedSerialLink::UpdateAVR(const std::string& path, ProgressSink* progress) {
    return Update(script_, path, progress);
}

int ScriptedNetworkLink::Open_Port(std::string_view address) {
    script_.calls.push_back("Open_Port(" + std::string(address) + ")");
    return script_.openResult;
}

int ScriptedNetworkLink::ResetDevice(std::string_view text) {
    script_.calls.push_back("ResetDevice(" + std::string(text) + ")");
    return 0;
}

int ScriptedNetworkLink::SynchroniseBootloader() {
    return Synchronise(script_);
}

int ScriptedNetworkLink::UpdateAVR(const std::string& path, ProgressSink* progress) {
    return Update(script_, path, progress);
}

CStateMsg* ShownStateMsg() {
    for (QWidget* widget : QApplication::topLevelWidgets()) {
        auto* state = dynamic_cast<CStateMsg*>(widget);
        if (state != nullptr && state->isVisible()) {
            return state;
        }
    }
    return nullptr;
}

std::string VerdictName(const ::testing::TestParamInfo<Verdict>& info) {
    const int code = std::get<0>(info.param);
    std::string name = (code < 0 ? "Minus" : "") + std::to_string(code < 0 ? -code : code);
    return std::get<1>(info.param) ? name + "Flagged" : name;
}

GuiTest::GuiTest()
    : context{log,
              DebugSwitch{[this] { return debugOn; },
                          [this](bool on) {
                              debugOn = on;
                              debugSwitched.push_back(on);
                          }},
              ui, clock} {
    window.resize(800, 400);
}

GuiTest::~GuiTest() = default;
