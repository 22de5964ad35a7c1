#include "engine/bootloader_protocol.h"
#include "engine/protocol_log.h"

#include <array>
#include <vector>

namespace {

// Sends one protocol byte; returns the write's result.
IoResult SendByte(const LinkContext& link, std::uint8_t byte) {
    const std::array<std::uint8_t, 1> data{byte};
    return link.transport.Write(data);
}

void Store(BootloaderInfo& info, std::uint8_t high, std::uint8_t low, std::uint8_t id) {
    info.versionHigh = high;
    info.versionLow = low;
    info.deviceId = id;
}

}  // namespace

int SynchroniseSingle(const LinkContext& link, const SingleSyncProfile& p, BootloaderInfo& info) {
    LogSink& log = link.log;
    if (!link.transport.IsOpen()) {
        return Fail(log, p.notOpen);
    }
    IoResult written = SendByte(link, BL_SYNC);
    if (!written.ok) {
        return Fail(log, p.syncWriteFailed, written.error);
    }
    Dump(log, p.sent, std::array<std::uint8_t, 1>{BL_SYNC});
    link.clock.PumpWait(p.answerWaitMs);

    std::vector<std::uint8_t> answer(p.answerCapacity, 0);
    const AnswerResult got = link.transport.ReadAnswer(answer);
    switch (got.status) {
        case AnswerStatus::StatusFailed:
            return Fail(log, p.statusFailed, got.error);
        case AnswerStatus::Nothing:
            return Fail(log, p.nothing, got.error);
        case AnswerStatus::TooMany:
            return Fail(log, p.tooMany, static_cast<int>(got.count));
        case AnswerStatus::ReadFailed:
            return Fail(log, p.readFailed, got.error);
        case AnswerStatus::Received:
            break;
    }
    const std::size_t count = std::min(got.count, answer.size());
    Dump(log, p.received, std::span(answer).first(count));
    if (count != kSyncAnswerSize) {
        return Fail(log, p.wrongCount, static_cast<int>(count));
    }
    if (answer[0] != BL_SYNC_ANSWER || answer[4] != BL_SYNC_END) {
        return Fail(log, p.badFormat);
    }
    Store(info, answer[1], answer[2], answer[3]);

    written = SendByte(link, BL_START);
    if (!written.ok) {
        return Fail(log, p.startWriteFailed, written.error);
    }
    Dump(log, p.sent, std::array<std::uint8_t, 1>{BL_START});
    link.clock.PumpWait(p.afterStartMs);
    LogLineOf(log, p.done);
    return 0;
}

namespace {

// Reads single bytes for up to the hunting window and drops everything until 0xFE.
bool HuntForAnswerByte(const LinkContext& link, const HuntingSyncProfile& p) {
    const std::uint64_t start = link.clock.NowMs();
    while (link.clock.NowMs() - start < p.huntWindowMs) {
        std::array<std::uint8_t, 1> byte{0};
        const IoResult r = link.transport.Read(byte);
        if (r.ok && r.count == 1) {
            LogLineOf(link.log, p.byteReceived, static_cast<unsigned>(byte[0]));
            Dump(link.log, p.received, byte);
            if (byte[0] == BL_SYNC_ANSWER) {
                return true;
            }
        } else {
            Wait(link.clock, p.waits, 1);
        }
    }
    return false;
}

// One round of the hunting form; true when synchronised.
bool HuntingAttempt(const LinkContext& link, const HuntingSyncProfile& p, BootloaderInfo& info) {
    LogSink& log = link.log;
    const IoResult written = SendByte(link, BL_SYNC);
    if (!written.ok && p.syncWriteFailed.format != nullptr) {
        // A device that has gone fails every write at once: the pause a missing answer gets
        // keeps the attempts from spinning, and a pumped one lets the user cancel meanwhile.
        LogLineOf(log, p.syncWriteFailed, written.error);
        Wait(link.clock, p.waits, p.noAnswerPauseMs);
        return false;
    }
    Dump(log, p.sent, std::array<std::uint8_t, 1>{BL_SYNC});

    if (!HuntForAnswerByte(link, p)) {
        Wait(link.clock, p.waits, p.noAnswerPauseMs);
        return false;
    }
    Wait(link.clock, p.waits, p.beforeRestMs);

    std::array<std::uint8_t, kSyncAnswerSize> answer{BL_SYNC_ANSWER, 0, 0, 0, 0};
    const auto rest = std::span(answer).subspan(1);
    const IoResult r = link.transport.Read(rest);
    if (!r.ok && p.restReadFailed.format != nullptr) {
        LogLineOf(log, p.restReadFailed, r.error);
        return false;
    }
    const std::size_t count = r.ok ? std::min(r.count, rest.size()) : 0;
    if (p.restDumpWithAnswerByte) {
        Dump(log, p.received,
             std::span(answer).first(count == rest.size() ? answer.size() : count + 1));
    } else {
        Dump(log, p.received, rest.first(count));
    }
    if (count != rest.size()) {
        LogLineOf(log, p.restShort, static_cast<int>(count));
        return false;
    }
    if (answer[4] != BL_SYNC_END) {
        LogLineOf(log, p.wrongEnd, static_cast<unsigned>(answer[4]));
        return false;
    }
    Store(info, answer[1], answer[2], answer[3]);
    LogLineOf(log, p.accepted, static_cast<int>(answer[1]), static_cast<int>(answer[2]),
              static_cast<int>(answer[3]));
    SendByte(link, BL_START);  // the bootloader's next answer tells whether it arrived
    Dump(log, p.sent, std::array<std::uint8_t, 1>{BL_START});
    Wait(link.clock, p.waits, p.afterStartMs);
    LogLineOf(log, p.done);
    return true;
}

}  // namespace

int SynchroniseHunting(const LinkContext& link, const HuntingSyncProfile& p, BootloaderInfo& info) {
    if (p.notOpen.line.format != nullptr && !link.transport.IsOpen()) {
        return Fail(link.log, p.notOpen);
    }
    const std::uint64_t deadline = link.clock.NowMs() + p.deadlineMs;
    do {
        if (HuntingAttempt(link, p, info)) {
            return 0;
        }
    } while (link.clock.NowMs() < deadline);
    return Fail(link.log, p.timeout);
}
