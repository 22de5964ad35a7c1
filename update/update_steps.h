#pragma once

#include <functional>
#include <optional>
#include <span>
#include <string>

#include "engine/clock.h"
#include "log/log_sink.h"
#include "update/sync_window.h"
#include "update/update_observer.h"
#include "update/verdict.h"

// How an update ended: its exit code and its final message.
struct UpdateOutcome {
    int exitCode = 0;
    std::string verdict;
    // The desktop shows nothing: the user cancelled, or was already told.
    bool quiet = false;
    // The desktop shows it without an icon under the caption "Error".
    bool underErrorCaption = false;
    // The device did not restart into its bootloader and must be power-cycled by hand: a front
    // end without replug guidance (the station) says so.
    bool needsReplug = false;
};

// What the front ends do differently, besides what their observer shows and answers.
struct FrontEnd {
    SyncRule sync{};
    // How the debug log names the run's steps.
    const char* logName = "";
    // The pages log the steps of their run.
    bool logsSteps = false;
    // The pages ask OK/Cancel before they guide the user through restarting a device by hand.
    bool asksBeforeReplug = false;
    // The command lines close a USB device also when the update file fails its check.
    bool closesAfterBadFile = true;
    // The file to send.
    std::string path;
    // Whether the bootloader that answered is the device expected: empty takes any device;
    // otherwise the verdict for a device that does not match, none for one that does.
    std::function<std::optional<std::string>(const BootloaderInfo&)> expectDevice = {};
};

// The last steps of an update once the bootloader answered, as a link carries them out.
struct LinkUpdate {
    std::function<int(const std::string& path, ProgressSink* progress)> update;
    std::function<BootloaderInfo()> info;
    std::function<void()> close;  // empty: the link stays open
    // What the link's update results mean: exit codes and final messages.
    std::span<const ResultMeaning> results;
};

// Writes a line of the run's steps to the debug log, when the front end logs them.
void LogStep(LogSink& log, const FrontEnd& frontEnd, const std::string& step);

// The steps every update shares once the bootloader answered: tell what it reported, the
// expected device (-20 for another one, no frame sent), the file check (-13 when the file cannot be
// opened, -12 when shorter than 2 bytes), the transfer with its progress, and the verdict.
UpdateOutcome CheckAndSendFile(UpdateObserver& observer, const LinkUpdate& link,
                               const FrontEnd& frontEnd, LogSink& log);
