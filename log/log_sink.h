#pragma once

#include <cstdint>
#include <span>
#include <string_view>

// What every module needs of the debug log: a text line and a dump of bytes, each with a
// level (0..5, smaller is more important) and a source number naming the module.
class LogSink {
  public:
    virtual ~LogSink() = default;

    virtual void Log(int level, std::string_view text, int source) = 0;
    virtual void LogData(int level, std::span<const std::uint8_t> data, int source) = 0;
    // A dump of one device among several updated at once. A sink that cannot name the device
    // in its dumps writes a plain dump.
    virtual void LogDeviceData(int level, std::span<const std::uint8_t> data, int source,
                               std::string_view /*device*/) {
        LogData(level, data, source);
    }

    // False when an entry of this level would be dropped anyway, so callers can skip
    // formatting its text. Must be cheap: it is asked before every formatted line.
    virtual bool Wants(int level) const = 0;
};

// A sink that drops everything (for callers that log nowhere).
class NullLog final : public LogSink {
  public:
    void Log(int, std::string_view, int) override {}
    void LogData(int, std::span<const std::uint8_t>, int) override {}
    bool Wants(int) const override { return false; }
};
