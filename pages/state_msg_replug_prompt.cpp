#include "pages/state_msg_replug_prompt.h"

namespace {

QString FromView(std::string_view text) {
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

}  // namespace

StateMsgReplugPrompt::StateMsgReplugPrompt(UiServices& ui) : ui_(ui) {
    state_.SetShowCancel(true);
}

void StateMsgReplugPrompt::Show(std::string_view caption, std::string_view text) {
    state_.ShowState(FromView(caption), FromView(text));
}

void StateMsgReplugPrompt::InternalError(std::string_view text) {
    ui_.ShowMessage(nullptr, MessageBoxRequest{FromView(text)});
}
