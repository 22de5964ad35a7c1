#include "sim/corvane_application.h"

#include <algorithm>
#include <ranges>

namespace {

constexpr std::array<std::uint8_t, 4> kEscaped{0x3F, 0x7F, 0xBF, 0xFF};

// Reserved bytes of the information answer: they hold every byte that needs escaping, so
// each such answer exercises the host's unescaping.
constexpr std::array<std::uint8_t, 7> kInfoReserved{0x00, 0x3F, 0x7F, 0xBF, 0xFF, 0x00, 0x00};

}  // namespace

std::vector<std::uint8_t> FrameCorvaneAnswer(std::span<const std::uint8_t> answer) {
    std::vector<std::uint8_t> frame{kCorvaneStart};
    for (const std::uint8_t b : answer) {
        const auto* found = std::ranges::find(kEscaped, b);
        if (found != kEscaped.end()) {
            frame.push_back(kCorvaneEscape);
            frame.push_back(static_cast<std::uint8_t>(found - kEscaped.begin()));
        } else {
            frame.push_back(b);
        }
    }
    frame.push_back(kCorvaneEnd);
    return frame;
}

CorvaneApplication::Output CorvaneApplication::OnBytes(std::span<const std::uint8_t> bytes) {
    Output out;
    for (const std::uint8_t b : bytes) {
        switch (state_) {
            case State::kIdle:
                state_ = b == kCorvaneStart ? State::kAddress : State::kIdle;
                break;
            case State::kAddress:
                // Only address 0 is this device; a new start byte starts over.
                state_ = b == 0x00 ? State::kCommand
                                   : (b == kCorvaneStart ? State::kAddress : State::kIdle);
                break;
            case State::kCommand:
                current_ = {b, {}};
                state_ = State::kData;
                break;
            case State::kData:
                if (b != kCorvaneEnd) {
                    current_.data.push_back(b);
                    break;
                }
                state_ = State::kIdle;
                commands_.push_back(current_);
                OnCommand(current_, out);
                if (out.enterBootloader) {
                    return out;
                }
                break;
        }
    }
    return out;
}

void CorvaneApplication::OnCommand(const CorvaneCommand& command, Output& out) {
    if (options_.fault == CorvaneFault::kSilent) {
        return;
    }
    const bool wrong = options_.fault == CorvaneFault::kWrong;
    std::vector<std::uint8_t> answer{0x00};  // status, dropped by the host
    if (command.command == kCorvaneInfo) {
        std::vector<std::uint8_t> payload = InfoPayload();
        if (wrong) {
            payload[0] = 0x06;
        }
        answer.insert(answer.end(), payload.begin(), payload.end());
    } else if (command.command == kCorvaneEnterBootloader) {
        const bool codeMatches = std::ranges::equal(command.data, options_.code);
        if (wrong) {
            answer.insert(answer.end(), {0x02, 0x00});
        } else if (codeMatches && options_.fault != CorvaneFault::kRefuse) {
            answer.insert(answer.end(), {0x01, 0x00});
            out.enterBootloader = true;
        } else {
            answer.insert(answer.end(), {0x00, 0x00});
        }
    } else {
        return;
    }
    out.answers.push_back(FrameCorvaneAnswer(answer));
}

std::vector<std::uint8_t> CorvaneApplication::InfoPayload() const {
    std::vector<std::uint8_t> payload{0x05};
    payload.insert(payload.end(), kInfoReserved.begin(), kInfoReserved.end());
    const std::string text = "Corvane\r" + options_.hardware + "\r" + options_.software;
    payload.insert(payload.end(), text.begin(), text.end());
    return payload;
}
