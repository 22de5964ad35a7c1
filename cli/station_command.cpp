#include "cli/station_command.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <QCryptographicHash>
#include <QThread>

#include <algorithm>
#include <array>
#include <atomic>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <memory>
#include <set>
#include <thread>

#include "cli/check_command.h"
#include "cli/command_line.h"
#include "cli/operands.h"
#include "cli/same_device.h"
#include "cli/station_links.h"
#include "cli/station_view.h"
#include "cli/station_window_hook.h"
#include "cli/stop_signals.h"
#include "cli/target_list.h"
#include "cli/terminal_progress.h"
#include "engine/device_types.h"
#include "log/device_log.h"
#include "log/escaped_text.h"
#include "log/text_format.h"
#include "records/attempt_origin.h"
#include "records/record_store.h"
#include "records/utc_time.h"
#include "station/bus_watch.h"
#include "station/fixture_slot.h"
#include "station/sealed_file.h"
#include "station/station_lock.h"
#include "station/station_records.h"
#include "station/udev_watch.h"
#include "update/exit_codes.h"
#include "update/serial_update.h"
#include "update/udp_update.h"

namespace {

constexpr std::array kStationOptions{
    OptionSpec{"--link", true},        OptionSpec{"--slots", true},
    OptionSpec{"--device-type", true}, OptionSpec{"--station", true},
    OptionSpec{"--operator", true},    OptionSpec{"--records", true},
    OptionSpec{"--json", false},       OptionSpec{"--match", true},
    OptionSpec{"--window", false}};
// The links a station serves, as --link names them.
constexpr std::array<std::string_view, 4> kStationLinks{"FTDI", "USBX", "COM", "UDP"};

// A bus folder that cannot be watched is tried again this often.
constexpr int kRewatchMs = 500;
// After the second stop, running updates end at their next frame boundary; one blocked inside a
// link call longer than this is left behind as a last resort.
constexpr std::uint64_t kCancelGraceMs = 2000;
// The serial slots' line speed, the serial command's default.
constexpr unsigned kStationBaud = 115200;

// The device type of that name (in any case) on a slot link; none when it has no such type.
const DeviceType* SlotDeviceType(const std::string& link, const std::string& name) {
    const UpdateLink updateLink = link == "COM" ? UpdateLink::Serial : UpdateLink::Network;
    for (const DeviceType& type : DeviceTypes()) {
        if (type.link == updateLink && UpperCase(type.name) == UpperCase(name)) {
            return &type;
        }
    }
    return nullptr;
}

// A lock key for any text: a file name of its own.
std::string HashedKey(const std::string& text) {
    return QCryptographicHash::hash(QByteArray::fromStdString(text), QCryptographicHash::Sha256)
        .toHex()
        .left(16)
        .toStdString();
}

// A lock key for a path: its real path, so two spellings of one file are one key.
std::string PathKey(const std::string& path) {
    std::error_code ec;
    return HashedKey(std::filesystem::weakly_canonical(path, ec).string());
}

std::string EnvOr(const char* name, const std::string& otherwise) {
    const char* value = std::getenv(name);
    return value != nullptr && value[0] != '\0' ? std::string(value) : otherwise;
}

void Wake(int fd) {
    const std::uint64_t one = 1;
    [[maybe_unused]] const ssize_t n = ::write(fd, &one, sizeof one);
}

void Drain(int fd) {
    std::uint64_t count = 0;
    [[maybe_unused]] const ssize_t n = ::read(fd, &count, sizeof count);
}

// The file of the session: read once into `bytes`, sealed, checked as check checks it, and its
// SHA-256. Nothing when it is valid; otherwise the exit code to end with (check's).
std::optional<int> LoadSessionFile(const std::string& path, std::string& bytes, SealedFile& sealed,
                                   std::string& sha256) {
    std::string error;
    if (!ReadWholeFile(path, bytes)) {
        const UpdateFileCheck check = CheckUpdateFile(path);
        std::fprintf(stderr, "flashwright station: %s: %s\n", EscapedText(path).c_str(),
                     check.verdict.c_str());
        return check.exitCode != 0 ? check.exitCode : kExitFileUnreadable;
    }
    if (!sealed.Seal({reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size()}, error)) {
        std::fprintf(stderr, "flashwright station: %s\n", error.c_str());
        return kExitFileUnreadable;
    }
    if (const UpdateFileCheck check = CheckUpdateFile(sealed.Path()); check.exitCode != 0) {
        std::fprintf(stderr, "flashwright station: %s: %s\n", EscapedText(path).c_str(),
                     check.verdict.c_str());
        return check.exitCode;
    }
    sha256 = QCryptographicHash::hash(
                 QByteArray::fromRawData(bytes.data(), static_cast<qsizetype>(bytes.size())),
                 QCryptographicHash::Sha256)
                 .toHex()
                 .toStdString();
    return std::nullopt;
}

// Resolves every slot before anything opens: a name that can never be a device, or two names
// of one device (which two slot threads would update at once), is a usage error.
std::optional<int> ResolveSlots(StationRequest& request) {
    const std::vector<std::string>& names = request.slotAddresses;
    for (const std::string& slot : names) {
        std::string error;
        const std::optional<std::string> key =
            request.link == "UDP" ? NetworkSlotKey(slot, error) : SerialSlotKey(slot, error);
        if (!error.empty()) {
            return UsageError("station", "--slots: " + error);
        }
        request.slotKeys.push_back(key.value_or(""));
    }
    const std::string twice =
        SameDeviceTwice(names, [&](const std::string& name) -> std::optional<std::string> {
            const std::string& key =
                request.slotKeys[std::find(names.begin(), names.end(), name) - names.begin()];
            return key.empty() ? std::nullopt : std::optional(key);
        });
    return twice.empty() ? std::nullopt : std::optional(UsageError("station", twice));
}

std::string UsbIdText(const UsbId& id) {
    return StrPrintf("%04x:%04x", id.vendor, id.product);
}

// The locks on what the station serves: one per slot, one per USB id taken from udev, or one
// for the bus folder (by its real path, so two spellings of one folder are one lock) or the
// link's devices on USB.
bool TakeStationLocks(const StationRequest& request, const std::string& folder,
                      std::vector<StationLock>& locks, std::string& error) {
    if (request.link == "UDP" || request.link == "COM") {
        locks.resize(request.slotAddresses.size() + request.match.size());
        for (std::size_t i = 0; i < request.slotAddresses.size(); ++i) {
            // Keyed on what the slot resolves to: two spellings of one device are one lock.
            const std::string& slot = request.slotAddresses[i];
            const std::string& resolved = request.slotKeys[i].empty() ? slot : request.slotKeys[i];
            const std::string key =
                request.link == "UDP" ? "udp-" + resolved : "com-" + HashedKey(resolved);
            if (!locks[i].Take(key, "the slot " + slot, error)) {
                return false;
            }
        }
        for (std::size_t i = 0; i < request.match.size(); ++i) {
            const std::string id = UsbIdText(request.match[i]);
            if (!locks[request.slotAddresses.size() + i].Take(
                    "com-usb-" + id, "the USB serial adapters " + id, error)) {
                return false;
            }
        }
        return true;
    }
    locks.resize(1);
    if (folder.empty()) {
        return locks[0].Take("usb-" + request.link, "the " + request.link + " devices on USB",
                             error);
    }
    return locks[0].Take("bus-" + PathKey(folder), "the bus folder " + folder, error);
}

// What the station takes from udev: FTDI or USBXpress devices by their USB ids, or USB serial
// adapters by the ids of --match, leaving the ports of --slots to their slots.
UdevFilter StationUdevFilter(const StationRequest& request) {
    UdevFilter filter;
    if (request.link == "FTDI") {
        filter.ids.assign(std::begin(kFtdiUsbIds), std::end(kFtdiUsbIds));
    } else if (request.link == "USBX") {
        filter.ids.assign(std::begin(kUsbXpressUsbIds), std::end(kUsbXpressUsbIds));
    } else {
        filter.usbDevice = false;
        filter.ids = request.match;
        filter.slotPaths = request.slotAddresses;
    }
    return filter;
}

// The station's window, whose stops are delivered as the stop signals are; nothing when it
// cannot open (it has said why).
std::unique_ptr<StationWindowFrontEnd> OpenWindow(const StationRequest& request,
                                                  const StationSession& session,
                                                  AttemptRecords& records,
                                                  StopSignals& stopSignals) {
    const StationWindowOpener& open = InstalledStationWindowOpener();
    const StationWindowSession shown{session, records.Path(), UtcNow(), request.slotAddresses,
                                     records.Plant() != nullptr ? "connecting" : "none"};
    std::string error = "this program has no desktop";
    std::unique_ptr<StationWindowFrontEnd> window;
    if (open) {
        window = open(
            shown, [&stopSignals] { stopSignals.Raise(SIGINT); }, error);
    }
    if (!window) {
        std::fprintf(stderr, "flashwright station: the window cannot open: %s\n",
                     EscapedText(error).c_str());
    }
    return window;
}

// Ends the records: the plant database gets up to kPlantDrain to take what waits, and a stop
// meanwhile does not wait for it. False on a stop, with `unsent` saying what waits then.
bool FinishRecords(AttemptRecords& records, StopSignals& stopSignals, std::string& unsent) {
    // Shared with the thread, which a stop leaves behind.
    struct Finishing {
        UniqueFd done{::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)};
        std::string notice;
    };
    const auto state = std::make_shared<Finishing>();
    std::thread finishing([state, &records] {
        records.Finish(state->notice);
        Wake(state->done.Get());
    });
    for (;;) {
        std::array<pollfd, 2> fds{{{stopSignals.Fd(), POLLIN, 0}, {state->done.Get(), POLLIN, 0}}};
        ::poll(fds.data(), fds.size(), -1);
        if ((fds[1].revents & POLLIN) != 0) {
            finishing.join();
            unsent = state->notice;
            return true;
        }
        if ((fds[0].revents & POLLIN) != 0 && stopSignals.Take() != 0) {
            records.Unsent(unsent);
            finishing.detach();
            return false;
        }
    }
}

}  // namespace

std::span<const OptionSpec> StationOptions() {
    return kStationOptions;
}

std::span<const std::string_view> StationLinks() {
    return kStationLinks;
}

std::optional<int> ParseStationRequest(std::span<const std::string> tokens,
                                       StationRequest& request) {
    std::string error;
    const std::optional<Operands> operands = SplitOperands(tokens, kStationOptions, 1, error);
    if (!operands) {
        return UsageError("station", error);
    }
    if (operands->help) {
        return PrintHelp(*operands, "station");
    }
    if (const std::optional<int> code = MissingOperand("station", *operands, {"update file"})) {
        return code;
    }
    request.path = operands->positional[0];
    request.link = UpperCase(operands->Option("--link").value_or(""));
    if (request.link.empty()) {
        return UsageError("station", "--link FTDI, USBX, COM or UDP is missing");
    }
    if (std::find(kStationLinks.begin(), kStationLinks.end(), request.link) ==
        kStationLinks.end()) {
        return UsageError("station", "--link " + EscapedText(*operands->Option("--link")) +
                                         " is unknown: use FTDI, USBX, COM or UDP");
    }
    if (const std::optional<std::string> slotList = operands->Option("--slots")) {
        if (request.link != "UDP" && request.link != "COM") {
            return UsageError("station", "--slots is for --link UDP or COM");
        }
        TargetList list = ParseTargets(*slotList, false);
        if (list.targets.empty()) {
            return UsageError("station", list.error);
        }
        request.slotAddresses = std::move(list.targets);
    }
    if (const std::optional<int> code = ResolveSlots(request)) {
        return code;
    }
    if (const std::optional<std::string> matchList = operands->Option("--match")) {
        if (request.link != "COM") {
            return UsageError("station", "--match is for --link COM");
        }
        for (const std::string& text : ParseTargets(*matchList, false).targets) {
            const std::optional<UsbId> id = ParseUsbId(text);
            if (!id) {
                return UsageError("station", "--match " + text + " is not VID:PID in hex");
            }
            request.match.push_back(*id);
        }
        if (request.match.empty()) {
            return UsageError("station", "--match needs VID:PID");
        }
    }
    if ((request.link == "UDP" || request.link == "COM") && request.slotAddresses.empty() &&
        request.match.empty()) {
        return UsageError("station",
                          request.link == "UDP"
                              ? "UDP needs its fixture slots: --slots LIST or @list-file"
                              : "COM needs its fixture slots (--slots LIST or @list-file) or the "
                                "USB serial adapters to take (--match VID:PID)");
    }
    request.deviceType = operands->Option("--device-type").value_or("");
    if (!request.deviceType.empty() &&
        ((request.link != "UDP" && request.link != "COM") ||
         SlotDeviceType(request.link, request.deviceType) == nullptr)) {
        return UsageError(
            "station", "--device-type " + request.deviceType + " is not known for " + request.link);
    }
    request.station = operands->Option("--station").value_or(DefaultStationName());
    request.operatorName = operands->Option("--operator").value_or(DefaultOperatorName());
    request.records = operands->Option("--records").value_or("");
    request.json = operands->Option("--json").has_value();
    request.window = operands->Option("--window").has_value();
    if (request.json && request.window) {
        return UsageError("station", "--json and --window exclude each other");
    }
    return std::nullopt;
}

int RunStationCommand(std::span<const std::string> tokens, LogSink& log) {
    StationRequest request;
    if (const std::optional<int> code = ParseStationRequest(tokens, request)) {
        return *code;
    }
    // FTDI and USBX devices arrive on a simulated bus folder when one is set, else through
    // udev; COM adapters through udev when --match names them.
    std::string folder;
    if (request.link == "FTDI" || request.link == "USBX") {
        folder = EnvOr(
            request.link == "FTDI" ? "FLASHWRIGHT_FTDI_BUS" : "FLASHWRIGHT_USBXPRESS_BUS", "");
    }
    const bool fromUdev = (folder.empty() && request.link != "UDP" && request.link != "COM") ||
                          !request.match.empty();
    // A folder missing at the start is likelier a typo than a bus yet to come.
    if (std::error_code ec; !folder.empty() && !std::filesystem::is_directory(folder, ec)) {
        std::fprintf(stderr, "flashwright station: the bus folder %s (%s) is no folder\n",
                     EscapedText(folder).c_str(),
                     request.link == "FTDI" ? "FLASHWRIGHT_FTDI_BUS" : "FLASHWRIGHT_USBXPRESS_BUS");
        return kExitOpenFailed;
    }

    std::string bytes;
    SealedFile sealed;
    std::string sha256;
    if (const std::optional<int> code = LoadSessionFile(request.path, bytes, sealed, sha256)) {
        return *code;
    }
    std::vector<StationLock> locks;
    std::string error;
    if (!TakeStationLocks(request, folder, locks, error)) {
        std::fprintf(stderr, "flashwright station: %s\n", EscapedText(error).c_str());
        return kExitUsage;
    }
    int recordsStatus = 0;
    std::string notices;
    const std::unique_ptr<AttemptRecords> records =
        OpenStationRecords(request.records, error, notices, recordsStatus);
    for (std::size_t at = 0; at < notices.size();) {
        const std::size_t end = notices.find('\n', at);
        std::fprintf(stderr, "flashwright station: %s\n",
                     EscapedText(notices.substr(at, end - at)).c_str());
        at = end + 1;
    }
    if (!records) {
        std::fprintf(stderr, "flashwright station: the records: %s\n", EscapedText(error).c_str());
        return recordsStatus;
    }
    UdevWatch udevWatch(StationUdevFilter(request));
    if (fromUdev && !udevWatch.Arm(error)) {
        std::fprintf(stderr, "flashwright station: no hot-plug over %s: %s\n", request.link.c_str(),
                     EscapedText(error).c_str());
        return kExitOpenFailed;
    }

    StopSignals stopSignals;
    Clock& clock = DefaultClock();
    std::unique_ptr<StationView> view;
    StationBoard* board = nullptr;
    if (request.json) {
        view = std::make_unique<StationJson>(request.link, request.path, sealed.Path(), clock);
    } else if (!request.window) {
        auto shown = std::make_unique<StationBoard>(STDERR_FILENO, request.path, sha256,
                                                    request.slotAddresses, clock);
        shown->Show();
        board = shown.get();
        view = std::move(shown);
    }
    const FrontEnd frontEnd{{}, "", false, false, true, sealed.Path()};
    const DeviceType* type =
        request.deviceType.empty() ? nullptr : SlotDeviceType(request.link, request.deviceType);
    const std::string link = request.link;
    StationUpdate update = [&](const StationDevice& device, RecordingObserver& observer) {
        if (link == "FTDI") {
            if (auto unsettled =
                    fromUdev ? SettleFtdiDevice(device, kDeviceSettleMs, clock) : std::nullopt) {
                return *unsettled;
            }
            return UpdateFtdiDevice(device, frontEnd, observer, log, clock);
        }
        if (link == "USBX") {
            if (auto unsettled =
                    fromUdev ? SettleUsbxDevice(device, kDeviceSettleMs, clock) : std::nullopt) {
                return *unsettled;
            }
            return UpdateUsbxDevice(device, frontEnd, observer, log, clock);
        }
        DeviceLog deviceLog(log, device.id);
        if (link == "COM") {
            const std::unique_ptr<SerialLink> serial = MakeSerialLink(deviceLog, clock);
            return UpdateOverSerial(*serial, device.id, kStationBaud, type, frontEnd, observer,
                                    deviceLog, clock);
        }
        const std::unique_ptr<NetworkLink> network = MakeNetworkLink(deviceLog, clock);
        return UpdateOverNetwork(*network, device.id, type, frontEnd, observer, deviceLog, clock);
    };
    const StationSession session{request.station,
                                 request.operatorName,
                                 request.link,
                                 RecordedFileName(request.path),
                                 static_cast<std::int64_t>(bytes.size()),
                                 sha256};
    std::unique_ptr<StationWindowFrontEnd> window;
    if (request.window) {
        window = OpenWindow(request, session, *records, stopSignals);
        if (!window) {
            return kExitUsage;
        }
        view = window->MakeView();
    }
    if (PlantForwarder* plant = records->Plant()) {
        plant->OnStatus([&view = *view](const PlantStatus& s) { view.Plant(s); });
    }
    const UniqueFd wake(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK));
    int status = 0;
    auto serve = [&] {
        Station station(session, *records, *view, update);
        station.OnAttemptEnded([&] { Wake(wake.Get()); });
        // Each slot is served on a thread of its own; a serial port's thread needs the event
        // dispatcher a QThread brings for the port's notifiers.
        std::vector<std::unique_ptr<QThread>> slotThreads;
        for (const std::string& slot : request.slotAddresses) {
            slotThreads.emplace_back(QThread::create([&, slot] {
                if (link == "COM") {
                    ServeComSlot(
                        station, *view, slot, kStationBaud,
                        [&] { return MakeSerialLink(log, clock); }, clock);
                } else {
                    ServeUdpSlot(
                        station, *view, slot, [&] { return MakeNetworkLink(log, clock); }, clock);
                }
                Wake(wake.Get());
            }));
            slotThreads.back()->start();
        }
        // USB serial adapters udev reported: each is a slot of its own, served as the ports of
        // --slots are while it is there; the threads of those that went end by themselves.
        struct UdevPort {
            std::shared_ptr<std::atomic<bool>> present;
            std::unique_ptr<QThread> thread;
        };
        std::map<std::string, UdevPort> udevPorts;
        std::vector<std::unique_ptr<QThread>> leftPorts;
        auto servePorts = [&](const std::vector<StationDevice>& devices,
                              const std::set<std::string>& removed) {
            std::set<std::string> now;
            for (const StationDevice& d : devices) {
                now.insert(d.id);
            }
            for (auto it = udevPorts.begin(); it != udevPorts.end();) {
                if (now.count(it->first) != 0 && removed.count(it->first) == 0) {
                    ++it;
                    continue;
                }
                *it->second.present = false;
                leftPorts.push_back(std::move(it->second.thread));
                it = udevPorts.erase(it);
            }
            for (const StationDevice& d : devices) {
                if (udevPorts.count(d.id) != 0 || !station.Taking()) {
                    continue;
                }
                auto present = std::make_shared<std::atomic<bool>>(true);
                std::unique_ptr<QThread> thread(QThread::create([&, port = d.id, present] {
                    ServeComSlot(
                        station, *view, port, kStationBaud,
                        [&] { return MakeSerialLink(log, clock); }, clock,
                        [present] { return present->load(); });
                    Wake(wake.Get());
                }));
                thread->start();
                udevPorts[d.id] = {present, std::move(thread)};
            }
        };
        BusWatch watch(folder);
        std::set<std::string> folderProblems;  // told while the folder was away
        auto list = [&] {
            if (fromUdev) {
                std::set<std::string> removed;
                udevWatch.Drain(removed);
                std::vector<std::string> problems;
                const std::vector<StationDevice> devices = udevWatch.Devices(problems);
                for (const std::string& p : problems) {
                    view->Problem(p);
                }
                if (link == "COM") {
                    servePorts(devices, removed);
                } else {
                    station.BusListing(devices, removed);
                }
                return;
            }
            if (folder.empty()) {
                return;
            }
            std::string problem;
            if (!watch.Armed() && !watch.Arm(problem)) {
                view->Problem(problem);
                folderProblems.insert(problem);
                return;
            }
            std::set<std::string> removed;
            watch.Drain(removed);
            if (!watch.Armed()) {
                problem = "the bus folder " + folder + " is gone";
                view->Problem(problem);
                folderProblems.insert(problem);
                return;
            }
            for (const std::string& p : folderProblems) {  // the folder is back
                view->ProblemCleared(p);
            }
            folderProblems.clear();
            std::vector<std::string> problems;
            const std::vector<StationDevice> devices = watch.Devices(problems);
            for (const std::string& p : problems) {
                view->Problem(p);
            }
            station.BusListing(devices, removed);
        };
        list();
        int stops = 0;
        std::uint64_t cancelledAt = 0;
        for (;;) {
            // Stopped, or no longer taking devices because the records cannot be written.
            if ((stops > 0 || !station.Taking()) && station.Running() == 0) {
                break;
            }
            if (stops > 1 && clock.NowMs() - cancelledAt >= kCancelGraceMs) {
                // An update that did not reach a frame boundary in time is left behind, and its
                // record says so.
                station.Abandon();
                if (board != nullptr) {
                    board->Draw();
                }
                std::fflush(stdout);
                std::_Exit(station.ExitCode() & 0xFF);
            }
            std::array<pollfd, 3> fds{{{stopSignals.Fd(), POLLIN, 0},
                                       {wake.Get(), POLLIN, 0},
                                       {fromUdev        ? udevWatch.Fd()
                                        : watch.Armed() ? watch.Fd()
                                                        : -1,
                                        POLLIN, 0}}};
            const int timeout = stops > 1                             ? 100
                                : (!folder.empty() && !watch.Armed()) ? kRewatchMs
                                                                      : 1000;
            ::poll(fds.data(), fds.size(), timeout);
            if ((fds[0].revents & POLLIN) != 0) {
                if (const int signal = stopSignals.Take(); signal != 0) {
                    ++stops;
                    if (stops == 1) {
                        station.StopTaking();
                        view->Problem("stopping: no new devices; the running updates end");
                    } else if (stops == 2) {
                        station.Cancel(signal);
                        cancelledAt = clock.NowMs();
                    }
                }
            }
            if ((fds[1].revents & POLLIN) != 0) {
                Drain(wake.Get());
            }
            if (stops == 0 && (fds[1].revents != 0 || fds[2].revents != 0 || !watch.Armed())) {
                list();
            }
        }
        for (const std::unique_ptr<QThread>& slot : slotThreads) {
            slot->wait();
        }
        for (auto& [id, port] : udevPorts) {
            port.thread->wait();
        }
        for (const std::unique_ptr<QThread>& port : leftPorts) {
            port->wait();
        }
        status = station.ExitCode();
        view->Ended(status);
    };
    if (window) {
        window->RunBeside(serve, stopSignals.Fd());
    } else {
        serve();
    }
    // The forwarding ends (and with it the plant's notes to the view) before the view does.
    std::string unsent;
    if (!FinishRecords(*records, stopSignals, unsent)) {
        std::fprintf(stderr, "flashwright station: stopped at once%s%s\n",
                     unsent.empty() ? "" : ": ", EscapedText(unsent).c_str());
        std::_Exit(status & 0xFF);  // the forwarding thread is left; the records stay local
    }
    if (board != nullptr) {
        board->Draw();
    }
    if (!unsent.empty()) {
        std::fprintf(stderr, "flashwright station: %s\n", EscapedText(unsent).c_str());
    }
    return status;
}
