#pragma once

#include <csignal>
#include <cstdio>

#include "links/communication_ftdi.h"

// The replug guidance on a terminal: the requests go to standard error, Ctrl-C is Cancel.
// SIGINT is caught only while the object lives; the previous handling comes back after.
class TerminalReplugPrompt final : public ReplugPrompt {
  public:
    explicit TerminalReplugPrompt(std::FILE* out);
    ~TerminalReplugPrompt() override;
    TerminalReplugPrompt(const TerminalReplugPrompt&) = delete;
    TerminalReplugPrompt& operator=(const TerminalReplugPrompt&) = delete;

    void Show(std::string_view caption, std::string_view text) override;
    void Hide() override {}
    void InternalError(std::string_view text) override;
    bool Cancelled() override;
    // A line of its own for the user, before the guidance starts.
    void Say(std::string_view text);

  private:
    std::FILE* out_;
    struct sigaction previous_ {};
};
