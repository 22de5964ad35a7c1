// The FTDI link and its Corvane commands over devices in virtual time: listing, opening with
// the link's settings, the command exchange and its escapes, synchronisation, the update and
// the replug guidance.
#include <gtest/gtest.h>

#include "engine/device_identity.h"
#include "fake_ftdi_bus.h"
#include "links/ftdi/communication_ftdi.h"
#include "links/ftdi/corvane_frame.h"
#include "support/recording_log.h"
#include "support/temp_dir.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

// A Corvane device in its application: every command frame gets `answer` (bytes as sent,
// start and end byte included), at 1000000 baud only.
FakeFtdiBus::Responder Corvane(Bytes answer) {
    return [answer](std::span<const std::uint8_t> written, std::uint32_t baud) {
        return baud == 1000000 && written.size() >= 4 && written[0] == 0xBF ? answer : Bytes{};
    };
}

// Device information as a Corvane device sends it: status, 0x05, 7 bytes, CR-separated text;
// the 0xBF among the 7 bytes goes escaped.
const Bytes kInformation = [] {
    Bytes b{0xBF, 0x00, 0x05, 1, 2, 3, 0x3F, 0x02, 5, 6, 7};
    for (const char c : std::string("Corvane\r\rHW 2.1\rSW 4.07")) {
        b.push_back(static_cast<std::uint8_t>(c));
    }
    b.push_back(0xFF);
    return b;
}();

class FtdiLink : public ::testing::Test {
  protected:
    FtdiLink() {
        auto owned = std::make_unique<FakeFtdiBus>(clock);
        bus = owned.get();
        link = std::make_unique<CCommunication>(log, clock, std::move(owned));
    }
    // Sends a command 0xAA with a 4-byte code to device 0; the payload, or the code.
    std::pair<int, Bytes> EnterBootloader(int capacity = 64) {
        Bytes answer(64);
        int length = capacity;
        const Bytes code{0x12, 0x34, 0x56, 0x78};
        const int r = link->Send_Corvane_CMD(0, 0xAA, code, answer.data(), &length);
        answer.resize(r == 0 ? static_cast<std::size_t>(length) : 0);
        return {r, answer};
    }

    VirtualClock clock;
    RecordingLog log;
    FakeFtdiBus* bus;
    std::unique_ptr<CCommunication> link;
    TempDir dir;
};

}  // namespace

TEST_F(FtdiLink, ListsAtMostEightDevicesWithTheVersionsCorvaneDevicesReport) {
    bus->devices = {{"Corvane", "CV1", Corvane(kInformation)},
                    {"Corvane", "CV2", Corvane({0xBF, 0x00, 0x04, 0, 0, 0, 0, 0, 0, 0, 'A', 0xFF})},
                    {"FT232R USB UART", "A1", Bootloader}};
    for (int i = 0; i < 6; ++i) {
        bus->devices.push_back({"FT232R USB UART", "X" + std::to_string(i), nullptr});
    }
    ASSERT_EQ(link->Dev_UpdateDeviceList(), 0);
    EXPECT_EQ(link->Dev_GetDeviceCount(), 8) << "the ninth device is never listed";
    FTDI_DeviceEntry entry;
    ASSERT_EQ(link->Dev_GetDeviceEntry(0, entry), 0);
    EXPECT_EQ(entry.name, "Corvane");
    EXPECT_EQ(entry.serialNumber, "CV1");
    EXPECT_EQ(entry.hardware, "HW 2.1");
    EXPECT_EQ(entry.software, "SW 4.07");
    ASSERT_EQ(link->Dev_GetDeviceEntry(1, entry), 0);
    EXPECT_EQ(entry.hardware, "") << "payload byte 0 is not 0x05";
    ASSERT_EQ(link->Dev_GetDeviceEntry(2, entry), 0);
    EXPECT_EQ(entry.serialNumber, "A1");
    EXPECT_TRUE(bus->written[2].empty()) << "another kind of device is only listed";
    EXPECT_EQ(link->Dev_GetDeviceEntry(8, entry), -1);
    EXPECT_EQ(entry.name, "");
    EXPECT_TRUE(log.HasLine(4, 10, "~Dev_UpdateDeviceList() - done (8 devices found)"));

    EXPECT_EQ(link->Dev_FindDevice("FT232R USB UART", "A1"), 2);
    EXPECT_EQ(link->Dev_FindDevice("FT232R USB UART", "a1"), -2);
    bus->fail = {"CountDevices"};
    EXPECT_EQ(link->Dev_FindDevice("FT232R USB UART", "A1"), -1);
    EXPECT_TRUE(log.HasLine(4, 10, "~Dev_UpdateDeviceList() - ListDevices_Number() failed"));
}

TEST_F(FtdiLink, OpensWithTheLinksSettingsInOrderAndClosesOnAFailedStep) {
    bus->devices = {{"FT232R USB UART", "A1", Bootloader}};
    ASSERT_EQ(link->Dev_Open(0, 115200), 0);
    EXPECT_EQ(bus->calls,
              (std::vector<std::string>{
                  "OpenByIndex(0)", "SetBaudRate(115200)", "SetDataCharacteristics(8, 0, 0)",
                  "SetFlowControl(0)", "SetUsbParameters(200, 200)", "SetTimeouts(50, 50)",
                  "SetLatencyTimer(2)", "SetChars(255, 1, 0, 0)", "Purge(1)", "Purge(2)"}));
    EXPECT_TRUE(link->IsOpen());

    EXPECT_EQ(link->Dev_Open(-1, 115200), -1);
    EXPECT_FALSE(link->IsOpen()) << "an open link is closed first";
    EXPECT_TRUE(log.HasLine(4, 10, "~Dev_Open() - Parametererror"));
    EXPECT_EQ(link->Dev_Open(1, 115200), -2);
    EXPECT_TRUE(log.HasLine(4, 10, "~Dev_Open() - open failed"));
    bus->fail = {"SetLatencyTimer"};
    EXPECT_EQ(link->Dev_Open(0, 115200), -3);
    EXPECT_FALSE(link->IsOpen());
    EXPECT_TRUE(log.HasLine(4, 10, "~Dev_Open() - set parameter failed"));
}

TEST_F(FtdiLink, CorvaneAnswersAreUnescapedAndChecked) {
    struct Case {
        const char* what;
        Bytes answer;  // as the device sends it
        int code;
        Bytes payload;
    };
    const std::vector<Case> cases{
        {"switched", {0xBF, 0x00, 0x01, 0x00, 0xFF}, 0, {0x01, 0x00}},
        {"escaped start byte", {0xBF, 0x00, 0x3F, 0x02, 0xFF}, 0, {0xBF}},
        {"escape of another byte", {0xBF, 0x00, 0x3F, 0x07, 0xFF}, 0, {0x07}},
        {"noise before the start", {0x12, 0x34, 0xBF, 0x00, 0x01, 0x00, 0xFF}, 0, {0x01, 0x00}},
        {"too short", {0xBF, 0x00, 0xFF}, -5, {}},
        {"no answer", {}, -4, {}},
        {"longer than the capacity", Bytes(20, 0x01), -15, {}},
    };
    for (Case c : cases) {
        if (c.code == -15) {
            c.answer.insert(c.answer.begin(), 0xBF);
        }
        bus->devices = {{"Corvane", "CV1", Corvane(c.answer)}};
        const std::uint64_t start = clock.NowMs();
        const auto [code, payload] = EnterBootloader(c.code == -15 ? 16 : 64);
        EXPECT_EQ(code, c.code) << c.what;
        EXPECT_EQ(payload, c.payload) << c.what;
        EXPECT_FALSE(link->IsOpen()) << c.what << ": closed in every case";
        if (c.code == -4) {
            EXPECT_GT(clock.NowMs() - start, 200u);
            EXPECT_LT(clock.NowMs() - start, 300u);
        }
    }
    EXPECT_TRUE(log.HasLine(4, 10, "~Send_Corvane_CMD() - response from CV (Data 01, Length: 2)"));
    EXPECT_TRUE(log.HasLine(4, 10, "~Send_Corvane_CMD() - no answer form CV"));
    EXPECT_TRUE(log.HasLine(4, 10, "~Send_Corvane_CMD() - response from CV to short"));
    // The command frame as written: start, 0x00, command, the code, end.
    EXPECT_EQ(bus->written[0].front(), (Bytes{0xBF, 0x00, 0xAA, 0x12, 0x34, 0x56, 0x78, 0xFF}));

    bus->calls.clear();
    EXPECT_EQ(EnterBootloader(15).first, -1);
    EXPECT_TRUE(bus->calls.empty()) << "nothing is opened for a capacity below 16";
}

TEST(CorvaneUnescape, PairsBecomeOneByteAndALastEscapeStays) {
    Bytes bytes{0x3F, 0x00, 0x3F, 0x01, 0x3F, 0x3F, 0x03, 0x41, 0x3F};
    const std::size_t count = UnescapeAnswer(bytes);
    bytes.resize(count);
    EXPECT_EQ(bytes, (Bytes{0x3F, 0x7F, 0x3F, 0x03, 0x41, 0x3F}));
}

TEST_F(FtdiLink, SynchronisesAndUpdatesByteExact) {
    bus->devices = {{"FT232R USB UART", "A1", Bootloader}};
    ASSERT_EQ(link->Dev_SynchroniseBootloader(0), 0);
    EXPECT_EQ(BootloaderVersionText(link->GetBootloaderInfo()), "Bootloader version 1.05");
    EXPECT_EQ(link->GetBootloaderInfo().deviceId, 7);
    EXPECT_TRUE(log.HasLine(4, 10, "Dev_SynchroniseBootloader() - recv. byte (0xFE)"));

    const std::string file = dir.Write("u.enc", "000311223300014400024455");
    bus->written.clear();
    ASSERT_EQ(link->Dev_UpdateAVR(0, file, nullptr), 0);
    EXPECT_EQ(bus->written[0],
              (std::vector<Bytes>{
                  {0x00, 0x03, 0x11, 0x22, 0x33}, {0x00, 0x01, 0x44}, {0x00, 0x02, 0x44, 0x55}}));
    EXPECT_FALSE(link->IsOpen());
    EXPECT_TRUE(log.HasLine(4, 10, "~Dev_UpdateAVR() - done"));

    // An odd-sized file leaves the device alone; one that cannot be opened fails with -5 after
    // the file was read.
    bus->calls.clear();
    EXPECT_EQ(link->Dev_UpdateAVR(0, dir.Write("odd.enc", "000"), nullptr), -2);
    EXPECT_TRUE(bus->calls.empty());
    EXPECT_EQ(link->Dev_UpdateAVR(3, file, nullptr), -5);
    EXPECT_TRUE(log.HasLine(4, 10, "~Dev_UpdateAVR() - unable to open port"));
}

TEST_F(FtdiLink, AWrongEndByteIsRetriedUntilTheDeadline) {
    bus->devices = {
        {"FT232R USB UART", "A1", [](std::span<const std::uint8_t> w, std::uint32_t) {
             return w.size() == 1 && w[0] == 0xF0 ? Bytes{0xFE, 1, 5, 7, 0x00} : Bytes{};
         }}};
    const std::uint64_t start = clock.NowMs();
    EXPECT_EQ(link->Dev_SynchroniseBootloader(0), -10);
    EXPECT_GE(clock.NowMs() - start, 2500u);
    EXPECT_GT(log.CountLines("~Dev_SynchroniseBootloader() - wrong end char"), 10u);
    EXPECT_TRUE(link->IsOpen()) << "the link stays open once it could be opened";
}

namespace {

// Answers the guidance as a user would; cancels at the given look.
class ScriptedPrompt final : public ReplugPrompt {
  public:
    void Show(std::string_view caption, std::string_view text) override {
        shown.push_back(std::string(caption) + ": " + std::string(text));
    }
    void Hide() override { ++hidden; }
    void InternalError(std::string_view text) override { errors.emplace_back(text); }
    bool Cancelled() override { return ++asked == cancelAt; }

    std::vector<std::string> shown;
    std::vector<std::string> errors;
    int hidden = 0;
    int asked = 0;
    int cancelAt = -1;
};

}  // namespace

TEST_F(FtdiLink, ReplugGuidanceFollowsTheDeviceOutAndBack) {
    struct Case {
        const char* what;
        int cancelAt;  // the Cancel query that says yes; -1: never
        int result;
    };
    for (const Case& c : {Case{"back under its new index", -1, 1},
                          Case{"cancelled while waiting for the removal", 2, -99},
                          Case{"cancelled while waiting for the return", 6, -99}}) {
        bus->devices = {{"FT232R USB UART", "A1", nullptr},
                        {"Corvane", "CV1", nullptr},
                        {"Corvane", "CV1", nullptr, false}};
        // Out at the third listing, back (behind the other device) at the sixth.
        bus->onListing = [this](int listing) {
            if (listing == 2) {
                bus->devices[1].present = false;
            }
            if (listing == 5) {
                bus->devices[2].present = true;
            }
        };
        auto owned = std::make_unique<FakeFtdiBus>(clock);
        ScriptedPrompt prompt;
        prompt.cancelAt = c.cancelAt;
        EXPECT_EQ(link->Dev_RebootTargetDevice("Corvane", "CV1", prompt), c.result) << c.what;
        EXPECT_EQ(prompt.hidden, 1) << c.what;
        ASSERT_FALSE(prompt.shown.empty()) << c.what;
        EXPECT_EQ(prompt.shown[0],
                  "Request: Please remove the USB cable from the Corvane\nand power down the "
                  "device.");
        if (c.result >= 0) {
            EXPECT_EQ(prompt.shown.back(),
                      "Request: Please reconnect the USB cable to the Corvane\nand power up the "
                      "device.");
            EXPECT_TRUE(
                log.HasLine(4, 10, "Dev_RebootTargetDevice() - device reconnected (index 1)"));
        }
        bus->onListing = nullptr;
        bus = owned.get();
        link = std::make_unique<CCommunication>(log, clock, std::move(owned));
    }
    ScriptedPrompt prompt;
    EXPECT_EQ(link->Dev_RebootTargetDevice("Corvane", "CV9", prompt), -1);
    EXPECT_EQ(prompt.errors,
              std::vector<std::string>{"Internal Error (Reboot_Target_Device pos2)"});
    EXPECT_TRUE(log.HasLine(4, 10, "~Dev_RebootTargetDevice() - cancel"));
}
