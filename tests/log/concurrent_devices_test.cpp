// Several devices updated at once, each on its own thread with its own link, all logging into
// one log front: the front and the engine must stay correct (and ThreadSanitizer quiet).
#include <gtest/gtest.h>

#include <fstream>
#include <thread>
#include <vector>

#include "engine/bootloader_protocol.h"
#include "engine/link_profiles.h"
#include "log/device_log.h"
#include "log_test_support.h"
#include "support/scripted_transport.h"
#include "support/temp_dir.h"

TEST(ConcurrentDevices, EachUpdateSucceedsAndEveryLineAndDumpNamesItsDevice) {
    TempDir dir;
    // Ten frames of 100 bytes, as hexadecimal text.
    const std::string file = (dir.Path() / "app.enc").string();
    {
        std::ofstream out(file);
        for (int frame = 0; frame < 10; ++frame) {
            out << "0064";
            for (int i = 0; i < 100; ++i) {
                out << "A5";
            }
        }
    }
    constexpr int kDevices = 4;
    std::vector<int> results(kDevices, -1);
    {
        C_Debug_Log log(TestOptions(dir.Path()));
        log.SetLevel(5);
        log.SetOutputs(true, true, false, false);
        std::vector<std::jthread> devices;
        for (int d = 0; d < kDevices; ++d) {
            devices.emplace_back([&, d] {
                VirtualClock clock;
                ScriptedTransport transport(clock);
                transport.AddReply(0x22);  // one resend each, to log more than the happy path
                DeviceLog deviceLog(log, "dev" + std::to_string(d));
                BootloaderInfo info;
                const LinkContext link{transport, clock, deviceLog};
                if (SynchroniseSingle(link, NetworkSyncProfile(), info) == 0) {
                    results[d] = RunTransfer(link, NetworkTransferProfile(),
                                             TransferRequest{file, nullptr, {}}, info);
                }
            });
        }
    }  // the devices have finished and the front has written everything out
    EXPECT_EQ(results, std::vector<int>(kDevices, 0));
    const std::string text = ReadFile(dir.Path() / "debug_log.txt");
    const std::string dumps = ReadFile(dir.Path() / "debug_log.bin");
    for (int d = 0; d < kDevices; ++d) {
        EXPECT_NE(text.find("[dev" + std::to_string(d) + "] ~UpdateAVR() - done"),
                  std::string::npos)
            << d;
        // The header's known fields first, the device after them: a frame of 100 bytes.
        EXPECT_NE(dumps.find(" | Length:102 | Device:dev" + std::to_string(d) + "\n"),
                  std::string::npos)
            << d;
    }
}
