#include "cli/usbxpress_command_line.h"

#include <array>
#include <optional>

#include "cli/command_line.h"
#include "cli/command_records.h"
#include "cli/device_request.h"
#include "cli/fleet.h"
#include "cli/terminal_progress.h"
#include "cli/terminal_replug_prompt.h"
#include "links/usbxpress/communication_silabs.h"
#include "links/usbxpress/usbxpress_vendor.h"
#include "log/escaped_text.h"
#include "update/exit_codes.h"
#include "update/settings.h"
#include "update/usbxpress_update.h"

int RunUsbXpressUpdate(const UsbXpressUpdateRequest& request, LogSink& log, Clock& clock,
                       UpdateObserver& observer, std::FILE* prompt,
                       std::unique_ptr<UsbXpressLibrary> library, AttemptRecord* record) {
    const FrontEnd frontEnd{.sync = {SyncRule::Kind::Window, request.syncWindowMs},
                            .path = request.path};
    TerminalGuidance guided(observer, nullptr, prompt);
    UpdateOutcome outcome;
    {
        CSILab_USB link(log, clock, std::move(library));
        outcome = UpdateUsbXpressBySerial(link, request.serialNumber, request.description, frontEnd,
                                          guided, log, clock, [&](const std::string& description) {
                                              if (record != nullptr) {
                                                  record->description = description;
                                              }
                                          });
    }
    observer.Finished(outcome.verdict, outcome.exitCode);
    return outcome.exitCode;
}

int RunUsbXpressCommand(std::span<const std::string> tokens, LogSink& log) {
    UsbXpressUpdateRequest request;
    if (const std::optional<int> code = ParseDeviceRequest(tokens, "USBX", request)) {
        return *code;
    }
    std::unique_ptr<CommandRecords> records;
    if (const std::optional<int> code =
            OpenRecords(request.records, "USBX", request.path, records)) {
        return *code;
    }
    const bool terminal = TerminalProgress::StderrIsTerminal();
    return RunSingle(
        "USBX", request.serialNumber, request.path, request.json, [&](UpdateObserver& shown) {
            return WithRecords(
                records.get(), request.serialNumber, shown,
                [&](UpdateObserver& observer, AttemptRecord* record) {
                    return RunUsbXpressUpdate(
                        request, log, DefaultClock(), observer, terminal ? stderr : nullptr,
                        MakeUsbXpressLibrary(ConfiguredUsbXpressLibrary()).library, record);
                });
        });
}
