#include <gtest/gtest.h>

#include <cstdint>
#include <numeric>
#include <vector>

#include "log/log_format.h"
#include "log/log_time.h"
#include "log_test_support.h"

namespace {

LogEntry DumpEntry(std::vector<std::uint8_t> data) {
    LogEntry entry;
    entry.time = FixedTime();
    entry.time.milliseconds = 46;
    entry.level = 4;
    entry.source = 21;
    entry.isDump = true;
    entry.data = std::move(data);
    return entry;
}

TEST(LogFormat, LinePadsTimeAndSourceAndEndsInOneLineFeed) {
    EXPECT_EQ(FormatLine(TextEntry(4, "OnButton_Program() - send update", 9)),
              "14:03:07,045 | L:4 | S:009 | OnButton_Program() - send update\n");
    LogEntry early = TextEntry(2, "x", 123);
    early.time = LogTime{};
    early.time.milliseconds = 5;
    EXPECT_EQ(FormatLine(early), "00:00:00,005 | L:2 | S:123 | x\n");
}

TEST(LogFormat, DumpHeaderStartsWithLineFeedAndGivesLength) {
    EXPECT_EQ(FormatDump(DumpEntry({240, 1, 255}), kDumpDecimal),
              "\n14:03:07,046 | L:4 | S:021 | Length:3\n240 001 255 ");
    EXPECT_EQ(FormatDump(DumpEntry({240, 1, 255}), kDumpHex),
              "\n14:03:07,046 | L:4 | S:021 | Length:3\nF0 01 FF ");
}

TEST(LogFormat, HexAndDecimalBreakAfterEverySixteenthValue) {
    std::vector<std::uint8_t> bytes(17);
    std::iota(bytes.begin(), bytes.end(), std::uint8_t{0});
    EXPECT_EQ(RenderBytes(bytes, kDumpHex),
              "00 01 02 03 04 05 06 07 08 09 0A 0B 0C 0D 0E 0F \n10 ");
    bytes.resize(16);
    EXPECT_EQ(RenderBytes(bytes, kDumpHex), "00 01 02 03 04 05 06 07 08 09 0A 0B 0C 0D 0E 0F \n");
    const std::vector<std::uint8_t> seven = {7, 0, 100};
    EXPECT_EQ(RenderBytes(seven, kDumpDecimal), "007 000 100 ");
}

TEST(LogFormat, RawKeepsEveryByteIncludingZeros) {
    const std::vector<std::uint8_t> bytes = {'A', 0, 'B', '\n', 0xFF};
    EXPECT_EQ(RenderBytes(bytes, kDumpRaw), std::string("A\0B\n\xFF", 5));
}

TEST(LogFormat, CrLfConversionTurnsEachLineFeedIntoCrLf) {
    EXPECT_EQ(ToCrLf("\na\n\nb"), "\r\na\r\n\r\nb");
    EXPECT_EQ(ToCrLf("no line end"), "no line end");
}

TEST(LogFormat, ExceptionLineNamesTimeAndAddresses) {
    int worker = 0;
    int entry = 0;
    EXPECT_EQ(MaskNumbers(ExceptionLine(1234, &worker, &entry)),
              "(#) C_Debug_Thread::Run() - Daten nicht plausibel (this 0x# | Adr. 0x#)!\n");
    EXPECT_TRUE(ExceptionLine(1234, &worker, &entry).starts_with("(1234) "));
}

TEST(LogTime, PlausibleOnlyWithinADay) {
    LogTime t = FixedTime();
    t.hour = 23;
    t.minute = 59;
    t.second = 59;
    EXPECT_TRUE(IsPlausible(t));
    for (auto field : {&LogTime::hour, &LogTime::minute, &LogTime::second}) {
        LogTime bad = t;
        bad.*field = static_cast<std::uint16_t>(bad.*field + 1);
        EXPECT_FALSE(IsPlausible(bad));
    }
    EXPECT_TRUE(IsPlausible(LocalTimeNow()));
}

}  // namespace
