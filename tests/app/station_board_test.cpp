#include <pty.h>

#include <algorithm>

#include "cli/station_view.h"
#include "e2e_fixture.h"
#include "log/text_format.h"
#include "support/virtual_clock.h"

// 60 devices come and go in turn, 15 of them on the bus at a time, on a terminal of 10 lines.
TEST(StationBoard, KeepsToTheTerminalAsDevicesComeAndGo) {
    int ends[2];
    winsize size{10, 100, 0, 0};
    ASSERT_EQ(::openpty(&ends[0], &ends[1], nullptr, nullptr, &size), 0);
    const UniqueFd master(ends[0]), slave(ends[1]);
    VirtualClock clock;
    StationBoard board(slave.Get(), "app.enc", std::string(64, 'a'), {}, clock);
    const auto device = [](int i) { return StrPrintf("FW%04d", i); };
    for (int i = 0; i < 80; ++i) {
        if (i < 60) {
            board.Attempt(device(i));
            board.Result(device(i), 0, "Programming successful", false);
        }
        if (i >= 15 && i < 75) {
            board.Left(device(i - 15));
        }
        clock.Advance(1000);
        // Within the terminal; the header, and the latest result until a while after it left.
        const std::string frame = board.Frame();
        EXPECT_LE(std::ranges::count(frame, '\n'), 9) << frame;
        EXPECT_LE(frame.size(), 9u * 110u);
        EXPECT_NE(frame.find("\rstation  app.enc  sha256 aaaaaaaaaaaa  passed"), std::string::npos);
        const std::string latest = device(std::min(i, 59)) + "     0.0 s  passed: Programming";
        EXPECT_EQ(frame.find(latest) != std::string::npos,
                  i + 1 < 74 + static_cast<int>(StationBoard::kDepartedShownMs / 1000))
            << i << frame;
    }
    EXPECT_EQ(std::ranges::count(board.Frame(), '\n'), 1);  // the header alone
}

// A terminal paused with Ctrl-S and never read: the board waits, the device's update does not.
TEST_F(NetworkUpdateTest, StationUpdatesBehindAPausedTerminal) {
    StartDevice("127.0.93.1");
    const std::string file = MakeUpdateFile("app.enc", 3000);
    int ends[2];
    ASSERT_EQ(::openpty(&ends[0], &ends[1], nullptr, nullptr, nullptr), 0);
    const UniqueFd master(ends[0]), slave(ends[1]);
    ASSERT_EQ(::write(master.Get(), "\x13", 1), 1);
    ChildOptions options;
    options.stderrTerminal = ::ttyname(slave.Get());
    for (const char* folder : {"XDG_CONFIG_HOME", "XDG_RUNTIME_DIR", "XDG_STATE_HOME"}) {
        options.environment.emplace_back(folder, dir_.Path().string());
    }
    const std::size_t frames = SplitFrames(ImageOf(file)).size();
    options.interruptWhen = [&] { return DeviceFrames().size() >= frames; };
    const ChildResult r =
        Flashwright({"station", file, "--link", "UDP", "--slots", "127.0.93.1"}, options);
    EXPECT_FALSE(r.killed);
    EXPECT_EQ(r.status, 0);
}
