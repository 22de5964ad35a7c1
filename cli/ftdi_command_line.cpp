#include "cli/ftdi_command_line.h"

#include <array>
#include <cstdio>
#include <optional>

#include "cli/command_line.h"
#include "cli/command_records.h"
#include "cli/device_request.h"
#include "cli/fleet.h"
#include "cli/operands.h"
#include "cli/terminal_progress.h"
#include "cli/terminal_replug_prompt.h"
#include "cli/usbxpress_command_line.h"
#include "links/ftdi/communication_ftdi.h"
#include "log/escaped_text.h"
#include "update/exit_codes.h"
#include "update/ftdi_update.h"

int RunFtdiUpdate(const FtdiUpdateRequest& request, LogSink& log, Clock& clock,
                  UpdateObserver& observer, TerminalReplugPrompt* prompt,
                  std::unique_ptr<FtdiLibrary> library, AttemptRecord* record) {
    const FrontEnd frontEnd{.sync = {SyncRule::Kind::Window, request.syncWindowMs},
                            .logName = "FTDI()",
                            .path = request.path};
    TerminalGuidance guided(observer, prompt, nullptr);
    UpdateOutcome outcome;
    {
        CCommunication link(log, clock, std::move(library), CCommunication::kEveryDevice);
        outcome = UpdateFtdiBySerial(link, request.serialNumber, request.description, frontEnd,
                                     guided, log, clock, [&](const FTDI_DeviceEntry& device) {
                                         if (record != nullptr) {
                                             record->description = device.name;
                                             record->hardware = device.hardware;
                                             record->software = device.software;
                                         }
                                     });
    }
    observer.Finished(outcome.verdict, outcome.exitCode);
    return outcome.exitCode;
}

int RunFtdiCommand(std::span<const std::string> tokens, LogSink& log) {
    FtdiUpdateRequest request;
    if (const std::optional<int> code = ParseDeviceRequest(tokens, "FTDI", request)) {
        return *code;
    }
    std::optional<TerminalReplugPrompt> prompt;
    if (TerminalProgress::StderrIsTerminal()) {
        prompt.emplace(stderr);
    }
    std::unique_ptr<CommandRecords> records;
    if (const std::optional<int> code =
            OpenRecords(request.records, "FTDI", request.path, records)) {
        return *code;
    }
    return RunSingle(
        "FTDI", request.serialNumber, request.path, request.json, [&](UpdateObserver& shown) {
            return WithRecords(records.get(), request.serialNumber, shown,
                               [&](UpdateObserver& observer, AttemptRecord* record) {
                                   return RunFtdiUpdate(request, log, DefaultClock(), observer,
                                                        prompt ? &*prompt : nullptr,
                                                        MakeFtdiLibrary(), record);
                               });
        });
}
