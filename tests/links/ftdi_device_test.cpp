// The FTDI driver-call layer against a scripted library: the order of its checks, its clamps,
// one library call per operation, and the codes it makes of the library's statuses.
#include <gtest/gtest.h>

#include <functional>
#include <map>
#include <set>

#include "links/ftdi/ftdi_device.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

// Records every call as text ("SetLatencyTimer(h1, 2)"); a call named in `fail` reports a
// failure. Handles are h1, h2, ... in the order devices are opened.
class ScriptedFtdi final : public FtdiLibrary {
  public:
    std::vector<std::string> calls;
    std::set<std::string> fail;
    std::vector<std::string> descriptions{"Corvane", "FT232R USB UART"};
    std::string serial = "A1B2C3";

    FtdiStatus CountDevices(std::uint32_t& count) override {
        count = static_cast<std::uint32_t>(descriptions.size());
        return Done("CountDevices()");
    }
    FtdiStatus SerialNumberByIndex(std::uint32_t index, std::span<char> buffer) override {
        std::copy(serial.begin(), serial.end(), buffer.begin());
        return Done("SerialNumberByIndex(" + std::to_string(index) + ", " +
                    std::to_string(buffer.size()) + ")");
    }
    FtdiStatus AllDescriptions(std::vector<std::string>& out) override {
        out = descriptions;
        return Done("AllDescriptions()");
    }
    FtdiStatus OpenByIndex(int index, FtdiHandle& handle) override {
        handle = reinterpret_cast<FtdiHandle>(static_cast<std::uintptr_t>(++opened_));
        return Done("OpenByIndex(" + std::to_string(index) + ")");
    }
    FtdiStatus Close(FtdiHandle h) override { return Done("Close(" + Name(h) + ")"); }
    FtdiStatus Read(FtdiHandle h, std::span<std::uint8_t> buffer, std::uint32_t& got) override {
        got = static_cast<std::uint32_t>(buffer.size() / 2);
        return Done("Read(" + Name(h) + ", " + std::to_string(buffer.size()) + ")");
    }
    FtdiStatus Write(FtdiHandle h, std::span<const std::uint8_t> bytes,
                     std::uint32_t& written) override {
        written = 0;
        return Done("Write(" + Name(h) + ", " + std::to_string(bytes.size()) + ")");
    }
    FtdiStatus SetBaudRate(FtdiHandle h, std::uint32_t baud) override {
        return Done("SetBaudRate(" + Name(h) + ", " + std::to_string(baud) + ")");
    }
    FtdiStatus SetDataCharacteristics(FtdiHandle h, std::uint8_t w, std::uint8_t s,
                                      std::uint8_t p) override {
        return Done("SetDataCharacteristics(" + Name(h) + ", " + List({w, s, p}) + ")");
    }
    FtdiStatus SetFlowControl(FtdiHandle h, std::uint16_t mode, std::uint8_t on,
                              std::uint8_t off) override {
        return Done("SetFlowControl(" + Name(h) + ", " + List({mode, on, off}) + ")");
    }
    FtdiStatus SetUsbParameters(FtdiHandle h, std::uint32_t in, std::uint32_t out) override {
        return Done("SetUsbParameters(" + Name(h) + ", " + List({in, out}) + ")");
    }
    FtdiStatus SetTimeouts(FtdiHandle h, std::uint32_t r, std::uint32_t w) override {
        return Done("SetTimeouts(" + Name(h) + ", " + List({r, w}) + ")");
    }
    FtdiStatus SetLatencyTimer(FtdiHandle h, std::uint8_t ms) override {
        return Done("SetLatencyTimer(" + Name(h) + ", " + std::to_string(ms) + ")");
    }
    FtdiStatus SetChars(FtdiHandle h, std::uint8_t e, std::uint8_t ee, std::uint8_t r,
                        std::uint8_t re) override {
        return Done("SetChars(" + Name(h) + ", " + List({e, ee, r, re}) + ")");
    }
    FtdiStatus Purge(FtdiHandle h, std::uint32_t mask) override {
        return Done("Purge(" + Name(h) + ", " + std::to_string(mask) + ")");
    }

  private:
    static std::string Name(FtdiHandle h) {
        return h == nullptr ? "null" : "h" + std::to_string(reinterpret_cast<std::uintptr_t>(h));
    }
    static std::string List(std::initializer_list<std::uint32_t> values) {
        std::string text;
        for (const std::uint32_t v : values) {
            text += (text.empty() ? "" : ", ") + std::to_string(v);
        }
        return text;
    }
    FtdiStatus Done(const std::string& call) {
        calls.push_back(call);
        const std::string name = call.substr(0, call.find('('));
        return fail.contains(name) || fail.contains(call) ? kFtdiIoError : kFtdiOk;
    }
    int opened_ = 0;
};

struct DeviceCall {
    const char* expected;  // the library call made on an open device (handle h1)
    std::function<int(CFTDI_Device&)> run;
};

const std::vector<DeviceCall> kDeviceCalls{
    {"Write(h1, 3)",
     [](CFTDI_Device& d) {
         return d.Write(Bytes{1, 2, 3});
     }},
    {"Read(h1, 4)",
     [](CFTDI_Device& d) {
         Bytes buffer(4);
         std::uint32_t got = 99;
         return d.Read(buffer, &got);
     }},
    {"SetBaudRate(h1, 115200)", [](CFTDI_Device& d) { return d.SetBaudRate(115200); }},
    {"SetDataCharacteristics(h1, 8, 0, 0)",
     [](CFTDI_Device& d) { return d.SetDataCharacteristics(8, 0, 0); }},
    {"SetFlowControl(h1, 0, 0, 0)", [](CFTDI_Device& d) { return d.SetFlowControl(0); }},
    {"SetUsbParameters(h1, 62, 65535)",
     [](CFTDI_Device& d) { return d.SetUSBParameters(10, 70000); }},
    {"SetUsbParameters(h1, 200, 200)",
     [](CFTDI_Device& d) { return d.SetUSBParameters(200, 200); }},
    {"SetTimeouts(h1, 50, 50)", [](CFTDI_Device& d) { return d.SetTimeouts(50, 50); }},
    {"SetLatencyTimer(h1, 2)", [](CFTDI_Device& d) { return d.SetLatencyTimer(1); }},
    {"SetLatencyTimer(h1, 255)", [](CFTDI_Device& d) { return d.SetLatencyTimer(300); }},
    {"SetChars(h1, 255, 1, 0, 0)", [](CFTDI_Device& d) { return d.SetChars(0xFF, 1, 0, 0); }},
    {"Purge(h1, 1)", [](CFTDI_Device& d) { return d.Purge_RX(); }},
    {"Purge(h1, 2)", [](CFTDI_Device& d) { return d.Purge_TX(); }},
};

}  // namespace

TEST(FtdiDevice, EveryDeviceCallNeedsAnOpenDeviceAndMakesOneLibraryCall) {
    for (const DeviceCall& c : kDeviceCalls) {
        ScriptedFtdi library;
        CFTDI_Device device(library);
        EXPECT_EQ(c.run(device), -20) << c.expected;
        EXPECT_TRUE(library.calls.empty()) << c.expected << ": the library was called";

        ASSERT_EQ(device.Open_ByIndex(0), 0);
        library.calls.clear();
        EXPECT_EQ(c.run(device), 0) << c.expected;
        EXPECT_EQ(library.calls, std::vector<std::string>{c.expected});

        library.fail = {c.expected};
        EXPECT_EQ(c.run(device), -21) << c.expected;
    }
}

TEST(FtdiDevice, BuffersAndCountsAreCheckedFirstAndReadAlwaysSetsItsCount) {
    ScriptedFtdi library;
    CFTDI_Device device(library);  // not open: the argument checks come before the handle's
    std::uint32_t got = 99;
    EXPECT_EQ(device.Read({}, &got), -1);
    EXPECT_EQ(got, 0u);
    Bytes buffer(4);
    got = 99;
    EXPECT_EQ(device.Read(std::span(buffer).first(0), &got), -2);
    EXPECT_EQ(got, 0u);
    EXPECT_EQ(device.Read(buffer, nullptr), -3);
    got = 99;
    EXPECT_EQ(device.Read(buffer, &got), -20);
    EXPECT_EQ(got, 0u);
    EXPECT_EQ(device.Write({}), -1);
    EXPECT_EQ(device.Write(std::span(buffer).first(0)), -2);
    EXPECT_TRUE(library.calls.empty());

    ASSERT_EQ(device.Open_ByIndex(0), 0);
    EXPECT_EQ(device.Read(buffer, &got), 0);
    EXPECT_EQ(got, 2u) << "what the library read, fewer than asked";
}

TEST(FtdiDevice, ListingsEmptyTheirTextAndRefuseIndexesOutsideTheList) {
    ScriptedFtdi library;
    CFTDI_Device device(library);
    std::uint32_t count = 0;
    EXPECT_EQ(device.ListDevices_Number(nullptr), -1);
    EXPECT_EQ(device.ListDevices_Number(&count), 0);
    EXPECT_EQ(count, 2u);
    library.fail = {"CountDevices"};
    count = 7;
    EXPECT_EQ(device.ListDevices_Number(&count), -21);
    EXPECT_EQ(count, 7u) << "untouched on failure";
    library.fail.clear();

    std::string text = "stale";
    EXPECT_EQ(device.ListDevices_Description(1, &text), 0);
    EXPECT_EQ(text, "FT232R USB UART");
    text = "stale";
    EXPECT_EQ(device.ListDevices_Description(3, &text), -10);
    EXPECT_EQ(text, "");
    text = "stale";
    EXPECT_EQ(device.ListDevices_Description(-1, &text), -10);
    EXPECT_EQ(text, "");
    // Nine devices: every description has room, the ninth included.
    library.descriptions.assign(9, "FT232R USB UART");
    library.descriptions[8] = std::string(80, 'x');
    EXPECT_EQ(device.ListDevices_Description(8, &text), 0);
    EXPECT_EQ(text, std::string(63, 'x')) << "a description is at most 63 characters";
    library.fail = {"AllDescriptions"};
    EXPECT_EQ(device.ListDevices_Description(0, &text), -21);
    EXPECT_EQ(text, "");

    library.fail.clear();
    library.calls.clear();
    EXPECT_EQ(device.ListDevices_SerialNumber(0x10002, &text), 0);
    EXPECT_EQ(text, "A1B2C3");
    EXPECT_EQ(library.calls, std::vector<std::string>{"SerialNumberByIndex(2, 128)"})
        << "the index as its low 16 bits, a 128-byte buffer";
    library.fail = {"SerialNumberByIndex"};
    EXPECT_EQ(device.ListDevices_SerialNumber(0, &text), -21);
    EXPECT_EQ(text, "");
    EXPECT_EQ(device.ListDevices_SerialNumber(0, nullptr), -1);
}

TEST(FtdiDevice, OpeningClosesFirstAndClosingAlwaysLeavesTheHandleNull) {
    ScriptedFtdi library;
    {
        CFTDI_Device device(library);
        library.fail = {"Close(null)"};
        EXPECT_EQ(device.Close(), -21) << "the library rejects the null handle";
        EXPECT_EQ(device.Open_ByIndex(1), 0);
        EXPECT_EQ(device.Open_ByIndex(0), 0);
        EXPECT_TRUE(device.IsOpen());
        library.fail = {"Close(h2)"};
        EXPECT_EQ(device.Close(), -21);
        EXPECT_FALSE(device.IsOpen()) << "null even when the library reports a failure";
        library.fail = {"OpenByIndex"};
        EXPECT_EQ(device.Open_ByIndex(0), -21);
        EXPECT_FALSE(device.IsOpen());
        library.fail.clear();
        EXPECT_EQ(device.Open_ByIndex(0), 0);
    }
    EXPECT_EQ(library.calls, (std::vector<std::string>{
                                 "Close(null)", "Close(null)", "OpenByIndex(1)", "Close(h1)",
                                 "OpenByIndex(0)", "Close(h2)", "Close(null)", "OpenByIndex(0)",
                                 "Close(null)", "OpenByIndex(0)", "Close(h4)"}));
}
