#include <gtest/gtest.h>

#include "cli/command_line.h"
#include "engine/device_types.h"
#include "support/recording_log.h"
#include "support/virtual_clock.h"
#include "update/exit_codes.h"
#include "update/udp_update.h"
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
    EXPECT_EQ(ResultExitCode(0, true, NetworkResults()), -16);
    EXPECT_EQ(ResultExitCode(-99, true, NetworkResults()), -17);
    EXPECT_EQ(ResultExitCode(-8, true, NetworkResults()), -15);
    EXPECT_EQ(ResultExitCode(-5, false, NetworkResults()), -13);
    EXPECT_EQ(ResultExitCode(-2, false, NetworkResults()), -12);
    EXPECT_EQ(ResultExitCode(-7, true, NetworkResults()), -16);
    EXPECT_EQ(ResultExitCode(-1, false, NetworkResults()), -99);
    EXPECT_EQ(ResultExitCode(-7, false, NetworkResults()), -93);
}

TEST(ExitCodes, EveryFailureGivesANonZeroExitStatus) {
    for (int r = -99; r <= 0; ++r) {
        for (const bool flag : {false, true}) {
            const int code = ResultExitCode(r, flag, NetworkResults());
            EXPECT_EQ(code == 0, r == 0 && !flag) << r << " " << flag;
            EXPECT_EQ((code & 0xFF) == 0, code == 0) << r << " " << flag;
        }
    }
}

TEST(Verdict, NetworkTextsFollowTheRule) {
    const auto text = [](int code, bool flag) { return VerdictText(code, flag, NetworkResults()); };
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

// The observer contract through the network recipe on a scripted link: the state message
// comes and goes around the attempts, the first attempt goes out before Cancel is looked at,
// Cancel ends the run quietly, an answer leads to the file check.
class ScriptedNetworkLink final : public NetworkLink {
  public:
    std::vector<std::string>& calls;
    int answerAt;  // the attempt that answers; 0: none
    int attempts = 0;
    ScriptedNetworkLink(std::vector<std::string>& record, int answer)
        : calls(record), answerAt(answer) {}
    int Open_Port(std::string_view) override { return calls.push_back("open"), 0; }
    int ResetDevice(std::string_view text) override {
        return calls.push_back("reset " + std::string(text)), 0;
    }
    int SynchroniseBootloader() override {
        calls.push_back("sync");
        return ++attempts == answerAt ? 0 : -1;
    }
    int UpdateAVR(const std::string&, ProgressSink*) override { return calls.push_back("send"), 0; }
    BootloaderInfo Info() const override { return {}; }
};

class RecordingObserver final : public UpdateObserver {
  public:
    std::vector<std::string>& calls;
    int cancelAfter;  // Cancelled() answers false this many times, then true
    explicit RecordingObserver(std::vector<std::string>& record, int cancel)
        : calls(record), cancelAfter(cancel) {}
    void ShowState(StateKind, std::string_view caption, std::string_view) override {
        calls.push_back("show " + std::string(caption));
    }
    void HideState() override { calls.push_back("hide"); }
    bool Cancelled() override { return --cancelAfter < 0; }
    void Busy(bool on) override { calls.push_back(on ? "busy" : "idle"); }
    void Synchronised(const BootloaderInfo&) override { calls.push_back("synchronised"); }
};

TEST(UpdateRecipeTest, TellsTheObserverEachStepInOrder) {
    const struct {
        int answerAt, cancelAfter;
        std::vector<std::string> calls;
        bool quiet;
    } cases[] = {
        {0, 1, {"show Start Update", "open", "reset Boot", "sync", "sync", "hide"}, true},
        {2,
         9,
         {"show Start Update", "open", "reset Boot", "sync", "sync", "hide", "busy",
          "synchronised"},
         false},
    };
    for (const auto& c : cases) {
        std::vector<std::string> calls;
        ScriptedNetworkLink link(calls, c.answerAt);
        RecordingObserver observer(calls, c.cancelAfter);
        RecordingLog log;
        VirtualClock clock;
        const FrontEnd frontEnd{
            {SyncRule::Kind::UntilCancel, 0}, "Run()", false, true, false, "/nonexistent.enc"};
        const UpdateOutcome outcome =
            UpdateOverNetwork(link, "127.0.0.1", FindDeviceType(UpdateLink::Network, "Korvo"),
                              frontEnd, observer, log, clock);
        EXPECT_EQ(calls, c.calls);
        EXPECT_EQ(outcome.quiet, c.quiet);
    }
}
