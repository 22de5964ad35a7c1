#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string_view>

#include "engine/progress_sink.h"
#include "engine/protocol.h"

class ReplugPrompt;

// The range an update reports its progress in, and what a position is in per cent of it.
class ProgressScale {
  public:
    void SetRange(int low, int high) {
        low_ = low;
        high_ = high > low ? high : low + 1;
    }
    int Percent(int position) const { return (position - low_) * 100 / (high_ - low_); }

  private:
    int low_ = 0;
    int high_ = 100;
};

// Which state message an update shows while the user restarts the device.
enum class StateKind {
    StartUpdate,    // before the link opens: restart the device to start its bootloader
    Synchronizing,  // the link is open: power-cycle the device
};

// Everything an update tells its front end or asks of it while it runs. Every call may do
// nothing: a front end overrides what it shows or answers.
class UpdateObserver {
  public:
    virtual ~UpdateObserver() = default;

    // The state message with its Cancel, up while the run synchronises.
    virtual void ShowState(StateKind, std::string_view /*caption*/, std::string_view /*text*/) {}
    virtual void HideState() {}
    // Whether the user pressed Cancel in the state message.
    virtual bool Cancelled() { return false; }
    // Whether the update must end at its next frame boundary (a station's second stop): no frame
    // and no synchronisation request goes out once it says so.
    virtual bool StopRequested() { return false; }
    // Whether the front end's events are dispatched while the update waits (how a click on
    // Cancel arrives, and how dialogs just taken down are repainted).
    virtual bool DispatchesEvents() const { return false; }
    // The wait cursor, on while the update holds the thread.
    virtual void Busy(bool /*on*/) {}

    // The update keeps trying to synchronise; called after every failed attempt of a window.
    virtual void WaitingForBootloader(std::uint64_t /*elapsedMs*/) {}
    virtual void Synchronised(const BootloaderInfo&) {}
    // The transfer of an image of imageBytes bytes begins; returns where its progress goes
    // (none: the update operation reports no progress).
    virtual ProgressSink* TransferStarting(std::size_t /*imageBytes*/) { return nullptr; }

    // A message the user acknowledges before the update goes on.
    virtual void Acknowledge(std::string_view /*message*/) {}
    // An OK/Cancel question; true for OK.
    virtual bool Confirm(std::string_view /*question*/) { return true; }
    // Whether the front end can guide the user through restarting a device by hand.
    virtual bool CanGuideReplug() const { return false; }
    // Runs `restart` with the front end's replug guidance and returns its result; -1 when there
    // is no guidance.
    virtual int GuideReplug(const std::function<int(ReplugPrompt&)>& /*restart*/) { return -1; }

    // The update found its device: its name, and the version texts it reports (a Corvane
    // device's), for the attempt's record.
    virtual void DeviceFound(std::string_view /*name*/, std::string_view /*hardware*/,
                             std::string_view /*software*/) {}

    // The outcome: the final message and the exit code.
    virtual void Finished(std::string_view /*verdict*/, int /*exitCode*/) {}
};
