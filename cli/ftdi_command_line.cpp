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

namespace {

// The listing names every device; the USB I page shows only the first few, so say how many
// it leaves out.
void NoteDevicesBeyondThePage(int count) {
    if (count > CCommunication::kMaxDevices) {
        std::fprintf(stderr,
                     "flashwright: %d FTDI devices attached: the USB I page shows the first %d, "
                     "not the other %d\n",
                     count, CCommunication::kMaxDevices, count - CCommunication::kMaxDevices);
    }
}

}  // namespace

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

int RunListDevicesCommand(std::span<const std::string> tokens, LogSink& log) {
    if (const std::optional<int> code = ParseNoOperands(tokens, "--list-devices")) {
        return *code;
    }
    CCommunication link(log, DefaultClock(), MakeFtdiLibrary(), CCommunication::kEveryDevice);
    if (link.Dev_UpdateDeviceList() != 0) {
        std::fprintf(stderr, "flashwright: the FTDI devices cannot be listed\n");
        return kExitOpenFailed;
    }
    for (int i = 0; i < link.Dev_GetDeviceCount(); ++i) {
        FTDI_DeviceEntry e;
        link.Dev_GetDeviceEntry(i, e);
        if (e.name.empty() && e.serialNumber.empty()) {
            // The library sees the chip but may not read its strings: no access to it.
            std::printf("FTDI  %d  (no access: install the udev rule, see the README)\n", i);
            continue;
        }
        std::printf("FTDI  %d  %s  %s", i, EscapedText(e.name).c_str(),
                    EscapedText(e.serialNumber).c_str());
        if (!e.hardware.empty() || !e.software.empty()) {
            std::printf("  hardware %s  software %s", EscapedText(e.hardware).c_str(),
                        EscapedText(e.software).c_str());
        }
        std::printf("\n");
    }
    NoteDevicesBeyondThePage(link.Dev_GetDeviceCount());
    ListUsbXpressDevices(log);
    return 0;
}
