#pragma once

#include <cstddef>
#include <memory>
#include <string>
#include <vector>

#include "links/handle_table.h"
#include "links/simbus/bus_folder.h"
#include "links/simbus/sim_bus_listing.h"
#include "links/simbus/sim_bus_tty.h"
#include "log/unique_fd.h"

// What the simulated FTDI and USBXpress libraries share: the devices listed on the bus folder,
// the devices opened on it, each through its pseudo-terminal held exclusively, and whether an
// open device is still plugged in. Each library keeps its own status codes and settings.

// The record of an open device; each library derives the settings its chip holds from it.
struct SimBusPort {
    UniqueFd fd;
    std::string file;  // the bus file; gone means unplugged

    bool Plugged() const;
};

// Opens the device's terminal into `port` and notes its bus file when it opened.
SimBusTtyOpen OpenSimBusDevice(const std::string& folder, const BusDevice& device,
                               SimBusPort& port);

// A library's answers: the call worked, the handle is not open, the device failed.
template <typename Status>
struct SimBusStatuses {
    Status ok, notOpen, ioFailed;
};

// kNotATerminal: the bus file's port is no terminal at all; kCannotOpen: any other refusal
// (held by another program, not a pseudo-terminal, the user's own terminal).
enum class SimBusOpen { kOpened, kNoSuchDevice, kNotATerminal, kCannotOpen };

template <typename Port>
class SimBus {
  public:
    explicit SimBus(std::string folder) : folder_(std::move(folder)), listing_(folder_) {}

    const std::vector<BusDevice>& Devices() { return listing_.Devices(); }

    // Opens the listed device at `index` through its terminal; `handle` is set when it opened.
    SimBusOpen Open(std::size_t index, void*& handle) {
        const auto& devices = listing_.Devices();
        if (index >= devices.size()) {
            return SimBusOpen::kNoSuchDevice;
        }
        auto port = std::make_unique<Port>();
        switch (OpenSimBusDevice(folder_, devices[index], *port)) {
            case SimBusTtyOpen::kNotATerminal:
                return SimBusOpen::kNotATerminal;
            case SimBusTtyOpen::kRefused:
                return SimBusOpen::kCannotOpen;
            case SimBusTtyOpen::kOpened:
                break;
        }
        handle = open_.Add(std::move(port));
        return SimBusOpen::kOpened;
    }
    bool Close(void* handle) { return open_.Close(handle); }
    Port* Find(void* handle) const { return open_.Find(handle); }

    // Runs `call` (true when it worked) on the open device: `notOpen` for a handle that is not
    // open, else `ok` or `ioFailed` as the call went.
    template <typename Status, typename Call>
    Status OnOpen(void* handle, const SimBusStatuses<Status>& statuses, Call call) const {
        Port* port = open_.Find(handle);
        if (port == nullptr) {
            return statuses.notOpen;
        }
        return call(*port) ? statuses.ok : statuses.ioFailed;
    }
    // The same for a call that needs the device on the bus: an unplugged one is `ioFailed`
    // without the call.
    template <typename Status, typename Call>
    Status OnPlugged(void* handle, const SimBusStatuses<Status>& statuses, Call call) const {
        return OnOpen(handle, statuses, [&](Port& port) { return port.Plugged() && call(port); });
    }

  private:
    std::string folder_;
    SimBusListing listing_;
    HandleTable<Port> open_;
};
