#include "cli/station_command.h"

#include <unistd.h>

#include <algorithm>
#include <array>
#include <csignal>
#include <cstdio>
#include <memory>

#include "cli/command_line.h"
#include "cli/operands.h"
#include "cli/station_view.h"
#include "cli/target_list.h"
#include "cli/terminal_progress.h"
#include "engine/device_types.h"
#include "job/job_file.h"
#include "log/escaped_text.h"
#include "records/attempt_origin.h"
#include "records/utc_time.h"
#include "station/fixture_slot.h"
#include "station/station_metrics.h"
#include "station/station_views.h"
#include "station/station_window_hook.h"
#include "update/exit_codes.h"
#include "update/same_device.h"
#include "update/settings.h"

namespace {

constexpr std::array kStationOptions{
    OptionSpec{"--link", true},        OptionSpec{"--slots", true},
    OptionSpec{"--device-type", true}, OptionSpec{"--station", true},
    OptionSpec{"--operator", true},    OptionSpec{"--records", true},
    OptionSpec{"--json", false},       OptionSpec{"--match", true},
    OptionSpec{"--window", false},     OptionSpec{"--job", true},
    OptionSpec{"--metrics", true}};

// What a job sets, and may not be given again beside it: the option and the job's key.
constexpr std::array<std::pair<std::string_view, std::string_view>, 4> kSetByJob{{
    {"--link", "station.link"},
    {"--slots", "station.slots"},
    {"--match", "station.match"},
    {"--device-type", "station.device_type"},
}};

// Resolves every slot before anything opens: a name that can never be a device, or two names
// of one device (which two slot threads would update at once), is an error; what is wrong, or
// nothing. `source` names where the slots come from: "--slots".
std::optional<std::string> SlotError(const LinkRow& row, StationOptions& options,
                                     std::string_view source) {
    const std::vector<std::string>& names = options.slotAddresses;
    for (const std::string& slot : names) {
        std::string error;
        const std::optional<std::string> key = row.slotKey(slot, error);
        if (!error.empty()) {
            return std::string(source) + ": " + error;
        }
        options.slotKeys.push_back(key.value_or(""));
    }
    std::string twice =
        SameDeviceTwice(names, [&](const std::string& name) -> std::optional<std::string> {
            const std::string& key =
                options.slotKeys[std::find(names.begin(), names.end(), name) - names.begin()];
            return key.empty() ? std::nullopt : std::optional(key);
        });
    return twice.empty() ? std::nullopt : std::optional(std::move(twice));
}

// --slots and --match: where the devices of a slot link are.
std::optional<int> ParseSlotsAndMatch(const Operands& operands, const LinkRow& row,
                                      StationOptions& options) {
    const bool slotLink = row.arrival == LinkArrival::FixtureSlots;
    if (const std::optional<std::string> slotList = operands.Option("--slots")) {
        if (!slotLink) {
            return UsageError("station", "--slots is for --link UDP or COM");
        }
        TargetList list = ParseTargets(*slotList, false);
        if (list.targets.empty()) {
            return UsageError("station", list.error);
        }
        options.slotAddresses = std::move(list.targets);
    }
    if (const std::optional<std::string> error = SlotError(row, options, "--slots")) {
        return UsageError("station", *error);
    }
    if (const std::optional<std::string> matchList = operands.Option("--match")) {
        if (!row.takesSerialAdapters) {
            return UsageError("station", "--match is for --link COM");
        }
        for (const std::string& text : ParseTargets(*matchList, false).targets) {
            const std::optional<UsbId> id = ParseUsbId(text);
            if (!id) {
                return UsageError("station", "--match " + text + " is not VID:PID in hex");
            }
            options.match.push_back(*id);
        }
        if (options.match.empty()) {
            return UsageError("station", "--match needs VID:PID");
        }
    }
    if (slotLink && options.slotAddresses.empty() && options.match.empty()) {
        return UsageError("station", row.withoutDevices);
    }
    return std::nullopt;
}

// The station's window, whose stops are delivered as the stop signals are; nothing when it
// cannot open (it has said why).
std::unique_ptr<StationWindowFrontEnd> OpenWindow(StationRun& run, StopSignals& stopSignals) {
    const StationWindowOpener& open = InstalledStationWindowOpener();
    AttemptRecords& records = run.Records();
    const StationWindowSession shown{run.Session(), records.Path(), UtcNow(),
                                     run.Options().slotAddresses,
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

// Serves the session in the view the command line chose and ends its records; the station's
// exit status.
int ServeIn(StationRun& run, StationView& view, StationBoard* board, StationWindowFrontEnd* window,
            StopSignals& stopSignals) {
    run.ShowPlantIn(view);
    int status = 0;
    const auto serve = [&] {
        status = run.Serve(view, stopSignals, [board] {
            if (board != nullptr) {
                board->Draw();
            }
        });
    };
    if (window != nullptr) {
        window->RunBeside(serve, stopSignals.Fd());
    } else {
        serve();
    }
    // The forwarding ends (and with it the plant's notes to the view) before the view does.
    std::string unsent;
    if (!run.FinishRecords(stopSignals, unsent)) {
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

// The station's figures served where the request says, or nothing when it names no address;
// the exit status when they cannot be served.
std::optional<int> ServeMetrics(const StationRequest& request, const StationRun& run, Clock& clock,
                                std::unique_ptr<StationMetrics>& metrics) {
    if (request.metricsListen.empty()) {
        return std::nullopt;
    }
    metrics = std::make_unique<StationMetrics>(run.Session(), request.metricsStation,
                                               FLASHWRIGHT_VERSION, clock);
    std::string error;
    if (!metrics->Listen(request.metricsListen, error)) {
        std::fprintf(stderr, "flashwright station: the metrics cannot be served at %s: %s\n",
                     EscapedText(request.metricsListen).c_str(), EscapedText(error).c_str());
        return kExitMetricsUnavailable;
    }
    return std::nullopt;
}

// "--job FILE": the settings the job locks cannot be given again.
std::optional<int> ParseJobOperands(const Operands& operands, const std::string& job,
                                    StationRequest& request) {
    if (job.empty()) {
        return UsageError("station", "--job needs a job file");
    }
    if (!operands.positional.empty()) {
        return UsageError("station", "the update file is set by the job (job.file)");
    }
    for (const auto& [option, key] : kSetByJob) {
        if (operands.Option(option)) {
            return UsageError(
                "station", std::string(option) + " is set by the job (" + std::string(key) + ")");
        }
    }
    request.jobPath = job;
    return std::nullopt;
}

// Loads the job and takes the station's settings from it; nothing when the station can start,
// otherwise its exit status (the job's problems told as "job check" tells them).
std::optional<int> ApplyJob(StationRequest& request) {
    const JobLoad load = LoadJob(request.jobPath);
    for (const std::string& error : load.errors) {
        std::fprintf(stderr, "flashwright station: %s\n", EscapedText(error).c_str());
    }
    if (!load.job) {
        return load.exitCode;
    }
    const Job& job = *load.job;
    if (job.operatorRequired && !request.operatorGiven) {
        return UsageError("station",
                          "the job requires the operator's name (operator.required): "
                          "give --operator NAME");
    }
    StationOptions& options = request.options;
    options.path = job.file;
    options.link = job.link;
    options.slotAddresses = job.slotAddresses;
    options.match = job.match;
    options.deviceType = job.deviceType;
    options.job = load.job;
    if (request.metricsListen.empty() && job.metricsListen) {
        request.metricsListen = *job.metricsListen;
        request.metricsSource = job.path + ": \"metrics.listen\"";
    }
    // A slot that names no device makes the job unusable, as an unknown link does.
    if (const std::optional<std::string> error =
            SlotError(*FindLink(job.link), options, job.path + ": \"station.slots\"")) {
        std::fprintf(stderr, "flashwright station: %s\n", EscapedText(*error).c_str());
        return kExitJobInvalid;
    }
    return std::nullopt;
}

}  // namespace

std::span<const OptionSpec> StationCommandOptions() {
    return kStationOptions;
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
    StationOptions& options = request.options;
    options.station = operands->Option("--station").value_or(DefaultStationName());
    options.operatorName = operands->Option("--operator").value_or(DefaultOperatorName());
    request.operatorGiven = !operands->Option("--operator").value_or("").empty();
    options.records = operands->Option("--records").value_or("");
    request.json = operands->Option("--json").has_value();
    request.window = operands->Option("--window").has_value();
    request.metricsListen = operands->Option("--metrics").value_or("");
    request.metricsStation = operands->Option("--station").value_or("");
    if (operands->Option("--metrics") && request.metricsListen.empty()) {
        return UsageError("station", "--metrics needs ADDR:PORT");
    }
    if (request.json && request.window) {
        return UsageError("station", "--json and --window exclude each other");
    }
    if (const std::optional<std::string> job = operands->Option("--job")) {
        return ParseJobOperands(*operands, *job, request);
    }
    if (const std::optional<int> code = MissingOperand("station", *operands, {"update file"})) {
        return code;
    }
    options.path = operands->positional[0];
    options.link = UpperCase(operands->Option("--link").value_or(""));
    if (options.link.empty()) {
        return UsageError("station", "--link " + LinkKeywords() + " is missing");
    }
    const LinkRow* row = FindLink(options.link);
    if (row == nullptr) {
        return UsageError("station", "--link " + EscapedText(*operands->Option("--link")) +
                                         " is unknown: use " + LinkKeywords());
    }
    if (const std::optional<int> code = ParseSlotsAndMatch(*operands, *row, options)) {
        return code;
    }
    const std::string deviceType = operands->Option("--device-type").value_or("");
    if (!deviceType.empty()) {
        options.deviceType = SlotDeviceType(*row, deviceType);
        if (options.deviceType == nullptr) {
            return UsageError("station",
                              "--device-type " + deviceType + " is not known for " + options.link);
        }
    }
    return std::nullopt;
}

int RunStationCommand(std::span<const std::string> tokens, LogSink& log) {
    StationRequest request;
    if (const std::optional<int> code = ParseStationRequest(tokens, request)) {
        return *code;
    }
    if (!request.jobPath.empty()) {
        if (const std::optional<int> code = ApplyJob(request)) {
            return *code;
        }
    }
    if (request.metricsListen.empty()) {
        request.metricsListen = SettingsValue("metrics/listen").value_or("");
        request.metricsSource = SettingsFileName() + ": metrics/listen";
    }
    if (!request.metricsListen.empty()) {
        if (const std::optional<std::string> error = MetricsListenError(request.metricsListen)) {
            return UsageError("station", EscapedText(request.metricsSource + ": " + *error));
        }
    }
    Clock& clock = DefaultClock();
    StationRun run(request.options, log, clock);
    if (const std::optional<int> code = run.Open()) {
        return *code;
    }
    std::unique_ptr<StationMetrics> metrics;
    if (const std::optional<int> code = ServeMetrics(request, run, clock, metrics)) {
        return *code;
    }
    StopSignals stopSignals;
    const StationOptions& options = run.Options();
    std::unique_ptr<StationView> view;
    std::unique_ptr<StationWindowFrontEnd> window;
    StationBoard* board = nullptr;
    if (request.json) {
        view = std::make_unique<StationJson>(options.link, options.path, run.FileCheck(), clock);
    } else if (request.window) {
        window = OpenWindow(run, stopSignals);
        if (!window) {
            return kExitUsage;
        }
        view = window->MakeView();
    } else {
        auto shown = std::make_unique<StationBoard>(
            STDERR_FILENO, options.path, run.Session().fileSha256, options.slotAddresses, clock);
        shown->Show();
        board = shown.get();
        view = std::move(shown);
    }
    if (!metrics) {
        return ServeIn(run, *view, board, window.get(), stopSignals);
    }
    StationViews views({view.get(), metrics.get()});
    return ServeIn(run, views, board, window.get(), stopSignals);
}
