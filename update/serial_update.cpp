#include "update/serial_update.h"

#include <array>

#include "update/exit_codes.h"
#include "update/restart_steps.h"

namespace {

// Pauses between two synchronisation attempts, a plain sleep on every front end.
constexpr RepeatRule kSerialRepeat{10, false};

// The link's -8 is a failed status query of the port, with no exit code of its own.
constexpr std::array<ResultMeaning, 8> kSerialResults{{
    {-99, kExitNotReady, "Error: BootLoader is hanging!"},
    {-10, kExitTooManyErrors, "Error: No or wrong response from target device!"},
    {-9, std::nullopt, "Error: No or wrong response from target device!"},
    {-7, std::nullopt, "Error: unable to send data!"},
    {-6, kExitFileMalformed, "Error: Format error in update file!"},
    {-3, kExitFileMalformed, "Error: Format error in update file!"},
    {-5, kExitFileUnreadable, "Error: can not read update file!"},
    {-2, kExitFileTooShort, "Error: can not read update file!"},
}};

}  // namespace

RepeatRule SerialRepeat() {
    return kSerialRepeat;
}

std::span<const ResultMeaning> SerialResults() {
    return kSerialResults;
}

UpdateOutcome UpdateOverSerial(SerialLink& link, const std::string& port, unsigned baud,
                               const DeviceType* type, const FrontEnd& frontEnd,
                               UpdateObserver& observer, LogSink& log, Clock& clock) {
    RestartSteps steps{[&] { return link.Open(port, baud); },
                       {},
                       [&] { return link.SynchroniseBootloader(); },
                       kSerialRepeat,
                       SendOver(link, SerialResults())};
    if (type != nullptr) {
        steps.restart = [&] { link.SendBuffer(type->restartBytes); };  // the device restarts
    }
    return RunRestartSteps(steps, frontEnd, observer, log, clock);
}
