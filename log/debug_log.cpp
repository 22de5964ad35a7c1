#include "log/debug_log.h"

#include <chrono>
#include <exception>

#include "log/debug_thread.h"
#include "log/log_time.h"
#include "log/program_folder.h"

namespace {

// Time given at shutdown to write what is queued, and to the worker to close everything.
constexpr std::chrono::milliseconds kDrainTimeout{1000};
constexpr std::chrono::milliseconds kStopTimeout{500};

}  // namespace

C_Debug_Log::C_Debug_Log() : C_Debug_Log(DebugLogOptions{}) {}

C_Debug_Log::C_Debug_Log(DebugLogOptions options)
    : folder_(options.folder.empty() ? DefaultLogFolder() : options.folder),
      now_(options.now ? std::move(options.now) : std::function<LogTime()>(LocalTimeNow)) {
    if (!options.startWorker) {
        return;
    }
    std::shared_ptr<C_Debug_Thread> worker = C_Debug_Thread::Create(
        {folder_, options.listenAddress, options.textPort, options.dumpPort});
    if (!worker->Start()) {
        // The program runs on without logging; the application tells the user (HasWorker).
        return;
    }
    worker_ = std::move(worker);
}

C_Debug_Log::~C_Debug_Log() {
    if (worker_) {
        worker_->WaitForEmptyQueue(kDrainTimeout);
        worker_->Stop(kStopTimeout);
        worker_.reset();
    }
}

bool C_Debug_Log::Wants(int level) const {
    return worker_ && worker_->Wants(level);
}

void C_Debug_Log::Log(int level, std::string_view text, int source) {
    if (Wants(level)) {
        Queue(level, source, text, {});
    }
}

void C_Debug_Log::LogData(int level, std::span<const std::uint8_t> data, int source) {
    if (!data.empty() && Wants(level)) {
        Queue(level, source, {}, data);
    }
}

void C_Debug_Log::LogDeviceData(int level, std::span<const std::uint8_t> data, int source,
                                std::string_view device) {
    if (!data.empty() && Wants(level)) {
        Queue(level, source, {}, data, device);
    }
}

void C_Debug_Log::Queue(int level, int source, std::string_view text,
                        std::span<const std::uint8_t> data, std::string_view device) {
    try {
        LogEntry entry;
        entry.time = now_();
        entry.level = level;
        entry.source = source;
        entry.isDump = !data.empty();
        entry.text = std::string(text);
        entry.data.assign(data.begin(), data.end());
        entry.device = std::string(device);
        worker_->Queue(std::move(entry));
    } catch (const std::exception&) {
        // Out of memory: the entry is dropped.
    }
}

int C_Debug_Log::SetLevel(int level) {
    return worker_ ? worker_->SetLevel(level) : 0;
}

void C_Debug_Log::SetDumpFormat(unsigned format) {
    if (worker_) {
        worker_->SetDumpFormat(format);
    }
}

int C_Debug_Log::SetOutputs(bool textFile, bool dumpFile, bool textListener, bool dumpListener) {
    if (worker_) {
        worker_->SetOutputs(textFile, dumpFile, textListener, dumpListener);
    }
    return 0;
}

int C_Debug_Log::GetOutputs(bool& textFile, bool& dumpFile, bool& textListener,
                            bool& dumpListener) const {
    if (!worker_) {
        return -1;
    }
    worker_->GetOutputs(textFile, dumpFile, textListener, dumpListener);
    return 0;
}

std::string C_Debug_Log::Folder() const {
    return folder_;
}
