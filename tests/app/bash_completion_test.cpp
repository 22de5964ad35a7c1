// The bash completion script, run by bash, offers what the program's own tables hold.
#include <gtest/gtest.h>

#include <iterator>
#include <map>
#include <set>
#include <sstream>

#include "app/child_process.h"
#include "cli/command_line.h"
#include "cli/records_command.h"
#include "cli/station_command.h"
#include "engine/device_types.h"
#include "update/link_table.h"

TEST(BashCompletion, OffersTheKeywordsOptionsLinksAndDeviceTypesTheProgramKnows) {
    // The words after "flashwright", and the candidates (upper case) for the last one.
    std::map<std::string, std::set<std::string>> expected{
        {"''", {"--HELP", "--VERSION"}}, {"station f --", {"--HELP"}}, {"records --", {"--HELP"}}};
    for (const CommandKeyword& command : CommandKeywords()) {
        expected["''"].emplace(command.keyword);
    }
    for (const auto& [line, options] : {std::pair{"station f --", StationCommandOptions()},
                                        std::pair{"records --", RecordsOptions()}}) {
        for (const OptionSpec& option : options) {
            expected[line].insert(UpperCase(option.name));
        }
    }
    for (const LinkRow& row : Links()) {
        expected["station --link ''"].emplace(row.keyword);
    }
    for (const DeviceType& type : DeviceTypes()) {
        if (type.link == UpdateLink::Serial || type.link == UpdateLink::Network) {
            expected["station f --device-type ''"].insert(UpperCase(type.name));
        }
    }
    for (const auto& [line, words] : expected) {
        const std::string script = "source " FW_COMPLETION_SCRIPT "; COMP_WORDS=(flashwright " +
                                   line + "); COMP_CWORD=$((${#COMP_WORDS[@]} - 1)); " +
                                   "_flashwright; printf '%s\\n' \"${COMPREPLY[@]^^}\"";
        std::istringstream offered(RunChild("/bin/bash", {"--norc", "-c", script}).out);
        EXPECT_EQ(std::set<std::string>(std::istream_iterator<std::string>(offered), {}), words)
            << line;
    }
}
