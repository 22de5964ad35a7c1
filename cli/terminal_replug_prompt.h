#pragma once

#include <csignal>
#include <cstdio>

#include "links/ftdi/communication_ftdi.h"
#include "update/update_observer.h"

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

// The terminal's part in a USB update besides the display or the JSON events, which it passes
// everything else on to: the power-cycle request (to `stateOut`) and the replug guidance (with
// `prompt`), each only when given.
class TerminalGuidance final : public UpdateObserver {
  public:
    TerminalGuidance(UpdateObserver& display, TerminalReplugPrompt* prompt, std::FILE* stateOut)
        : display_(display), prompt_(prompt), stateOut_(stateOut) {}

    void ShowState(StateKind kind, std::string_view caption, std::string_view text) override;
    void WaitingForBootloader(std::uint64_t elapsedMs) override {
        display_.WaitingForBootloader(elapsedMs);
    }
    void Synchronised(const BootloaderInfo& info) override { display_.Synchronised(info); }
    ProgressSink* TransferStarting(std::size_t imageBytes) override {
        return display_.TransferStarting(imageBytes);
    }
    void Acknowledge(std::string_view message) override;
    bool CanGuideReplug() const override { return prompt_ != nullptr; }
    int GuideReplug(const std::function<int(ReplugPrompt&)>& restart) override;
    void Finished(std::string_view verdict, int exitCode) override {
        display_.Finished(verdict, exitCode);
    }

  private:
    UpdateObserver& display_;
    TerminalReplugPrompt* prompt_;
    std::FILE* stateOut_;
};
