#include "update/update_steps.h"

#include <optional>

#include "engine/bootloader_protocol.h"
#include "engine/link_profiles.h"
#include "engine/update_file.h"
#include "log/text_format.h"
#include "update/exit_codes.h"
#include "update/update_file_check.h"

namespace {

constexpr int kTraceLevel = 4;

// Hands the transfer the front end's progress (if it shows any) and asks the observer before
// every frame whether the update must stop, so every link's transfer honours a stop.
class StoppableProgress final : public ProgressSink {
  public:
    StoppableProgress(UpdateObserver& observer, ProgressSink* shown)
        : observer_(observer), shown_(shown) {}
    void SetRange(int low, int high) override {
        if (shown_ != nullptr) {
            shown_->SetRange(low, high);
        }
    }
    void SetPos(int position) override {
        if (shown_ != nullptr) {
            shown_->SetPos(position);
        }
    }
    void FrameSent(int frameNumber) override {
        if (shown_ != nullptr) {
            shown_->FrameSent(frameNumber);
        }
    }
    void FrameRetried(int frameNumber, std::uint8_t reply) override {
        if (shown_ != nullptr) {
            shown_->FrameRetried(frameNumber, reply);
        }
    }
    bool StopRequested() override { return observer_.StopRequested(); }

  private:
    UpdateObserver& observer_;
    ProgressSink* shown_;
};

}  // namespace

void LogStep(LogSink& log, const FrontEnd& frontEnd, const std::string& step) {
    if (frontEnd.logsSteps) {
        log.Log(kTraceLevel, std::string(frontEnd.logName) + " - " + step, kSourcePages);
    }
}

UpdateOutcome CheckAndSendFile(UpdateObserver& observer, const LinkUpdate& link,
                               const FrontEnd& frontEnd, LogSink& log) {
    const BootloaderInfo info = link.info();
    observer.Synchronised(info);
    if (frontEnd.expectDevice) {
        if (std::optional<std::string> wrong = frontEnd.expectDevice(info)) {
            if (link.close) {
                link.close();
            }
            LogStep(log, frontEnd, *wrong);
            return {kExitWrongDevice, std::move(*wrong)};
        }
    }
    long long length = 0;
    if (const int fault = UpdateFileLengthRule(frontEnd.path, length); fault != 0) {
        if (link.close && frontEnd.closesAfterBadFile) {
            link.close();
        }
        return {fault, "Error: no valid update file!"};
    }
    StoppableProgress progress(observer,
                               observer.TransferStarting(static_cast<std::size_t>(length / 2)));
    const int r = link.update(frontEnd.path, &progress);
    const bool signatureError = link.info().signatureError;
    if (link.close) {
        link.close();
    }
    UpdateOutcome outcome =
        r == kTransferStopped
            ? UpdateOutcome{kExitStopped, "Error: the update was stopped between two frames!"}
            : UpdateOutcome{ResultExitCode(r, signatureError, link.results),
                            VerdictText(r, signatureError, link.results)};
    if (frontEnd.logsSteps) {
        Logf(log, kTraceLevel, kSourcePages, "~%s - finished (%s)", frontEnd.logName,
             outcome.verdict.c_str());
    }
    return outcome;
}
