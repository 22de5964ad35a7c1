#include "engine/link_profiles.h"

namespace {

constexpr int S = kSourceSerial;
constexpr int N = kSourceNetwork;
constexpr int F = kSourceFtdi;
constexpr int U = kSourceSilabs;

SingleSyncProfile MakeSerialSync() {
    SingleSyncProfile p;
    p.notOpen = {-1, {"~COM_SynchroniseBootloader() no connection", 2, S}};
    p.syncWriteFailed = {-2, {"~COM_SynchroniseBootloader() error %i in WriteFile()", 2, S}};
    p.sent = {4, kSourceSerialSent};
    p.answerCapacity = 32;
    p.statusFailed = {-3, {"~COM_SynchroniseBootloader() error %i in ClearCommError()", 2, S}};
    p.nothing = {-4, {"~COM_SynchroniseBootloader() nothing received", 2, S}};
    p.tooMany = {-5, {"~COM_SynchroniseBootloader() to much bytes received (%i)", 2, S}};
    p.readFailed = {-6, {"~COM_SynchroniseBootloader() error %i in ReadFile()", 2, S}};
    p.received = {3, kSourceSerialReceived};
    p.wrongCount = {-7, {"~COM_SynchroniseBootloader() wrong number of byte received (%i)", 2, S}};
    p.badFormat = {-8, {"~COM_SynchroniseBootloader() data- or format-error", 2, S}};
    p.startWriteFailed = {-9, {"~COM_SynchroniseBootloader() error %i in WriteFile()", 2, S}};
    p.afterStartMs = 25;
    p.done = {"~COM_SynchroniseBootloader()", 2, S};
    return p;
}

SingleSyncProfile MakeNetworkSync() {
    SingleSyncProfile p;
    const Outcome recvFailed{-3, {"~SynchroniseBootloader() error %i in recv()", 2, N}};
    const Outcome malformed{-4, {"~SynchroniseBootloader() data- or format-error", 2, N}};
    p.notOpen = {-1, {"~SynchroniseBootloader() no connection", 2, N}};
    p.syncWriteFailed = {-2, {"~SynchroniseBootloader() error %i in send()", 2, N}};
    p.sent = {4, kSourceNetworkSent};
    p.answerCapacity = 16;
    // A datagram socket has no status query and no separate "nothing": every failed
    // receive (the short time-out included) is a receive error.
    p.statusFailed = recvFailed;
    p.nothing = recvFailed;
    p.tooMany = recvFailed;
    p.readFailed = recvFailed;
    p.received = {3, kSourceNetworkReceived};
    p.wrongCount = malformed;
    p.badFormat = malformed;
    p.startWriteFailed = {-5, {"~SynchroniseBootloader() error %i in send()", 2, N}};
    p.afterStartMs = 25;
    p.done = {"~SynchroniseBootloader()", 2, N};
    return p;
}

HuntingSyncProfile MakeFtdiSync() {
    HuntingSyncProfile p;
    p.deadlineMs = 2500;
    p.waits = WaitKind::Quiet;
    p.sent = {4, kSourceFtdiSent};
    p.byteReceived = {"Dev_SynchroniseBootloader() - recv. byte (0x%X)", 4, F};
    p.received = {4, F};
    p.restDumpWithAnswerByte = true;
    p.restShort = {"~Dev_SynchroniseBootloader() - timeout2 (recv %i byte)", 4, F};
    p.wrongEnd = {"~Dev_SynchroniseBootloader() - wrong end char", 4, F};
    p.afterStartMs = 50;
    p.timeout = {-10, {}};
    return p;
}

HuntingSyncProfile MakeSilabsSync() {
    HuntingSyncProfile p;
    p.notOpen = {-1, {"~Dev_SynchroniseBootloader() - port is closed", 4, U}};
    p.deadlineMs = 1000;
    p.waits = WaitKind::Pump;
    p.syncWriteFailed = {"error %i in SI_Write()", 4, U};
    p.sent = {4, kSourceSilabsSent};
    p.received = {4, kSourceSilabsReceived};
    p.restReadFailed = {"error %i in SI_Read()", 4, U};
    p.restShort = {"BootLoader response to short (%i byte)", 4, U};
    p.wrongEnd = {"BootLoader response false (end char %X)", 4, U};
    p.accepted = {"BootLoader resonse: Version %i.%i / Device %i", 4, U};
    p.afterStartMs = 50;
    p.done = {"~Dev_SynchroniseBootloader() done", 4, U};
    p.timeout = {-10, {"~Dev_SynchroniseBootloader() timeout", 4, U}};
    return p;
}

// The lines every transfer shares apart from their prefix: frames, replies, the end.
struct TransferTexts {
    const char* sendFrame;
    const char* crcError;
    const char* timeout;
    const char* notReady;
    const char* tooManyErrors;
    const char* done;
};

void SetTexts(TransferProfile& p, const TransferTexts& t, int source) {
    p.sendFrame = {t.sendFrame, 4, source};
    p.crcError = {t.crcError, 4, source};
    p.timeout = {t.timeout, 4, source};
    p.notReady.line = {t.notReady, 4, source};
    p.tooManyErrors.line = {t.tooManyErrors, 4, source};
    p.done = {t.done, 4, source};
}

// The reading lines of the USB and network links, with their codes from `first` down.
void SetDevReadingLines(TransferProfile& p, int first, int source) {
    p.fileInUse = {first, {"~Dev_UpdateAVR() - file in use", 4, source}};
    p.wrongFileSize = {first - 1, {"~Dev_UpdateAVR() - wrong filesize (%i)", 4, source}};
    p.noMemory = {first - 2, {"~Dev_UpdateAVR() - no heap memory available", 4, source}};
    p.fileReadError = {first - 3, {"~Dev_UpdateAVR() - file read error (%i)", 4, source}};
}

constexpr TransferTexts kDevTexts{
    "Dev_UpdateAVR() - send frame %i (%i, 0x%.4X)",
    "Dev_UpdateAVR() - CRC error",
    "Dev_UpdateAVR() - timeout (%X)",
    "Dev_UpdateAVR() - bootloader not ready (recv. 0x55)",
    "~Dev_UpdateAVR() - too many errors",
    "~Dev_UpdateAVR() - done",
};

TransferProfile MakeSerialTransfer() {
    TransferProfile p;
    p.notOpen = {-1, {"~COM_UpdateAVR() no connection", 2, S}};
    p.fileInUse = {-2, {"~COM_UpdateAVR() - file in use", 4, S}};
    p.wrongFileSize = {-3, {"~COM_UpdateAVR() - wrong filesize (%i)", 4, S}};
    p.noMemory = {-4, {"~COM_UpdateAVR() - no heap memory available", 4, S}};
    p.fileReadError = {-5, {"~COM_UpdateAVR() - file read error (%i)", 4, S}};
    p.formatError = {-6, {"~COM_UpdateAVR() - format error (length %i)", 4, S}};
    p.logFrameBeforeWrite = true;
    p.sentFrame = {4, kSourceSerialSent};
    p.writeFailed = {-7, {"~COM_UpdateAVR() error %i in WriteFile()", 2, S}};
    p.afterFrameMs = 10;
    p.afterFrameWait = WaitKind::Pump;
    p.statusFailed = {-8, {"~COM_UpdateAVR() error %i in ClearCommError()", 2, S}};
    p.readFailed = {-9, {"~COM_UpdateAVR() error %i in ReadFile()", 2, S}};
    p.replyDump = {3, kSourceSerialReceived};
    p.emptyPollWait = WaitKind::Pump;
    p.acceptWait = WaitKind::Pump;
    SetTexts(
        p,
        {"COM_UpdateAVR() - send frame %i (%i, 0x%.4X)", "COM_UpdateAVR() - CRC error",
         "COM_UpdateAVR() - timeout (%X)", "~COM_UpdateAVR() - bootloader not ready (recv. 0x55)",
         "~COM_UpdateAVR() - too many errors", "~COM_UpdateAVR() - done"},
        S);
    p.notReady.code = -99;
    p.tooManyErrors.code = -10;
    return p;
}

TransferProfile MakeFtdiTransfer() {
    TransferProfile p;
    p.opensLinkItself = true;
    p.openFailed = {-5, {"~Dev_UpdateAVR() - unable to open port", 4, F}};
    SetDevReadingLines(p, -1, F);
    p.formatError = {-5, {"~Dev_UpdateAVR() - format error (length %i)", 4, F}};
    p.logFrameBeforeWrite = false;
    p.sentFrame = {4, kSourceFtdiSent};
    p.writeFailed = {-6, {"~Dev_UpdateAVR() - write error", 4, F}};
    p.afterFrameMs = 0;
    p.replyDump = {4, F};
    p.emptyPollWait = WaitKind::Quiet;
    p.acceptWait = WaitKind::Quiet;
    SetTexts(p, kDevTexts, F);
    p.notReady.code = -99;
    p.tooManyErrors.code = -7;
    return p;
}

TransferProfile MakeSilabsTransfer() {
    TransferProfile p;
    p.notOpen = {-1, {"~Dev_UpdateAVR() - port is closed", 4, U}};
    SetDevReadingLines(p, -2, U);
    p.formatError = {-6, {"~Dev_UpdateAVR() - format error (length %i)", 4, U}};
    p.logFrameBeforeWrite = false;
    p.sentFrame = {4, kSourceSilabsSent};
    p.writeFailed = {-7, {"~Dev_UpdateAVR() - write error", 4, U}};
    p.afterFrameMs = 0;
    p.replyDump = {4, kSourceSilabsReceived};
    p.emptyPollWait = WaitKind::Pump;
    p.acceptWait = WaitKind::Sleep;
    p.signatureError = {"Dev_UpdateAVR() - Signature error", 4, U};
    SetTexts(p, kDevTexts, U);
    p.notReady.code = -99;
    p.tooManyErrors.code = -8;
    return p;
}

TransferProfile MakeNetworkTransfer() {
    TransferProfile p;
    p.notOpen = {-1, {"~SynchroniseBootloader() no connection", 2, N}};
    SetDevReadingLines(p, -2, N);
    p.formatError = {-6, {"~UpdateAVR() - format error (length %i)", 4, N}};
    p.logFrameBeforeWrite = true;
    p.sentFrame = {4, kSourceNetworkSent};
    p.writeFailed = {-7, {"~UpdateAVR() error %i in send()", 2, N}};
    p.afterFrameMs = 10;
    p.afterFrameWait = WaitKind::Pump;
    p.replyDump = {4, kSourceNetworkReceived};
    p.replyByte = {"UpdateAVR() - recv. byte (0x%X)", 4, N};
    p.emptyPollWait = WaitKind::Pump;
    p.acceptWait = WaitKind::Pump;
    SetTexts(p,
             {"UpdateAVR() - send frame %i (%i, 0x%.4X)", "UpdateAVR() - CRC error",
              "UpdateAVR() - timeout (%X)", "~UpdateAVR() - bootloader not ready (recv. 0x55)",
              "~UpdateAVR() - too many errors", "~UpdateAVR() - done"},
             N);
    p.notReady.code = -99;
    p.tooManyErrors.code = -8;
    return p;
}

}  // namespace

const SingleSyncProfile& SerialSyncProfile() {
    static const SingleSyncProfile p = MakeSerialSync();
    return p;
}
const SingleSyncProfile& NetworkSyncProfile() {
    static const SingleSyncProfile p = MakeNetworkSync();
    return p;
}
const HuntingSyncProfile& FtdiSyncProfile() {
    static const HuntingSyncProfile p = MakeFtdiSync();
    return p;
}
const HuntingSyncProfile& SilabsSyncProfile() {
    static const HuntingSyncProfile p = MakeSilabsSync();
    return p;
}
const TransferProfile& SerialTransferProfile() {
    static const TransferProfile p = MakeSerialTransfer();
    return p;
}
const TransferProfile& FtdiTransferProfile() {
    static const TransferProfile p = MakeFtdiTransfer();
    return p;
}
const TransferProfile& SilabsTransferProfile() {
    static const TransferProfile p = MakeSilabsTransfer();
    return p;
}
const TransferProfile& NetworkTransferProfile() {
    static const TransferProfile p = MakeNetworkTransfer();
    return p;
}
