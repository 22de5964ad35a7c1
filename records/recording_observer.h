#pragma once

#include <functional>
#include <mutex>

#include "records/attempt_record.h"
#include "update/update_observer.h"

// Passes every call on to a front end's own observer and notes in the attempt's record what the
// records keep of it: the bootloader's version and device, the frames written and resent, and
// the outcome. Where another thread may read the record meanwhile (a station that records an
// attempt as interrupted), `guard` is the lock both hold while they touch it.
class RecordingObserver final : public UpdateObserver {
  public:
    RecordingObserver(UpdateObserver& shown, AttemptRecord& record, std::mutex* guard = nullptr);

    void ShowState(StateKind kind, std::string_view caption, std::string_view text) override;
    void HideState() override;
    bool Cancelled() override;
    bool StopRequested() override;
    bool DispatchesEvents() const override;
    void Busy(bool on) override;
    void WaitingForBootloader(std::uint64_t elapsedMs) override;
    void Synchronised(const BootloaderInfo& info) override;
    ProgressSink* TransferStarting(std::size_t imageBytes) override;
    void Acknowledge(std::string_view message) override;
    bool Confirm(std::string_view question) override;
    bool CanGuideReplug() const override;
    int GuideReplug(const std::function<int(ReplugPrompt&)>& restart) override;
    void DeviceFound(std::string_view name, std::string_view hardware,
                     std::string_view software) override;
    void Finished(std::string_view verdict, int exitCode) override;

    // Changes the record under the guard, when there is one: for what the update learns of the
    // device besides what this observer sees (a Corvane device's version texts).
    void Note(const std::function<void(AttemptRecord&)>& change);

  private:
    // Counts the frames on their way to the front end's progress.
    class CountingSink final : public ProgressSink {
      public:
        explicit CountingSink(RecordingObserver& owner) : owner_(owner) {}
        ProgressSink* shown = nullptr;
        void SetRange(int low, int high) override;
        void SetPos(int position) override;
        void FrameSent(int frameNumber) override;
        void FrameRetried(int frameNumber, std::uint8_t reply) override;

      private:
        RecordingObserver& owner_;
    };

    UpdateObserver& shown_;
    AttemptRecord& record_;
    std::mutex* guard_;
    CountingSink counter_;
};
