#pragma once

#include <string>

#include "log/log_sink.h"

// Puts a device's name in front of every text line and into every dump's header, so that the
// entries of several devices updated at once in one log tell whose they are.
class DeviceLog final : public LogSink {
  public:
    DeviceLog(LogSink& log, const std::string& device)
        : log_(log), device_(device), prefix_("[" + device + "] ") {}

    void Log(int level, std::string_view text, int source) override {
        if (log_.Wants(level)) {
            log_.Log(level, prefix_ + std::string(text), source);
        }
    }
    void LogData(int level, std::span<const std::uint8_t> data, int source) override {
        log_.LogDeviceData(level, data, source, device_);
    }
    bool Wants(int level) const override { return log_.Wants(level); }

  private:
    LogSink& log_;
    const std::string device_;
    const std::string prefix_;
};
