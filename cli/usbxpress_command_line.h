#pragma once

#include "records/attempt_record.h"

#include <cstdio>
#include <memory>
#include <span>
#include <string>

#include "cli/device_request.h"
#include "engine/clock.h"
#include "links/usbxpress/usbxpress_library.h"
#include "log/log_sink.h"
#include "update/update_observer.h"

// What the USBXpress command line asks for.
using UsbXpressUpdateRequest = DeviceUpdateRequest;

// The windowless USBXpress update: finds the device, opens it at 115200, sends a Pellix-USB
// device its firmware-update command and opens it again, synchronises for the window (the
// power-cycle request goes to `prompt` first, when given), checks the file, sends it and
// returns the exit code (update/exit_codes.h).
// With `record`, the device found gives it its description.
int RunUsbXpressUpdate(const UsbXpressUpdateRequest& request, LogSink& log, Clock& clock,
                       UpdateObserver& observer, std::FILE* prompt,
                       std::unique_ptr<UsbXpressLibrary> library, AttemptRecord* record = nullptr);

// "USBX <serial-number> <file> [--description TEXT] [--wait SECONDS]".
int RunUsbXpressCommand(std::span<const std::string> operands, LogSink& log);
