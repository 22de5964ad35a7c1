#include "cli/usbx_command_line.h"

#include <array>
#include <optional>

#include "cli/command_line.h"
#include "cli/device_request.h"
#include "cli/exit_codes.h"
#include "cli/fleet.h"
#include "cli/terminal_progress.h"
#include "cli/update_steps.h"
#include "cli/verdict.h"
#include "links/usbxpress/communication_silabs.h"
#include "links/usbxpress/usbxpress_vendor.h"
#include "log/escaped_text.h"

namespace {

constexpr const char* kPellix = "Pellix-USB";
// The pause after every failed synchronisation call, as the USB II page makes it: however a
// call fails, the attempts never follow one another without a break.
constexpr unsigned kAfterFailedSyncMs = 10;
constexpr const char* kStartFirmwareUpdate =
    "<StartFirmwareUpdate>\n <Session>0</Session>\n <TxID>1</TxID>\n</StartFirmwareUpdate>";
constexpr const char* kPowerCycle =
    "Please switch off the power supply of the device\nand wait 5 seconds. Then switch on the "
    "power supply.\nThe device will restart and activate the bootloader!";

// The index of the first device with the serial number (and description, when given).
std::optional<int> FindDevice(CSILab_USB& link, const UsbxUpdateRequest& request,
                              std::string& description) {
    const int count = link.Dev_GetNumDevices();
    for (int i = 0; i < count; ++i) {
        std::string serial;
        if (link.Dev_Get_Description(i, serial, description) == 0 &&
            serial == request.serialNumber &&
            (request.description.empty() || description == request.description)) {
            return i;
        }
    }
    return std::nullopt;
}

UpdateOutcome Update(CSILab_USB& link, const UsbxUpdateRequest& request, Clock& clock,
                     UpdateObserver& observer, std::FILE* prompt) {
    std::string description;
    const std::optional<int> index = FindDevice(link, request, description);
    if (!index) {
        return {kExitOpenFailed,
                "ERROR: no USBXpress device with serial number " + request.serialNumber + "!"};
    }
    if (description == kPellix) {
        // The device's application starts its firmware update; no answer comes.
        link.Dev_Open(*index, CSILab_USB::kBaud);
        link.Send_XML_Cmd(CSILab_USB::kXmlCommand, kStartFirmwareUpdate);
    }
    if (link.Dev_Open(*index, CSILab_USB::kBaud) != 0) {
        return {kExitOpenFailed,
                "Unable to open a connection to the device!\nPlease check all cable."};
    }
    if (prompt != nullptr) {
        std::fprintf(prompt, "Synchronizing device: %s\n", kPowerCycle);
    }
    if (const SyncWait wait =
            SynchroniseWithin([&] { return link.Dev_SynchroniseBootloader(); },
                              request.syncWindowMs, kAfterFailedSyncMs, clock, observer);
        !wait.answered) {
        link.Dev_Close();
        return {kExitNoBootloader, NoBootloaderText(wait.waitedMs)};
    }
    observer.Synchronised(link.GetBootloaderInfo());
    // The link's codes are the network link's, so their exit codes are too.
    UpdateOutcome outcome =
        CheckAndSendFile(request.path, observer,
                         {[&](const std::string& file, ProgressSink* progress) {
                              return link.Dev_UpdateAVR(file, progress);
                          },
                          [&] { return link.GetBootloaderInfo().signatureError; },
                          NetworkUpdateExitCode, SilabsUpdateVerdicts()});
    link.Dev_Close();
    return outcome;
}

}  // namespace

int RunUsbxUpdate(const UsbxUpdateRequest& request, LogSink& log, Clock& clock,
                  UpdateObserver& observer, std::FILE* prompt,
                  std::unique_ptr<UsbXpressLibrary> library) {
    UpdateOutcome outcome;
    {
        CSILab_USB link(log, clock, std::move(library));
        outcome = Update(link, request, clock, observer, prompt);
    }
    observer.Finished(outcome.verdict, outcome.exitCode);
    return outcome.exitCode;
}

int RunUsbxCommand(std::span<const std::string> tokens, LogSink& log) {
    UsbxUpdateRequest request;
    if (const std::optional<int> code = ParseDeviceRequest(tokens, "USBX", request)) {
        return *code;
    }
    const bool terminal = TerminalProgress::StderrIsTerminal();
    return RunSingle(
        "USBX", request.serialNumber, request.path, request.json, [&](UpdateObserver& observer) {
            return RunUsbxUpdate(request, log, DefaultClock(), observer,
                                 terminal ? stderr : nullptr, MakeUsbXpressLibrary().library);
        });
}

void ListUsbXpressDevices(LogSink& log) {
    UsbXpressChoice choice = MakeUsbXpressLibrary();
    if (!choice.unavailable.empty()) {
        std::fprintf(stderr, "flashwright: no USBXpress devices: %s\n", choice.unavailable.c_str());
        return;
    }
    CSILab_USB link(log, DefaultClock(), std::move(choice.library));
    const int count = link.Dev_GetNumDevices();
    for (int i = 0; i < count; ++i) {
        std::string serial;
        std::string description;
        if (link.Dev_Get_Description(i, serial, description) == 0) {
            std::printf("USBX  %d  %s  %s\n", i, EscapedText(description).c_str(),
                        EscapedText(serial).c_str());
        } else {
            std::printf("USBX  %d  (its description cannot be read)\n", i);
        }
    }
}
