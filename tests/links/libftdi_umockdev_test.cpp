// The libftdi1 backend through the real libftdi1 and libusb, against FT232R chips emulated at
// the USB level: listing, the exact control requests of the link's configuration, bulk data
// both ways with the chip's status bytes, read time-outs, and a chip unplugged mid-transfer.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <future>
#include <numeric>
#include <ostream>
#include <string>
#include <thread>
#include <vector>

#include "emulated_ft232r.h"
#include "links/ftdi/ftdi_library.h"

namespace {

using fwtest::ControlRequest;
using fwtest::EmulatedFt232r;
using fwtest::EmulatedUsbBus;
using Bytes = std::vector<std::uint8_t>;
using Clock = std::chrono::steady_clock;

// Nine chips: more than the eight a fixed-size listing would hold.
constexpr int kChips = 9;
EmulatedUsbBus* bus = nullptr;

std::string SerialOf(int chip) {
    return "FW" + std::to_string(1000 + chip);
}
std::string DescriptionOf(int chip) {
    return "FT232R USB UART " + std::to_string(chip);
}

Bytes Pattern(std::size_t n) {
    Bytes bytes(n);
    std::iota(bytes.begin(), bytes.end(), std::uint8_t{7});
    return bytes;
}

std::string SerialAt(FtdiLibrary& lib, std::uint32_t index) {
    std::array<char, 64> text{};
    if (lib.SerialNumberByIndex(index, text) != kFtdiOk) {
        return {};
    }
    return text.data();
}

TEST(LibFtdiListing, ListsEveryChipWithItsDescriptionAndSerialNumber) {
    auto lib = MakeLibFtdiLibrary();
    std::uint32_t count = 0;
    ASSERT_EQ(lib->CountDevices(count), kFtdiOk);
    EXPECT_EQ(count, static_cast<std::uint32_t>(kChips));
    std::vector<std::string> descriptions;
    ASSERT_EQ(lib->AllDescriptions(descriptions), kFtdiOk);
    ASSERT_EQ(descriptions.size(), static_cast<std::size_t>(kChips));

    // Each index names the same chip in both lists and when opened.
    std::vector<bool> seen(kChips, false);
    for (std::uint32_t i = 0; i < count; ++i) {
        const std::string serial = SerialAt(*lib, i);
        const int chip = std::stoi(serial.substr(2)) - 1000;
        ASSERT_TRUE(chip >= 0 && chip < kChips) << serial;
        EXPECT_FALSE(seen[static_cast<std::size_t>(chip)]) << serial;
        seen[static_cast<std::size_t>(chip)] = true;
        EXPECT_EQ(descriptions[i], DescriptionOf(chip));
    }
    const int last = static_cast<int>(count) - 1;
    EmulatedFt232r* chip = bus->BySerial(SerialAt(*lib, static_cast<std::uint32_t>(last)));
    ASSERT_NE(chip, nullptr);
    chip->ClearLog();
    FtdiHandle handle = nullptr;
    ASSERT_EQ(lib->OpenByIndex(last, handle), kFtdiOk);
    EXPECT_FALSE(chip->VendorRequests().empty());  // the chip that was named got opened
    EXPECT_EQ(lib->Close(handle), kFtdiOk);

    std::array<char, 64> text{};
    EXPECT_EQ(lib->SerialNumberByIndex(count, text), kFtdiDeviceNotFound);
    EXPECT_EQ(lib->OpenByIndex(static_cast<int>(count), handle), kFtdiDeviceNotFound);
}

// A chip whose strings cannot be read keeps its place with no name; the others keep theirs.
TEST(LibFtdiListing, AnUnreadableChipHasAnEmptyDescriptionAndTheOthersTheirs) {
    auto lib = MakeLibFtdiLibrary();
    bus->Devices()[3]->SetStringsUnreadable(true);
    std::vector<std::string> descriptions;
    const FtdiStatus status = lib->AllDescriptions(descriptions);
    bus->Devices()[3]->SetStringsUnreadable(false);
    ASSERT_EQ(status, kFtdiOk);
    ASSERT_EQ(descriptions.size(), static_cast<std::size_t>(kChips));
    EXPECT_EQ(std::count(descriptions.begin(), descriptions.end(), ""), 1);
    for (const int chip : {0, 4, kChips - 1}) {
        EXPECT_EQ(std::count(descriptions.begin(), descriptions.end(), DescriptionOf(chip)), 1);
    }
}

// Opens chip 0 as the link does and closes it afterwards.
class LibFtdiDevice : public ::testing::Test {
  protected:
    void SetUp() override {
        chip_ = bus->Devices()[0].get();
        lib_ = MakeLibFtdiLibrary();
        std::uint32_t count = 0;
        ASSERT_EQ(lib_->CountDevices(count), kFtdiOk);
        for (std::uint32_t i = 0; i < count; ++i) {
            if (SerialAt(*lib_, i) == chip_->Serial()) {
                index_ = static_cast<int>(i);
            }
        }
        ASSERT_GE(index_, 0);
        ASSERT_EQ(lib_->OpenByIndex(index_, handle_), kFtdiOk);
        chip_->ClearLog();
    }
    void TearDown() override {
        chip_->SetUnplugged(false);
        if (handle_ != nullptr) {
            lib_->Close(handle_);
        }
    }

    void Configure(std::uint32_t baud) {
        ASSERT_EQ(lib_->SetBaudRate(handle_, baud), kFtdiOk);
        ASSERT_EQ(lib_->SetDataCharacteristics(handle_, 8, 0, 0), kFtdiOk);
        ASSERT_EQ(lib_->SetFlowControl(handle_, 0, 0, 0), kFtdiOk);
        ASSERT_EQ(lib_->SetUsbParameters(handle_, 200, 200), kFtdiOk);
        ASSERT_EQ(lib_->SetTimeouts(handle_, 50, 50), kFtdiOk);
        ASSERT_EQ(lib_->SetLatencyTimer(handle_, 2), kFtdiOk);
        ASSERT_EQ(lib_->SetChars(handle_, 0xFF, 1, 0, 0), kFtdiOk);
        ASSERT_EQ(lib_->Purge(handle_, kFtdiPurgeRx), kFtdiOk);
        ASSERT_EQ(lib_->Purge(handle_, kFtdiPurgeTx), kFtdiOk);
    }

    EmulatedFt232r* chip_ = nullptr;
    std::unique_ptr<FtdiLibrary> lib_;
    int index_ = -1;
    FtdiHandle handle_ = nullptr;
};

struct BaudCase {
    std::uint32_t baud;
    std::uint16_t value;  // FT232R: 3 MHz / divisor, 14 bits whole + 3 bits eighths
    std::uint16_t index;
};
void PrintTo(const BaudCase& c, std::ostream* os) {
    *os << c.baud << " baud";
}

class LibFtdiConfigure : public LibFtdiDevice, public ::testing::WithParamInterface<BaudCase> {};

TEST_P(LibFtdiConfigure, SendsTheChipsControlRequests) {
    Configure(GetParam().baud);
    // Requests 0x40: 3 baud, 4 line (8 bits, no parity, 1 stop bit), 2 flow (none),
    // 9 latency, 6 event character (0xFF enabled), 7 error character (off), 0 reset with
    // 2 = flush the receive side and 1 = flush the transmit side. wIndex 1 = interface A.
    const std::vector<ControlRequest> expected{
        {0x40, 0x03, GetParam().value, GetParam().index},
        {0x40, 0x04, 0x0008, 1},
        {0x40, 0x02, 0x0000, 1},
        {0x40, 0x09, 0x0002, 1},
        {0x40, 0x06, 0x01FF, 1},
        {0x40, 0x07, 0x0000, 1},
        {0x40, 0x00, 0x0002, 1},
        {0x40, 0x00, 0x0001, 1},
    };
    const auto got = chip_->VendorRequests();
    ASSERT_EQ(got.size(), expected.size());
    for (std::size_t i = 0; i < got.size(); ++i) {
        EXPECT_EQ(got[i], expected[i]) << "request " << i << ": type " << int(got[i].requestType)
                                       << " request " << int(got[i].request) << " value 0x"
                                       << std::hex << got[i].value << " index " << got[i].index;
    }
}

// 115200: 3 MHz / 26.04 -> 26; 1000000: 3 MHz / 3 exactly.
INSTANTIATE_TEST_SUITE_P(Bauds, LibFtdiConfigure,
                         ::testing::Values(BaudCase{115200, 0x001A, 0},
                                           BaudCase{1000000, 0x0003, 0}),
                         [](const auto& info) { return std::to_string(info.param.baud); });

TEST_F(LibFtdiDevice, WriteArrivesAtTheBulkEndpointByteExact) {
    Configure(115200);
    // Longer than the 200-byte transfer size: the library splits it.
    const Bytes frame = Pattern(300);
    std::uint32_t written = 0;
    ASSERT_EQ(lib_->Write(handle_, frame, written), kFtdiOk);
    EXPECT_EQ(written, frame.size());
    EXPECT_EQ(chip_->Written(), frame);
}

struct ReadCase {
    std::size_t queued;
    std::size_t requested;
};
void PrintTo(const ReadCase& c, std::ostream* os) {
    *os << c.queued << " queued, " << c.requested << " asked";
}

class LibFtdiRead : public LibFtdiDevice, public ::testing::WithParamInterface<ReadCase> {};

// The chip prefixes every 64-byte packet with two status bytes; the read returns the data
// alone, at once when the count is there, else after the read time-out with what came.
TEST_P(LibFtdiRead, ReturnsTheDataWithoutStatusBytes) {
    Configure(115200);
    const Bytes sent = Pattern(GetParam().queued);
    chip_->QueueInput(sent);
    Bytes buffer(GetParam().requested);
    std::uint32_t got = 0;
    const auto start = Clock::now();
    ASSERT_EQ(lib_->Read(handle_, buffer, got), kFtdiOk);
    const auto elapsed = Clock::now() - start;
    const std::size_t expected = std::min(GetParam().queued, GetParam().requested);
    ASSERT_EQ(got, expected);
    EXPECT_EQ(Bytes(buffer.begin(), buffer.begin() + static_cast<std::ptrdiff_t>(got)),
              Bytes(sent.begin(), sent.begin() + static_cast<std::ptrdiff_t>(expected)));
    if (expected < GetParam().requested) {
        EXPECT_GE(elapsed, std::chrono::milliseconds(45));  // waited for the time-out
    }
    EXPECT_LT(elapsed, std::chrono::seconds(2));  // and no longer
}

INSTANTIATE_TEST_SUITE_P(Sizes, LibFtdiRead,
                         ::testing::Values(ReadCase{1, 1},      // one packet
                                           ReadCase{124, 124},  // two full packets
                                           ReadCase{150, 150},  // a short third packet
                                           ReadCase{500, 500},  // several transfers
                                           ReadCase{5, 10},     // fewer than asked
                                           ReadCase{0, 10}),    // nothing at all
                         [](const auto& info) {
                             return "Queued" + std::to_string(info.param.queued) + "Asked" +
                                    std::to_string(info.param.requested);
                         });

TEST_F(LibFtdiDevice, UnpluggedChipFailsWriteAndReadAtOnce) {
    Configure(115200);
    chip_->SetUnplugged(true);
    const Bytes frame = Pattern(10);
    std::uint32_t written = 99;
    const auto start = Clock::now();
    EXPECT_EQ(lib_->Write(handle_, frame, written), kFtdiIoError);
    EXPECT_EQ(written, 0u);
    Bytes buffer(10);
    std::uint32_t got = 99;
    EXPECT_EQ(lib_->Read(handle_, buffer, got), kFtdiIoError);
    EXPECT_EQ(got, 0u);
    EXPECT_LT(Clock::now() - start, std::chrono::seconds(2));
}

TEST_F(LibFtdiDevice, UnplugDuringAReadEndsItWithAnError) {
    Configure(115200);
    ASSERT_EQ(lib_->SetTimeouts(handle_, 5000, 50), kFtdiOk);
    auto read = std::async(std::launch::async, [&] {
        Bytes buffer(10);
        std::uint32_t got = 0;
        return lib_->Read(handle_, buffer, got);
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    const auto unplugged = Clock::now();
    chip_->SetUnplugged(true);
    if (read.wait_for(std::chrono::seconds(10)) != std::future_status::ready) {
        // The read holds the handle: the process cannot go on, so end it instead of hanging.
        std::fprintf(stderr, "FAILED: the read did not return after the unplug\n");
        std::_Exit(1);
    }
    EXPECT_EQ(read.get(), kFtdiIoError);
    EXPECT_LT(Clock::now() - unplugged, std::chrono::seconds(2));  // not the 5 s time-out
}

}  // namespace

#if defined(__SANITIZE_THREAD__)
// umockdev's worker thread runs inside libumockdev, glib, gobject and libffi (its signal
// emission), which are not instrumented: their own locking is invisible to ThreadSanitizer.
extern "C" const char* __tsan_default_suppressions() {
    return "race:libumockdev.so.0\nrace:libglib-2.0.so.0\nrace:libgobject-2.0.so.0\n"
           "race:libffi.so.8\n";
}
#endif

int main(int argc, char** argv) {
    fwtest::ReexecUnderUmockdevWrapper(argc, argv);
    // The bus comes before any libusb context: libusb finds the emulated nodes only then.
    EmulatedUsbBus emulated;
    bus = &emulated;
    for (int chip = 0; chip < kChips; ++chip) {
        if (!emulated.Add(SerialOf(chip), DescriptionOf(chip))) {
            return 1;
        }
    }
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
