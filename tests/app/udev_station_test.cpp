// Real hot-plug: umockdev's uevents reach the station's udev monitor; the real program finds
// each emulated FT232R through the real libftdi1 by its serial number and updates the simulated
// bootloader on the chip's line. And which udev devices a station takes, under which name.
#include <gtest/gtest.h>

#include <csignal>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <set>

#include "../links/emulated_ft232r.h"
#include "e2e_fixture.h"
#include "engine/update_file.h"
#include "sim/enc_maker.h"
#include "sim/simulated_line.h"
#include "station/udev_watch.h"
#include "support/virtual_clock.h"
#include "update/exit_codes.h"
#include "update/ftdi_update.h"
#include "update/link_table.h"

namespace {

fwtest::EmulatedUsbBus* bus = nullptr;

// The simulated bootloader on a chip's serial line, answering at once.
struct BootloaderPeer {
    explicit BootloaderPeer(fwtest::EmulatedFt232r& line) : chip(line) {
        chip.SetSerialPeer([this](std::span<const std::uint8_t> bytes) {
            const std::lock_guard hold(mutex);
            Bytes answer;
            for (const SimOutput& out : sim.OnStreamBytes(bytes, SimMs(Clock::now()))) {
                answer.insert(answer.end(), out.bytes.begin(), out.bytes.end());
            }
            return answer;
        });
    }
    ~BootloaderPeer() { chip.SetSerialPeer({}); }
    // The frames of the latest update session as the device took them, and the sessions.
    std::pair<Bytes, std::size_t> Taken() {
        const std::lock_guard hold(mutex);
        std::set<unsigned> sessions;
        for (const SimFrame& frame : sim.Frames()) {
            sessions.insert(frame.session);
        }
        return {sim.AcceptedImage(), sessions.size()};
    }
    using Clock = std::chrono::steady_clock;
    fwtest::EmulatedFt232r& chip;
    std::mutex mutex;
    BootloaderSim sim{{}, SimMs(Clock::now())};
};

// Reads the station's lines, each shown in the test's log, up to the next `event` of `device`;
// a result's code.
std::optional<int> NextEvent(BackgroundChild& station, const std::string& event,
                             const std::string& device) {
    while (const std::optional<std::string> line =
               station.WaitForLine("", std::chrono::seconds(30))) {
        std::printf("station| %s\n", line->c_str());
        if (line->find("\"event\":\"" + event + "\"") != std::string::npos &&
            line->find("\"device\":\"" + device + "\"") != std::string::npos) {
            const std::size_t code = line->find("\"code\":");
            return code == std::string::npos ? 0 : std::stoi(line->substr(code + 7));
        }
    }
    return std::nullopt;
}

}  // namespace

TEST(UdevStationTest, ChipsUdevAnnouncesAreUpdatedThroughLibftdiOncePerVisit) {
    TempDir files;
    const std::string file = (files.Path() / "app.enc").string();
    std::string error;
    ASSERT_TRUE(WriteUpdateFile(file, PseudoRandomBytes(1500, 22), 276, error)) << error;
    const Bytes image = ReadUpdateFile(file).image.bytes;
    BootloaderPeer first(*bus->Devices()[0]);
    ChildOptions options;
    options.environment = {{"FLASHWRIGHT_FTDI_BUS", ""},
                           // umockdev's udev runs no daemon: the folder stands for its socket
                           {"FLASHWRIGHT_UDEV_CONTROL", files.Path().string()},
                           {"XDG_CONFIG_HOME", files.Path().string()},
                           {"XDG_RUNTIME_DIR", files.Path().string()},
                           {"XDG_STATE_HOME", files.Path().string()}};
    BackgroundChild station(FlashwrightProgram(), {"station", file, "--link", "FTDI", "--json"},
                            options);
    std::printf("test| UD0001 is attached before the station starts\n");
    EXPECT_EQ(NextEvent(station, "result", "UD0001"), 0);
    EXPECT_EQ(first.Taken(), std::pair(image, std::size_t{1}));

    std::printf("test| UD0002 is plugged in: umockdev emits its \"add\" uevent\n");
    ASSERT_TRUE(bus->Add("UD0002", "FT232R USB UART"));
    BootloaderPeer second(*bus->Devices()[1]);
    EXPECT_EQ(NextEvent(station, "result", "UD0002"), 0);
    EXPECT_EQ(second.Taken(), std::pair(image, std::size_t{1}));
    std::printf("test| UD0002 is pulled: \"remove\" uevent\n");
    bus->Uevent(1, "remove");
    EXPECT_EQ(NextEvent(station, "left", "UD0002"), 0);
    std::printf("test| UD0002 is plugged in again: \"add\" uevent\n");
    bus->Uevent(1, "add");
    EXPECT_EQ(NextEvent(station, "result", "UD0002"), 0);
    EXPECT_EQ(second.Taken(), std::pair(image, std::size_t{2}));
    EXPECT_EQ(first.Taken().second, 1u);  // attached all along: not updated again
    if (!HasFailure()) {
        std::printf("test| each update's frames are the file's %zu image bytes\n", image.size());
    }

    station.Signal(SIGTERM);
    EXPECT_EQ(station.Wait(), 0);
    std::printf("test| station ended\n");
}

// A device udev reported that libftdi1 does not list is looked for during the settle time only.
TEST(UdevStationTest, ADeviceTheLinkNeverListsDidNotSettle) {
    VirtualClock clock;
    const std::uint64_t start = clock.NowMs();
    const std::optional<UpdateOutcome> outcome = kFtdiLink.settle("UD0404", kDeviceSettleMs, clock);
    ASSERT_TRUE(outcome);
    EXPECT_EQ(outcome->exitCode, kExitOpenFailed);
    EXPECT_NE(outcome->verdict.find("UD0404 did not settle"), std::string::npos);
    EXPECT_EQ(clock.NowMs() - start, kDeviceSettleMs);
    EXPECT_EQ(kFtdiLink.settle("UD0001", kDeviceSettleMs, clock), std::nullopt);
}

TEST(UdevMatchTest, TakesTheLinksDevicesByIdsAndNamesThemAsTheLinkFindsThem) {
    const std::string byId = "/dev/serial/by-id/usb-FTDI_FT232R_A1-if00-port0";
    const UdevFilter ftdi{true, {{0x0403, 0x6001}, {0x0403, 0x6015}}, {}};
    const UdevFilter com{false, {{0x0403, 0x6001}}, {}};
    const UdevFilter comSlots{false, {{0x0403, 0x6001}}, {"/dev/ttyUSB3", byId}};
    const UdevFacts usb{"usb", "usb_device", "0403", "6001", "A1", "usb", "/dev/bus/usb/1/2", {}};
    const UdevFacts tty{"tty", "", "0403", "6001", "A1", "usb", "/dev/ttyUSB0", {"/dev/x", byId}};
    const auto with = [](UdevFacts f, auto change) {
        change(f);
        return f;
    };
    const struct {
        UdevFacts facts;
        const UdevFilter& filter;
        std::optional<std::string> id;
        bool problem = false;
    } cases[] = {
        {usb, ftdi, "A1"},
        {with(usb, [](auto& f) { f.product = "6010"; }), ftdi, {}},
        {with(usb, [](auto& f) { f.product = "6015", f.serial = ""; }), ftdi, {}, true},
        {tty, com, byId},
        {with(tty, [](auto& f) { f.devlinks = {}; }), com, "/dev/ttyUSB0"},
        {with(tty, [](auto& f) { f.bus = ""; }), com, {}},  // a pseudo-terminal
        {with(tty, [](auto& f) { f.vendor = "10c4"; }), com, {}},
        {tty, comSlots, {}},  // its by-id name is a slot
        {with(tty, [](auto& f) { f.devname = "/dev/ttyUSB3", f.devlinks = {}; }), comSlots, {}},
    };
    for (std::size_t i = 0; i < std::size(cases); ++i) {
        std::string problem;
        const auto device = MatchUdevDevice(cases[i].facts, cases[i].filter, problem);
        EXPECT_EQ(device ? std::optional(device->id) : std::nullopt, cases[i].id) << "case " << i;
        EXPECT_EQ(!problem.empty(), cases[i].problem) << "case " << i;
    }
    EXPECT_EQ(ParseUsbId("10C4:ea61"), (UsbId{0x10C4, 0xEA61}));
    for (const char* bad : {"0403", "0403-6001", "0403:60011", ":6001", "0403:x"}) {
        EXPECT_EQ(ParseUsbId(bad), std::nullopt) << bad;
    }
}

// The package's udev rules give access to exactly the USB ids the station's link table takes.
TEST(UdevRulesTest, MatchTheLinkTablesUsbIds) {
    std::set<std::pair<unsigned, unsigned>> inTable;
    for (const LinkRow& row : Links()) {
        for (const UsbId& id : row.usbIds) {
            inTable.emplace(id.vendor, id.product);
        }
    }
    std::set<std::pair<unsigned, unsigned>> inRules;
    for (const auto& file : std::filesystem::directory_iterator(FLASHWRIGHT_UDEV_RULES)) {
        std::ifstream rules(file.path());
        for (std::string line; std::getline(rules, line);) {
            unsigned vendor = 0;
            unsigned product = 0;
            const std::size_t at = line.find("ATTR{idVendor}==");
            if (line.starts_with('#') || at == std::string::npos ||
                std::sscanf(line.c_str() + at, "ATTR{idVendor}==\"%x\", ATTR{idProduct}==\"%x\"",
                            &vendor, &product) != 2) {
                continue;
            }
            EXPECT_TRUE(inRules.emplace(vendor, product).second) << line;
        }
    }
    EXPECT_EQ(inRules, inTable);
}

int main(int argc, char** argv) {
    fwtest::ReexecUnderUmockdevWrapper(argc, argv);
    // The bus comes before anything opens a udev monitor or a libusb context.
    fwtest::EmulatedUsbBus emulated;
    bus = &emulated;
    if (!emulated.Add("UD0001", "FT232R USB UART")) {
        return 1;
    }
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
