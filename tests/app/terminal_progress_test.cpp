#include <gtest/gtest.h>

#include <cstdio>
#include <memory>

#include "cli/terminal_progress.h"
#include "support/virtual_clock.h"

namespace {

// Collects what the display writes.
class Capture {
  public:
    Capture() : file_(std::tmpfile()) {}
    ~Capture() { std::fclose(file_); }
    std::FILE* File() { return file_; }
    std::string Text() {
        std::fflush(file_);
        std::rewind(file_);
        std::string text;
        for (int c; (c = std::fgetc(file_)) != EOF;) {
            text.push_back(static_cast<char>(c));
        }
        return text;
    }

  private:
    std::FILE* file_;
};

}  // namespace

TEST(TerminalProgress, NotATerminalShowsNothing) {
    Capture out;
    VirtualClock clock;
    {
        TerminalProgress display(out.File(), false, "10.1.1.1", clock);
        display.WaitingForBootloader(500);
        display.Synchronised(BootloaderInfo{1, 5, 1, false});
        EXPECT_EQ(display.TransferStarting(100), nullptr);
        display.Finished("Programming successful", 0);
    }
    EXPECT_EQ(out.Text(), "");
}

TEST(TerminalProgress, RedrawsOnEveryNewPerCentOnlyAndEndsWithTheVerdict) {
    Capture out;
    VirtualClock clock;
    {
        TerminalProgress display(out.File(), true, "10.1.1.1", clock);
        ProgressSink* sink = display.TransferStarting(1000);
        ASSERT_NE(sink, nullptr);
        sink->SetRange(0, 100);
        sink->SetPos(0);
        sink->SetPos(0);  // unchanged and too soon: not drawn again
        clock.Advance(10);
        sink->SetPos(40);
        display.Finished("Update_AVR() = -7\n", -93);
    }
    const std::string text = out.Text();
    EXPECT_EQ(text,
              "\r[------------------------------]   0%  0.0 / 1.0 KiB  0.0 s\x1b[K"
              "\r[############------------------]  40%  0.4 / 1.0 KiB  0.0 s\x1b[K\n"
              "Update_AVR() = -7 (exit code -93)\n");
}
