#pragma once

#include "links/ftdi/communication_ftdi.h"
#include "pages/state_msg.h"
#include "pages/ui_services.h"

// The replug guidance on the desktop: the requests in a state message dialog with Cancel
// (made without an owner, so the window in front is held while it is up), an internal error
// in the application's message box. The dialog goes when the prompt goes.
class StateMsgReplugPrompt final : public ReplugPrompt {
  public:
    explicit StateMsgReplugPrompt(UiServices& ui);

    void Show(std::string_view caption, std::string_view text) override;
    void Hide() override { state_.HideState(); }
    void InternalError(std::string_view text) override;
    bool Cancelled() override { return state_.Cancelled(); }

  private:
    UiServices& ui_;
    CStateMsg state_;
};
