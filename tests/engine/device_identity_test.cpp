#include <gtest/gtest.h>

#include "engine/device_identity.h"
#include "engine/protocol.h"

TEST(DeviceIdentity, KnownIdsAndTheBareNames) {
    EXPECT_EQ(DeviceText(1), "Corvane found");
    EXPECT_EQ(DeviceText(5), "Zentrix found");
    EXPECT_EQ(DeviceText(6), "Pellix-USB");
    EXPECT_EQ(DeviceText(7), "Calloway-Q7");
    EXPECT_EQ(DeviceText(10), "Tessaly found");
    EXPECT_EQ(DeviceText(12), "Korvo found");
}

TEST(DeviceIdentity, GapsAndEndsGiveTheUnknownText) {
    EXPECT_EQ(DeviceText(0), "unknown device (Id=0) found");
    EXPECT_EQ(DeviceText(8), "unknown device (Id=8) found");
    EXPECT_EQ(DeviceText(9), "unknown device (Id=9) found");
    EXPECT_EQ(DeviceText(13), "unknown device (Id=13) found");
    EXPECT_EQ(DeviceText(255), "unknown device (Id=255) found");
}

TEST(DeviceIdentity, OutputFormReplacesTheText) {
    std::string text = "old text";
    DeviceText(11, text);
    EXPECT_EQ(text, "Mirabel found");
}

TEST(BootloaderVersion, HighInHexWithoutZeroLowAsTwoDigits) {
    EXPECT_EQ(BootloaderVersionText({0x01, 0x05, 0, false}), "Bootloader version 1.05");
    EXPECT_EQ(BootloaderVersionText({0x1A, 0xB0, 0, false}), "Bootloader version 1A.B0");
    EXPECT_EQ(BootloaderVersionText({0x00, 0x00, 0, false}), "Bootloader version 0.00");
}
