// A job's result hooks as the station runs them: real programs, all at once, beside the caller.

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <map>
#include <mutex>
#include <sstream>
#include <thread>

#include "records/record_json.h"
#include "station/result_hook.h"
#include "support/temp_dir.h"

TEST(ResultHooksTest, HooksGetTheRecordAndEndAsReported) {
    TempDir dir;
    const std::string d = dir.Path().string();
    AttemptRecord record;
    record.uuid = "4f2c-uuid";
    record.station = "line3";
    record.device = "FT12 34";
    record.resultCode = -15;
    record.message = "Error: interrupted by SIGTERM!\n";
    struct Case {
        std::string script;  // the hook's body; none: a program that does not exist
        std::string input;
        unsigned timeoutSeconds;
        std::string outcome;
    };
    const std::vector<Case> cases{
        {"cat >" + d + "/in; env >" + d + "/env; printf %s \"$2\" >" + d + "/arg",
         RecordJson(7, record), 10, "exit 0"},
        // Ignores SIGTERM (so only the SIGKILL after the grace ends it) and never reads its input.
        {"trap '' TERM; sleep 600 & echo $$ $! >" + d + "/pids; exec sleep 600",
         std::string(1 << 20, 'x'), 1, "killed after 1 s (timed out)"},
        {"exit 3", "{}", 10, "exit 3"},
        {"", "{}", 10, "could not start: No such file or directory"},
    };
    std::mutex mutex;
    std::map<std::size_t, std::string> outcomes;
    {
        NullLog log;
        ResultHooks hooks(log);
        for (std::size_t i = 0; i < cases.size(); ++i) {
            std::string program = d + "/hook" + std::to_string(i);
            if (!cases[i].script.empty()) {
                dir.Write("hook" + std::to_string(i), "#!/bin/sh\n" + cases[i].script + "\n");
                std::filesystem::permissions(program, std::filesystem::perms::owner_all);
            }
            hooks.Run({{program, "--printer", "line 3"},
                       cases[i].input,
                       HookEnvironment(record, "rev C", "L2026-A"),
                       cases[i].timeoutSeconds},
                      [&, i](const HookOutcome& outcome) {
                          const std::lock_guard hold(mutex);
                          outcomes[i] = outcome.Text();
                      });
        }
        const std::lock_guard hold(mutex);
        EXPECT_EQ(outcomes.count(1), 0U) << "Run waited for the hanging hook";
    }
    for (std::size_t i = 0; i < cases.size(); ++i) {
        EXPECT_EQ(outcomes[i], cases[i].outcome) << i;
    }
    EXPECT_EQ(dir.Read("in"), RecordJson(7, record) + "\n");
    EXPECT_EQ(dir.Read("arg"), "line 3");
    const std::string env = dir.Read("env");
    for (const char* variable :
         {"FLASHWRIGHT_DEVICE=FT12 34\n", "FLASHWRIGHT_RESULT_CODE=-15\n",
          "FLASHWRIGHT_RESULT=Error: interrupted by SIGTERM!\n", "FLASHWRIGHT_LOT=L2026-A\n",
          "FLASHWRIGHT_JOB=rev C\n", "FLASHWRIGHT_RECORD_ID=4f2c-uuid\n",
          "FLASHWRIGHT_STATION=line3\n", "PATH="}) {
        EXPECT_NE(env.find(variable), std::string::npos) << variable << env;
    }
    // Both of the hanging hook's processes are gone (or zombies left for their parent to reap).
    std::istringstream pids(dir.Read("pids"));
    int checked = 0;
    for (std::string pid; pids >> pid; ++checked) {
        // A killed process dies asynchronously: its end is waited for, with a bound.
        const auto stateLine = [&] {
            std::ifstream stat("/proc/" + pid + "/stat");
            std::string line;
            std::getline(stat, line);
            return line;
        };
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
        std::string line = stateLine();
        while (!line.empty() && line.find(") Z ") == std::string::npos &&
               std::chrono::steady_clock::now() < deadline) {
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
            line = stateLine();
        }
        EXPECT_TRUE(line.empty() || line.find(") Z ") != std::string::npos) << line;
    }
    EXPECT_EQ(checked, 2);
}
