#pragma once

// What sets the four links apart in the bootloader dialogue is data: log texts with their
// levels and sources, result codes, pauses and their kind. The synchronisation and transfer
// code is shared; each link hands in its profile.

enum class WaitKind {
    Sleep,  // plain sleep: the user interface does not respond meanwhile
    Pump,   // PumpWait: the user interface stays alive
    Quiet,  // QuietWait: the user interface repaints and answers the desktop, takes no input
};

// A log line: a printf format (nullptr for none) with its level and source. Which
// arguments a format receives is stated at each field.
struct LogLine {
    const char* format = nullptr;
    int level = 4;
    int source = 0;
};

struct DumpRule {
    int level = 4;
    int source = 0;
};

// A way to end an operation: its result code and the line logged for it.
struct Outcome {
    int code = 0;
    LogLine line;
};

// Single synchronisation attempt (serial and network links).
struct SingleSyncProfile {
    Outcome notOpen;
    Outcome syncWriteFailed;  // args: error
    DumpRule sent;
    unsigned answerWaitMs = 50;
    unsigned answerCapacity = 32;  // bytes one read of the answer takes
    Outcome statusFailed;          // args: error
    Outcome nothing;
    Outcome tooMany;     // args: count
    Outcome readFailed;  // args: error
    DumpRule received;
    Outcome wrongCount;  // args: count
    Outcome badFormat;
    Outcome startWriteFailed;  // args: error
    unsigned afterStartMs = 25;
    LogLine done;
};

// Hunting synchronisation (the two USB links): attempts until a deadline.
struct HuntingSyncProfile {
    Outcome notOpen;  // no format: the link opens the device itself before
    unsigned deadlineMs = 2500;
    WaitKind waits = WaitKind::Sleep;
    // args: error; no format: the write's result is ignored. A failed write ends the attempt
    // with the no-answer pause.
    LogLine syncWriteFailed;
    DumpRule sent;
    LogLine byteReceived;  // args: byte
    DumpRule received;
    unsigned huntWindowMs = 50;
    unsigned noAnswerPauseMs = 50;
    unsigned beforeRestMs = 5;
    // A failed read of the last four bytes; no format: it counts as a short answer.
    LogLine restReadFailed;  // args: error
    // The dump of the last four bytes starts with the 0xFE already received.
    bool restDumpWithAnswerByte = false;
    LogLine restShort;  // args: count
    LogLine wrongEnd;   // args: end byte
    LogLine accepted;   // args: version high, version low, device id
    unsigned afterStartMs = 50;
    LogLine done;
    Outcome timeout;
};

// The transfer of the update image (all links).
struct TransferProfile {
    // Serial, network and SiLabs end when the link is not open; FTDI opens the device itself
    // after the file was read (openFailed).
    bool opensLinkItself = false;
    Outcome notOpen;
    Outcome openFailed;
    Outcome fileInUse;
    Outcome wrongFileSize;  // args: size in bytes
    Outcome noMemory;
    Outcome fileReadError;  // args: error
    Outcome formatError;    // args: L
    LogLine sendFrame;      // args: frame number, offset, L
    bool logFrameBeforeWrite = true;
    DumpRule sentFrame;
    Outcome writeFailed;  // args: error
    unsigned afterFrameMs = 10;
    WaitKind afterFrameWait = WaitKind::Pump;
    Outcome statusFailed;  // args: error
    Outcome readFailed;    // args: error
    DumpRule replyDump;
    LogLine replyByte;  // args: byte
    WaitKind emptyPollWait = WaitKind::Pump;
    WaitKind acceptWait = WaitKind::Pump;
    LogLine signatureError;
    LogLine crcError;
    LogLine timeout;  // args: byte
    Outcome notReady;
    Outcome tooManyErrors;
    LogLine done;
};
