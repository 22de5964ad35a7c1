#pragma once

#include <cstdint>
#include <span>

#include "engine/byte_transport.h"

// The bootloader dialogue's carriage over a USB link's library, as the FTDI and USBXpress
// links share it: the hunting synchronisation polls the answer byte by byte through Read, so
// the single-attempt answer read is not used.
class UsbTransport : public ByteTransport {
  public:
    // A failed or empty read is no reply yet.
    PollResult PollByte() override {
        std::uint8_t byte = 0;
        const IoResult r = Read(std::span(&byte, 1));
        if (!r.ok || r.count != 1) {
            return {PollStatus::Nothing, 0, 0};
        }
        return {PollStatus::Byte, byte, 0};
    }

    AnswerResult ReadAnswer(std::span<std::uint8_t>) override {
        return {AnswerStatus::ReadFailed, 0, 0};
    }
};
