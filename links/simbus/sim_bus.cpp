#include "links/simbus/sim_bus.h"

#include <unistd.h>

#include "links/simbus/sim_bus_tty.h"

bool SimBusPort::Plugged() const {
    return ::access(file.c_str(), F_OK) == 0;
}

SimBusTtyOpen OpenSimBusDevice(const std::string& folder, const BusDevice& device,
                               SimBusPort& port) {
    const SimBusTtyOpen opened = OpenSimBusTty(device.ttyPath, port.fd);
    if (opened == SimBusTtyOpen::kOpened) {
        port.file = BusFile(folder, device.serial);
    }
    return opened;
}
