#pragma once

#include <functional>
#include <string>

#include "engine/byte_transport.h"
#include "engine/clock.h"
#include "engine/link_profile.h"
#include "engine/progress_sink.h"
#include "engine/protocol.h"
#include "log/log_sink.h"

// What one protocol operation works with: the link's carriage, time and the log.
struct LinkContext {
    ByteTransport& transport;
    Clock& clock;
    LogSink& log;
};

// One synchronisation attempt: BL_SYNC, wait, take the 5-byte answer, BL_START.
// Returns 0 with `info` filled, or the profile's code for the failure.
int SynchroniseSingle(const LinkContext& link, const SingleSyncProfile& profile,
                      BootloaderInfo& info);

// Attempts until one succeeds or the profile's deadline has passed (hunting for 0xFE in
// whatever the link delivers). Returns 0 with `info` filled, or a negative code.
int SynchroniseHunting(const LinkContext& link, const HuntingSyncProfile& profile,
                       BootloaderInfo& info);

struct TransferRequest {
    std::string path;
    ProgressSink* progress = nullptr;  // none: no progress messages
    // For links that open the device themselves: opens it, true on success.
    std::function<bool()> openLink;
};

// What the transfer returns when its progress sink asked it to stop between two frames; no
// link uses this code for anything else.
inline constexpr int kTransferStopped = -98;

// The update operation: reads the update file, checks every frame, then sends the frames one
// at a time and acts on each reply. Closes the link on every end after the file was read.
int RunTransfer(const LinkContext& link, const TransferProfile& profile,
                const TransferRequest& request, BootloaderInfo& info);
