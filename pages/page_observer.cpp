#include "pages/page_observer.h"

#include "engine/device_identity.h"
#include "pages/state_msg_replug_prompt.h"

namespace {

QString Text(std::string_view text) {
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

}  // namespace

PageObserver::PageObserver(const Parts& parts, QWidget* stateOwner)
    : parts_(parts), stateOwner_(stateOwner), progress_(parts.progress) {}

void PageObserver::ShowState(StateKind, std::string_view caption, std::string_view text) {
    if (!state_) {
        state_.emplace(stateOwner_);
        state_->SetShowCancel(true);
    }
    state_->ShowState(Text(caption), Text(text));
}

void PageObserver::HideState() {
    if (state_) {
        state_->HideState();
    }
}

void PageObserver::Busy(bool on) {
    if (on) {
        cursor_.emplace(parts_.ui);
    } else {
        cursor_.reset();
    }
}

void PageObserver::Synchronised(const BootloaderInfo& info) {
    parts_.bootloaderVersion.setText(QString::fromStdString(BootloaderVersionText(info)));
    parts_.deviceFound.setText(QString::fromStdString(DeviceText(info.deviceId)));
}

void PageObserver::Acknowledge(std::string_view message) {
    parts_.ui.ShowMessage(&parts_.page, MessageBoxRequest{Text(message)});
}

bool PageObserver::Confirm(std::string_view question) {
    return parts_.ui.ShowMessage(
        &parts_.page,
        MessageBoxRequest{Text(question), MessageIcon::Exclamation, {}, MessageButtons::OkCancel});
}

int PageObserver::GuideReplug(const std::function<int(ReplugPrompt&)>& restart) {
    StateMsgReplugPrompt prompt(parts_.ui);
    return restart(prompt);
}

void PageObserver::Report(const UpdateOutcome& outcome) {
    cursor_.reset();
    if (outcome.quiet) {
        return;
    }
    if (outcome.underErrorCaption) {
        parts_.ui.ShowMessage(
            &parts_.page,
            MessageBoxRequest{Text(outcome.verdict), MessageIcon::None, QStringLiteral("Error")});
    } else {
        Acknowledge(outcome.verdict);
    }
}
