#include "cli/serial_command_line.h"

#include <QCoreApplication>
#include <QThread>

#include <array>
#include <charconv>
#include <cstdio>
#include <functional>
#include <memory>
#include <optional>

#include "cli/command_line.h"
#include "cli/command_records.h"
#include "cli/fleet.h"
#include "cli/network_command_line.h"
#include "cli/operands.h"
#include "update/same_device.h"
#include "cli/target_list.h"
#include "cli/terminal_progress.h"
#include "engine/device_types.h"
#include "links/serial/communication_com.h"
#include "log/escaped_text.h"
#include "log/text_format.h"
#include "update/exit_codes.h"
#include "update/serial_update.h"
#include "update/sync_window.h"

namespace {

// Serial ports need a QCoreApplication in the thread; a windowless run makes its own.
std::unique_ptr<QCoreApplication> EnsureCoreApplication() {
    if (QCoreApplication::instance() != nullptr) {
        return nullptr;
    }
    static int argc = 1;
    static char name[] = "flashwright";
    static char* argv[] = {name, nullptr};
    return std::make_unique<QCoreApplication>(argc, argv);
}

// A serial port watches its file with socket notifiers, which work only on a thread Qt
// started; a run over several ports updates each on a thread of its own, so the port's work
// goes to a QThread there. The main thread, with its QCoreApplication, runs it itself.
int OnQtThread(const std::function<int()>& work) {
    if (QThread::currentThread()->eventDispatcher() != nullptr) {
        return work();
    }
    int code = 0;
    const std::unique_ptr<QThread> thread(QThread::create([&] { code = work(); }));
    thread->start();
    thread->wait();
    return code;
}

constexpr std::array kComOptions{OptionSpec{"--device-type", true}, OptionSpec{"--wait", true},
                                 OptionSpec{"--json", false}, OptionSpec{"--records", true}};

// The request the operands ask for; false with `error` set on a usage error.
bool ParseRequest(const Operands& operands, SerialUpdateRequest& request, std::string& error) {
    if (const std::optional<std::string> type = operands.Option("--device-type")) {
        if (*type == "mirabel" || *type == "Mirabel") {
            request.mirabel = true;
        } else if (*type != "unknown") {
            error = "--device-type: expected unknown or mirabel, got \"" + *type + "\"";
            return false;
        }
    }
    if (const std::optional<std::string> wait = operands.Option("--wait")) {
        const std::optional<unsigned> window = ParseWaitSeconds(*wait);
        if (!window) {
            error = "--wait: expected whole seconds from 1 to 86400, got \"" + *wait + "\"";
            return false;
        }
        request.syncWindowMs = *window;
    }
    const std::vector<std::string>& positional = operands.positional;
    // A path that exists is one port, whatever characters it holds.
    TargetList ports = ParseTargets(positional.size() > 0 ? positional[0] : std::string(), true);
    if (ports.targets.empty()) {
        error = ports.error;
        return false;
    }
    request.ports = std::move(ports.targets);
    request.port = request.ports.front();
    request.json = operands.Option("--json").has_value();
    request.records = operands.Option("--records").value_or(std::string());
    if (operands.Option("--records") && request.records.empty()) {
        error = "--records: the path is empty";
        return false;
    }
    request.path = positional.size() > 1 ? positional[1] : std::string();
    if (positional.size() > 2) {
        const std::string& text = positional[2];
        const auto [end, ec] =
            std::from_chars(text.data(), text.data() + text.size(), request.baud);
        if (ec != std::errc() || end != text.data() + text.size() || text.empty()) {
            error = "not a baud rate: \"" + text + "\"";
            return false;
        }
    }
    return true;
}

}  // namespace

int RunSerialUpdate(const SerialUpdateRequest& request, LogSink& log, Clock& clock,
                    UpdateObserver& observer) {
    const FrontEnd frontEnd{.sync = {SyncRule::Kind::Window, request.syncWindowMs},
                            .path = request.path};
    UpdateOutcome outcome;
    {
        const std::unique_ptr<SerialLink> link = MakeSerialLink(log, clock);
        outcome = UpdateOverSerial(
            *link, request.port, request.baud,
            request.mirabel ? FindDeviceType(UpdateLink::Serial, "Mirabel") : nullptr, frontEnd,
            observer, log, clock);
    }
    observer.Finished(outcome.verdict, outcome.exitCode);
    return outcome.exitCode;
}

std::optional<int> ParseComRequest(std::span<const std::string> tokens,
                                   SerialUpdateRequest& request) {
    std::string error;
    const std::optional<Operands> operands = SplitOperands(tokens, kComOptions, 3, error);
    if (!operands || !ParseRequest(*operands, request, error)) {
        return UsageError("COM", error);
    }
    if (operands->help) {
        return PrintHelp(*operands);
    }
    return MissingOperand("COM", *operands, {"serial port", "update file"});
}

int RunComCommand(std::span<const std::string> tokens, LogSink& log) {
    SerialUpdateRequest request;
    if (const std::optional<int> code = ParseComRequest(tokens, request)) {
        return *code;
    }
    if (const std::string twice = SameDeviceTwice(request.ports, SerialDeviceKey); !twice.empty()) {
        return UsageError("COM", twice);
    }
    std::unique_ptr<CommandRecords> records;
    if (const std::optional<int> code =
            OpenRecords(request.records, "COM", request.path, records)) {
        return *code;
    }
    const auto app = EnsureCoreApplication();
    return RunTargets(
        "COM", request.ports, request.path, request.json,
        [&](const std::string& port, LogSink& deviceLog, UpdateObserver& shown) {
            SerialUpdateRequest one = request;
            one.port = port;
            return WithRecords(
                records.get(), port, shown, [&](UpdateObserver& observer, AttemptRecord*) {
                    return OnQtThread(
                        [&] { return RunSerialUpdate(one, deviceLog, DefaultClock(), observer); });
                });
        },
        log);
}

int RunListPortsCommand(std::span<const std::string> tokens, LogSink& log) {
    if (const std::optional<int> code = ParseNoOperands(tokens, "--list-ports")) {
        return *code;
    }
    const auto app = EnsureCoreApplication();
    std::vector<SerialPortEntry> ports;
    CCommunication_COM(log).COM_EnumeratePorts(ports);
    for (const SerialPortEntry& port : ports) {
        if (port.description.empty()) {
            std::printf("%s\n", EscapedText(port.name).c_str());
        } else {
            std::printf("%s  %s\n", EscapedText(port.name).c_str(),
                        EscapedText(port.description).c_str());
        }
    }
    return 0;
}
