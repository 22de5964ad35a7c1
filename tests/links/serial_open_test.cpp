// Opening, configuring, listing and closing serial ports, on pseudo-terminals.

#include <gtest/gtest.h>

#include <QSerialPort>

#include <cerrno>

#include "engine/link_profiles.h"
#include "links/serial/communication_com.h"
#include "links/serial/natural_sort.h"
#include "links/serial_sim_pty.h"
#include "support/recording_log.h"

namespace {

constexpr int S = kSourceSerial;

// Another program's hold on a port, as far as the link can tell.
bool Holds(QSerialPort& holder, const std::string& path) {
    holder.setPortName(QString::fromStdString(path));
    return holder.open(QIODevice::ReadWrite);
}

class SerialOpen : public ::testing::Test {
  protected:
    RecordingLog log;
    SimOnPty pty;
    CCommunication_COM link{log};
};

}  // namespace

TEST_F(SerialOpen, OpensAPseudoTerminalAndLogsItsPath) {
    EXPECT_EQ(0, link.COM_Open(pty.Path(), 115200, 0, 8, 0));
    EXPECT_TRUE(link.IsOpen());
    EXPECT_TRUE(log.HasLine(4, S, "COM_Open(" + pty.Path() + ", 115200)"));
    EXPECT_EQ(1u, log.Lines().size()) << "a successful open logs only its entry line";
}

TEST_F(SerialOpen, AcceptsEveryListedRateIncludingNonStandardOnes) {
    for (unsigned baud : {110u, 300u, 600u, 1200u, 2400u, 4800u, 9600u, 14400u, 19200u, 38400u,
                          56000u, 57600u, 115200u, 128000u, 256000u}) {
        EXPECT_EQ(0, link.COM_Open(pty.Path(), baud, 0, 8, 0)) << baud;
    }
}

TEST_F(SerialOpen, AcceptsTwoStopBits) {
    // A pseudo-terminal keeps eight data bits and no parity, so only the stop bits vary here.
    EXPECT_EQ(0, link.COM_Open(pty.Path(), 9600, 0, 8, 2));
}

TEST_F(SerialOpen, ASettingTheDeviceRefusesIsALineSettingsFailure) {
    // A pseudo-terminal keeps eight data bits whatever it is asked for.
    EXPECT_EQ(-9, link.COM_Open(pty.Path(), 9600, 0, 7, 0));
    EXPECT_TRUE(log.HasLine(2, S, "~COM_Open() SetCommState() = " + std::to_string(EINVAL)));
}

TEST_F(SerialOpen, ParameterErrorsInTheirOrderLeaveAnOpenPortAlone) {
    ASSERT_EQ(0, link.COM_Open(pty.Path(), 115200, 0, 8, 0));
    struct Case {
        unsigned baud, parity, byteSize, stopBits;
        int code;
    };
    // Each case also breaks every later check, so only the order gives its code.
    for (const Case c :
         {Case{230400, 5, 6, 3, -2}, Case{460800, 0, 8, 0, -2}, Case{921600, 0, 8, 0, -2},
          Case{0, 0, 8, 0, -2}, Case{115200, 5, 6, 3, -3}, Case{115200, 4, 9, 3, -4},
          Case{115200, 0, 6, 0, -4}, Case{115200, 0, 7, 3, -5}}) {
        log.Clear();
        EXPECT_EQ(c.code, link.COM_Open(pty.Path(), c.baud, c.parity, c.byteSize, c.stopBits))
            << c.baud << " " << c.parity << " " << c.byteSize << " " << c.stopBits;
        EXPECT_EQ(
            std::vector<std::string>(
                {LineKey(4, S, "COM_Open(" + pty.Path() + ", " + std::to_string(c.baud) + ")"),
                 LineKey(2, S, "~COM_Open() parameter error")}),
            log.Lines());
        EXPECT_TRUE(link.IsOpen());
    }
}

TEST_F(SerialOpen, OneAndAHalfStopBitsAreRefusedAsALineSetting) {
    EXPECT_EQ(-9, link.COM_Open(pty.Path(), 115200, 0, 8, 1));
    EXPECT_TRUE(log.HasLine(2, S, "~COM_Open() SetCommState() = " + std::to_string(EINVAL)));
    // The port stays open until the next open or the end of the link.
    EXPECT_TRUE(link.IsOpen());
    EXPECT_EQ(0, link.COM_Open(pty.Path(), 115200, 0, 8, 0));
}

TEST_F(SerialOpen, AMissingDeviceGivesMinus6WithTheSystemError) {
    EXPECT_EQ(-6, link.COM_Open("/dev/flashwright-no-such-port", 115200, 0, 8, 0));
    EXPECT_TRUE(log.HasLine(2, S, "~COM_Open() CreateFile() = " + std::to_string(ENOENT)));
    EXPECT_FALSE(link.IsOpen());
}

TEST_F(SerialOpen, APortHeldElsewhereGivesMinus6WithTheBusyError) {
    QSerialPort holder;
    ASSERT_TRUE(Holds(holder, pty.Path()));
    EXPECT_EQ(-6, link.COM_Open(pty.Path(), 115200, 0, 8, 0));
    EXPECT_TRUE(log.HasLine(2, S, "~COM_Open() CreateFile() = " + std::to_string(EBUSY)));
    EXPECT_FALSE(link.IsOpen());
}

TEST_F(SerialOpen, TheLinkHoldsItsPortExclusively) {
    ASSERT_EQ(0, link.COM_Open(pty.Path(), 115200, 0, 8, 0));
    QSerialPort other;
    EXPECT_FALSE(Holds(other, pty.Path()));
    link.COM_Close();
    EXPECT_FALSE(link.IsOpen());
    EXPECT_TRUE(Holds(other, pty.Path()));
}

TEST_F(SerialOpen, ASecondOpenClosesTheFirstPort) {
    SimOnPty second;
    ASSERT_EQ(0, link.COM_Open(pty.Path(), 115200, 0, 8, 0));
    ASSERT_EQ(0, link.COM_Open(second.Path(), 115200, 0, 8, 0));
    QSerialPort first;
    EXPECT_TRUE(Holds(first, pty.Path())) << "the first port is still held";
    QSerialPort again;
    EXPECT_FALSE(Holds(again, second.Path()));
}

TEST_F(SerialOpen, AFailedOpenAfterTheChecksHasClosedThePreviousPort) {
    ASSERT_EQ(0, link.COM_Open(pty.Path(), 115200, 0, 8, 0));
    EXPECT_EQ(-6, link.COM_Open("/dev/flashwright-no-such-port", 115200, 0, 8, 0));
    EXPECT_FALSE(link.IsOpen());
    QSerialPort first;
    EXPECT_TRUE(Holds(first, pty.Path()));
}

TEST_F(SerialOpen, TheLinkReleasesItsPortWhenDestroyed) {
    {
        CCommunication_COM scoped(log);
        ASSERT_EQ(0, scoped.COM_Open(pty.Path(), 115200, 0, 8, 0));
    }
    QSerialPort other;
    EXPECT_TRUE(Holds(other, pty.Path()));
}

TEST(SerialEnumerate, ListsThePortsInNaturalOrderAfterEmptyingTheList) {
    RecordingLog log;
    SerialPortAccess access = SystemSerialPorts();
    access.listPorts = [] {
        return std::vector<SerialPortEntry>{{"/dev/ttyUSB0", "FT232R USB UART"},
                                            {"/dev/ttyS10", ""},
                                            {"/dev/ttyS2", ""},
                                            {"/dev/rfcomm0", "Bluetooth"},
                                            {"/dev/ttyS1", ""}};
    };
    CCommunication_COM link(log, DefaultClock(), access);
    std::vector<SerialPortEntry> ports{{"stale", "entry"}};
    link.COM_EnumeratePorts(ports);
    std::vector<std::string> names;
    for (const auto& p : ports) {
        names.push_back(p.name);
    }
    EXPECT_EQ(std::vector<std::string>(
                  {"/dev/rfcomm0", "/dev/ttyS1", "/dev/ttyS2", "/dev/ttyS10", "/dev/ttyUSB0"}),
              names);
    EXPECT_EQ("FT232R USB UART", ports.back().description);
}

TEST(SerialEnumerate, TheSystemListGivesDevicePaths) {
    RecordingLog log;
    CCommunication_COM link(log);
    std::vector<SerialPortEntry> ports{{"stale", "entry"}};
    link.COM_EnumeratePorts(ports);
    for (const auto& p : ports) {
        EXPECT_EQ(0u, p.name.rfind("/dev/", 0)) << p.name;
    }
}

TEST(NaturalSort, NumbersCompareByValue) {
    EXPECT_TRUE(NaturalLess("ttyS2", "ttyS10"));
    EXPECT_FALSE(NaturalLess("ttyS10", "ttyS2"));
    EXPECT_TRUE(NaturalLess("ttyS9", "ttyUSB0"));
    EXPECT_TRUE(NaturalLess("ttyUSB1", "ttyUSB1a"));
    EXPECT_TRUE(NaturalLess("COM9", "COM10"));
    EXPECT_TRUE(NaturalLess("a99999999999999999999", "a100000000000000000000"))
        << "runs longer than any integer still compare";
    EXPECT_FALSE(NaturalLess("ttyS2", "ttyS2"));
    // Leading zeros: equal values still order strictly, one way only.
    EXPECT_NE(NaturalLess("ttyS02", "ttyS2"), NaturalLess("ttyS2", "ttyS02"));
}
