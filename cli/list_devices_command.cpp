#include "cli/list_devices_command.h"

#include <cstdio>

#include "cli/operands.h"
#include "update/link_table.h"

int RunListDevicesCommand(std::span<const std::string> tokens, LogSink& log) {
    if (const std::optional<int> code = ParseNoOperands(tokens, "--list-devices")) {
        return *code;
    }
    for (const LinkRow& row : Links()) {
        if (row.listDevices == nullptr) {
            continue;
        }
        const DeviceListing listing = row.listDevices(log);
        for (const std::string& line : listing.lines) {
            std::printf("%s\n", line.c_str());
        }
        std::fflush(stdout);
        for (const std::string& note : listing.notes) {
            std::fprintf(stderr, "flashwright: %s\n", note.c_str());
        }
        if (listing.exitCode != 0) {
            return listing.exitCode;
        }
    }
    return 0;
}
