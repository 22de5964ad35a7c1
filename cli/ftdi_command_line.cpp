#include "cli/ftdi_command_line.h"

#include <array>
#include <cstdio>
#include <optional>

#include "cli/command_line.h"
#include "cli/corvane_code.h"
#include "cli/device_request.h"
#include "cli/exit_codes.h"
#include "cli/fleet.h"
#include "cli/network_update.h"
#include "cli/operands.h"
#include "cli/sync_window.h"
#include "cli/terminal_progress.h"
#include "cli/terminal_replug_prompt.h"
#include "cli/update_steps.h"
#include "cli/usbx_command_line.h"
#include "cli/verdict.h"
#include "links/ftdi/communication_ftdi.h"
#include "log/escaped_text.h"
#include "log/text_format.h"

namespace {

constexpr int kTrace = 4;
constexpr int kSourceCommandLine = 9;
constexpr const char* kCorvane = "Corvane";

// The first listed device with the serial number (and the description, when one is given).
std::optional<FTDI_DeviceEntry> FindDevice(CCommunication& link, const FtdiUpdateRequest& request,
                                           int& index) {
    if (link.Dev_UpdateDeviceList() != 0) {
        return std::nullopt;
    }
    for (index = 0; index < link.Dev_GetDeviceCount(); ++index) {
        FTDI_DeviceEntry entry;
        link.Dev_GetDeviceEntry(index, entry);
        if (entry.serialNumber == request.serialNumber &&
            (request.description.empty() || entry.name == request.description)) {
            return entry;
        }
    }
    return std::nullopt;
}

// Tells a Corvane device to start its bootloader; true when it answered that it did.
bool SwitchToBootloader(CCommunication& link, int index, const CorvaneCodeSetting& setting,
                        LogSink& log) {
    if (!setting.code) {
        log.Log(kTrace, "FTDI() - " + setting.source, kSourceCommandLine);
        return false;
    }
    std::array<std::uint8_t, 64> answer{};
    int length = static_cast<int>(answer.size());
    const int r = link.Send_Corvane_CMD(index, CCommunication::kEnterBootloader, *setting.code,
                                        answer.data(), &length);
    const bool switched = r == 0 && length == 2 && answer[0] == 0x01 && answer[1] == 0x00;
    if (switched) {
        log.Log(kTrace, "FTDI() - Corvane switched in BootLoader mode", kSourceCommandLine);
    }
    return switched;
}

UpdateOutcome Update(CCommunication& link, const FtdiUpdateRequest& request, LogSink& log,
                     Clock& clock, UpdateObserver& observer, TerminalReplugPrompt* prompt) {
    int index = -1;
    const std::optional<FTDI_DeviceEntry> device = FindDevice(link, request, index);
    if (!device) {
        return {kExitOpenFailed,
                "ERROR: no FTDI device with serial number " + request.serialNumber + "!"};
    }
    if (device->name == kCorvane) {
        const CorvaneCodeSetting setting = ConfiguredCorvaneCode();
        if (!SwitchToBootloader(link, index, setting, log)) {
            const std::string why = setting.code ? "Error: incorrect response from device!"
                                                 : "Error: " + setting.source + "!";
            if (prompt == nullptr) {
                return {kExitNoSwitch, why};
            }
            prompt->Say(why);
            {
                const TerminalReplugPrompt::CtrlCCancels ctrlC;
                index = link.Dev_RebootTargetDevice(device->name, device->serialNumber, *prompt);
            }
            if (index < 0) {
                return {kExitNoSwitch, "Error: the device did not restart in its bootloader!"};
            }
        }
    }
    if (link.Dev_Open(index, CCommunication::kBootloaderBaud) != 0) {
        return {kExitOpenFailed, "Error: selected device is in use by an other application!"};
    }
    if (const SyncWait wait =
            SynchroniseWithin([&] { return link.Dev_SynchroniseBootloader(index); },
                              request.syncWindowMs, 0, clock, observer);
        !wait.answered) {
        link.Dev_Close();
        return {kExitNoBootloader, NoBootloaderText(wait.waitedMs)};
    }
    observer.Synchronised(link.GetBootloaderInfo());

    UpdateOutcome outcome =
        CheckAndSendFile(request.path, observer,
                         {[&](const std::string& file, ProgressSink* progress) {
                              return link.Dev_UpdateAVR(index, file, progress);
                          },
                          [&] { return link.GetBootloaderInfo().signatureError; },
                          FtdiUpdateExitCode, FtdiUpdateVerdicts()});
    link.Dev_Close();
    return outcome;
}

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
                  std::unique_ptr<FtdiLibrary> library) {
    UpdateOutcome outcome;
    {
        CCommunication link(log, clock, std::move(library), CCommunication::kEveryDevice);
        outcome = Update(link, request, log, clock, observer, prompt);
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
    return RunSingle("FTDI", request.serialNumber, request.path, request.json,
                     [&](UpdateObserver& observer) {
                         return RunFtdiUpdate(request, log, DefaultClock(), observer,
                                              prompt ? &*prompt : nullptr, MakeFtdiLibrary());
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
