#pragma once

#include <functional>
#include <span>
#include <string>

#include "cli/update_observer.h"
#include "cli/verdict.h"

// How a windowless update ended: its exit code and its final message.
struct UpdateOutcome {
    int exitCode = 0;
    std::string verdict;
};

// What the last steps need of a link: its update operation, its signature-error flag, and how
// its results become exit codes and final messages.
struct LinkUpdate {
    std::function<int(const std::string& path, ProgressSink* progress)> update;
    std::function<bool()> signatureError;
    int (*exitCode)(int linkResult, bool signatureError);
    std::span<const VerdictEntry> verdicts;
};

// The steps every windowless update shares once the bootloader answered: the file check
// (-13 when it cannot be opened, -12 when shorter than 2 bytes), the transfer with its
// progress, and the verdict.
UpdateOutcome CheckAndSendFile(const std::string& path, UpdateObserver& observer,
                               const LinkUpdate& link);
