#include "update/network_update.h"

#include <array>

#include "log/device_log.h"
#include "update/exit_codes.h"
#include "update/restart_steps.h"
#include "update/same_device.h"

namespace {

// Pauses between two synchronisation attempts, a plain sleep on every front end.
constexpr RepeatRule kNetworkRepeat{1, false};

constexpr std::array<ResultMeaning, 6> kNetworkResults{{
    {-99, kExitNotReady, "Error: BootLoader is hanging!"},
    {-8, kExitTooManyErrors, "Error: No or wrong response from target device!"},
    {-6, kExitFileMalformed, "Error: Format error in update file!"},
    {-3, kExitFileMalformed, "Error: Format error in update file!"},
    {-5, kExitFileUnreadable, "Error: can not read update file!"},
    {-2, kExitFileTooShort, "Error: can not read update file!"},
}};

}  // namespace

RepeatRule NetworkRepeat() {
    return kNetworkRepeat;
}

std::span<const ResultMeaning> NetworkResults() {
    return kNetworkResults;
}

UpdateOutcome UpdateOverNetwork(NetworkLink& link, const std::string& address,
                                const DeviceType* type, const FrontEnd& frontEnd,
                                UpdateObserver& observer, LogSink& log, Clock& clock) {
    RestartSteps steps{[&] { return link.Open_Port(address); },
                       {},
                       [&] { return link.SynchroniseBootloader(); },
                       kNetworkRepeat,
                       SendOver(link, NetworkResults())};
    if (type != nullptr) {
        steps.restart = [&] { link.ResetDevice(type->restartText); };
    }
    return RunRestartSteps(steps, frontEnd, observer, log, clock);
}

namespace {

UpdateOutcome UpdateNetworkDevice(const std::string& address, const DeviceType* type,
                                  const FrontEnd& frontEnd, UpdateObserver& observer, LogSink& log,
                                  Clock& clock) {
    DeviceLog deviceLog(log, address);
    const std::unique_ptr<NetworkLink> network = MakeNetworkLink(deviceLog, clock);
    return UpdateOverNetwork(*network, address, type, frontEnd, observer, deviceLog, clock);
}

SlotProbe ProbeNetworkSlot(const std::string& address, LogSink& log, Clock& clock,
                           std::function<bool()> /*present*/) {
    return NetworkSlotProbe(address, [&log, &clock] { return MakeNetworkLink(log, clock); });
}

}  // namespace

constinit const LinkRow kNetworkLink{
    .keyword = "UDP",
    .pageTitle = "Network",
    .link = UpdateLink::Network,
    .arrival = LinkArrival::FixtureSlots,
    .update = UpdateNetworkDevice,
    .probeSlot = ProbeNetworkSlot,
    .slotKey = NetworkSlotKey,
    .withoutDevices = "UDP needs its fixture slots: --slots LIST or @list-file"};
