#include <gtest/gtest.h>

#include "cli/command_line.h"
#include "support/recording_log.h"
#include "update/exit_codes.h"
#include "update/verdict.h"

TEST(CommandLine, WithoutACommandKeywordTheDialogIsShown) {
    RecordingLog log;
    const std::vector<std::string> none;
    const std::vector<std::string> file{"update.enc"};
    const std::vector<std::string> other{"UDPX", "127.0.0.1", "update.enc"};
    EXPECT_FALSE(RunCommandLine(none, log).has_value());
    EXPECT_FALSE(RunCommandLine(file, log).has_value());
    EXPECT_FALSE(RunCommandLine(other, log).has_value());
    EXPECT_TRUE(log.Entries().empty());
}

TEST(CommandLine, KeywordAloneTriesAnEmptyAddressAndLogsIt) {
    RecordingLog log;
    const std::vector<std::string> args{"Udp"};
    EXPECT_EQ(RunCommandLine(args, log), kExitOpenFailed);
    EXPECT_TRUE(log.HasLine(4, 20, "Open_Port(IP )"));
    EXPECT_TRUE(log.HasLine(2, 20, "~Open_Port() IP_Addr to short"));
}

TEST(ExitCodes, ResultsWithoutACodeOfTheirOwn) {
    EXPECT_EQ(NetworkUpdateExitCode(0, true), -16);
    EXPECT_EQ(NetworkUpdateExitCode(-99, true), -17);
    EXPECT_EQ(NetworkUpdateExitCode(-8, true), -15);
    EXPECT_EQ(NetworkUpdateExitCode(-5, false), -13);
    EXPECT_EQ(NetworkUpdateExitCode(-2, false), -12);
    EXPECT_EQ(NetworkUpdateExitCode(-7, true), -16);
    EXPECT_EQ(NetworkUpdateExitCode(-1, false), -99);
    EXPECT_EQ(NetworkUpdateExitCode(-7, false), -93);
}

TEST(ExitCodes, EveryFailureGivesANonZeroExitStatus) {
    for (int r = -99; r <= 0; ++r) {
        for (const bool flag : {false, true}) {
            const int code = NetworkUpdateExitCode(r, flag);
            EXPECT_EQ(code == 0, r == 0 && !flag) << r << " " << flag;
            EXPECT_EQ((code & 0xFF) == 0, code == 0) << r << " " << flag;
        }
    }
}

TEST(Verdict, NetworkTextsFollowTheRule) {
    const auto text = [](int code, bool flag) {
        return VerdictText(code, flag, NetworkUpdateVerdicts());
    };
    EXPECT_EQ(text(0, false), "Programming successful");
    EXPECT_EQ(text(0, true), "Error: this is not a valid device!");
    EXPECT_EQ(text(-99, true), "Error: BootLoader is hanging!");
    EXPECT_EQ(text(-8, false), "Error: No or wrong response from target device!");
    EXPECT_EQ(text(-6, false), "Error: Format error in update file!");
    EXPECT_EQ(text(-3, false), "Error: Format error in update file!");
    EXPECT_EQ(text(-5, false), "Error: can not read update file!");
    EXPECT_EQ(text(-2, true), "Error: can not read update file!");
    EXPECT_EQ(text(-7, false), "Update_AVR() = -7\n");
    EXPECT_EQ(text(-1, true), "Error: this is not a valid device!");
}
