#pragma once

#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "log/log_sink.h"

// A log sink that keeps every entry, so tests can check lines by text, level and source.
class RecordingLog final : public LogSink {
  public:
    struct Entry {
        int level = 0;
        int source = 0;
        bool isDump = false;
        std::string text;
        std::vector<std::uint8_t> data;
    };

    void Log(int level, std::string_view text, int source) override;
    void LogData(int level, std::span<const std::uint8_t> data, int source) override;
    bool Wants(int level) const override { return level >= 0 && level <= 5; }

    std::vector<Entry> Entries() const;
    // The text lines only, each as "L<level> S<source> <text>".
    std::vector<std::string> Lines() const;
    bool HasLine(int level, int source, const std::string& text) const;
    std::size_t CountLines(const std::string& text) const;
    void Clear();

  private:
    mutable std::mutex mutex_;
    std::vector<Entry> entries_;
};

std::string LineKey(int level, int source, const std::string& text);
