#pragma once

#include <functional>
#include <string_view>

#include "engine/clock.h"
#include "log/log_sink.h"

// What the replug guidance needs of the user: a request with a Cancel button, a message for
// an internal error, and whether Cancel was pressed. The desktop shows a dialog, the command
// line a terminal prompt; the link itself stays free of any user interface.
class ReplugPrompt {
  public:
    virtual ~ReplugPrompt() = default;
    // Shows (or shows again) the request with its caption and text, Cancel offered.
    virtual void Show(std::string_view caption, std::string_view text) = 0;
    virtual void Hide() = 0;
    // An error the user can only acknowledge.
    virtual void InternalError(std::string_view text) = 0;
    virtual bool Cancelled() = 0;
};

// Guides the user through unplugging and replugging the device, looking for it with `find`
// (its index in a fresh list, negative when it is not attached) with every event dispatched
// between looks. The index it came back under, -1 when it is not attached at the start, -99
// when the user cancelled.
int GuideReplug(LogSink& log, Clock& clock, ReplugPrompt& prompt, std::string_view name,
                std::string_view serialNumber, const std::function<int()>& find);
