#include "support/recording_log.h"

void RecordingLog::Log(int level, std::string_view text, int source) {
    std::lock_guard lock(mutex_);
    entries_.push_back({level, source, false, std::string(text), {}});
}

void RecordingLog::LogData(int level, std::span<const std::uint8_t> data, int source) {
    std::lock_guard lock(mutex_);
    entries_.push_back({level, source, true, {}, {data.begin(), data.end()}});
}

std::vector<RecordingLog::Entry> RecordingLog::Entries() const {
    std::lock_guard lock(mutex_);
    return entries_;
}

std::string LineKey(int level, int source, const std::string& text) {
    return "L" + std::to_string(level) + " S" + std::to_string(source) + " " + text;
}

std::vector<std::string> RecordingLog::Lines() const {
    std::vector<std::string> lines;
    for (const Entry& e : Entries()) {
        if (!e.isDump) {
            lines.push_back(LineKey(e.level, e.source, e.text));
        }
    }
    return lines;
}

bool RecordingLog::HasLine(int level, int source, const std::string& text) const {
    const std::string key = LineKey(level, source, text);
    for (const std::string& line : Lines()) {
        if (line == key) {
            return true;
        }
    }
    return false;
}

std::size_t RecordingLog::CountLines(const std::string& text) const {
    std::size_t n = 0;
    for (const Entry& e : Entries()) {
        n += (!e.isDump && e.text == text) ? 1 : 0;
    }
    return n;
}

void RecordingLog::Clear() {
    std::lock_guard lock(mutex_);
    entries_.clear();
}
