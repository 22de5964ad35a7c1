// The SiLabs link: its XML command frame, the binding to the vendor's library (a stand-in the
// tests build, loaded through the program's own code), and the link over devices in virtual
// time: opening step by step, synchronisation, the update, the command frame's write.
#include <dlfcn.h>
#include <gtest/gtest.h>

#include <deque>
#include <functional>
#include <set>

#include "engine/device_identity.h"
#include "links/usbxpress/communication_silabs.h"
#include "links/usbxpress/usbxpress_vendor.h"
#include "support/recording_log.h"
#include "support/temp_dir.h"
#include "support/virtual_clock.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

Bytes Hex(const std::string& text) {
    Bytes bytes;
    for (std::size_t i = 0; i + 1 < text.size(); i += 2) {
        bytes.push_back(static_cast<std::uint8_t>(std::stoul(text.substr(i, 2), nullptr, 16)));
    }
    return bytes;
}

}  // namespace

TEST(XmlCommandFrame, BothByteOrdersWithTheirCrcAndTheTextBound) {
    EXPECT_EQ(BuildXmlCommandFrame(0xAAAA, "abc"), Hex("aaaa0a0000006100620063000033b3f1"));
    EXPECT_EQ(BuildXmlCommandFrame(0x0001, "abc"), Hex("01000000000a0061006200637fbaa41f"));
    const std::string start =
        "<StartFirmwareUpdate>\n <Session>0</Session>\n <TxID>1</TxID>\n</StartFirmwareUpdate>";
    ASSERT_EQ(start.size(), 82u);
    EXPECT_EQ(BuildXmlCommandFrame(0xAAAA, start).size(), 174u);
    EXPECT_EQ(BuildXmlCommandFrame(0xAAAA, std::string(507, 'x')).size(), 1024u);
    EXPECT_TRUE(BuildXmlCommandFrame(0xAAAA, std::string(508, 'x')).empty())
        << "a text that does not fit the frame buffer builds nothing";
}

TEST(UsbXpressBinding, TheLibraryIsLoadedAndEveryCallBound) {
    std::string error;
    auto library = LoadUsbXpressLibrary(SCRIPTED_SIUSBXP, error);
    ASSERT_NE(library, nullptr) << error;
    std::uint32_t count = 0;
    EXPECT_EQ(library->GetNumDevices(count), kSiSuccess);
    EXPECT_EQ(count, 2u);
    std::array<char, 260> text{};
    EXPECT_EQ(library->GetProductString(1, text, kSiReturnDescription), kSiSuccess);
    EXPECT_STREQ(text.data(), "Other");
    SiHandle handle = nullptr;
    ASSERT_EQ(library->Open(0, handle), kSiSuccess);
    std::uint32_t done = 0;
    EXPECT_EQ(library->Write(handle, Bytes{1, 2, 3}, done), kSiSuccess);
    Bytes back(4);
    EXPECT_EQ(library->Read(handle, back, done), kSiSuccess);
    EXPECT_EQ(done, 3u);
    EXPECT_EQ(library->Read(handle, back, done), kSiReadTimedOut);
    EXPECT_EQ(library->SetFlowControl(handle, 0, 1, 0, 0, 0, false), kSiSuccess);
    // The stand-in says what it was called with, through the symbol table the binding uses.
    void* self = ::dlopen(SCRIPTED_SIUSBXP, RTLD_NOW | RTLD_NOLOAD);
    ASSERT_NE(self, nullptr);
    const auto lastCall = reinterpret_cast<const char* (*)()>(::dlsym(self, "Test_LastCall"));
    EXPECT_STREQ(lastCall(), "SI_SetFlowControl(0, 1, 0, 0, 0, 0)");
    ::dlclose(self);

    EXPECT_EQ(LoadUsbXpressLibrary(SCRIPTED_SIUSBXP_WITHOUT_FLOW, error), nullptr);
    EXPECT_EQ(error, "the library has no SI_SetFlowControl");
    EXPECT_EQ(LoadUsbXpressLibrary("/nonexistent/libSiUSBXp.so", error), nullptr);
    EXPECT_NE(error.find("/nonexistent/libSiUSBXp.so"), std::string::npos) << error;
}

TEST(UsbXpressBinding, WithoutTheLibraryNoDeviceIsFoundAndTheLinkSaysSo) {
    ::setenv(kUsbXpressLibraryVariable, "/nonexistent/libSiUSBXp.so", 1);
    const UsbXpressChoice choice = MakeUsbXpressLibrary();
    EXPECT_NE(choice.unavailable.find("/nonexistent/libSiUSBXp.so"), std::string::npos);
    RecordingLog log;
    CSILab_USB link(log, DefaultClock(), MakeUsbXpressLibrary().library);
    EXPECT_EQ(link.Dev_GetNumDevices(), -1);
    EXPECT_TRUE(log.HasLine(4, 50, "SI_GetNumDevices() failed (return value 255)"));
    ::setenv(kUsbXpressLibraryVariable, SCRIPTED_SIUSBXP, 1);
    EXPECT_TRUE(MakeUsbXpressLibrary().unavailable.empty());
    ::unsetenv(kUsbXpressLibraryVariable);
}

namespace {

// USBXpress devices in virtual time: each answers what the host writes; a read that finds
// nothing lets the 1 ms time-out pass. Calls are recorded by name; a name in `fail` fails.
class FakeUsbXpress final : public UsbXpressLibrary {
  public:
    using Responder = std::function<Bytes(std::span<const std::uint8_t>)>;
    explicit FakeUsbXpress(VirtualClock& clock) : clock_(clock) {}

    std::vector<std::pair<std::string, Responder>> devices;  // serial number, behaviour
    std::vector<std::string> calls;
    std::set<std::string> fail;
    std::vector<Bytes> written;
    std::uint32_t shortWriteBy = 0;

    SiStatus GetNumDevices(std::uint32_t& count) override {
        count = static_cast<std::uint32_t>(devices.size());
        return Call("GetNumDevices");
    }
    SiStatus GetProductString(std::uint32_t d, std::span<char> buffer,
                              std::uint32_t selector) override {
        const std::string text =
            selector == kSiReturnSerialNumber ? devices[d].first : "Pellix-USB";
        std::copy(text.begin(), text.end(), buffer.begin());
        return Call(selector == kSiReturnSerialNumber ? "Serial" : "Description");
    }
    SiStatus Open(std::uint32_t d, SiHandle& handle) override {
        open_ = static_cast<int>(d);
        handle = this;
        return Call("Open");
    }
    SiStatus Close(SiHandle) override { return Call("Close"); }
    SiStatus Read(SiHandle, std::span<std::uint8_t> buffer, std::uint32_t& got) override {
        got = 0;
        while (got < buffer.size() && !incoming_.empty()) {
            buffer[got++] = incoming_.front();
            incoming_.pop_front();
        }
        if (got == 0) {
            clock_.Advance(1);
            return kSiReadTimedOut;
        }
        return kSiSuccess;
    }
    SiStatus Write(SiHandle, std::span<const std::uint8_t> bytes, std::uint32_t& done) override {
        written.emplace_back(bytes.begin(), bytes.end());
        done = static_cast<std::uint32_t>(bytes.size()) - std::min<std::uint32_t>(shortWriteBy, 1);
        for (const std::uint8_t b : devices[static_cast<std::size_t>(open_)].second(bytes)) {
            incoming_.push_back(b);
        }
        return Call("Write");
    }
    SiStatus FlushBuffers(SiHandle, std::uint8_t, std::uint8_t) override {
        return Call("FlushBuffers");
    }
    SiStatus SetTimeouts(std::uint32_t, std::uint32_t) override { return Call("SetTimeouts"); }
    SiStatus SetBaudRate(SiHandle, std::uint32_t) override { return Call("SetBaudRate"); }
    SiStatus SetLineControl(SiHandle, std::uint16_t word) override {
        return Call(word == 0x0800 ? "SetLineControl" : "SetLineControl(wrong word)");
    }
    SiStatus SetFlowControl(SiHandle, std::uint8_t cts, std::uint8_t rts, std::uint8_t dtr,
                            std::uint8_t dsr, std::uint8_t dcd, bool xon) override {
        const bool expected = cts == 0 && rts == 1 && dtr == 0 && dsr == 0 && dcd == 0 && !xon;
        return Call(expected ? "SetFlowControl" : "SetFlowControl(wrong masks)");
    }

  private:
    SiStatus Call(const std::string& name) {
        calls.push_back(name);
        return fail.contains(name) ? kSiDeviceIoFailed : kSiSuccess;
    }
    VirtualClock& clock_;
    int open_ = 0;
    std::deque<std::uint8_t> incoming_;
};

// A bootloader answering synchronisation with `answer` and every frame with `reply`.
FakeUsbXpress::Responder Bootloader(Bytes answer = {0xFE, 1, 5, 7, 0xFF},
                                    std::uint8_t reply = 0x11) {
    return [=](std::span<const std::uint8_t> w) {
        if (w.size() == 1) {
            return w[0] == 0xF0 ? answer : Bytes{};
        }
        return Bytes{reply};
    };
}

class SilabsLink : public ::testing::Test {
  protected:
    SilabsLink() {
        auto owned = std::make_unique<FakeUsbXpress>(clock);
        usb = owned.get();
        usb->devices = {{"SN0", Bootloader()}};
        link = std::make_unique<CSILab_USB>(log, clock, std::move(owned));
    }
    VirtualClock clock;
    RecordingLog log;
    FakeUsbXpress* usb;
    std::unique_ptr<CSILab_USB> link;
    TempDir dir;
};

}  // namespace

TEST_F(SilabsLink, EachFailingStepOfOpeningGivesItsCodeAndReleasesTheDevice) {
    struct Step {
        const char* call;
        int code;
        const char* line;
    };
    for (const Step& s : {Step{"Serial", -2, "~Dev_Open() - Dev_Get_Description() failed"},
                          Step{"Open", -3, "~Dev_Open() - open failed"},
                          Step{"FlushBuffers", -4, "~Dev_Open() - SI_FlushBuffers() failed"},
                          Step{"SetTimeouts", -5, "~Dev_Open() - SI_SetTimeouts() failed"},
                          Step{"SetBaudRate", -6, "~Dev_Open() - SI_SetBaudRate() failed"},
                          Step{"SetLineControl", -7, "~Dev_Open() - SI_SetLineControl() failed"},
                          Step{"SetFlowControl", -8, "~Dev_Open() - SI_SetFlowControl() failed"}}) {
        usb->fail = {s.call};
        usb->calls.clear();
        EXPECT_EQ(link->Dev_Open(0, 115200), s.code) << s.call;
        EXPECT_TRUE(log.HasLine(4, 50, s.line)) << s.call;
        EXPECT_FALSE(link->IsOpen()) << s.call;
        const bool opened = s.code <= -4;
        EXPECT_EQ(usb->calls.back() == "Close", opened)
            << s.call << ": an opened device goes back through the library's close";
    }
    usb->fail.clear();
    EXPECT_EQ(link->Dev_Open(1, 115200), -1);
    EXPECT_EQ(link->Dev_Open(0, -1), -1);
    EXPECT_TRUE(log.HasLine(4, 50, "~Dev_Open() - Parametererror"));
    ASSERT_EQ(link->Dev_Open(0, 115200), 0);
    EXPECT_EQ(link->Description(), "Pellix-USB");
    EXPECT_EQ(link->SerialNumber(), "SN0");
    usb->fail = {"Description"};
    std::string serial, description;
    EXPECT_EQ(link->Dev_Get_Description(0, serial, description), -3);
    EXPECT_EQ(serial, "SN0") << "the serial number keeps its new value";
}

TEST_F(SilabsLink, SynchronisationRetriesUntilItsDeadline) {
    struct Case {
        Bytes answer;
        int code;
        const char* line;
    };
    for (const Case& c :
         {Case{{0xFE, 1, 5, 7, 0xFF}, 0, "BootLoader resonse: Version 1.5 / Device 7"},
          Case{{0xFE, 1, 5, 7}, -10, "BootLoader response to short (3 byte)"},
          Case{{0xFE, 1, 5, 7, 0x00}, -10, "BootLoader response false (end char 0)"}}) {
        usb->devices = {{"SN0", Bootloader(c.answer)}};
        ASSERT_EQ(link->Dev_Open(0, 115200), 0);
        const std::uint64_t start = clock.NowMs();
        EXPECT_EQ(link->Dev_SynchroniseBootloader(), c.code);
        EXPECT_TRUE(log.HasLine(4, 50, c.line)) << c.line;
        if (c.code != 0) {
            EXPECT_GE(clock.NowMs() - start, 1000u);
            EXPECT_TRUE(log.HasLine(4, 50, "~Dev_SynchroniseBootloader() timeout"));
        }
    }
    link->Dev_Close();
    EXPECT_EQ(link->Dev_SynchroniseBootloader(), -1);
}

TEST_F(SilabsLink, UpdateRunsToItsEndAndASignatureErrorOnlySetsTheFlag) {
    const std::string file = dir.Write("u.enc", "000311223300014400024455");
    for (const std::uint8_t reply : {std::uint8_t{0x11}, std::uint8_t{0x33}}) {
        usb->devices = {{"SN0", Bootloader({0xFE, 1, 5, 7, 0xFF}, reply)}};
        ASSERT_EQ(link->Dev_Open(0, 115200), 0);
        usb->written.clear();
        EXPECT_EQ(link->Dev_UpdateAVR(file, nullptr), 0);
        EXPECT_EQ(usb->written, (std::vector<Bytes>{{0x00, 0x03, 0x11, 0x22, 0x33},
                                                    {0x00, 0x01, 0x44},
                                                    {0x00, 0x02, 0x44, 0x55}}));
        EXPECT_EQ(link->GetBootloaderInfo().signatureError, reply == 0x33);
        EXPECT_FALSE(link->IsOpen());
    }
    EXPECT_EQ(link->Dev_UpdateAVR(file, nullptr), -1);
    EXPECT_TRUE(log.HasLine(4, 50, "~Dev_UpdateAVR() - port is closed"));
}

TEST_F(SilabsLink, TheCommandFrameGoesOutWholeOrTheLinkCloses) {
    EXPECT_FALSE(link->Send_XML_Cmd(0xAAAA, "abc"));
    EXPECT_TRUE(usb->written.empty()) << "nothing is written on a closed link";
    ASSERT_EQ(link->Dev_Open(0, 115200), 0);
    EXPECT_TRUE(link->Send_XML_Cmd(0xAAAA, "abc"));
    EXPECT_EQ(usb->written.back(), BuildXmlCommandFrame(0xAAAA, "abc"));
    EXPECT_FALSE(link->Send_XML_Cmd(0xAAAA, std::string(600, 'x')));
    EXPECT_EQ(usb->written.size(), 1u) << "a text too long for the frame is not written";
    usb->shortWriteBy = 1;
    EXPECT_FALSE(link->Send_XML_Cmd(0xAAAA, "abc"));
    EXPECT_TRUE(log.HasLine(2, 50, "error 0 SI_Write()"));
    EXPECT_FALSE(link->IsOpen());
}
