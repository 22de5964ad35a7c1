#include "cli/json_events.h"

#include <algorithm>
#include <csignal>
#include <cstring>

#include "engine/device_identity.h"
#include "log/text_format.h"
#include "records/record_json.h"

namespace {

// Progress events of one device come at most this often, but for 0 and 100 per cent.
constexpr std::uint64_t kProgressIntervalMs = 100;

QString Text(const std::string& text) {
    return QString::fromStdString(text);
}

}  // namespace

void JsonLines::Write(const QJsonObject& object) {
    const std::lock_guard hold(mutex_);
    WriteLocked(object);
}

void JsonLines::WriteLocked(const QJsonObject& object) {
    if (interrupted_) {
        return;  // the interruption wrote every result: nothing may follow them
    }
    const std::string line = CompactJson(object) + "\n";
    std::fwrite(line.data(), 1, line.size(), out_);
    std::fflush(out_);
}

void JsonLines::Begin(const JsonUpdateEvents* update) {
    const std::lock_guard hold(mutex_);
    running_.push_back(update);
}

void JsonLines::End(const JsonUpdateEvents* update, const std::optional<QJsonObject>& result) {
    const std::lock_guard hold(mutex_);
    const auto at = std::find(running_.begin(), running_.end(), update);
    if (at == running_.end()) {
        return;  // ended already, or never begun
    }
    running_.erase(at);
    if (result) {
        WriteLocked(*result);
    }
}

void JsonLines::Interrupt(int signal) {
    const std::lock_guard hold(mutex_);
    for (const JsonUpdateEvents* update : running_) {
        WriteLocked(update->Result(InterruptedExitCode(signal), InterruptedText(signal)));
    }
    running_.clear();
    interrupted_ = true;
}

int InterruptedExitCode(int signal) {
    return 128 + signal;
}

std::string InterruptedText(int signal) {
    return StrPrintf("Error: interrupted by SIG%s!", ::sigabbrev_np(signal));
}

std::string ReplyText(std::uint8_t reply) {
    return StrPrintf("0x%.2X", static_cast<unsigned>(reply));
}

JsonUpdateEvents::JsonUpdateEvents(JsonLines& out, std::string link, std::string device,
                                   std::string file, Clock& clock)
    : out_(out),
      link_(std::move(link)),
      device_(std::move(device)),
      file_(std::move(file)),
      clock_(clock),
      startMs_(clock.NowMs()) {
    out_.Begin(this);
}

JsonUpdateEvents::~JsonUpdateEvents() {
    out_.End(this, std::nullopt);
}

QJsonObject JsonUpdateEvents::Event(const char* name) const {
    return QJsonObject{{QStringLiteral("event"), QLatin1String(name)},
                       {QStringLiteral("device"), Text(device_)}};
}

void JsonUpdateEvents::Start(const UpdateFileCheck* check) {
    startMs_ = clock_.NowMs();
    QJsonObject event = Event("start");
    event.insert(QStringLiteral("link"), Text(link_));
    event.insert(QStringLiteral("file"), Text(file_));
    const UpdateFileCheck own = check != nullptr ? UpdateFileCheck{} : CheckUpdateFile(file_);
    const UpdateFileCheck& file = check != nullptr ? *check : own;
    if (file.decoded) {
        event.insert(QStringLiteral("size"), static_cast<qint64>(file.imageBytes));
        event.insert(QStringLiteral("frames"), static_cast<qint64>(file.frames));
    } else {
        // The update will end with the file's code; the event says so by leaving them out.
        event.insert(QStringLiteral("size"), QJsonValue::Null);
        event.insert(QStringLiteral("frames"), QJsonValue::Null);
    }
    out_.Write(event);
}

void JsonUpdateEvents::Synchronised(const BootloaderInfo& info) {
    QJsonObject event = Event("synchronised");
    event.insert(QStringLiteral("bootloaderVersion"),
                 Text(StrPrintf("%X.%.2X", static_cast<unsigned>(info.versionHigh),
                                static_cast<unsigned>(info.versionLow))));
    event.insert(QStringLiteral("deviceId"), static_cast<int>(info.deviceId));
    event.insert(QStringLiteral("deviceName"), Text(DeviceName(info.deviceId)));
    out_.Write(event);
}

ProgressSink* JsonUpdateEvents::TransferStarting(std::size_t imageBytes) {
    imageBytes_ = imageBytes;
    return this;
}

void JsonUpdateEvents::SetRange(int low, int high) {
    scale_.SetRange(low, high);
}

void JsonUpdateEvents::SetPos(int position) {
    const int percent = scale_.Percent(position);
    const std::uint64_t now = clock_.NowMs();
    const bool edge = percent == 0 || percent == 100;
    if (percent == percent_ || (!edge && now - lastProgressMs_ < kProgressIntervalMs)) {
        return;
    }
    percent_ = percent;
    lastProgressMs_ = now;
    QJsonObject event = Event("progress");
    event.insert(QStringLiteral("percent"), percent);
    event.insert(QStringLiteral("bytes"),
                 static_cast<qint64>(imageBytes_ * static_cast<std::size_t>(percent) / 100));
    out_.Write(event);
}

void JsonUpdateEvents::FrameSent(int) {
    ++framesSent_;
}

void JsonUpdateEvents::FrameRetried(int frameNumber, std::uint8_t reply) {
    ++retries_;
    QJsonObject event = Event("retry");
    event.insert(QStringLiteral("frame"), frameNumber);
    event.insert(QStringLiteral("reply"), Text(ReplyText(reply)));
    out_.Write(event);
}

void JsonUpdateEvents::Finished(std::string_view verdict, int exitCode) {
    while (!verdict.empty() && verdict.back() == '\n') {
        verdict.remove_suffix(1);
    }
    out_.End(this, Result(exitCode, verdict));
}

QJsonObject JsonUpdateEvents::Result(int exitCode, std::string_view message) const {
    QJsonObject event = Event("result");
    event.insert(QStringLiteral("code"), exitCode);
    event.insert(QStringLiteral("exitStatus"), exitCode & 0xFF);
    event.insert(QStringLiteral("message"),
                 QString::fromUtf8(message.data(), static_cast<qsizetype>(message.size())));
    event.insert(QStringLiteral("seconds"),
                 static_cast<double>(clock_.NowMs() - startMs_) / 1000.0);
    event.insert(QStringLiteral("framesSent"), static_cast<qint64>(framesSent_.load()));
    event.insert(QStringLiteral("retries"), static_cast<qint64>(retries_.load()));
    return event;
}
