// The update's real-time waits, once each: the 10 s synchronisation window, a device that
// starts late, and the 2500 ms wait for a reply that never comes.

#include "e2e_fixture.h"
#include "update/exit_codes.h"

TEST_F(NetworkUpdateTest, NoDeviceEndsAfterTheSynchronisationWindow) {
    const std::string file = MakeUpdateFile("app.enc", 600);
    const ChildResult r = Flashwright({"UDP", "127.0.3.20", file});
    EXPECT_EQ(r.status, ExitStatus(kExitNoBootloader));
    EXPECT_EQ(r.status, 245);
}

TEST_F(NetworkUpdateTest, DeviceThatStartsAnsweringAfterSecondsIsUpdated) {
    SimOptions device;
    device.syncDelayMs = 3000;
    StartDevice("127.0.3.21", device);
    const std::string file = MakeUpdateFile("app.enc", 600);

    EXPECT_EQ(Flashwright({"UDP", "127.0.3.21", file}).status, 0);
    EXPECT_EQ(DeviceFrames().size(), SplitFrames(ImageOf(file)).size());
    // The requests made while the device was starting went unanswered.
    EXPECT_GT(device_->Inspect([](const BootloaderSim& s) { return s.SyncRequests(); }), 10u);
}

TEST_F(NetworkUpdateTest, SilentDeviceIsWaitedForAndTheFrameSentAgain) {
    SimOptions device;
    device.faults = {{1, std::nullopt, 1}};
    StartDevice("127.0.3.22", device);
    const std::string file = MakeUpdateFile("app.enc", 600);
    const std::vector<Bytes> sent = SplitFrames(ImageOf(file));

    EXPECT_EQ(Flashwright({"UDP", "127.0.3.22", file}).status, 0);
    const std::vector<SimFrame> got = DeviceFrames();
    ASSERT_EQ(got.size(), 4u);
    EXPECT_FALSE(got[1].reply.has_value());
    EXPECT_EQ(got[1].bytes, sent[1]);
    EXPECT_EQ(got[2].bytes, sent[1]);
}
