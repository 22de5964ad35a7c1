// The simulated USBXpress library against simulated devices on a bus folder: listing, reads
// with the library's time-out, the Pellix-USB application's frames, unplugging.

#include <gtest/gtest.h>

#include <memory>
#include <string_view>
#include <thread>

#include "engine/crc32.h"
#include "links/usbxpress/communication_silabs.h"
#include "links/usbxpress/usbxpress_library.h"
#include "sim/pellix_application.h"
#include "sim/usbxpress_transport.h"
#include "support/temp_dir.h"
#include "wait_until.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

const Bytes kSync{0xF0};
const Bytes kSyncAnswer{0xFE, 0x01, 0x05, 0x01, 0xFF};
const Bytes kAbcFrame{0xAA, 0xAA, 0x0A, 0x00, 0x00, 0x00, 0x61, 0x00,
                      0x62, 0x00, 0x63, 0x00, 0x00, 0x33, 0xB3, 0xF1};

// A frame as a host builds one, the fields in the given byte order.
Bytes Frame(std::uint16_t command, std::u16string_view text, bool lsbFirst) {
    Bytes frame{static_cast<std::uint8_t>(command), static_cast<std::uint8_t>(command >> 8)};
    const auto put = [&](std::uint32_t value, int size) {
        for (int i = 0; i < size; ++i) {
            const int shift = 8 * (lsbFirst ? i : size - 1 - i);
            frame.push_back(static_cast<std::uint8_t>(value >> shift));
        }
    };
    put(static_cast<std::uint32_t>(text.size() * 2 + 4), 4);
    for (const char16_t unit : text) {
        put(unit, 2);
    }
    put(Crc32(frame), 4);
    return frame;
}

Bytes XmlFrame(std::u16string_view text) {
    return Frame(kPellixXmlCommand, text, true);
}

const std::u16string kStart = u"<Command><StartFirmwareUpdate></StartFirmwareUpdate></Command>";

TEST(PellixFrame, ChecksEveryField) {
    EXPECT_EQ(Crc32(Bytes{'1', '2', '3', '4', '5', '6', '7', '8', '9'}), 0xCBF43926u);
    EXPECT_EQ(XmlFrame(u"abc"), kAbcFrame);

    struct Case {
        const char* name;
        Bytes frame;
        bool ok;
        std::string problem;  // the start of it
    };
    Bytes badCrc(kAbcFrame.begin(), kAbcFrame.end() - 1);
    badCrc.push_back(static_cast<std::uint8_t>(kAbcFrame.back() ^ 0x01));
    Bytes badLength = kAbcFrame;
    badLength[2] = 0x0C;
    Bytes oddLength = kAbcFrame;
    oddLength[2] = 0x0B;
    oddLength.push_back(0x00);
    for (const Case& c : {
             Case{"example", kAbcFrame, true, ""},
             Case{"bad CRC", badCrc, false, "CRC"},
             Case{"bad length", badLength, false, "length"},
             Case{"odd length", oddLength, false, "length 11"},
             Case{"not Latin-1", XmlFrame(u"a\u0161"), false, "code unit 0x0161"},
             Case{"0xAAAA most significant first", Frame(0xAAAA, u"abc", false), false, "length"},
             Case{"other word least significant first", Frame(0x1234, u"abc", true), false,
                  "length"},
             Case{"other word", Frame(0x1234, u"abc", false), false, "unknown command word"},
         }) {
        SCOPED_TRACE(c.name);
        const PellixFrame frame = CheckPellixFrame(c.frame);
        EXPECT_EQ(frame.ok, c.ok) << frame.problem;
        EXPECT_TRUE(frame.problem.starts_with(c.problem)) << frame.problem;
    }
    EXPECT_EQ(CheckPellixFrame(Frame(0x1234, u"abc", false)).text, "abc");

    // The link's own frames, in both byte orders, read back here.
    const PellixFrame start =
        CheckPellixFrame(BuildXmlCommandFrame(kPellixXmlCommand, "<StartFirmwareUpdate>"));
    EXPECT_TRUE(start.ok) << start.problem;
    EXPECT_EQ(start.text, "<StartFirmwareUpdate>");
    EXPECT_EQ(CheckPellixFrame(BuildXmlCommandFrame(0x1234, "abc")).problem,
              "unknown command word 0x1234");
}

class UsbXpressSimBus : public ::testing::Test {
  protected:
    UsbXpressSimServer& Plug(UsbXpressSimOptions options) {
        servers_.push_back(std::make_unique<UsbXpressSimServer>(bus_.Path().string(), options));
        std::string error;
        EXPECT_TRUE(servers_.back()->Start(error)) << error;
        return *servers_.back();
    }
    UsbXpressSimServer& PlugPellix() {
        UsbXpressSimOptions options;
        options.startInApplication = true;
        return Plug(options);
    }

    SiHandle Open(std::uint32_t baud, std::uint32_t readMs = 1000) {
        SiHandle h = nullptr;
        EXPECT_EQ(library_->Open(0, h), kSiSuccess);
        EXPECT_EQ(library_->SetBaudRate(h, baud), kSiSuccess);
        EXPECT_EQ(library_->SetTimeouts(readMs, 1000), kSiSuccess);
        return h;
    }
    void Send(SiHandle h, const Bytes& bytes) {
        std::uint32_t written = 0;
        ASSERT_EQ(library_->Write(h, bytes, written), kSiSuccess);
        ASSERT_EQ(written, bytes.size());
    }
    Bytes Receive(SiHandle h, std::size_t count) {
        Bytes bytes(count);
        std::uint32_t got = 0;
        EXPECT_EQ(library_->Read(h, bytes, got), kSiSuccess);
        bytes.resize(got);
        return bytes;
    }
    void ExpectBootloader(SiHandle h) {
        ASSERT_EQ(library_->SetBaudRate(h, 115200), kSiSuccess);
        Send(h, kSync);
        EXPECT_EQ(Receive(h, kSyncAnswer.size()), kSyncAnswer);
    }

    TempDir bus_;
    std::unique_ptr<UsbXpressLibrary> library_ =
        MakeSimulatedUsbXpressLibrary(bus_.Path().string());
    std::vector<std::unique_ptr<UsbXpressSimServer>> servers_;
};

TEST_F(UsbXpressSimBus, ListsSerialsAndDescriptionsInNameOrder) {
    for (const auto& [description, serial] : {std::pair{"Second", "B2"}, {"First", "A1"}}) {
        UsbXpressSimOptions options;
        options.description = description;
        options.serial = serial;
        Plug(options);
    }
    std::uint32_t count = 0;
    ASSERT_EQ(library_->GetNumDevices(count), kSiSuccess);
    EXPECT_EQ(count, 2u);
    std::array<char, kSiMaxDeviceStrlen> text{};
    ASSERT_EQ(library_->GetProductString(1, text, kSiReturnSerialNumber), kSiSuccess);
    EXPECT_STREQ(text.data(), "B2");
    ASSERT_EQ(library_->GetProductString(0, text, kSiReturnDescription), kSiSuccess);
    EXPECT_STREQ(text.data(), "First");
    EXPECT_EQ(library_->GetProductString(2, text, kSiReturnSerialNumber), kSiDeviceNotFound);
    SiHandle h = nullptr;
    EXPECT_EQ(library_->Open(2, h), kSiDeviceNotFound);
}

TEST_F(UsbXpressSimBus, BootloaderSynchronisesAndAnEmptyReadTimesOut) {
    Plug({});
    const SiHandle h = Open(115200, 1);
    Bytes buffer(4);
    std::uint32_t got = 1;
    EXPECT_EQ(library_->Read(h, buffer, got), kSiReadTimedOut);
    EXPECT_EQ(got, 0u);
    EXPECT_EQ(library_->ReadWaiting(h, buffer, got), kSiSuccess);
    EXPECT_EQ(got, 0u);
    ASSERT_EQ(library_->SetTimeouts(1000, 1000), kSiSuccess);
    ExpectBootloader(h);
    EXPECT_EQ(library_->FlushBuffers(h, 1, 1), kSiSuccess);
    EXPECT_EQ(library_->Close(h), kSiSuccess);
    EXPECT_EQ(library_->Close(h), kSiInvalidHandle);
}

// Each frame is recorded with its verdict; only a good start frame restarts the device.
TEST_F(UsbXpressSimBus, PellixFramesAreCheckedAndOnlyAGoodStartSwitches) {
    Bytes badCrc = XmlFrame(kStart);
    badCrc[20] ^= 0x01;
    struct Case {
        const char* name;
        Bytes frame;
        bool ok;
        bool inBootloader;
    };
    for (const Case& c : {
             Case{"start", XmlFrame(kStart), true, true},
             Case{"other text", XmlFrame(u"<Command><Status/></Command>"), true, false},
             Case{"bad CRC", badCrc, false, false},
             Case{"other byte order", Frame(kPellixXmlCommand, kStart, false), false, false},
             Case{"other word", Frame(0x5555, kStart, false), false, false},
         }) {
        SCOPED_TRACE(c.name);
        UsbXpressSimServer& device = PlugPellix();
        const SiHandle h = Open(9600, 1);
        Send(h, c.frame);
        ASSERT_TRUE(WaitUntil([&] { return device.PellixFrames().size() == 1; }));
        const PellixFrame frame = device.PellixFrames().front();
        EXPECT_EQ(frame.ok, c.ok) << frame.problem;
        EXPECT_EQ(device.InBootloader(), c.inBootloader);
        if (c.inBootloader) {
            ASSERT_EQ(library_->SetTimeouts(1000, 1000), kSiSuccess);
            ExpectBootloader(h);
        }
        library_->Close(h);
        device.Stop();
    }
}

TEST_F(UsbXpressSimBus, PellixFrameInPiecesIsJoinedAndAHalfFrameIsDropped) {
    UsbXpressSimServer& device = PlugPellix();
    const SiHandle h = Open(115200);
    const Bytes start = XmlFrame(kStart);
    Send(h, Bytes(start.begin(), start.begin() + 4));
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    Send(h, Bytes(start.begin() + 4, start.end()));
    ASSERT_TRUE(WaitUntil([&] { return device.InBootloader(); }));
    library_->Close(h);
    device.Stop();

    UsbXpressSimServer& other = PlugPellix();
    const SiHandle h2 = Open(115200);
    Send(h2, Bytes(start.begin(), start.begin() + 10));
    ASSERT_TRUE(WaitUntil([&] { return other.PellixFrames().size() == 1; }));
    EXPECT_NE(other.PellixFrames().front().problem.find("quiet gap"), std::string::npos);
    EXPECT_FALSE(other.InBootloader());
}

TEST_F(UsbXpressSimBus, UnpluggedDeviceFailsAndComesBackInItsBootloader) {
    UsbXpressSimServer& device = PlugPellix();
    const SiHandle h = Open(115200, 3000);
    // A read waiting when the device goes ends with an error, not with its time-out.
    SiStatus waiting = kSiSuccess;
    std::thread reader([&] {
        Bytes buffer(1);
        std::uint32_t got = 0;
        waiting = library_->Read(h, buffer, got);
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    device.Unplug();
    reader.join();
    EXPECT_EQ(waiting, kSiDeviceIoFailed);

    Bytes buffer(1);
    std::uint32_t n = 0;
    EXPECT_EQ(library_->Read(h, buffer, n), kSiDeviceIoFailed);
    EXPECT_EQ(library_->ReadWaiting(h, buffer, n), kSiDeviceIoFailed);
    EXPECT_EQ(library_->Write(h, kSync, n), kSiDeviceIoFailed);
    std::uint32_t count = 1;
    library_->GetNumDevices(count);
    EXPECT_EQ(count, 0u);
    library_->Close(h);

    ASSERT_TRUE(device.Replug());
    library_->GetNumDevices(count);
    EXPECT_EQ(count, 1u);
    ExpectBootloader(Open(115200));
}

}  // namespace
