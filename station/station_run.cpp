#include "station/station_run.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <QThread>

#include <array>
#include <atomic>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <set>
#include <thread>

#include "job/job_file.h"
#include "log/escaped_text.h"
#include "log/text_format.h"
#include "log/unique_fd.h"
#include "records/attempt_origin.h"
#include "station/bus_watch.h"
#include "station/fixture_slot.h"
#include "station/station_records.h"
#include "update/exit_codes.h"
#include "update/link_table.h"
#include "update/update_file_check.h"

namespace {

// A bus folder that cannot be watched is tried again this often.
constexpr int kRewatchMs = 500;
// How often the loop looks again without any event, and after the second stop.
constexpr int kIdlePollMs = 1000;
constexpr int kCancelledPollMs = 100;
// After the second stop, running updates end at their next frame boundary; one blocked inside a
// link call longer than this is left behind as a last resort.
constexpr std::uint64_t kCancelGraceMs = 2000;

void Tell(const std::string& text) {
    std::fprintf(stderr, "flashwright station: %s\n", text.c_str());
}

// A lock key for a path: its real path, so two spellings of one file are one key.
std::string PathKey(const std::string& path) {
    std::error_code ec;
    return HashedLockKey(std::filesystem::weakly_canonical(path, ec).string());
}

std::string EnvOr(const char* name, const std::string& otherwise) {
    const char* value = std::getenv(name);
    return value != nullptr && value[0] != '\0' ? std::string(value) : otherwise;
}

void Wake(int fd) {
    const std::uint64_t one = 1;
    [[maybe_unused]] const ssize_t n = ::write(fd, &one, sizeof one);
}

void Drain(int fd) {
    std::uint64_t count = 0;
    [[maybe_unused]] const ssize_t n = ::read(fd, &count, sizeof count);
}

std::string UsbIdText(const UsbId& id) {
    return StrPrintf("%04x:%04x", id.vendor, id.product);
}

// What the station takes from udev: USB devices by their link's USB ids, or USB serial
// adapters by the ids of --match, leaving the ports of --slots to their slots.
// The start of the names of the locks on a link's slots: "udp-", "com-".
std::string LockPrefix(const LinkRow& row) {
    return LowerCase(row.keyword) + "-";
}

UdevFilter StationUdevFilter(const LinkRow& row, const StationOptions& options) {
    UdevFilter filter;
    if (row.arrival == LinkArrival::UsbBus) {
        filter.ids.assign(row.usbIds.begin(), row.usbIds.end());
    } else {
        filter.usbDevice = false;
        filter.ids = options.match;
        filter.slotPaths = options.slotAddresses;
    }
    return filter;
}

}  // namespace

StationRun::StationRun(StationOptions options, LogSink& log, Clock& clock)
    : options_(std::move(options)), row_(*FindLink(options_.link)), log_(log), clock_(clock) {}

StationRun::~StationRun() = default;

std::optional<int> StationRun::Open() {
    // FTDI and USBX devices arrive on a simulated bus folder when one is set, else through
    // udev; COM adapters through udev when --match names them.
    if (row_.busVariable != nullptr) {
        folder_ = EnvOr(row_.busVariable, "");
    }
    fromUdev_ = (folder_.empty() && row_.arrival == LinkArrival::UsbBus) || !options_.match.empty();
    // A folder missing at the start is likelier a typo than a bus yet to come.
    if (std::error_code ec; !folder_.empty() && !std::filesystem::is_directory(folder_, ec)) {
        std::fprintf(stderr, "flashwright station: the bus folder %s (%s) is no folder\n",
                     EscapedText(folder_).c_str(), row_.busVariable);
        return kExitOpenFailed;
    }
    if (const std::optional<int> code = LoadFile()) {
        return code;
    }
    std::string error;
    if (!TakeLocks(error)) {
        Tell(EscapedText(error));
        return kExitUsage;
    }
    int recordsStatus = 0;
    std::string notices;
    records_ = OpenStationRecords(options_.records, error, notices, recordsStatus);
    for (std::size_t at = 0; at < notices.size();) {
        const std::size_t end = notices.find('\n', at);
        Tell(EscapedText(notices.substr(at, end - at)));
        at = end + 1;
    }
    if (!records_) {
        Tell("the records: " + EscapedText(error));
        return recordsStatus;
    }
    if (options_.job) {
        job_ = std::make_unique<JobSession>(options_.job, *records_, log_);
        job_->FillSession(session_);
    }
    udevWatch_ = std::make_unique<UdevWatch>(StationUdevFilter(row_, options_));
    if (fromUdev_ && !udevWatch_->Arm(error)) {
        Tell("no hot-plug over " + options_.link + ": " + EscapedText(error));
        return kExitOpenFailed;
    }
    return std::nullopt;
}

// The file of the session: read once, sealed, checked as check checks it, and its SHA-256.
std::optional<int> StationRun::LoadFile() {
    const std::string& path = options_.path;
    std::string bytes;
    std::string error;
    if (!ReadWholeFile(path, bytes)) {
        const UpdateFileCheck check = CheckUpdateFile(path);
        Tell(EscapedText(path) + ": " + check.verdict);
        return check.exitCode != 0 ? check.exitCode : kExitFileUnreadable;
    }
    if (!sealed_.Seal({reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size()}, error)) {
        Tell(error);
        return kExitFileUnreadable;
    }
    sealedPath_ = sealed_.Path();
    fileCheck_ = CheckUpdateFile(sealedPath_);
    if (fileCheck_.exitCode != 0) {
        Tell(EscapedText(path) + ": " + fileCheck_.verdict);
        return fileCheck_.exitCode;
    }
    const std::string sha256 = Sha256Hex(bytes);
    // The bytes sealed are the bytes served: only those are compared with the approved hash.
    if (options_.job && sha256 != options_.job->fileSha256) {
        Tell(EscapedText(JobFileMismatch(*options_.job, sha256)));
        return kExitJobFileMismatch;
    }
    session_ = {.station = options_.station,
                .operatorName = options_.operatorName,
                .link = options_.link,
                .fileName = RecordedFileName(path),
                .fileSize = static_cast<std::int64_t>(bytes.size()),
                .fileSha256 = sha256};
    return std::nullopt;
}

// The locks on what the station serves: one per slot, one per USB id taken from udev, or one
// for the bus folder (by its real path, so two spellings of one folder are one lock) or the
// link's devices on USB.
bool StationRun::TakeLocks(std::string& error) {
    const StationOptions& o = options_;
    if (row_.arrival == LinkArrival::FixtureSlots) {
        locks_.resize(o.slotAddresses.size() + o.match.size());
        for (std::size_t i = 0; i < o.slotAddresses.size(); ++i) {
            // Keyed on what the slot resolves to: two spellings of one device are one lock.
            const std::string& slot = o.slotAddresses[i];
            const std::string& resolved = o.slotKeys[i].empty() ? slot : o.slotKeys[i];
            if (!locks_[i].Take(LockPrefix(row_) + HashedLockKey(resolved), "the slot " + slot,
                                error)) {
                return false;
            }
        }
        for (std::size_t i = 0; i < o.match.size(); ++i) {
            const std::string id = UsbIdText(o.match[i]);
            if (!locks_[o.slotAddresses.size() + i].Take(LockPrefix(row_) + "usb-" + id,
                                                         "the USB serial adapters " + id, error)) {
                return false;
            }
        }
        return true;
    }
    locks_.resize(1);
    if (folder_.empty()) {
        return locks_[0].Take("usb-" + o.link, "the " + o.link + " devices on USB", error);
    }
    return locks_[0].Take("bus-" + PathKey(folder_), "the bus folder " + folder_, error);
}

UpdateOutcome StationRun::Update(const StationDevice& device, RecordingObserver& observer) const {
    if (row_.settle != nullptr && fromUdev_) {
        if (std::optional<UpdateOutcome> unsettled =
                row_.settle(device.id, kDeviceSettleMs, clock_)) {
            return *unsettled;
        }
    }
    const FrontEnd frontEnd{.path = sealedPath_,
                            .expectDevice = job_ ? job_->ExpectDevice() : nullptr};
    return row_.update(device.id, options_.deviceType, frontEnd, observer, log_, clock_);
}

// The serve loop of one session: the slots' threads, the USB serial adapters udev reported,
// the bus listings, and the stops.
class StationRun::Loop {
  public:
    Loop(StationRun& run, StationView& view, StopSignals& stops)
        : run_(run),
          view_(view),
          stops_(stops),
          watch_(run.folder_),
          station_(run.session_, *run.records_, view,
                   [&run](const StationDevice& device, RecordingObserver& observer) {
                       return run.Update(device, observer);
                   }) {
        station_.OnAttemptEnded([this] {
            if (run_.job_) {
                run_.job_->AttemptEnded();
            }
            Wake(wake_.Get());
        });
        if (run_.job_) {
            station_.OnRecorded([this](std::int64_t id, const AttemptRecord& record) {
                run_.job_->Recorded(id, record);
            });
            station_.LimitAttempts([this](int started) { return run_.job_->MayBegin(started); });
        }
    }

    int Run(const std::function<void()>& beforeAbandon);

  private:
    void StartSlots();
    void ServePorts(const std::vector<StationDevice>& devices,
                    const std::set<std::string>& removed);
    void ServeSlotThread(const std::string& slot, std::function<bool()> present);
    void List();
    void ListUdev();
    void ListFolder();
    void FolderProblem(const std::string& problem);
    void TakeStop();
    void Join();

    // USB serial adapters udev reported: each is a slot of its own, served as the ports of
    // --slots are while it is there; the threads of those that went end by themselves.
    struct UdevPort {
        std::shared_ptr<std::atomic<bool>> present;
        std::unique_ptr<QThread> thread;
    };

    StationRun& run_;
    StationView& view_;
    StopSignals& stops_;
    const UniqueFd wake_{::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)};
    BusWatch watch_;
    Station station_;
    std::vector<std::unique_ptr<QThread>> slotThreads_;
    std::map<std::string, UdevPort> udevPorts_;
    std::vector<std::unique_ptr<QThread>> leftPorts_;
    std::set<std::string> folderProblems_;  // told while the folder was away
    int stopCount_ = 0;
    std::uint64_t cancelledAt_ = 0;
};

void StationRun::Loop::ServeSlotThread(const std::string& slot, std::function<bool()> present) {
    ServeSlot(station_, view_, slot,
              run_.row_.probeSlot(slot, run_.log_, run_.clock_, std::move(present)), run_.clock_);
    Wake(wake_.Get());
}

// Each slot is served on a thread of its own; a serial port's thread needs the event dispatcher
// a QThread brings for the port's notifiers.
void StationRun::Loop::StartSlots() {
    for (const std::string& slot : run_.options_.slotAddresses) {
        slotThreads_.emplace_back(QThread::create([this, slot] { ServeSlotThread(slot, {}); }));
        slotThreads_.back()->start();
    }
}

void StationRun::Loop::ServePorts(const std::vector<StationDevice>& devices,
                                  const std::set<std::string>& removed) {
    std::set<std::string> now;
    for (const StationDevice& d : devices) {
        now.insert(d.id);
    }
    for (auto it = udevPorts_.begin(); it != udevPorts_.end();) {
        if (now.count(it->first) != 0 && removed.count(it->first) == 0) {
            ++it;
            continue;
        }
        *it->second.present = false;
        leftPorts_.push_back(std::move(it->second.thread));
        it = udevPorts_.erase(it);
    }
    for (const StationDevice& d : devices) {
        if (udevPorts_.count(d.id) != 0 || !station_.Taking()) {
            continue;
        }
        auto present = std::make_shared<std::atomic<bool>>(true);
        std::unique_ptr<QThread> thread(QThread::create([this, port = d.id, present] {
            ServeSlotThread(port, [present] { return present->load(); });
        }));
        thread->start();
        udevPorts_[d.id] = {present, std::move(thread)};
    }
}

void StationRun::Loop::ListUdev() {
    std::set<std::string> removed;
    run_.udevWatch_->Drain(removed);
    std::vector<std::string> problems;
    const std::vector<StationDevice> devices = run_.udevWatch_->Devices(problems);
    for (const std::string& p : problems) {
        view_.Problem(p);
    }
    if (run_.row_.arrival == LinkArrival::FixtureSlots) {
        ServePorts(devices, removed);
    } else {
        station_.BusListing(devices, removed);
    }
}

void StationRun::Loop::FolderProblem(const std::string& problem) {
    view_.Problem(problem);
    folderProblems_.insert(problem);
}

void StationRun::Loop::ListFolder() {
    std::string problem;
    if (!watch_.Armed() && !watch_.Arm(problem)) {
        FolderProblem(problem);
        return;
    }
    std::set<std::string> removed;
    watch_.Drain(removed);
    if (!watch_.Armed()) {
        FolderProblem("the bus folder " + run_.folder_ + " is gone");
        return;
    }
    for (const std::string& p : folderProblems_) {  // the folder is back
        view_.ProblemCleared(p);
    }
    folderProblems_.clear();
    std::vector<std::string> problems;
    const std::vector<StationDevice> devices = watch_.Devices(problems);
    for (const std::string& p : problems) {
        view_.Problem(p);
    }
    station_.BusListing(devices, removed);
}

void StationRun::Loop::List() {
    if (run_.fromUdev_) {
        ListUdev();
    } else if (!run_.folder_.empty()) {
        ListFolder();
    }
}

void StationRun::Loop::TakeStop() {
    const int signal = stops_.Take();
    if (signal == 0) {
        return;
    }
    ++stopCount_;
    if (stopCount_ == 1) {
        station_.StopTaking();
        view_.Problem(std::string(kStoppingProblem));
        view_.StoppedTaking(false);
    } else if (stopCount_ == 2) {
        station_.Cancel(signal);
        cancelledAt_ = run_.clock_.NowMs();
    }
}

int StationRun::Loop::Run(const std::function<void()>& beforeAbandon) {
    if (run_.job_) {
        const std::optional<JobStop> full = run_.job_->Start(view_, [this](const JobStop&) {
            station_.StopTaking();
            Wake(wake_.Get());
        });
        if (full) {
            view_.Stopped(*full);
            view_.Ended(0);
            return 0;
        }
    }
    StartSlots();
    List();
    for (;;) {
        // Stopped, or no longer taking devices because the records cannot be written.
        if ((stopCount_ > 0 || !station_.Taking()) && station_.Running() == 0) {
            break;
        }
        if (stopCount_ > 1 && run_.clock_.NowMs() - cancelledAt_ >= kCancelGraceMs) {
            // An update that did not reach a frame boundary in time is left behind, and its
            // record says so.
            station_.Abandon();
            if (beforeAbandon) {
                beforeAbandon();
            }
            std::fflush(stdout);
            std::_Exit(station_.ExitCode() & 0xFF);
        }
        const int arrivals = run_.fromUdev_   ? run_.udevWatch_->Fd()
                             : watch_.Armed() ? watch_.Fd()
                                              : -1;
        std::array<pollfd, 3> fds{
            {{stops_.Fd(), POLLIN, 0}, {wake_.Get(), POLLIN, 0}, {arrivals, POLLIN, 0}}};
        const int timeout = stopCount_ > 1                               ? kCancelledPollMs
                            : (!run_.folder_.empty() && !watch_.Armed()) ? kRewatchMs
                                                                         : kIdlePollMs;
        ::poll(fds.data(), fds.size(), timeout);
        if ((fds[0].revents & POLLIN) != 0) {
            TakeStop();
        }
        if ((fds[1].revents & POLLIN) != 0) {
            Drain(wake_.Get());
        }
        if (stopCount_ == 0 && (fds[1].revents != 0 || fds[2].revents != 0 || !watch_.Armed())) {
            List();
        }
    }
    Join();
    int status = station_.ExitCode();
    if (run_.job_) {
        run_.job_->Finish();
        // A job that stopped the station by itself ends with its own status, unless records
        // could not be written or the operator stopped it first.
        const std::optional<JobStop> stop = run_.job_->Fired();
        if (stop && stopCount_ == 0 && status != kExitRecordsUnwritable) {
            status = stop->fired ? kExitStopRule : 0;
        }
    }
    view_.Ended(status);
    return status;
}

void StationRun::Loop::Join() {
    for (const std::unique_ptr<QThread>& slot : slotThreads_) {
        slot->wait();
    }
    for (auto& [id, port] : udevPorts_) {
        port.thread->wait();
    }
    for (const std::unique_ptr<QThread>& port : leftPorts_) {
        port->wait();
    }
}

void StationRun::ShowPlantIn(StationView& view) {
    if (PlantForwarder* plant = records_->Plant()) {
        plant->OnStatus([&view](const PlantStatus& s) { view.Plant(s); });
    }
}

int StationRun::Serve(StationView& view, StopSignals& stops,
                      const std::function<void()>& beforeAbandon) {
    Loop loop(*this, view, stops);
    return loop.Run(beforeAbandon);
}

bool StationRun::FinishRecords(StopSignals& stops, std::string& unsent) {
    // Shared with the thread, which a stop leaves behind.
    struct Finishing {
        UniqueFd done{::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)};
        std::string notice;
    };
    const auto state = std::make_shared<Finishing>();
    std::thread finishing([state, records = records_.get()] {
        records->Finish(state->notice);
        Wake(state->done.Get());
    });
    for (;;) {
        std::array<pollfd, 2> fds{{{stops.Fd(), POLLIN, 0}, {state->done.Get(), POLLIN, 0}}};
        ::poll(fds.data(), fds.size(), -1);
        if ((fds[1].revents & POLLIN) != 0) {
            finishing.join();
            unsent = state->notice;
            return true;
        }
        if ((fds[0].revents & POLLIN) != 0 && stops.Take() != 0) {
            records_->Unsent(unsent);
            finishing.detach();
            return false;
        }
    }
}
