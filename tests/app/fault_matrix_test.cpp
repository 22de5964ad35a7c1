// One table of device and file faults, each run through the real program on every link: UDP
// on a loopback address of its own, serial on a pseudo-terminal of its own, FTDI and
// USBXpress each on a bus folder of its own. Every (fault, link) pair is a test case of its
// own, so CTest runs them in parallel.

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <array>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <future>
#include <iterator>
#include <memory>
#include <optional>
#include <random>
#include <string>
#include <thread>
#include <tuple>
#include <type_traits>
#include <variant>
#include <vector>

#include "e2e_fixture.h"
#include "engine/protocol.h"
#include "engine/update_file.h"
#include "sim/enc_maker.h"
#include "sim/ftdi_transport.h"
#include "sim/pty_transport.h"
#include "sim/usbxpress_transport.h"
#include "update/exit_codes.h"

namespace {

using namespace std::chrono_literals;

enum class Link { kNetwork, kCom, kFtdi, kUsbXpress };
constexpr std::array kLinks{Link::kNetwork, Link::kCom, Link::kFtdi, Link::kUsbXpress};

const char* LinkName(Link link) {
    constexpr std::array kNames{"UDP", "COM", "FTDI", "USBX"};
    return kNames[static_cast<std::size_t>(link)];
}

// The update file a row hands the program.
enum class UpdateFile {
    kSixFrames,  // 1500 bytes in frames of 276
    kOneFrame,   // 200 bytes
    kMissing,
    kOneByte,
    kOddSize,
    kMalformedFrame,  // the second frame declares 20 body bytes and holds 2
    kFrameTooLong,    // a frame declares 277 body bytes
    kNamedPipe,       // without a writer
};

// How a cell ended: the program's exit code (a shell sees code & 0xFF), a line its debug log
// must hold, and the time the protocol itself makes it wait (reply time-outs and delays). In
// the line, {U} stands for the link's update operation and {S} for the line that ends its
// synchronisation.
struct Outcome {
    int exitCode = kExitSuccess;
    std::string logLine;
    unsigned protocolMs = 0;
};

struct Row {
    std::string name;
    SimOptions device;
    UpdateFile file = UpdateFile::kSixFrames;
    // The device goes away once it received its last frame, while the program waits for the
    // reply: UDP kills the simulator's process, serial closes the
    // pseudo-terminal, FTDI and USBXpress unplug the device from the bus.
    bool deviceGone = false;
    std::array<Outcome, kLinks.size()> outcome;  // in kLinks order
    // What the device recorded: the file's frames it received, in order, and those its
    // accepted image holds, in order.
    std::vector<unsigned> received;
    std::vector<unsigned> accepted;
};

// Beyond its own waits a cell may take this long. Generous, because the suite runs on loaded
// machines and under sanitizers: the bound catches a hang, while an unexpected time-out
// shows in what the device received and in the log.
constexpr auto kSlack = 6000ms;
constexpr unsigned kTimeout = kReplyTimeoutMs;
const std::vector<unsigned> kAllSix{0, 1, 2, 3, 4, 5};
const char* const kSerialNumber = "FWSIM001";

std::array<Outcome, kLinks.size()> Everywhere(Outcome o) {
    return {o, o, o, o};
}

Outcome Done(const char* logLine = "~{U} - done", unsigned protocolMs = 0) {
    return {kExitSuccess, logLine, protocolMs};
}

Outcome TooManyErrors(unsigned protocolMs = 0) {
    return {kExitTooManyErrors, "~{U} - too many errors", protocolMs};
}

SimOptions Faults(std::vector<SimFault> faults) {
    SimOptions o;
    o.faults = std::move(faults);
    return o;
}

SimOptions ReplyAfter(unsigned ms) {
    SimOptions o;
    o.replyDelayMs = ms;
    return o;
}

SimOptions Extra(SimExtraByte extra, SimFault fault) {
    SimOptions o;
    o.extraBytes = {extra};
    o.faults = {fault};
    return o;
}

// A reply drawn from the generator: mostly acknowledgements, then CRC errors, signature
// errors, any byte the protocol gives no meaning (0xFF left out: it is no reply, and its
// time-out has a row of its own) and not-ready.
std::uint8_t DrawReply(std::mt19937& draw) {
    const unsigned kind = draw() % 100;
    if (kind < 45) {
        return BL_ACK;
    }
    if (kind < 55) {
        return BL_SIGNATURE_ERROR;
    }
    if (kind < 72) {
        return BL_CRC_ERROR;
    }
    if (kind < 76) {
        return BL_NOT_READY;
    }
    for (;;) {
        const auto byte = static_cast<std::uint8_t>(draw());
        if (byte != BL_ACK && byte != BL_CRC_ERROR && byte != BL_SIGNATURE_ERROR &&
            byte != BL_NOT_READY && byte != BL_NOTHING) {
            return byte;
        }
    }
}

// Replies from a seeded generator, and the outcome the protocol's rules give for them: 0x11
// and 0x33 accept the frame (0x33 marks the update as not fitting the device), 0xFE stops at
// once, any other byte is an error, and the fourth error in a row on one frame ends it.
Row RandomReplies(unsigned seed) {
    std::mt19937 draw(seed);
    Row row;
    row.name = "RandomRepliesSeed" + std::to_string(seed);
    bool signatureError = false;
    Outcome outcome = Done();
    for (unsigned frame = 0; frame < kAllSix.size() && outcome.exitCode == kExitSuccess; ++frame) {
        for (unsigned errors = 0;;) {
            const std::uint8_t reply = DrawReply(draw);
            row.device.faults.push_back({frame, reply, 1});
            row.received.push_back(frame);
            if (reply == BL_ACK || reply == BL_SIGNATURE_ERROR) {
                signatureError = signatureError || reply == BL_SIGNATURE_ERROR;
                row.accepted.push_back(frame);
                break;
            }
            if (reply == BL_NOT_READY) {
                outcome = {kExitNotReady, "{U} - bootloader not ready"};
                break;
            }
            if (++errors > 3) {
                outcome = TooManyErrors();
                break;
            }
        }
    }
    if (outcome.exitCode == kExitSuccess && signatureError) {
        outcome.exitCode = kExitSignatureError;
    }
    row.outcome = Everywhere(outcome);
    return row;
}

Row DeviceRow(std::string name, SimOptions device, std::array<Outcome, kLinks.size()> outcome,
              std::vector<unsigned> received, std::vector<unsigned> accepted,
              UpdateFile file = UpdateFile::kSixFrames) {
    Row row;
    row.name = std::move(name);
    row.device = std::move(device);
    row.file = file;
    row.outcome = outcome;
    row.received = std::move(received);
    row.accepted = std::move(accepted);
    return row;
}

std::vector<Row> MakeRows() {
    const Outcome signature{kExitSignatureError, "~{U} - done"};
    const Outcome signatureUsbXpress{kExitSignatureError, "Dev_UpdateAVR() - Signature error"};
    std::vector<Row> rows{
        DeviceRow("CrcErrorThreeTimesThenAccepted", Faults({{2, BL_CRC_ERROR, 3}}),
                  Everywhere(Done("{U} - CRC error")), {0, 1, 2, 2, 2, 2, 3, 4, 5}, kAllSix),
        DeviceRow("CrcErrorFourTimes", Faults({{2, BL_CRC_ERROR, 4}}), Everywhere(TooManyErrors()),
                  {0, 1, 2, 2, 2, 2}, {0, 1}),
        DeviceRow("SilentThreeTimesThenAccepted", Faults({{2, std::nullopt, 3}}),
                  Everywhere(Done("{U} - timeout (FF)", 3 * kTimeout)), {0, 1, 2, 2, 2, 2, 3, 4, 5},
                  kAllSix),
        DeviceRow("SilentFourTimes", Faults({{2, std::nullopt, 4}}),
                  Everywhere(TooManyErrors(4 * kTimeout)), {0, 1, 2, 2, 2, 2}, {0, 1}),
        // 0xFF is the byte that means "no reply yet": it is waited out like silence.
        DeviceRow("ReplyFFThenAccepted", Faults({{1, BL_NOTHING, 1}}),
                  Everywhere(Done("{U} - timeout (FF)", kTimeout)), {0, 1, 1, 2, 3, 4, 5}, kAllSix),
        DeviceRow(
            "UnknownReplyBytes", Faults({{2, 0x00, 1}, {2, 0x42, 1}, {2, 0x80, 1}, {2, 0xA5, 1}}),
            Everywhere({kExitTooManyErrors, "{U} - timeout (A5)"}), {0, 1, 2, 2, 2, 2}, {0, 1}),
        DeviceRow("NotReady", Faults({{1, BL_NOT_READY, 1}}),
                  Everywhere({kExitNotReady, "{U} - bootloader not ready"}), {0, 1}, {0}),
        // Only the USBXpress link logs the signature error itself.
        DeviceRow("SignatureErrorOnTheFirstFrame", Faults({{0, BL_SIGNATURE_ERROR, 1}}),
                  {signature, signature, signature, signatureUsbXpress}, kAllSix, kAllSix),
        DeviceRow("SignatureErrorOnTheLastFrame", Faults({{5, BL_SIGNATURE_ERROR, 1}}),
                  {signature, signature, signature, signatureUsbXpress}, kAllSix, kAllSix),
        // Seeds whose scripts end in each of the four ways: not ready, too many errors,
        // signature error and success.
        RandomReplies(3),
        RandomReplies(6),
        RandomReplies(7),
        RandomReplies(25),
        // The copy of frame 0's acknowledgement must not pass for frame 1's reply, a CRC error.
        DeviceRow("DuplicatedReply", Extra({0, std::nullopt}, {1, BL_CRC_ERROR, 1}),
                  Everywhere(Done("{U} - CRC error")), {0, 1, 1, 2, 3, 4, 5}, kAllSix),
        // An acknowledgement out of nowhere after frame 2 must not pass for frame 3's reply.
        DeviceRow("StrayByteBetweenFrames", Extra({2, BL_ACK}, {3, BL_CRC_ERROR, 1}),
                  Everywhere(Done("{U} - CRC error")), {0, 1, 2, 3, 3, 4, 5}, kAllSix),
        DeviceRow("ReplyJustInTime", ReplyAfter(kTimeout - 400),
                  Everywhere(Done("~{U} - done", kTimeout - 400)), {0}, {0}, UpdateFile::kOneFrame),
        // The frame goes out again after the reply time; the late reply to the first copy
        // then answers the second, and the device has taken the frame twice: the protocol's
        // replies carry no frame number.
        DeviceRow("ReplyJustTooLate", ReplyAfter(kTimeout + 400),
                  Everywhere(Done("{U} - timeout (FF)", kTimeout + 400)), {0, 0}, {0, 0},
                  UpdateFile::kOneFrame),
        DeviceRow("DeviceGoneWhileAFrameWaitsForItsReply", Faults({{2, std::nullopt, 1}}),
                  {
                      // Frames to a killed process are lost: four reply time-outs.
                      TooManyErrors(4 * kTimeout),
                      // The port's status query fails at once (EIO): the link's -8, which
                      // has no exit code of its own, gives -100 - -8.
                      Outcome{-92, "~COM_UpdateAVR() error 5 in ClearCommError()"},
                      // Reads of an unplugged device fail like empty ones; the frame's next
                      // write fails after the reply time: the link's write error (-6, -7).
                      Outcome{-94, "~Dev_UpdateAVR() - write error", kTimeout},
                      Outcome{-93, "~Dev_UpdateAVR() - write error", kTimeout},
                  },
                  {0, 1, 2}, {0, 1}),
    };
    rows.back().deviceGone = true;
    // Files are checked after the synchronisation and before the first frame: nothing sent.
    const auto file = [&](const char* name, UpdateFile kind,
                          std::array<Outcome, kLinks.size()> outcome) {
        rows.push_back(DeviceRow(name, {}, outcome, {}, {}, kind));
    };
    const Outcome unreadable{kExitFileUnreadable, "{S}"};
    const Outcome oddSize{kExitFileMalformed, "~Dev_UpdateAVR() - wrong filesize (3)"};
    file("MissingFile", UpdateFile::kMissing, Everywhere(unreadable));
    file("OneByteFile", UpdateFile::kOneByte, Everywhere({kExitFileTooShort, "{S}"}));
    // The network link logs the USB links' line here.
    file("OddSizedFile", UpdateFile::kOddSize,
         {oddSize, Outcome{kExitFileMalformed, "~COM_UpdateAVR() - wrong filesize (3)"}, oddSize,
          oddSize});
    file("FrameShorterThanItsLength", UpdateFile::kMalformedFrame,
         Everywhere({kExitFileMalformed, "~{U} - format error (length 20)"}));
    file("FrameLongerThan276Bytes", UpdateFile::kFrameTooLong,
         Everywhere({kExitFileMalformed, "~{U} - format error (length 277)"}));
    file("NamedPipeWithoutWriter", UpdateFile::kNamedPipe, Everywhere(unreadable));
    return rows;
}

const std::vector<Row>& Rows() {
    static const std::vector<Row> rows = MakeRows();
    return rows;
}

// The log line with the link's names filled in.
std::string LogLine(std::string line, Link link) {
    constexpr std::array kUpdate{"UpdateAVR()", "COM_UpdateAVR()", "Dev_UpdateAVR()",
                                 "Dev_UpdateAVR()"};
    constexpr std::array kSynchronised{"~SynchroniseBootloader()", "~COM_SynchroniseBootloader()",
                                       "Dev_SynchroniseBootloader() - recv. byte (0xFE)",
                                       "~Dev_SynchroniseBootloader() done"};
    const auto i = static_cast<std::size_t>(link);
    for (const auto& [mark, text] : {std::pair{"{U}", kUpdate[i]}, {"{S}", kSynchronised[i]}}) {
        if (const std::size_t at = line.find(mark); at != std::string::npos) {
            line.replace(at, 3, text);
        }
    }
    return line;
}

std::string ReadText(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// What a device recorded: every frame it received and its accepted image.
struct Record {
    std::vector<Bytes> received;
    Bytes accepted;
};

// The simulated device of one cell on its link, serving until the cell ends.
class Device {
  public:
    Device(Link link, const Row& row, const std::string& address, const std::string& bus)
        : link_(link), address_(address) {
        const SimOptions& o = row.device;
        std::string error;
        bool started = false;
        switch (link) {
            case Link::kNetwork:
                if (row.deviceGone) {
                    started = StartProcess(o);
                } else {
                    started = Start(std::make_unique<UdpSimServer>(o, address), error);
                }
                break;
            case Link::kCom:
                started = Start(std::make_unique<PtySimServer>(o), error);
                break;
            case Link::kFtdi: {
                FtdiSimOptions ftdi;
                ftdi.serial = kSerialNumber;
                ftdi.bootloader = o;
                started = Start(std::make_unique<FtdiSimServer>(bus, ftdi), error);
                break;
            }
            case Link::kUsbXpress: {
                UsbXpressSimOptions usbx;
                usbx.serial = kSerialNumber;
                usbx.bootloader = o;
                started = Start(std::make_unique<UsbXpressSimServer>(bus, usbx), error);
                break;
            }
        }
        EXPECT_TRUE(started) << error;
    }

    // The keyword and the operand that names the device.
    std::vector<std::string> Target() const {
        switch (link_) {
            case Link::kNetwork:
                return {"UDP", address_};
            case Link::kCom:
                return {"COM", std::get<std::unique_ptr<PtySimServer>>(server_)->Path()};
            default:
                return {LinkName(link_), kSerialNumber};
        }
    }

    // What the device recorded so far, or up to the moment it went away; nothing for a
    // killed process, whose record is its last summary line.
    std::optional<Record> Recorded() const {
        if (gone_) {
            return gone_;
        }
        return std::visit(
            [](const auto& server) -> std::optional<Record> {
                if constexpr (std::is_same_v<std::decay_t<decltype(server)>,
                                             std::unique_ptr<BackgroundChild>>) {
                    return std::nullopt;
                } else {
                    return server->Inspect([](const BootloaderSim& sim) {
                        Record r{{}, sim.AcceptedImage()};
                        for (const SimFrame& f : sim.Frames()) {
                            r.received.push_back(f.bytes);
                        }
                        return r;
                    });
                }
            },
            server_);
    }
    const std::string& Summary() const { return summary_; }

    // Waits until the device received `frames` frames, then takes it away.
    void GoAwayAfter(std::size_t frames) {
        const auto deadline = std::chrono::steady_clock::now() + 10s;
        if (auto* process = std::get_if<std::unique_ptr<BackgroundChild>>(&server_)) {
            // The summary comes once the device has waited its idle time after the last frame.
            summary_ = (*process)->WaitForLine("served", 10s).value_or("");
            (*process)->Kill();
            return;
        }
        while (Recorded()->received.size() < frames &&
               std::chrono::steady_clock::now() < deadline) {
            std::this_thread::sleep_for(2ms);
        }
        gone_ = Recorded();
        if (auto* pty = std::get_if<std::unique_ptr<PtySimServer>>(&server_)) {
            pty->reset();  // stops serving and closes the terminal
        } else {
            std::visit(
                [](auto& server) {
                    if constexpr (std::is_base_of_v<
                                      BusSimServer,
                                      typename std::decay_t<decltype(server)>::element_type>) {
                        server->Unplug();
                    }
                },
                server_);
        }
    }

  private:
    template <typename Server>
    bool Start(std::unique_ptr<Server> server, std::string& error) {
        const bool started = server->Start(error);
        server_ = std::move(server);
        return started;
    }

    // The simulator program on the address, the fault script on its command line.
    bool StartProcess(const SimOptions& o) {
        std::vector<std::string> args{"--address", address_, "--idle", "300"};
        for (const SimFault& f : o.faults) {
            args.push_back("--fault");
            char reply[8] = "silent";
            if (f.reply) {
                std::snprintf(reply, sizeof reply, "0x%02X", *f.reply);
            }
            args.push_back(std::to_string(f.frame) + ":" + reply + "x" + std::to_string(f.count));
        }
        auto process = std::make_unique<BackgroundChild>(SimulatorProgram(), args);
        const bool listening = process->WaitForLine("listening on", 10s).has_value();
        server_ = std::move(process);
        return listening;
    }

    Link link_;
    std::string address_;
    std::variant<std::unique_ptr<UdpSimServer>, std::unique_ptr<PtySimServer>,
                 std::unique_ptr<FtdiSimServer>, std::unique_ptr<UsbXpressSimServer>,
                 std::unique_ptr<BackgroundChild>>
        server_;
    std::optional<Record> gone_;
    std::string summary_;
};

class FaultMatrixTest : public ::testing::TestWithParam<std::tuple<std::size_t, Link>> {
  protected:
    // Writes the row's update file; returns its path.
    std::string MakeFile(UpdateFile file) const {
        const std::string path = (dir_.Path() / "app.enc").string();
        std::string error;
        switch (file) {
            case UpdateFile::kSixFrames:
            case UpdateFile::kOneFrame: {
                const std::size_t size = file == UpdateFile::kSixFrames ? 1500 : 200;
                EXPECT_TRUE(WriteUpdateFile(path, PseudoRandomBytes(size, 9), 276, error)) << error;
                break;
            }
            case UpdateFile::kMissing:
                break;
            case UpdateFile::kOneByte:
                dir_.Write("app.enc", "1");
                break;
            case UpdateFile::kOddSize:
                dir_.Write("app.enc", "011");
                break;
            case UpdateFile::kMalformedFrame:
                dir_.Write("app.enc", "00014400144142");
                break;
            case UpdateFile::kFrameTooLong: {
                std::string text = "0115";
                for (int i = 0; i < 277; ++i) {
                    text += "A5";
                }
                dir_.Write("app.enc", text);
                break;
            }
            case UpdateFile::kNamedPipe:
                EXPECT_EQ(::mkfifo(path.c_str(), 0600), 0);
                break;
        }
        return path;
    }

    TempDir dir_;
    TempDir bus_;
};

TEST_P(FaultMatrixTest, EndsAsTheTableSays) {
    const auto [index, link] = GetParam();
    const Row& row = Rows()[index];
    const Outcome& expected = row.outcome[static_cast<std::size_t>(link)];
    const std::string address = "127.0.9." + std::to_string(index + 1);
    Device device(link, row, address, bus_.Path().string());
    const std::string file = MakeFile(row.file);
    const std::vector<Bytes> frames = SplitFrames(ReadUpdateFile(file).image.bytes);
    const auto image = [&](const std::vector<unsigned>& numbers) {
        Bytes bytes;
        for (const unsigned n : numbers) {
            bytes.insert(bytes.end(), frames.at(n).begin(), frames.at(n).end());
        }
        return bytes;
    };
    // A link to the program (or a copy) outside its build folder writes its debug log to the
    // state folder: one for each cell.
    const auto program = dir_.Path() / "bin" / "flashwright";
    std::filesystem::create_directory(program.parent_path());
    std::error_code notLinked;
    std::filesystem::create_hard_link(FlashwrightProgram(), program, notLinked);
    if (notLinked) {
        std::filesystem::copy_file(FlashwrightProgram(), program);
    }
    const auto state = dir_.Path() / "state";
    ChildOptions options;
    options.environment = {{"FLASHWRIGHT_DEBUG_LOG", "1"},
                           {"XDG_STATE_HOME", state.string()},
                           {"FLASHWRIGHT_FTDI_BUS", bus_.Path().string()},
                           {"FLASHWRIGHT_USBXPRESS_BUS", bus_.Path().string()},
                           {"FLASHWRIGHT_CORVANE_CODE", ""},
                           {"XDG_CONFIG_HOME", dir_.Path().string()}};
    const auto bound = std::chrono::milliseconds(expected.protocolMs) + kSlack;
    options.limit = std::chrono::duration_cast<std::chrono::seconds>(bound) + 10s;
    std::vector<std::string> args = device.Target();
    args.push_back(file);

    std::future<void> goingAway;
    if (row.deviceGone) {
        goingAway =
            std::async(std::launch::async, [&] { device.GoAwayAfter(row.received.size()); });
    }
    const ChildResult r = RunChild(program.string(), args, options);
    if (goingAway.valid()) {
        goingAway.get();
    }

    EXPECT_FALSE(r.killed);
    EXPECT_EQ(r.status, ExitStatus(expected.exitCode)) << r.err;
    EXPECT_LE(r.elapsed, bound);
    const std::string log = ReadText(state / "flashwright" / "debug_log.txt");
    EXPECT_NE(log.find(LogLine(expected.logLine, link)), std::string::npos)
        << LogLine(expected.logLine, link) << "\n"
        << log;
    if (const std::optional<Record> record = device.Recorded()) {
        std::vector<Bytes> received;
        for (const unsigned n : row.received) {
            received.push_back(frames.at(n));
        }
        EXPECT_EQ(record->received, received);
        EXPECT_EQ(record->accepted, image(row.accepted));
    } else {
        const std::string counts = std::to_string(row.accepted.size()) + " frames accepted (" +
                                   std::to_string(image(row.accepted).size()) + " bytes) of " +
                                   std::to_string(row.received.size()) + " received";
        EXPECT_NE(device.Summary().find(counts), std::string::npos) << device.Summary();
    }
}

INSTANTIATE_TEST_SUITE_P(FaultMatrix, FaultMatrixTest,
                         ::testing::Combine(::testing::Range<std::size_t>(0, Rows().size()),
                                            ::testing::ValuesIn(kLinks)),
                         [](const auto& info) {
                             return Rows()[std::get<0>(info.param)].name + "_" +
                                    LinkName(std::get<1>(info.param));
                         });

}  // namespace
