#include "log/debug_thread.h"

#include <sys/resource.h>
#include <unistd.h>

#include <cerrno>
#include <new>
#include <system_error>

#include "log/log_time.h"

namespace {

// One step below normal priority: the user-interface thread comes first.
void LowerThisThreadsPriority() {
    const pid_t tid = ::gettid();
    errno = 0;
    const int nice = ::getpriority(PRIO_PROCESS, static_cast<id_t>(tid));
    if (errno == 0) {
        ::setpriority(PRIO_PROCESS, static_cast<id_t>(tid), nice + 1);
    }
}

}  // namespace

std::shared_ptr<C_Debug_Thread> C_Debug_Thread::Create(DebugThreadSettings settings) {
    return std::make_shared<C_Debug_Thread>(PassKey{}, std::move(settings));
}

C_Debug_Thread::C_Debug_Thread(PassKey, DebugThreadSettings settings)
    : settings_(std::move(settings)) {}

C_Debug_Thread::~C_Debug_Thread() {
    // The thread holds a reference while it runs, so it is either joined or detached by Stop,
    // or this is the thread itself dropping the last reference as it ends.
    if (thread_.joinable()) {
        if (thread_.get_id() == std::this_thread::get_id()) {
            thread_.detach();
        } else {
            thread_.join();
        }
    }
}

bool C_Debug_Thread::Start() {
    try {
        thread_ = std::thread([self = shared_from_this()] { self->Run(); });
        return true;
    } catch (const std::system_error&) {
        return false;
    }
}

bool C_Debug_Thread::Stop(std::chrono::milliseconds timeout) {
    stop_.store(true);
    Wake();
    if (!thread_.joinable()) {
        return true;
    }
    bool ended = false;
    {
        std::unique_lock lock(queueMutex_);
        ended = idleCv_.wait_for(lock, timeout, [this] { return ended_; });
    }
    if (ended) {
        thread_.join();
    } else {
        thread_.detach();
    }
    return ended;
}

void C_Debug_Thread::WaitForEmptyQueue(std::chrono::milliseconds timeout) {
    std::unique_lock lock(queueMutex_);
    idleCv_.wait_for(lock, timeout, [this] { return queue_.empty() || ended_; });
}

bool C_Debug_Thread::Wants(int level) const {
    return level >= 0 && level <= 5 && outputs_.load(std::memory_order_relaxed) != 0 &&
           level <= threshold_.load(std::memory_order_relaxed);
}

void C_Debug_Thread::Queue(LogEntry&& entry) {
    {
        std::lock_guard lock(queueMutex_);
        queue_.push_back(std::move(entry));
    }
    workCv_.notify_one();
}

int C_Debug_Thread::SetLevel(int level) {
    if (level < 0 || level > 5) {
        return -1;
    }
    threshold_.store(level);
    return 0;
}

void C_Debug_Thread::SetDumpFormat(unsigned format) {
    if (format <= kDumpDecimal) {
        dumpFormat_.store(static_cast<int>(format));
    }
}

void C_Debug_Thread::SetOutputs(bool textFile, bool dumpFile, bool textListener,
                                bool dumpListener) {
    {
        std::lock_guard lock(outputMutex_);
        const unsigned outputs =
            OpenFiles(textFile, dumpFile) | StartListeners(textListener, dumpListener);
        // Stored once, so a concurrent Log never sees a passing all-off state.
        outputs_.store(outputs);
        if (outputs == 0) {
            DiscardQueue();
        }
    }
    Wake();
}

void C_Debug_Thread::GetOutputs(bool& textFile, bool& dumpFile, bool& textListener,
                                bool& dumpListener) const {
    const unsigned outputs = outputs_.load();
    textFile = (outputs & kTextFile) != 0;
    dumpFile = (outputs & kDumpFile) != 0;
    textListener = (outputs & kTextListener) != 0;
    dumpListener = (outputs & kDumpListener) != 0;
}

std::size_t C_Debug_Thread::QueueLength() const {
    std::lock_guard lock(queueMutex_);
    return queue_.size();
}

// Returns the switches of the files that are open afterwards.
unsigned C_Debug_Thread::OpenFiles(bool text, bool dump) {
    textFile_.Close();
    dumpFile_.Close();
    if (!text && !dump) {
        return 0;
    }
    std::error_code ignored;
    std::filesystem::create_directories(settings_.folder, ignored);
    if (text && !textFile_.Open(settings_.folder / "debug_log.txt")) {
        return 0;
    }
    if (dump && !dumpFile_.Open(settings_.folder / "debug_log.bin")) {
        // The files are switched together: without the dump file the text file goes off too,
        // and its switch with it.
        textFile_.Close();
        return 0;
    }
    return (text ? kTextFile : 0U) | (dump ? kDumpFile : 0U);
}

// Returns the listener switches. A switch stays on when its port cannot be bound: the
// failure is silent, and the files go on being written.
unsigned C_Debug_Thread::StartListeners(bool text, bool dump) {
    textListener_.Stop();
    dumpListener_.Stop();
    if (text) {
        textListener_.Start(settings_.listenAddress, settings_.textPort);
    }
    if (dump) {
        dumpListener_.Start(settings_.listenAddress, settings_.dumpPort);
    }
    return (text ? kTextListener : 0U) | (dump ? kDumpListener : 0U);
}

void C_Debug_Thread::DiscardQueue() {
    std::deque<LogEntry> discarded;
    {
        std::lock_guard lock(queueMutex_);
        discarded.swap(queue_);
    }
    idleCv_.notify_all();
}

void C_Debug_Thread::Wake() {
    // Passing through the lock orders the change before the worker's next look at it.
    { std::lock_guard lock(queueMutex_); }
    workCv_.notify_all();
}

void C_Debug_Thread::Run() {
    LowerThisThreadsPriority();
    do {
        passes_.fetch_add(1, std::memory_order_relaxed);
        ServeListeners();
        if (const std::optional<LogEntry> entry = NextEntry()) {
            Write(*entry);
        }
    } while (!stop_.load());
    Finish();
}

void C_Debug_Thread::ServeListeners() {
    std::lock_guard lock(outputMutex_);
    textListener_.Serve();
    dumpListener_.Serve();
}

// Takes the first entry, or waits and ends the pass empty-handed: with a listener on the
// worker polls every millisecond to serve it; otherwise it sleeps until an entry comes, the
// outputs change or it is asked to stop.
std::optional<LogEntry> C_Debug_Thread::NextEntry() {
    std::unique_lock lock(queueMutex_);
    if (queue_.empty()) {
        const unsigned outputs = outputs_.load();
        if ((outputs & kListeners) != 0) {
            workCv_.wait_for(lock, std::chrono::milliseconds(1),
                             [this] { return stop_.load() || !queue_.empty(); });
        } else {
            workCv_.wait(lock, [this, outputs] {
                return stop_.load() || !queue_.empty() || outputs_.load() != outputs;
            });
        }
        return std::nullopt;
    }
    std::optional<LogEntry> entry(std::move(queue_.front()));
    queue_.pop_front();
    if (queue_.empty()) {
        idleCv_.notify_all();
    }
    return entry;
}

void C_Debug_Thread::Write(const LogEntry& entry) {
    try {
        if (!IsPlausible(entry.time)) {
            AppendToFile(settings_.folder / "_exception.txt",
                         ExceptionLine(MillisecondsSinceStart(), this, &entry));
            return;
        }
        std::lock_guard lock(outputMutex_);
        if (entry.isDump) {
            WriteDump(entry);
        } else {
            WriteText(entry);
        }
    } catch (const std::bad_alloc&) {
        // Out of memory while formatting: the entry is lost, the program goes on.
    }
}

void C_Debug_Thread::WriteText(const LogEntry& entry) {
    if (!textFile_.IsOpen() && !textListener_.Connected()) {
        return;
    }
    const std::string line = FormatLine(entry);
    textFile_.Write(line);
    if (textListener_.Connected()) {
        textListener_.Send(ToCrLf(line));
    }
}

void C_Debug_Thread::WriteDump(const LogEntry& entry) {
    if (!dumpFile_.IsOpen() && !dumpListener_.Connected()) {
        return;
    }
    std::string dump = FormatDump(entry, dumpFormat_.load());
    dumpFile_.Write(dump);
    if (dumpListener_.Connected()) {
        // Ends the last row on the viewer's screen, where no later dump would end it.
        dump += '\n';
        dumpListener_.Send(ToCrLf(dump));
    }
}

void C_Debug_Thread::Finish() {
    {
        std::lock_guard lock(outputMutex_);
        textListener_.Stop();
        dumpListener_.Stop();
        textFile_.Close();
        dumpFile_.Close();
        outputs_.store(0);
    }
    std::deque<LogEntry> discarded;
    {
        std::lock_guard lock(queueMutex_);
        discarded.swap(queue_);
        ended_ = true;
    }
    idleCv_.notify_all();
}
