#include <gtest/gtest.h>

#include "cli/command_line.h"
#include "cli/records_output.h"
#include "engine/device_types.h"
#include "support/recording_log.h"
#include "support/virtual_clock.h"
#include "update/exit_codes.h"
#include "update/ftdi_update.h"
#include "update/serial_update.h"
#include "update/network_update.h"
#include "update/usbxpress_update.h"
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

// What each link's update results mean: its own exit code and text where its table has one,
// otherwise the signature error's, otherwise the bare code.
TEST(ResultMeanings, ExitCodesAndFinalMessagesOfEveryLink) {
    constexpr const char* kOk = "Programming successful";
    constexpr const char* kInvalid = "Error: this is not a valid device!";
    constexpr const char* kHanging = "Error: BootLoader is hanging!";
    constexpr const char* kNoResponse = "Error: No or wrong response from target device!";
    constexpr const char* kFormat = "Error: Format error in update file!";
    constexpr const char* kUnreadable = "Error: can not read update file!";
    using Table = std::span<const ResultMeaning> (*)();
    const struct {
        Table link;
        int result;
        bool signatureError;
        int exitCode;
        std::string text;
    } cases[] = {
        {NetworkResults, 0, false, 0, kOk},
        {NetworkResults, 0, true, -16, kInvalid},
        {NetworkResults, -99, true, -17, kHanging},
        {NetworkResults, -8, true, -15, kNoResponse},
        {NetworkResults, -6, false, -14, kFormat},
        {NetworkResults, -3, false, -14, kFormat},
        {NetworkResults, -5, false, -13, kUnreadable},
        {NetworkResults, -2, true, -12, kUnreadable},
        {NetworkResults, -7, true, -16, kInvalid},
        {NetworkResults, -7, false, -93, "Update_AVR() = -7\n"},
        {NetworkResults, -1, false, -99, "Update_AVR() = -1\n"},
        {NetworkResults, -1, true, -16, kInvalid},
        {SerialResults, 0, true, -16, kInvalid},
        {SerialResults, -99, true, -17, kHanging},
        {SerialResults, -10, true, -15, kNoResponse},
        {SerialResults, -9, false, -91, kNoResponse},
        // A failed status query of the port: not too many errors, as the network link's -8 is.
        {SerialResults, -8, false, -92, "Update_AVR() = -8\n"},
        {SerialResults, -8, true, -16, kInvalid},
        {SerialResults, -7, true, -16, "Error: unable to send data!"},
        {SerialResults, -6, false, -14, kFormat},
        {SerialResults, -3, false, -14, kFormat},
        {SerialResults, -5, false, -13, kUnreadable},
        {SerialResults, -2, false, -12, kUnreadable},
        {SerialResults, -1, false, -99, "Update_AVR() = -1\n"},
        {FtdiResults, 0, true, -16, kInvalid},
        {FtdiResults, -99, false, -17, kHanging},
        {FtdiResults, -7, false, -15, kNoResponse},
        {FtdiResults, -1, false, -12, "Update_AVR() = -1\n"},
        {FtdiResults, -2, false, -14, "Update_AVR() = -2\n"},
        {FtdiResults, -3, false, -97, "Update_AVR() = -3\n"},
        {FtdiResults, -4, false, -13, "Update_AVR() = -4\n"},
        {FtdiResults, -5, false, -14, "Update_AVR() = -5\n"},
        {FtdiResults, -6, false, -94, "Update_AVR() = -6\n"},
        {FtdiResults, -6, true, -16, kInvalid},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << c.result << " " << c.signatureError);
        EXPECT_EQ(ResultExitCode(c.result, c.signatureError, c.link()), c.exitCode);
        EXPECT_EQ(VerdictText(c.result, c.signatureError, c.link()), c.text);
    }
    // Only success exits with a status the shell takes for success (the code modulo 256).
    for (const Table link : {NetworkResults, SerialResults, FtdiResults, SilabsResults}) {
        for (int r = -99; r <= 0; ++r) {
            for (const bool flag : {false, true}) {
                const int code = ResultExitCode(r, flag, link());
                EXPECT_EQ((code & 0xFF) == 0, r == 0 && !flag) << r << " " << flag;
            }
        }
    }
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

class CallListObserver final : public UpdateObserver {
  public:
    std::vector<std::string>& calls;
    int cancelAfter;  // Cancelled() answers false this many times, then true
    explicit CallListObserver(std::vector<std::string>& record, int cancel)
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
        CallListObserver observer(calls, c.cancelAfter);
        RecordingLog log;
        VirtualClock clock;
        const FrontEnd frontEnd{.sync = {SyncRule::Kind::UntilCancel, 0},
                                .logName = "Run()",
                                .asksBeforeReplug = true,
                                .closesAfterBadFile = false,
                                .path = "/nonexistent.enc"};
        const UpdateOutcome outcome =
            UpdateOverNetwork(link, "127.0.0.1", FindDeviceType(UpdateLink::Network, "Korvo"),
                              frontEnd, observer, log, clock);
        EXPECT_EQ(calls, c.calls);
        EXPECT_EQ(outcome.quiet, c.quiet);
    }
}

TEST(RecordsOutputTest, CsvQuotesOnlyWhatNeedsIt) {
    const std::vector<std::string> fields{"plain", "a,b", "say \"hi\"", "cr\r", "lf\n", ""};
    EXPECT_EQ(CsvLine(fields), "plain,\"a,b\",\"say \"\"hi\"\"\",cr\\r,lf\\n,\r\n");
}
