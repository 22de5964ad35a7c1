#include "update/update_steps.h"

#include <optional>

#include "engine/link_profiles.h"
#include "engine/update_file.h"
#include "log/text_format.h"
#include "update/exit_codes.h"

namespace {

constexpr int kTraceLevel = 4;

}  // namespace

void LogStep(LogSink& log, const FrontEnd& frontEnd, const std::string& step) {
    if (frontEnd.logsSteps) {
        log.Log(kTraceLevel, std::string(frontEnd.logName) + " - " + step, kSourcePages);
    }
}

UpdateOutcome CheckAndSendFile(UpdateObserver& observer, const LinkUpdate& link,
                               const FrontEnd& frontEnd, LogSink& log) {
    observer.Synchronised(link.info());
    const std::optional<long long> length = UpdateFileLength(frontEnd.path);
    if (!length || *length < 2) {
        if (link.close && frontEnd.closesAfterBadFile) {
            link.close();
        }
        return {length ? kExitFileTooShort : kExitFileUnreadable, "Error: no valid update file!"};
    }
    ProgressSink* progress = observer.TransferStarting(static_cast<std::size_t>(*length / 2));
    const int r = link.update(frontEnd.path, progress);
    const bool signatureError = link.info().signatureError;
    if (link.close) {
        link.close();
    }
    UpdateOutcome outcome{ResultExitCode(r, signatureError, link.results),
                          VerdictText(r, signatureError, link.results)};
    if (frontEnd.logsSteps) {
        Logf(log, kTraceLevel, kSourcePages, "~%s - finished (%s)", frontEnd.logName,
             outcome.verdict.c_str());
    }
    return outcome;
}
