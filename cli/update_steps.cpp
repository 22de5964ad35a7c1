#include "cli/update_steps.h"

#include <optional>

#include "cli/exit_codes.h"
#include "engine/update_file.h"

UpdateOutcome CheckAndSendFile(const std::string& path, UpdateObserver& observer,
                               const LinkUpdate& link) {
    const std::optional<long long> length = UpdateFileLength(path);
    if (!length || *length < 2) {
        return {length ? kExitFileTooShort : kExitFileUnreadable, "Error: no valid update file!"};
    }
    ProgressSink* progress = observer.TransferStarting(static_cast<std::size_t>(*length / 2));
    const int r = link.update(path, progress);
    const bool signatureError = link.signatureError();
    return {link.exitCode(r, signatureError), VerdictText(r, signatureError, link.verdicts)};
}
