// On a machine with a real FT232R adapter attached: the FTDI link lists and opens it through
// libftdi1 with the link's settings. Skipped where no adapter can be seen (as in CI). With the
// adapter's TX wired to its RX and FLASHWRIGHT_FT232R_LOOPBACK=1, bytes written come back.
#include <gtest/gtest.h>

#include <cstdlib>

#include "links/ftdi/communication_ftdi.h"
#include "links/ftdi/ftdi_device.h"
#include "support/recording_log.h"

TEST(FtdiHardware, AnAttachedAdapterIsListedAndOpensWithTheLinksSettings) {
    auto library = MakeLibFtdiLibrary();
    std::uint32_t count = 0;
    if (library->CountDevices(count) != kFtdiOk || count == 0) {
        GTEST_SKIP() << "no FTDI adapter attached";
    }
    RecordingLog log;
    CCommunication link(log, DefaultClock(), std::move(library));
    ASSERT_EQ(link.Dev_UpdateDeviceList(), 0);
    FTDI_DeviceEntry entry;
    ASSERT_EQ(link.Dev_GetDeviceEntry(0, entry), 0);
    EXPECT_FALSE(entry.name.empty()) << "no access to the adapter: install the udev rule";
    ASSERT_EQ(link.Dev_Open(0, CCommunication::kBootloaderBaud), 0);
    link.Dev_Close();
}

TEST(FtdiHardware, LoopedBackBytesComeBack) {
    const char* loopback = std::getenv("FLASHWRIGHT_FT232R_LOOPBACK");
    if (loopback == nullptr || std::string(loopback) != "1") {
        GTEST_SKIP() << "set FLASHWRIGHT_FT232R_LOOPBACK=1 with TX wired to RX";
    }
    auto library = MakeLibFtdiLibrary();
    CFTDI_Device device(*library);
    ASSERT_EQ(device.Open_ByIndex(0), 0);
    ASSERT_EQ(device.SetBaudRate(115200), 0);
    ASSERT_EQ(device.SetDataCharacteristics(8, 0, 0), 0);
    ASSERT_EQ(device.SetTimeouts(50, 50), 0);
    ASSERT_EQ(device.SetLatencyTimer(2), 0);
    const std::vector<std::uint8_t> sent{0xF0, 0x00, 0x03, 0x11, 0x22, 0x33, 0xFF};
    ASSERT_EQ(device.Write(sent), 0);
    std::vector<std::uint8_t> back(sent.size());
    std::uint32_t got = 0;
    ASSERT_EQ(device.Read(back, &got), 0);
    EXPECT_EQ(got, sent.size());
    EXPECT_EQ(back, sent);
}
