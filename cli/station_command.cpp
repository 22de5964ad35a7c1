#include "cli/station_command.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <QCryptographicHash>
#include <QThread>

#include <array>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <set>

#include "cli/check_command.h"
#include "cli/command_line.h"
#include "cli/operands.h"
#include "cli/station_links.h"
#include "cli/station_view.h"
#include "cli/station_window_hook.h"
#include "cli/stop_signals.h"
#include "cli/target_list.h"
#include "cli/terminal_progress.h"
#include "engine/device_types.h"
#include "log/device_log.h"
#include "log/escaped_text.h"
#include "records/attempt_origin.h"
#include "records/record_store.h"
#include "records/utc_time.h"
#include "station/bus_watch.h"
#include "station/fixture_slot.h"
#include "station/sealed_file.h"
#include "station/station_lock.h"
#include "station/station_records.h"
#include "update/exit_codes.h"
#include "update/serial_update.h"
#include "update/udp_update.h"

namespace {

constexpr std::array kStationOptions{
    OptionSpec{"--link", true},        OptionSpec{"--slots", true},
    OptionSpec{"--device-type", true}, OptionSpec{"--station", true},
    OptionSpec{"--operator", true},    OptionSpec{"--records", true},
    OptionSpec{"--json", false},       OptionSpec{"--window", false}};

// A bus folder that cannot be watched is tried again this often.
constexpr int kRewatchMs = 500;
// After the second stop, running updates get this long to end through their Cancel.
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

// A lock key for a path: its real path, so two spellings of one file are one key.
std::string PathKey(const std::string& path) {
    std::error_code ec;
    const std::string real = std::filesystem::weakly_canonical(path, ec).string();
    return QCryptographicHash::hash(QByteArray::fromStdString(real), QCryptographicHash::Sha256)
        .toHex()
        .left(16)
        .toStdString();
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

// The locks on what the station serves: one per slot, or one for the bus folder (by its real
// path, so two spellings of one folder are one lock).
bool TakeStationLocks(const StationRequest& request, const std::string& folder,
                      std::vector<StationLock>& locks, std::string& error) {
    if (request.link == "UDP" || request.link == "COM") {
        locks.resize(request.slotAddresses.size());
        for (std::size_t i = 0; i < locks.size(); ++i) {
            const std::string& slot = request.slotAddresses[i];
            const std::string key = request.link == "UDP" ? "udp-" + slot : "com-" + PathKey(slot);
            if (!locks[i].Take(key, "the slot " + slot, error)) {
                return false;
            }
        }
        return true;
    }
    locks.resize(1);
    return locks[0].Take("bus-" + PathKey(folder), "the bus folder " + folder, error);
}

// The station's window, whose stops are delivered as the stop signals are; nothing when it
// cannot open (it has said why).
std::unique_ptr<StationWindowFrontEnd> OpenWindow(const StationRequest& request,
                                                  const StationSession& session,
                                                  StopSignals& stopSignals) {
    const StationWindowOpener& open = InstalledStationWindowOpener();
    const StationWindowSession shown{
        session, request.records.empty() ? DefaultRecordsPath() : request.records, UtcNow(),
        request.slotAddresses};
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

}  // namespace

std::optional<int> ParseStationRequest(std::span<const std::string> tokens,
                                       StationRequest& request) {
    std::string error;
    const std::optional<Operands> operands = SplitOperands(tokens, kStationOptions, 1, error);
    if (!operands) {
        return UsageError("station", error);
    }
    if (operands->help) {
        return PrintHelp(*operands);
    }
    if (const std::optional<int> code = MissingOperand("station", *operands, {"update file"})) {
        return code;
    }
    request.path = operands->positional[0];
    request.link = UpperCase(operands->Option("--link").value_or(""));
    if (request.link != "FTDI" && request.link != "USBX" && request.link != "UDP" &&
        request.link != "COM") {
        return UsageError("station", "--link FTDI, USBX, COM or UDP is missing");
    }
    if (const std::optional<std::string> slotList = operands->Option("--slots")) {
        TargetList list = ParseTargets(*slotList, false);
        if (list.targets.empty()) {
            return UsageError("station", list.error);
        }
        request.slotAddresses = std::move(list.targets);
    }
    if ((request.link == "UDP" || request.link == "COM") && request.slotAddresses.empty()) {
        return UsageError("station",
                          request.link + " needs its fixture slots: --slots LIST or @list-file");
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
    std::string folder;
    if (request.link == "FTDI" || request.link == "USBX") {
        const char* variable =
            request.link == "FTDI" ? "FLASHWRIGHT_FTDI_BUS" : "FLASHWRIGHT_USBXPRESS_BUS";
        folder = EnvOr(variable, "");
        if (folder.empty()) {
            std::fprintf(stderr,
                         "flashwright station: station mode over %s needs a simulated bus folder "
                         "for now: set %s (real hot-plug comes later)\n",
                         request.link.c_str(), variable);
            return kExitUsage;
        }
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
    const std::unique_ptr<AttemptLog> records =
        OpenStationRecords(request.records, error, recordsStatus);
    if (!records) {
        std::fprintf(stderr, "flashwright station: the records: %s\n", EscapedText(error).c_str());
        return recordsStatus;
    }

    StopSignals stopSignals;
    Clock& clock = DefaultClock();
    std::unique_ptr<StationView> view;
    StationBoard* board = nullptr;
    if (request.json) {
        view = std::make_unique<StationJson>(request.link, request.path, sealed.Path(), clock);
    } else if (!request.window) {
        auto shown =
            std::make_unique<StationBoard>(TerminalProgress::StderrIsTerminal() ? stderr : nullptr,
                                           request.path, sha256, request.slotAddresses, clock);
        board = shown.get();
        view = std::move(shown);
    }
    const FrontEnd frontEnd{{}, "", false, false, true, sealed.Path()};
    const DeviceType* type =
        request.deviceType.empty() ? nullptr : SlotDeviceType(request.link, request.deviceType);
    const std::string link = request.link;
    StationUpdate update = [&](const StationDevice& device, UpdateObserver& observer) {
        if (link == "FTDI") {
            return UpdateFtdiDevice(device, frontEnd, observer, log, clock);
        }
        if (link == "USBX") {
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
                                 request.path,
                                 static_cast<std::int64_t>(bytes.size()),
                                 sha256};
    std::unique_ptr<StationWindowFrontEnd> window;
    if (request.window) {
        window = OpenWindow(request, session, stopSignals);
        if (!window) {
            return kExitUsage;
        }
        view = window->MakeView();
    }
    const UniqueFd wake(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK));
    int status = 0;
    {
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
        BusWatch watch(folder);
        auto list = [&] {
            if (folder.empty()) {
                return;
            }
            std::string problem;
            if (!watch.Armed() && !watch.Arm(problem)) {
                view->Problem(problem);
                return;
            }
            std::set<std::string> removed;
            watch.Drain(removed);
            if (!watch.Armed()) {
                view->Problem("the bus folder " + folder + " is gone");
                return;
            }
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
            if (stops > 0 && station.Running() == 0) {
                break;
            }
            if (stops > 1 && clock.NowMs() - cancelledAt >= kCancelGraceMs) {
                // An update that does not end through its Cancel is left behind: its record says
                // interrupted already.
                if (board != nullptr) {
                    board->Draw();
                }
                std::fflush(stdout);
                std::_Exit(station.ExitCode() & 0xFF);
            }
            std::array<pollfd, 3> fds{{{stopSignals.Fd(), POLLIN, 0},
                                       {wake.Get(), POLLIN, 0},
                                       {watch.Armed() ? watch.Fd() : -1, POLLIN, 0}}};
            const int timeout = stops > 1                             ? 100
                                : (!folder.empty() && !watch.Armed()) ? kRewatchMs
                                                                      : 1000;
            if (window) {
                window->Wait(fds, timeout);
            } else {
                ::poll(fds.data(), fds.size(), timeout);
            }
            if ((fds[0].revents & POLLIN) != 0) {
                if (const int signal = stopSignals.Take(); signal != 0) {
                    ++stops;
                    if (stops == 1) {
                        station.StopTaking();
                        view->Problem("stopping: no new devices; the running updates end");
                    } else if (stops == 2) {
                        station.Cancel(signal);
                        view->Interrupted(signal);
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
        status = station.ExitCode();
    }
    if (board != nullptr) {
        board->Draw();
    }
    return status;
}
