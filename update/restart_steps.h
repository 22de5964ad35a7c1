#pragma once

#include <functional>
#include <span>
#include <string>

#include "update/update_steps.h"

// The steps of the links whose device the user restarts by hand, unless its type restarts when
// told: open the link, send the type's restart command, synchronise, send the file.
struct RestartSteps {
    std::function<int()> open;
    std::function<void()> restart;  // empty: the user restarts the device
    std::function<int()> synchronise;
    RepeatRule repeat;
    LinkUpdate send;
};

UpdateOutcome RunRestartSteps(const RestartSteps& steps, const FrontEnd& frontEnd,
                              UpdateObserver& observer, LogSink& log, Clock& clock);

// The last steps over a link that stays open: its UpdateAVR and Info.
template <class Link>
LinkUpdate SendOver(Link& link, std::span<const ResultMeaning> results) {
    return {[&link](const std::string& path, ProgressSink* progress) {
                return link.UpdateAVR(path, progress);
            },
            [&link] { return link.Info(); },
            {},
            results};
}
