#include <gtest/gtest.h>

#include <filesystem>

#include "log/debug_log.h"
#include "log/program_folder.h"
#include "support/temp_dir.h"

namespace fs = std::filesystem;

namespace {

TEST(ProgramFolder, IsTheFolderOfTheRunningExecutable) {
    const std::string folder = ProgramFolder();
    ASSERT_FALSE(folder.empty());
    EXPECT_TRUE(fs::exists(fs::path(folder) / "log_tests"));
    // A writable program folder holds the log files; the build folder is writable.
    DebugLogOptions options;
    options.startWorker = false;
    EXPECT_EQ(C_Debug_Log(options).Folder(), folder);
}

TEST(LogFolder, WritableCandidateIsKept) {
    TempDir dir;
    EXPECT_EQ(LogFolderFor(dir.Path().string(), "/state", "/home/u"), dir.Path().string());
}

TEST(LogFolder, UnwritableCandidateFallsBackToUserStateFolder) {
    TempDir dir;
    // Below a plain file nothing can be created, whoever runs the test.
    const std::string unwritable = dir.Write("file", "x") + "/bin";
    EXPECT_EQ(LogFolderFor(unwritable, "/state", "/home/u"), "/state/flashwright");
    EXPECT_EQ(LogFolderFor(unwritable, "", "/home/u"), "/home/u/.local/state/flashwright");
    // A relative XDG_STATE_HOME is invalid and ignored.
    EXPECT_EQ(LogFolderFor(unwritable, "state", "/home/u"), "/home/u/.local/state/flashwright");
    EXPECT_EQ(LogFolderFor("", "/state", "/home/u"), "/state/flashwright");
}

TEST(LogFolder, OnlyAProgramInsideItsBuildTreeCountsAsRunFromIt) {
    EXPECT_TRUE(InBuildTree("/src/build/app", "/src/build"));
    EXPECT_TRUE(InBuildTree("/src/build", "/src/build/"));
    EXPECT_FALSE(InBuildTree("/src/build-asan/app", "/src/build"));
    EXPECT_FALSE(InBuildTree("/usr/bin", "/src/build"));
}

TEST(LogFolder, FallbackFolderIsCreatedWhenTheFilesAreSwitchedOn) {
    TempDir dir;
    const std::string unwritable = dir.Write("file", "x") + "/bin";
    const fs::path state = dir.Path() / "state";
    DebugLogOptions options;
    options.folder = LogFolderFor(unwritable, state.string(), "");
    C_Debug_Log log(options);
    log.SetOutputs(true, false, false, false);
    EXPECT_EQ(fs::file_size(state / "flashwright" / "debug_log.txt"), 1U);
}

}  // namespace
