#pragma once

#include <csignal>
#include <cstdio>

#include "links/ftdi/communication_ftdi.h"

// The replug guidance on a terminal: the requests go to standard error, Ctrl-C is Cancel.
class TerminalReplugPrompt final : public ReplugPrompt {
  public:
    // While it lives, SIGINT is caught and read as Cancel; the previous handling comes back
    // after. Only the guidance itself holds one: everywhere else Ctrl-C ends the program.
    class CtrlCCancels {
      public:
        CtrlCCancels();
        ~CtrlCCancels();
        CtrlCCancels(const CtrlCCancels&) = delete;
        CtrlCCancels& operator=(const CtrlCCancels&) = delete;

      private:
        struct sigaction previous_ {};
    };

    explicit TerminalReplugPrompt(std::FILE* out) : out_(out) {}

    void Show(std::string_view caption, std::string_view text) override;
    void Hide() override {}
    void InternalError(std::string_view text) override;
    bool Cancelled() override;
    // A line of its own for the user, before the guidance starts.
    void Say(std::string_view text);

  private:
    std::FILE* out_;
};
