#pragma once

#include <libudev.h>

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "station/station.h"
#include "update/link_table.h"

// Which devices a station takes from udev.
struct UdevFilter {
    // A USB device (subsystem usb, devtype usb_device) with one of `ids`, named by its serial
    // number; otherwise a tty on USB (ID_BUS=usb) with one of `ids`, named by its path.
    bool usbDevice = true;
    std::vector<UsbId> ids;
    // Ports served by slots of their own: a tty that is one of them (by its device node, one of
    // its links, or the real path they lead to) is left to its slot.
    std::vector<std::string> slotPaths;
};

// What udev says about a device, as far as matching needs it.
struct UdevFacts {
    std::string subsystem;
    std::string devtype;
    std::string vendor;   // hex, as udev gives it ("0403")
    std::string product;  // hex
    std::string serial;
    std::string bus;      // ID_BUS
    std::string devname;  // /dev/ttyUSB0
    std::vector<std::string> devlinks;
};

// The device `facts` describe, when the filter takes it. A device the filter takes but that
// cannot be named (a USB device without a serial number) gives nothing and sets `problem`.
std::optional<StationDevice> MatchUdevDevice(const UdevFacts& facts, const UdevFilter& filter,
                                             std::string& problem);

// Arrivals and departures as udev reports them: the devices attached at the start (the first
// listing takes them as arrivals) and those the monitor reports added or removed since. The
// monitor's descriptor becomes readable when udev has news.
class UdevWatch {
  public:
    explicit UdevWatch(UdevFilter filter);
    ~UdevWatch();
    UdevWatch(const UdevWatch&) = delete;
    UdevWatch& operator=(const UdevWatch&) = delete;

    // Sets up the monitor, then lists the devices already attached; false with `problem` set
    // when udev cannot be reached or its daemon is not running.
    bool Arm(std::string& problem);
    bool Armed() const { return monitor_ != nullptr; }
    int Fd() const;
    // Takes the monitor's events: adds to `removed` the id of every device removed meanwhile
    // (so one unplugged and plugged back in between two listings still counts as having left).
    void Drain(std::set<std::string>& removed);
    // The devices attached; `problems` gets a line for each device seen since the last call
    // that the filter takes but cannot name.
    std::vector<StationDevice> Devices(std::vector<std::string>& problems);

  private:
    struct UdevUnref {
        void operator()(udev* u) const { udev_unref(u); }
        void operator()(udev_monitor* m) const { udev_monitor_unref(m); }
    };
    // Lists the devices attached into present_.
    bool List(std::string& problem);
    void Take(udev_device* device);

    const UdevFilter filter_;
    std::unique_ptr<udev, UdevUnref> udev_;
    std::unique_ptr<udev_monitor, UdevUnref> monitor_;
    std::map<std::string, StationDevice> present_;  // by sysfs path
    std::vector<std::string> problems_;
};
