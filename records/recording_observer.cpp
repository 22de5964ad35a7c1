#include "records/recording_observer.h"

#include "engine/device_identity.h"
#include "log/text_format.h"

RecordingObserver::RecordingObserver(UpdateObserver& shown, AttemptRecord& record,
                                     std::mutex* guard)
    : shown_(shown), record_(record), guard_(guard), counter_(*this) {}

void RecordingObserver::Note(const std::function<void(AttemptRecord&)>& change) {
    if (guard_ == nullptr) {
        change(record_);
        return;
    }
    const std::lock_guard hold(*guard_);
    change(record_);
}

void RecordingObserver::ShowState(StateKind kind, std::string_view caption, std::string_view text) {
    shown_.ShowState(kind, caption, text);
}

void RecordingObserver::HideState() {
    shown_.HideState();
}

bool RecordingObserver::Cancelled() {
    return shown_.Cancelled();
}

bool RecordingObserver::StopRequested() {
    return shown_.StopRequested();
}

bool RecordingObserver::DispatchesEvents() const {
    return shown_.DispatchesEvents();
}

void RecordingObserver::Busy(bool on) {
    shown_.Busy(on);
}

void RecordingObserver::WaitingForBootloader(std::uint64_t elapsedMs) {
    shown_.WaitingForBootloader(elapsedMs);
}

void RecordingObserver::Synchronised(const BootloaderInfo& info) {
    Note([&](AttemptRecord& r) {
        r.bootloaderVersion = BootloaderVersionDigits(info.versionHigh, info.versionLow);
        r.deviceId = info.deviceId;
        r.deviceName = DeviceName(info.deviceId);
    });
    shown_.Synchronised(info);
}

ProgressSink* RecordingObserver::TransferStarting(std::size_t imageBytes) {
    counter_.shown = shown_.TransferStarting(imageBytes);
    return &counter_;
}

void RecordingObserver::Acknowledge(std::string_view message) {
    shown_.Acknowledge(message);
}

bool RecordingObserver::Confirm(std::string_view question) {
    return shown_.Confirm(question);
}

bool RecordingObserver::CanGuideReplug() const {
    return shown_.CanGuideReplug();
}

int RecordingObserver::GuideReplug(const std::function<int(ReplugPrompt&)>& restart) {
    return shown_.GuideReplug(restart);
}

void RecordingObserver::DeviceFound(std::string_view name, std::string_view hardware,
                                    std::string_view software) {
    Note([&](AttemptRecord& r) {
        r.description = name;
        r.hardware = hardware;
        r.software = software;
    });
    shown_.DeviceFound(name, hardware, software);
}

void RecordingObserver::Finished(std::string_view verdict, int exitCode) {
    Note([&](AttemptRecord& r) {
        r.resultCode = exitCode;
        r.message = std::string(verdict);
        r.state = AttemptState::Finished;
    });
    shown_.Finished(verdict, exitCode);
}

void RecordingObserver::CountingSink::SetRange(int low, int high) {
    if (shown != nullptr) {
        shown->SetRange(low, high);
    }
}

void RecordingObserver::CountingSink::SetPos(int position) {
    if (shown != nullptr) {
        shown->SetPos(position);
    }
}

void RecordingObserver::CountingSink::FrameSent(int frameNumber) {
    owner_.Note([](AttemptRecord& r) { ++r.framesSent; });
    if (shown != nullptr) {
        shown->FrameSent(frameNumber);
    }
}

void RecordingObserver::CountingSink::FrameRetried(int frameNumber, std::uint8_t reply) {
    owner_.Note([](AttemptRecord& r) { ++r.retries; });
    if (shown != nullptr) {
        shown->FrameRetried(frameNumber, reply);
    }
}
