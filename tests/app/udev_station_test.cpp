// The station's real hot-plug: udev's monitor, fed by umockdev's uevents, announces FT232R chips
// emulated at the USB level; the real program finds each through the real libftdi1 by its
// serial number and updates the simulated bootloader behind the chip, byte for byte. And the
// rules that say which udev devices a station takes, and under which name.
#include <gtest/gtest.h>

#include <csignal>
#include <cstdio>
#include <mutex>
#include <set>

#include "../links/emulated_ft232r.h"
#include "e2e_fixture.h"
#include "engine/update_file.h"
#include "sim/bootloader_sim.h"
#include "sim/enc_maker.h"
#include "sim/simulated_line.h"
#include "station/udev_watch.h"

namespace {

using fwtest::EmulatedFt232r;
using fwtest::EmulatedUsbBus;

EmulatedUsbBus* bus = nullptr;

std::uint64_t Now() {
    return SimMs(std::chrono::steady_clock::now());
}

// The simulated bootloader on a chip's serial line, answering at once.
class BootloaderPeer {
  public:
    explicit BootloaderPeer(EmulatedFt232r& chip) : chip_(chip), sim_({}, Now()) {
        chip_.SetSerialPeer([this](std::span<const std::uint8_t> bytes) {
            const std::lock_guard hold(mutex_);
            Bytes answer;
            for (const SimOutput& out : sim_.OnStreamBytes(bytes, Now())) {
                answer.insert(answer.end(), out.bytes.begin(), out.bytes.end());
            }
            return answer;
        });
    }
    ~BootloaderPeer() { chip_.SetSerialPeer({}); }
    BootloaderPeer(const BootloaderPeer&) = delete;
    BootloaderPeer& operator=(const BootloaderPeer&) = delete;

    // The frames of the latest update session, as the device took them.
    Bytes Image() const {
        const std::lock_guard hold(mutex_);
        return sim_.AcceptedImage();
    }
    std::size_t Sessions() const {
        const std::lock_guard hold(mutex_);
        std::set<unsigned> sessions;
        for (const SimFrame& frame : sim_.Frames()) {
            sessions.insert(frame.session);
        }
        return sessions.size();
    }

  private:
    EmulatedFt232r& chip_;
    mutable std::mutex mutex_;
    BootloaderSim sim_;
};

// Reads the station's events up to the next one named `event` for `device`, each line shown in
// the test's log; for a result, its code.
std::optional<int> NextEvent(BackgroundChild& station, const std::string& event,
                             const std::string& device) {
    for (;;) {
        const std::optional<std::string> line = station.WaitForLine("", std::chrono::seconds(30));
        if (!line) {
            std::printf("[station ended or silent for 30 s]\n");
            return std::nullopt;
        }
        std::printf("station| %s\n", line->c_str());
        if (line->find("\"event\":\"" + event + "\"") != std::string::npos &&
            line->find("\"device\":\"" + device + "\"") != std::string::npos) {
            const std::size_t code = line->find("\"code\":");
            return code == std::string::npos ? 0 : std::stoi(line->substr(code + 7));
        }
    }
}

void Progress(const char* text) {
    std::printf("test| %s\n", text);
    std::fflush(stdout);
}

TEST(UdevStationTest, ChipsUdevAnnouncesAreUpdatedThroughLibftdiOncePerVisit) {
    TempDir files;
    const std::string file = (files.Path() / "app.enc").string();
    std::string error;
    ASSERT_TRUE(WriteUpdateFile(file, PseudoRandomBytes(1500, 22), 276, error)) << error;
    const Bytes image = ReadUpdateFile(file).image.bytes;
    ASSERT_FALSE(image.empty());

    BootloaderPeer first(*bus->Devices()[0]);
    ChildOptions options;
    options.environment = {{"FLASHWRIGHT_FTDI_BUS", ""},
                           {"XDG_CONFIG_HOME", files.Path().string()},
                           {"XDG_RUNTIME_DIR", files.Path().string()},
                           {"XDG_STATE_HOME", files.Path().string()}};
    BackgroundChild station(FlashwrightProgram(), {"station", file, "--link", "FTDI", "--json"},
                            options);
    Progress("UD0001 is attached before the station starts: it arrives with the first listing");
    EXPECT_EQ(NextEvent(station, "result", "UD0001"), 0);
    EXPECT_EQ(first.Image(), image);

    Progress("UD0002 is plugged in: umockdev emits its \"add\" uevent");
    ASSERT_TRUE(bus->Add("UD0002", "FT232R USB UART"));
    BootloaderPeer second(*bus->Devices()[1]);
    EXPECT_EQ(NextEvent(station, "result", "UD0002"), 0);
    EXPECT_EQ(second.Image(), image);

    Progress("UD0002 is pulled: \"remove\" uevent");
    bus->Uevent(1, "remove");
    EXPECT_EQ(NextEvent(station, "left", "UD0002"), 0);
    Progress("UD0002 is plugged in again: \"add\" uevent");
    bus->Uevent(1, "add");
    EXPECT_EQ(NextEvent(station, "result", "UD0002"), 0);
    EXPECT_EQ(second.Image(), image);
    EXPECT_EQ(second.Sessions(), 2u);
    EXPECT_EQ(first.Sessions(), 1u);  // attached all along: not updated again

    Progress("SIGTERM");
    station.Signal(SIGTERM);
    EXPECT_EQ(station.Wait(), 0);
    Progress("station ended");
}

TEST(UdevMatchTest, TakesTheLinksDevicesByIdsAndNamesThemAsTheLinkFindsThem) {
    const UdevFilter ftdi{true, {{0x0403, 0x6001}, {0x0403, 0x6015}}, {}};
    const std::string byId = "/dev/serial/by-id/usb-FTDI_FT232R_A1-if00-port0";
    const UdevFilter com{false, {{0x0403, 0x6001}}, {}};
    const UdevFilter comSlots{false, {{0x0403, 0x6001}}, {"/dev/ttyUSB3", byId}};
    const UdevFacts usb{"usb", "usb_device",           "0403", "6001", "A1",
                        "usb", "/dev/bus/usb/001/002", {}};
    UdevFacts interface = usb;
    interface.devtype = "usb_interface";
    UdevFacts otherChip = usb;
    otherChip.product = "6010";
    UdevFacts noSerial = usb;
    noSerial.product = "6015";
    noSerial.serial.clear();
    const UdevFacts tty{
        "tty", "",    "0403",         "6001",
        "A1",  "usb", "/dev/ttyUSB0", {"/dev/serial/by-path/pci-0:14.0-usb-0:1:1.0-port0", byId}};
    UdevFacts ttyNoLinks = tty;
    ttyNoLinks.devlinks.clear();
    UdevFacts pty = tty;
    pty.bus.clear();
    UdevFacts otherAdapter = tty;
    otherAdapter.vendor = "10c4";
    UdevFacts ttyInSlot = ttyNoLinks;
    ttyInSlot.devname = "/dev/ttyUSB3";
    const struct {
        const char* name;
        UdevFacts facts;
        const UdevFilter& filter;
        std::optional<std::string> id;
        bool problem;
    } cases[] = {
        {"an FTDI chip by its serial number", usb, ftdi, "A1", false},
        {"not its interface", interface, ftdi, {}, false},
        {"not a product the rules do not list", otherChip, ftdi, {}, false},
        {"a chip without a serial number is said", noSerial, ftdi, {}, true},
        {"a USB serial adapter by its by-id name", tty, com, byId, false},
        {"one without links by its node", ttyNoLinks, com, "/dev/ttyUSB0", false},
        {"not a terminal off USB", pty, com, {}, false},
        {"not another VID:PID", otherAdapter, com, {}, false},
        {"not a USB device for COM", usb, com, {}, false},
        {"a slot's port named by its by-id name is its slot's", tty, comSlots, {}, false},
        {"a slot's port named by its node is its slot's", ttyInSlot, comSlots, {}, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        std::string problem;
        const std::optional<StationDevice> device = MatchUdevDevice(c.facts, c.filter, problem);
        EXPECT_EQ(device ? std::optional(device->id) : std::nullopt, c.id);
        EXPECT_EQ(!problem.empty(), c.problem) << problem;
    }
    EXPECT_EQ(ParseUsbId("0403:6001"), (UsbId{0x0403, 0x6001}));
    EXPECT_EQ(ParseUsbId("10C4:ea61"), (UsbId{0x10C4, 0xEA61}));
    for (const char* bad : {"0403", "0403-6001", "0403:60011", ":6001", "0403:x"}) {
        EXPECT_EQ(ParseUsbId(bad), std::nullopt) << bad;
    }
}

}  // namespace

#if defined(__SANITIZE_THREAD__)
extern "C" const char* __tsan_default_suppressions() {
    return "race:libumockdev.so.0\nrace:libglib-2.0.so.0\nrace:libgobject-2.0.so.0\n"
           "race:libffi.so.8\n";
}
#endif

int main(int argc, char** argv) {
    fwtest::ReexecUnderUmockdevWrapper(argc, argv);
    // The bus comes before anything opens a udev monitor or a libusb context.
    EmulatedUsbBus emulated;
    bus = &emulated;
    if (!emulated.Add("UD0001", "FT232R USB UART")) {
        return 1;
    }
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
