#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>

#include "log/log_sink.h"

// What every fuzz target shares: the entry point libFuzzer (or the corpus replay) calls, the
// check of a property, and a reader that takes the input apart.

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size);

// Ends the run with a report on standard error when a property does not hold, so libFuzzer
// keeps the input as a find and the replay fails its test. The report goes to the standard
// error the process started with, also when libFuzzer has closed it for the target's output.
void FuzzCheck(bool holds, std::string_view property);

// Takes the input apart from the front; once it is used up, bytes read as 0 and spans as empty.
class FuzzInput {
  public:
    explicit FuzzInput(std::span<const std::uint8_t> data) : data_(data) {}

    bool Empty() const { return data_.empty(); }
    std::size_t Remaining() const { return data_.size(); }

    std::uint8_t Byte() {
        if (data_.empty()) {
            return 0;
        }
        const std::uint8_t b = data_.front();
        data_ = data_.subspan(1);
        return b;
    }

    // Up to n bytes.
    std::span<const std::uint8_t> Bytes(std::size_t n) {
        const std::span<const std::uint8_t> taken =
            data_.first(n < data_.size() ? n : data_.size());
        data_ = data_.subspan(taken.size());
        return taken;
    }

    std::span<const std::uint8_t> Rest() { return Bytes(data_.size()); }

  private:
    std::span<const std::uint8_t> data_;
};

// A log that asks for every line, so each line's format runs with its arguments, and keeps
// nothing.
class FormattingLog final : public LogSink {
  public:
    void Log(int, std::string_view, int) override {}
    void LogData(int, std::span<const std::uint8_t>, int) override {}
    bool Wants(int) const override { return true; }
};
