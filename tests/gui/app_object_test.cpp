// The application object runs a command line's update before, and instead of, any window.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <string>
#include <vector>

#include "app/flashwright_app.h"

namespace {

TEST(FlashwrightApp, CommandKeywordRunsWithoutAnyWindowAndGivesTheExitCode) {
    for (const char* keyword : {"UDP", "udp", "Udp"}) {
        std::vector<std::string> words{"flashwright", keyword};
        std::vector<char*> argv;
        for (std::string& word : words) {
            argv.push_back(word.data());
        }
        argv.push_back(nullptr);
        int argc = static_cast<int>(words.size());

        CFlashwrightApp app(argc, argv.data());
        EXPECT_FALSE(app.InitInstance());
        // No address: the link cannot be opened.
        EXPECT_EQ(app.ExitInstance(), -10) << keyword;
        EXPECT_EQ(QCoreApplication::instance(), nullptr);
    }
}

}  // namespace
