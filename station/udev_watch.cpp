#include "station/udev_watch.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <sstream>

namespace {

struct DeviceUnref {
    void operator()(udev_device* d) const { udev_device_unref(d); }
    void operator()(udev_enumerate* e) const { udev_enumerate_unref(e); }
};
using DevicePtr = std::unique_ptr<udev_device, DeviceUnref>;
using EnumeratePtr = std::unique_ptr<udev_enumerate, DeviceUnref>;

constexpr std::string_view kByIdFolder = "/dev/serial/by-id/";
// Made by udev's daemon while it runs; FLASHWRIGHT_UDEV_CONTROL names another (the tests' udev
// is umockdev's, without a daemon).
constexpr const char* kUdevControl = "/run/udev/control";

std::string Text(const char* value) {
    return value != nullptr ? std::string(value) : std::string();
}

// The facts of a device as udev lists it or reports it in an event: a USB device's ids and
// serial number are its sysfs attributes (udev's properties where sysfs has none).
UdevFacts FactsOf(udev_device* d) {
    UdevFacts f;
    f.subsystem = Text(udev_device_get_subsystem(d));
    f.devtype = Text(udev_device_get_devtype(d));
    const auto attribute = [&](const char* name, const char* property) {
        const char* value = f.subsystem == "usb" ? udev_device_get_sysattr_value(d, name) : nullptr;
        return Text(value != nullptr ? value : udev_device_get_property_value(d, property));
    };
    f.vendor = attribute("idVendor", "ID_VENDOR_ID");
    f.product = attribute("idProduct", "ID_MODEL_ID");
    f.serial = attribute("serial", "ID_SERIAL_SHORT");
    f.bus = Text(udev_device_get_property_value(d, "ID_BUS"));
    f.devname = Text(udev_device_get_devnode(d));
    std::istringstream links(Text(udev_device_get_property_value(d, "DEVLINKS")));
    for (std::string link; links >> link;) {
        f.devlinks.push_back(link);
    }
    return f;
}

bool Listed(const std::vector<UsbId>& ids, const UdevFacts& f) {
    const std::optional<std::uint16_t> vendor = ParseHex16(f.vendor);
    const std::optional<std::uint16_t> product = ParseHex16(f.product);
    return vendor && product &&
           std::find(ids.begin(), ids.end(), UsbId{*vendor, *product}) != ids.end();
}

// A port served by a slot: named by its device node, by one of its links, or by a path that
// leads to its node.
bool ServedBySlot(const UdevFacts& f, const std::vector<std::string>& slots) {
    for (const std::string& slot : slots) {
        std::error_code ec;
        const std::string real = std::filesystem::weakly_canonical(slot, ec).string();
        if (slot == f.devname || (!ec && real == f.devname) ||
            std::find(f.devlinks.begin(), f.devlinks.end(), slot) != f.devlinks.end()) {
            return true;
        }
    }
    return false;
}

}  // namespace

std::optional<StationDevice> MatchUdevDevice(const UdevFacts& facts, const UdevFilter& filter,
                                             std::string& problem) {
    const std::string ids = facts.vendor + ":" + facts.product;
    if (filter.usbDevice) {
        if (facts.subsystem != "usb" || facts.devtype != "usb_device" ||
            !Listed(filter.ids, facts)) {
            return std::nullopt;
        }
        if (facts.serial.empty()) {
            problem = "the USB device " + ids + " at " + facts.devname +
                      " has no serial number: it cannot be found by one and is left alone";
            return std::nullopt;
        }
        return StationDevice{facts.serial, {}};
    }
    if (facts.subsystem != "tty" || facts.bus != "usb" || facts.devname.empty() ||
        ServedBySlot(facts, filter.slotPaths) || !Listed(filter.ids, facts)) {
        return std::nullopt;
    }
    // The by-id name says which adapter it is, and stays the same whichever node it gets.
    for (const std::string& link : facts.devlinks) {
        if (link.starts_with(kByIdFolder)) {
            return StationDevice{link, ids};
        }
    }
    return StationDevice{facts.devname, ids};
}

UdevWatch::UdevWatch(UdevFilter filter) : filter_(std::move(filter)) {}

UdevWatch::~UdevWatch() = default;

bool UdevWatch::Arm(std::string& problem) {
    if (monitor_) {
        return true;
    }
    // libudev loads and its monitor opens without udev's daemon, but then nothing ever arrives:
    // the daemon's control socket tells whether it runs.
    const char* control = std::getenv("FLASHWRIGHT_UDEV_CONTROL");
    const std::string controlPath =
        control != nullptr && control[0] != '\0' ? control : kUdevControl;
    if (::access(controlPath.c_str(), F_OK) != 0) {
        problem = "udev is not running (no " + controlPath + ")";
        return false;
    }
    udev_.reset(udev_new());
    if (!udev_) {
        problem = std::string("udev cannot be reached: ") + std::strerror(errno);
        return false;
    }
    // The monitor listens before the devices are listed: nothing that arrives between the two
    // is missed (one that is in both is simply present).
    std::unique_ptr<udev_monitor, UdevUnref> monitor(
        udev_monitor_new_from_netlink(udev_.get(), "udev"));
    const char* subsystem = filter_.usbDevice ? "usb" : "tty";
    const char* devtype = filter_.usbDevice ? "usb_device" : nullptr;
    if (!monitor ||
        udev_monitor_filter_add_match_subsystem_devtype(monitor.get(), subsystem, devtype) < 0 ||
        udev_monitor_enable_receiving(monitor.get()) < 0) {
        problem = std::string("the udev monitor cannot be set up: ") + std::strerror(errno);
        return false;
    }
    if (!List(problem)) {
        return false;
    }
    monitor_ = std::move(monitor);
    return true;
}

bool UdevWatch::List(std::string& problem) {
    EnumeratePtr list(udev_enumerate_new(udev_.get()));
    if (!list ||
        udev_enumerate_add_match_subsystem(list.get(), filter_.usbDevice ? "usb" : "tty") < 0 ||
        udev_enumerate_scan_devices(list.get()) < 0) {
        problem = std::string("udev cannot list the devices: ") + std::strerror(errno);
        return false;
    }
    present_.clear();
    udev_list_entry* entry = nullptr;
    udev_list_entry_foreach(entry, udev_enumerate_get_list_entry(list.get())) {
        const DevicePtr device(
            udev_device_new_from_syspath(udev_.get(), udev_list_entry_get_name(entry)));
        if (device) {
            Take(device.get());
        }
    }
    return true;
}

int UdevWatch::Fd() const {
    return monitor_ ? udev_monitor_get_fd(monitor_.get()) : -1;
}

void UdevWatch::Take(udev_device* device) {
    const std::string path = Text(udev_device_get_syspath(device));
    std::string problem;
    std::optional<StationDevice> taken = MatchUdevDevice(FactsOf(device), filter_, problem);
    if (!problem.empty()) {
        problems_.push_back(problem);
    }
    if (taken) {
        present_[path] = std::move(*taken);
    } else {
        present_.erase(path);
    }
}

void UdevWatch::Drain(std::set<std::string>& removed) {
    while (monitor_) {
        const DevicePtr device(udev_monitor_receive_device(monitor_.get()));
        if (!device) {
            if (errno == ENOBUFS) {
                // Events were lost: the devices are listed afresh, and those gone have left.
                const std::map<std::string, StationDevice> before = std::move(present_);
                std::string problem;
                if (!List(problem)) {
                    problems_.push_back(problem);
                }
                for (const auto& [path, d] : before) {
                    if (present_.count(path) == 0) {
                        removed.insert(d.id);
                    }
                }
            }
            return;  // nothing more waiting
        }
        const std::string action = Text(udev_device_get_action(device.get()));
        if (action == "remove") {
            const auto it = present_.find(Text(udev_device_get_syspath(device.get())));
            if (it != present_.end()) {
                removed.insert(it->second.id);
                present_.erase(it);
            }
        } else {
            // "add", and the driver's "bind"/"unbind" and "change" around it: the device is
            // there as long as it is not removed.
            Take(device.get());
        }
    }
}

std::vector<StationDevice> UdevWatch::Devices(std::vector<std::string>& problems) {
    problems.insert(problems.end(), problems_.begin(), problems_.end());
    problems_.clear();
    std::vector<StationDevice> devices;
    for (const auto& [path, device] : present_) {
        devices.push_back(device);
    }
    return devices;
}
