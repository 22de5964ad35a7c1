#include "links/simbus/sim_bus.h"

#include <unistd.h>

#include "links/simbus/sim_bus_tty.h"

bool SimBusPort::Plugged() const {
    return ::access(file.c_str(), F_OK) == 0;
}

bool OpenSimBusDevice(const std::string& folder, const BusDevice& device, SimBusPort& port) {
    if (!OpenSimBusTty(device.ttyPath, port.fd)) {
        return false;
    }
    port.file = BusFile(folder, device.serial);
    return true;
}
