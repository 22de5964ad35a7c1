#pragma once

#include <string>

#include "log/log_sink.h"

// Puts a device's name in front of every text line, so that the lines of several devices
// updated at once in one log tell whose they are. Dumps pass as they are.
class DeviceLog final : public LogSink {
  public:
    DeviceLog(LogSink& log, const std::string& device) : log_(log), prefix_("[" + device + "] ") {}

    void Log(int level, std::string_view text, int source) override {
        if (log_.Wants(level)) {
            log_.Log(level, prefix_ + std::string(text), source);
        }
    }
    void LogData(int level, std::span<const std::uint8_t> data, int source) override {
        log_.LogData(level, data, source);
    }
    bool Wants(int level) const override { return log_.Wants(level); }

  private:
    LogSink& log_;
    const std::string prefix_;
};
