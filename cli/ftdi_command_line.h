#pragma once

#include "records/attempt_record.h"

#include <memory>
#include <span>
#include <string>

#include "cli/device_request.h"
#include "engine/clock.h"
#include "links/ftdi/ftdi_library.h"
#include "log/log_sink.h"
#include "update/update_observer.h"

class TerminalReplugPrompt;

// What the FTDI command line asks for: a device by its serial number and the update file.
using FtdiUpdateRequest = DeviceUpdateRequest;

// The windowless FTDI update: finds the device, switches a Corvane device into its bootloader
// (with the replug guidance on a terminal when it does not switch), opens it at 115200,
// synchronises for up to 10 s, checks the file, sends it and returns the exit code
// (update/exit_codes.h). Without a prompt, a device that does not switch ends with -18.
// With `record`, the device found gives it its description and a Corvane device's versions.
int RunFtdiUpdate(const FtdiUpdateRequest& request, LogSink& log, Clock& clock,
                  UpdateObserver& observer, TerminalReplugPrompt* prompt,
                  std::unique_ptr<FtdiLibrary> library, AttemptRecord* record = nullptr);

// "FTDI <serial-number> <file> [--description TEXT]": the operands after the keyword.
int RunFtdiCommand(std::span<const std::string> operands, LogSink& log);
