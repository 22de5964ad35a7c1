#include "cli/command_records.h"

#include <unistd.h>

#include <QCryptographicHash>
#include <QFile>

#include <cstdio>
#include <cstdlib>

#include "log/escaped_text.h"
#include "records/attempt_origin.h"
#include "records/recording_observer.h"
#include "records/utc_time.h"

std::string FileSha256(const std::string& path, std::int64_t& size) {
    size = 0;
    QFile file(QString::fromStdString(path));
    if (!file.open(QIODevice::ReadOnly)) {
        return {};
    }
    QCryptographicHash hash(QCryptographicHash::Sha256);
    if (!hash.addData(&file)) {
        return {};
    }
    size = file.size();
    return hash.result().toHex().toStdString();
}

std::unique_ptr<CommandRecords> CommandRecords::Open(const std::string& path,
                                                     const std::string& link,
                                                     const std::string& file, int& status) {
    StoreError error;
    std::string notice;
    std::unique_ptr<AttemptRecords> store = AttemptRecords::Open(path, error, notice);
    if (store == nullptr) {
        std::fprintf(stderr, "flashwright %s: the attempts cannot be recorded: %s\n", link.c_str(),
                     EscapedText(error.message).c_str());
        status = ExitStatusOf(error.status);
        return nullptr;
    }
    if (!notice.empty()) {
        std::fprintf(stderr, "flashwright %s: %s\n", link.c_str(), EscapedText(notice).c_str());
    }
    AttemptRecord common;
    common.station = DefaultStationName();
    common.operatorName = DefaultOperatorName();
    common.link = link;
    common.fileName = RecordedFileName(file);
    common.fileSha256 = FileSha256(file, common.fileSize);
    return std::unique_ptr<CommandRecords>(new CommandRecords(std::move(store), std::move(common)));
}

CommandRecords::CommandRecords(std::unique_ptr<AttemptRecords> store, AttemptRecord common)
    : store_(std::move(store)), common_(std::move(common)) {}

CommandRecords::~CommandRecords() {
    std::string notice;
    if (store_->Finish(notice) > 0) {
        std::fprintf(stderr, "flashwright %s: %s\n", common_.link.c_str(),
                     EscapedText(notice).c_str());
    }
}

int CommandRecords::Run(
    const std::string& device, UpdateObserver& shown,
    const std::function<int(UpdateObserver& observer, AttemptRecord& record)>& update) {
    AttemptRecord record = common_;
    record.device = device;
    record.startedUtc = UtcNow();
    const std::optional<std::int64_t> id = store_->Begin(record);
    if (!id) {
        const std::string verdict = "ERROR: the attempt cannot be recorded in " + store_->Path() +
                                    ", so the device is not updated!";
        if (::isatty(STDERR_FILENO) == 0) {
            std::fprintf(stderr, "flashwright: %s\n", EscapedText(verdict).c_str());
        }
        shown.Finished(verdict, kExitRecordsUnwritable);
        return kExitRecordsUnwritable;
    }
    RecordingObserver observer(shown, record);
    const int code = update(observer, record);
    record.endedUtc = UtcNow();
    if (!store_->Complete(*id, record)) {
        std::fprintf(stderr, "flashwright: the end of the attempt on %s cannot be recorded in %s\n",
                     EscapedText(device).c_str(), EscapedText(store_->Path()).c_str());
    }
    return code;
}

int WithRecords(CommandRecords* records, const std::string& device, UpdateObserver& shown,
                const std::function<int(UpdateObserver& observer, AttemptRecord* record)>& update) {
    if (records == nullptr) {
        return update(shown, nullptr);
    }
    return records->Run(device, shown, [&](UpdateObserver& observer, AttemptRecord& record) {
        return update(observer, &record);
    });
}

std::optional<int> OpenRecords(const std::string& path, const std::string& link,
                               const std::string& file, std::unique_ptr<CommandRecords>& records) {
    std::string warning;
    const std::string target = RecordsTarget(path, warning);
    if (!warning.empty()) {
        std::fprintf(stderr, "flashwright %s: %s\n", link.c_str(), warning.c_str());
    }
    if (target.empty()) {
        return std::nullopt;
    }
    int status = 0;
    records = CommandRecords::Open(target, link, file, status);
    return records != nullptr ? std::nullopt : std::optional<int>(status);
}
