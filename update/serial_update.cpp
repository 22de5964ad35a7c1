#include "update/serial_update.h"

#include <array>

#include "log/device_log.h"
#include "update/exit_codes.h"
#include "update/restart_steps.h"
#include "update/same_device.h"

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

namespace {

// The fixture slots' line speed, the serial command's default.
constexpr unsigned kSlotBaud = 115200;

UpdateOutcome UpdateSerialDevice(const std::string& port, const DeviceType* type,
                                 const FrontEnd& frontEnd, UpdateObserver& observer, LogSink& log,
                                 Clock& clock) {
    DeviceLog deviceLog(log, port);
    const std::unique_ptr<SerialLink> serial = MakeSerialLink(deviceLog, clock);
    return UpdateOverSerial(*serial, port, kSlotBaud, type, frontEnd, observer, deviceLog, clock);
}

SlotProbe ProbeSerialSlot(const std::string& port, LogSink& log, Clock& clock,
                          std::function<bool()> present) {
    return SerialSlotProbe(
        port, kSlotBaud, [&log, &clock] { return MakeSerialLink(log, clock); }, std::move(present));
}

}  // namespace

constinit const LinkRow kSerialLink{
    .keyword = "COM",
    .pageTitle = "COM Port",
    .link = UpdateLink::Serial,
    .arrival = LinkArrival::FixtureSlots,
    .update = UpdateSerialDevice,
    .probeSlot = ProbeSerialSlot,
    .slotKey = SerialSlotKey,
    .takesSerialAdapters = true,
    .withoutDevices =
        "COM needs its fixture slots (--slots LIST or @list-file) or the USB serial "
        "adapters to take (--match VID:PID)"};
