#include "cli/terminal_replug_prompt.h"

namespace {

volatile std::sig_atomic_t interrupted = 0;

extern "C" void OnInterrupt(int) {
    interrupted = 1;
}

}  // namespace

TerminalReplugPrompt::CtrlCCancels::CtrlCCancels() {
    interrupted = 0;
    struct sigaction action {};
    action.sa_handler = OnInterrupt;
    sigemptyset(&action.sa_mask);
    ::sigaction(SIGINT, &action, &previous_);
}

TerminalReplugPrompt::CtrlCCancels::~CtrlCCancels() {
    ::sigaction(SIGINT, &previous_, nullptr);
}

void TerminalReplugPrompt::Show(std::string_view caption, std::string_view text) {
    std::fprintf(out_, "\n%.*s: %.*s\n(Ctrl-C cancels)\n", static_cast<int>(caption.size()),
                 caption.data(), static_cast<int>(text.size()), text.data());
    std::fflush(out_);
}

void TerminalReplugPrompt::InternalError(std::string_view text) {
    Say(text);
}

bool TerminalReplugPrompt::Cancelled() {
    return interrupted != 0;
}

void TerminalReplugPrompt::Say(std::string_view text) {
    std::fprintf(out_, "%.*s\n", static_cast<int>(text.size()), text.data());
    std::fflush(out_);
}

void TerminalGuidance::ShowState(StateKind kind, std::string_view caption, std::string_view text) {
    if (kind == StateKind::Synchronizing && stateOut_ != nullptr) {
        std::fprintf(stateOut_, "%.*s: %.*s\n", static_cast<int>(caption.size()), caption.data(),
                     static_cast<int>(text.size()), text.data());
    }
}

void TerminalGuidance::Acknowledge(std::string_view message) {
    if (prompt_ != nullptr) {
        prompt_->Say(message);
    }
}

int TerminalGuidance::GuideReplug(const std::function<int(ReplugPrompt&)>& restart) {
    if (prompt_ == nullptr) {
        return -1;
    }
    const TerminalReplugPrompt::CtrlCCancels ctrlC;
    return restart(*prompt_);
}
