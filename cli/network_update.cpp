#include "cli/network_update.h"

#include <cstdio>
#include <limits>

#include "cli/command_line.h"
#include "cli/exit_codes.h"
#include "cli/operands.h"
#include "cli/sync_window.h"
#include "cli/terminal_progress.h"
#include "cli/update_steps.h"
#include "cli/update_verdict.h"
#include "links/communication_udp.h"
#include "log/text_format.h"

namespace {

UpdateOutcome Update(CCommunication_UDP1& link, const std::string& address, const std::string& path,
                     Clock& clock, UpdateObserver& observer) {
    if (const int r = link.Open_Port(address); r != 0) {
        return {kExitOpenFailed, StrPrintf("ERROR: Unable to open a connection (error %i)!", r)};
    }
    if (!SynchroniseWithin([&] { return link.SynchroniseBootloader(); }, kCommandLineSyncWindowMs,
                           1, clock, observer)) {
        return {kExitNoBootloader, NoBootloaderText(kCommandLineSyncWindowMs)};
    }
    observer.Synchronised(link.GetBootloaderInfo());

    return CheckAndSendFile(path, observer,
                            {[&](const std::string& file, ProgressSink* progress) {
                                 return link.UpdateAVR(file, progress);
                             },
                             [&] { return link.GetBootloaderInfo().signatureError; },
                             NetworkUpdateExitCode, NetworkVerdicts()});
}

}  // namespace

int RunNetworkUpdate(const std::string& address, const std::string& path, LogSink& log,
                     Clock& clock, UpdateObserver& observer) {
    UpdateOutcome outcome;
    {
        CCommunication_UDP1 link(log, clock);
        outcome = Update(link, address, path, clock, observer);
    }
    observer.Finished(outcome.verdict, outcome.exitCode);
    return outcome.exitCode;
}

int RunUdpCommand(std::span<const std::string> tokens, LogSink& log) {
    std::string error;
    // Operands after the file are ignored, as they always were: an unquoted path with a blank
    // is cut there and then names a file that does not exist.
    const std::optional<Operands> operands =
        SplitOperands(tokens, {}, std::numeric_limits<std::size_t>::max(), error);
    if (!operands) {
        return UsageError("UDP", error);
    }
    if (operands->help) {
        return PrintUsage();
    }
    const std::vector<std::string>& positional = operands->positional;
    const std::string address = positional.size() > 0 ? positional[0] : std::string();
    const std::string path = positional.size() > 1 ? positional[1] : std::string();
    TerminalProgress display(stderr, TerminalProgress::StderrIsTerminal(), address, DefaultClock());
    return RunNetworkUpdate(address, path, log, DefaultClock(), display);
}
