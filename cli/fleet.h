#pragma once

#include <cstdio>
#include <functional>
#include <span>
#include <string>

#include "engine/clock.h"
#include "log/log_sink.h"
#include "update/update_observer.h"

class JsonLines;

// How one device of a run over several is updated: its own link, its own log lines (the
// device's name in front), its own observer. Returns the device's exit code.
using DeviceUpdate =
    std::function<int(const std::string& target, LogSink& log, UpdateObserver& observer)>;

struct FleetOptions {
    std::string link;               // "UDP", "COM": for the JSON events
    std::string file;               // the update file, for the JSON events
    std::FILE* terminal = nullptr;  // the progress board goes here; none: nothing is shown
    JsonLines* json = nullptr;      // the events go here instead of the board
};

// One device, as the command lines always ran it: the terminal display on standard error when
// that is a terminal, or with `json` the JSON events on standard output instead.
int RunSingle(const std::string& link, const std::string& target, const std::string& file,
              bool json, const std::function<int(UpdateObserver& observer)>& update);

// One target as RunSingle runs it, several as RunFleet does, with the display or JSON events
// the command line asked for.
int RunTargets(const std::string& link, std::span<const std::string> targets,
               const std::string& file, bool json, const DeviceUpdate& update, LogSink& log);

// Updates every target at once, each on a thread of its own, so that no device waits for
// another. Returns 0 when every device succeeded, else the exit code of the first device in
// the order given that failed.
int RunFleet(std::span<const std::string> targets, const DeviceUpdate& update, LogSink& log,
             const FleetOptions& options, Clock& clock);
