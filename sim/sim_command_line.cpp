#include "sim/sim_command_line.h"

#include <algorithm>
#include <charconv>
#include <map>
#include <set>

#include "engine/protocol.h"

const char* const kSimUsage = R"(Usage:
  flashwright-sim [options]                serve as a device bootloader
  flashwright-sim make-enc <binary> <out.enc> [--frame-size N]
  flashwright-sim make-enc --random SIZE [--seed N] <out.enc> [--frame-size N]
  flashwright-sim --help

Serving: the simulator listens for the host on UDP port 4107 of the given address, answers
each synchronisation request (0xF0) with FE, version high, version low, device id, FF, and
after the start byte (0xF1) answers every frame with one reply byte. The datagram "Boot"
restarts it. It prints one summary line per update it served (an update begins with its first
frame: a synchronisation alone, such as a station's probe of its slot, is none), and ends on
Ctrl-C or SIGTERM.

  --address A         IPv4 address to serve on (default 127.0.0.1; any of 127.0.0.0/8 or
                      the address of a local interface)
  --port P            UDP port (default 4107)
  --version H.LL      bootloader version, hexadecimal as the host shows it (default 1.05)
  --device-id N       device id (default 1; decimal or 0xNN)
  --sync-delay MS     ignore synchronisation requests for MS ms after a start or "Boot",
                      like a device that is still starting
  --reply-delay MS    time between a frame and its reply (default 0)
  --reply R           reply to every frame that no --fault names (default ack)
  --fault F:R[xN]     reply R to the next N attempts (default 1) of frame F, counted from 0
                      as the host counts them; repeat the option to script more, in order
  --duplicate-reply F the first reply to frame F goes out twice, the copy as a datagram of
                      its own over UDP (as a network may duplicate it), right behind it on a line
  --stray-byte F:B    right after the first reply to frame F, also send the byte B (0xNN),
                      like noise on the line; repeat either option for more frames
  --sync-answer HEX   answer synchronisation with these bytes instead (a broken device),
                      for example FE0105010000 (6 bytes) or FE01050100 (wrong end byte)
  --image FILE        after each update write the accepted frames as received
  --payload FILE      after each update write the accepted frame bodies (for an update file
                      made by make-enc: the original binary)
  --idle MS           an update counts as served after MS ms without a frame (default 3000)
  --once              exit after the first update served
  --transport T       the carriage to serve on: udp (default); pty, a serial line on a
                      pseudo-terminal whose path is printed (the host opens it as its
                      port), where the device command FD 07 07 FE restarts the bootloader;
                      ftdi, a simulated FTDI device on a bus folder (see below); or
                      usbxpress, a simulated USBXpress device on a bus folder (see below)
  --pty-link PATH     with pty: also place a symbolic link to the port at PATH
  --baud N            with pty, ftdi or usbxpress: model the line's time at N baud (10 bits
                      per byte), so a transfer takes as long as on a real line (default: no
                      line time)

FTDI device (--transport ftdi): the device is the file DIR/<serial>.dev (description, serial
number, pseudo-terminal path, one per line); a host started with FLASHWRIGHT_FTDI_BUS=DIR
lists it. The bootloader expects the host at 115200 baud, the Corvane application at 1000000;
bytes sent at another speed arrive garbled. SIGUSR1 unplugs the device, SIGUSR2 plugs it back
in (restarted in its bootloader).
  --bus DIR           the bus folder (required with ftdi and usbxpress)
  --description TEXT  the device's description (default "Flashwright simulated device")
  --serial TEXT       its serial number, also the file's name (default FWSIM001)
  --corvane           start in the Corvane application instead of the bootloader: it answers
                      the information command 0x04 and restarts into the bootloader on 0xAA
                      with the right code (another code is refused: answer 00 00)
  --hardware TEXT     the application's hardware text (default "FW-HW 2")
  --software TEXT     the application's software text (default "FW-SW 1.0")
  --corvane-code HEX8 the 4-byte code of 0xAA, as 8 hexadecimal digits (default 5AC33CA5)
  --corvane-fault F   none (default); silent: no answers; wrong: wrong answers (05 becomes
                      06, the code gets 02 00); refuse: the right code is refused too
  --unplug-after-ms N unplug the device N ms after start
  --replug-after-ms N plug it back in N ms after start (after --unplug-after-ms)

USBXpress device (--transport usbxpress): on a bus folder of the same form, which a host
started with FLASHWRIGHT_USBXPRESS_BUS=DIR lists; --bus, --description, --serial, the
schedule options and the signals work as for ftdi. The bootloader expects 115200 baud, the
Pellix-USB application takes any speed.
  --pellix            start in the Pellix-USB application instead of the bootloader: it takes
                      XML command frames (no answer) and restarts into the bootloader on a
                      good frame 0xAAAA whose text holds <StartFirmwareUpdate>

Replies R: ack (0x11), crc (0x22, the frame is sent again), signature (0x33, accepted but not
meant for this device), notready (0xFE, the host stops), silent (no reply: the host waits
2500 ms and sends the frame again), or any byte written 0xNN.

Examples:
  flashwright-sim --address 127.0.0.2 --fault 3:crcx3
  flashwright-sim --reply signature
  flashwright-sim make-enc firmware.bin firmware.enc
)";

namespace {

template <typename T>
bool ParseNumber(std::string_view text, T& value, int base = 10) {
    if (base == 10 && text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
        text.remove_prefix(2);
        base = 16;
    }
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value, base);
    return ec == std::errc() && end == text.data() + text.size() && !text.empty();
}

bool ParseHexBytes(const std::string& text, std::vector<std::uint8_t>& bytes) {
    if (text.size() % 2 != 0) {
        return false;
    }
    bytes.clear();
    for (std::size_t i = 0; i < text.size(); i += 2) {
        std::uint8_t b = 0;
        if (!ParseNumber(std::string_view(text).substr(i, 2), b, 16)) {
            return false;
        }
        bytes.push_back(b);
    }
    return true;
}

// "1.05": high and low part in hexadecimal.
bool ParseVersion(const std::string& text, SimOptions& sim) {
    const std::size_t dot = text.find('.');
    return dot != std::string::npos &&
           ParseNumber(std::string_view(text).substr(0, dot), sim.versionHigh, 16) &&
           ParseNumber(std::string_view(text).substr(dot + 1), sim.versionLow, 16);
}

// Walks the arguments, handing out option values.
class ArgReader {
  public:
    explicit ArgReader(std::span<const std::string> args) : args_(args) {}
    bool Done() const { return next_ >= args_.size(); }
    const std::string& Next() { return args_[next_++]; }
    bool Value(const std::string& option, std::string& value, std::string& error) {
        if (Done()) {
            error = option + " needs a value";
            return false;
        }
        value = Next();
        return true;
    }

  private:
    std::span<const std::string> args_;
    std::size_t next_ = 0;
};

template <typename T>
bool NumberOption(ArgReader& r, const std::string& option, T& value, std::string& error) {
    std::string text;
    if (!r.Value(option, text, error)) {
        return false;
    }
    if (!ParseNumber(text, value)) {
        error = option + ": not a number: " + text;
        return false;
    }
    return true;
}

bool ParseServeOption(ArgReader& r, const std::string& option, ServeCommand& c,
                      std::string& error) {
    std::string text;
    if (option == "--port") {
        return NumberOption(r, option, c.port, error);
    }
    if (option == "--device-id") {
        return NumberOption(r, option, c.sim.deviceId, error);
    }
    if (option == "--sync-delay") {
        return NumberOption(r, option, c.sim.syncDelayMs, error);
    }
    if (option == "--reply-delay") {
        return NumberOption(r, option, c.sim.replyDelayMs, error);
    }
    if (option == "--idle") {
        return NumberOption(r, option, c.sim.sessionIdleMs, error);
    }
    if (option == "--baud") {
        return NumberOption(r, option, c.baud, error);
    }
    if (option == "--duplicate-reply") {
        SimExtraByte copy;
        if (!NumberOption(r, option, copy.frame, error)) {
            return false;
        }
        c.sim.extraBytes.push_back(copy);
        return true;
    }
    if (option == "--once") {
        c.once = true;
        return true;
    }
    if (option == "--corvane") {
        c.corvane = true;
        return true;
    }
    if (option == "--pellix") {
        c.pellix = true;
        return true;
    }
    if (option == "--unplug-after-ms" || option == "--replug-after-ms") {
        unsigned ms = 0;
        if (!NumberOption(r, option, ms, error)) {
            return false;
        }
        (option == "--unplug-after-ms" ? c.unplugAfterMs : c.replugAfterMs) = ms;
        return true;
    }
    static const std::set<std::string> kWithText{
        "--address",      "--transport",     "--image",       "--payload",  "--version",
        "--reply",        "--fault",         "--sync-answer", "--pty-link", "--stray-byte",
        "--bus",          "--description",   "--serial",      "--hardware", "--software",
        "--corvane-code", "--corvane-fault",
    };
    if (!kWithText.contains(option)) {
        error = "unknown option " + option;
        return false;
    }
    if (!r.Value(option, text, error)) {
        return false;
    }
    if (option == "--address") {
        c.address = text;
    } else if (option == "--transport") {
        c.transport = text;
    } else if (option == "--pty-link") {
        c.ptyLink = text;
    } else if (option == "--bus") {
        c.bus = text;
    } else if (option == "--description") {
        c.description = text;
    } else if (option == "--serial") {
        c.serial = text;
    } else if (option == "--hardware") {
        c.application.hardware = text;
    } else if (option == "--software") {
        c.application.software = text;
    } else if (option == "--corvane-code") {
        std::vector<std::uint8_t> bytes;
        if (!ParseHexBytes(text, bytes) || bytes.size() != c.application.code.size()) {
            error = "--corvane-code: expected 8 hexadecimal digits, got " + text;
            return false;
        }
        std::copy(bytes.begin(), bytes.end(), c.application.code.begin());
    } else if (option == "--corvane-fault") {
        static const std::map<std::string, CorvaneFault> kFaults{
            {"none", CorvaneFault::kNone},
            {"silent", CorvaneFault::kSilent},
            {"wrong", CorvaneFault::kWrong},
            {"refuse", CorvaneFault::kRefuse},
        };
        const auto it = kFaults.find(text);
        if (it == kFaults.end()) {
            error = "--corvane-fault: expected none, silent, wrong or refuse, got " + text;
            return false;
        }
        c.application.fault = it->second;
    } else if (option == "--image") {
        c.imageFile = text;
    } else if (option == "--payload") {
        c.payloadFile = text;
    } else if (option == "--version") {
        if (!ParseVersion(text, c.sim)) {
            error = "--version: expected H.LL in hexadecimal, got " + text;
            return false;
        }
    } else if (option == "--reply") {
        bool valid = false;
        c.sim.defaultReply = ParseReply(text, valid);
        if (!valid) {
            error = "--reply: unknown reply " + text;
            return false;
        }
    } else if (option == "--fault") {
        const std::optional<SimFault> fault = ParseFault(text);
        if (!fault) {
            error = "--fault: expected FRAME:REPLY or FRAME:REPLYxCOUNT, got " + text;
            return false;
        }
        c.sim.faults.push_back(*fault);
    } else if (option == "--stray-byte") {
        const std::size_t colon = text.find(':');
        SimExtraByte stray;
        std::uint8_t byte = 0;
        if (colon == std::string::npos ||
            !ParseNumber(std::string_view(text).substr(0, colon), stray.frame) ||
            !text.substr(colon + 1).starts_with("0x") ||
            !ParseNumber(std::string_view(text).substr(colon + 1), byte)) {
            error = "--stray-byte: expected FRAME:0xNN, got " + text;
            return false;
        }
        stray.byte = byte;
        c.sim.extraBytes.push_back(stray);
    } else if (option == "--sync-answer") {
        std::vector<std::uint8_t> bytes;
        if (!ParseHexBytes(text, bytes)) {
            error = "--sync-answer: expected hexadecimal bytes, got " + text;
            return false;
        }
        c.sim.syncAnswer = bytes;
    }
    return true;
}

// A device on a bus needs its bus; a replug needs an earlier unplug.
bool CheckFtdiOptions(const ServeCommand& c, std::string& error) {
    if ((c.transport == "ftdi" || c.transport == "usbxpress") && c.bus.empty()) {
        error = "--transport " + c.transport + " needs --bus DIR";
        return false;
    }
    if (c.replugAfterMs && (!c.unplugAfterMs || *c.replugAfterMs <= *c.unplugAfterMs)) {
        error = "--replug-after-ms needs an earlier --unplug-after-ms";
        return false;
    }
    return true;
}

bool ParseMakeEnc(ArgReader& r, MakeEncCommand& c, std::string& error) {
    std::vector<std::string> files;
    while (!r.Done()) {
        const std::string& arg = r.Next();
        if (arg == "--frame-size") {
            if (!NumberOption(r, arg, c.frameSize, error)) {
                return false;
            }
            if (c.frameSize < 1 || c.frameSize > kMaxFrameBody) {
                error = "--frame-size must be 1 to 276";
                return false;
            }
        } else if (arg == "--random") {
            std::size_t size = 0;
            if (!NumberOption(r, arg, size, error)) {
                return false;
            }
            c.randomBytes = size;
        } else if (arg == "--seed") {
            if (!NumberOption(r, arg, c.seed, error)) {
                return false;
            }
        } else {
            files.push_back(arg);
        }
    }
    const std::size_t wanted = c.randomBytes ? 1 : 2;
    if (files.size() != wanted) {
        error = c.randomBytes ? "make-enc --random: expected one output file"
                              : "make-enc: expected <binary> <out.enc>";
        return false;
    }
    c.output = files.back();
    if (!c.randomBytes) {
        c.input = files.front();
    }
    return true;
}

}  // namespace

std::optional<std::uint8_t> ParseReply(const std::string& text, bool& valid) {
    static const std::map<std::string, std::optional<std::uint8_t>> kNames{
        {"ack", BL_ACK},
        {"crc", BL_CRC_ERROR},
        {"signature", BL_SIGNATURE_ERROR},
        {"notready", BL_NOT_READY},
        {"silent", std::nullopt},
    };
    valid = true;
    if (const auto it = kNames.find(text); it != kNames.end()) {
        return it->second;
    }
    std::uint8_t byte = 0;
    valid = text.size() > 2 && text.starts_with("0x") && ParseNumber(text, byte);
    return valid ? std::optional<std::uint8_t>(byte) : std::nullopt;
}

std::optional<SimFault> ParseFault(const std::string& text) {
    const std::size_t colon = text.find(':');
    if (colon == std::string::npos) {
        return std::nullopt;
    }
    SimFault fault;
    if (!ParseNumber(std::string_view(text).substr(0, colon), fault.frame)) {
        return std::nullopt;
    }
    std::string reply = text.substr(colon + 1);
    // "x" also appears inside a byte such as 0x55: the count follows the last one only
    // when it is not the byte's own prefix.
    const std::size_t times = reply.rfind('x');
    if (times != std::string::npos && times > 1 && times + 1 < reply.size()) {
        if (!ParseNumber(std::string_view(reply).substr(times + 1), fault.count)) {
            return std::nullopt;
        }
        reply.resize(times);
    }
    bool valid = false;
    fault.reply = ParseReply(reply, valid);
    if (!valid || fault.count == 0) {
        return std::nullopt;
    }
    return fault;
}

std::optional<SimCommand> ParseSimCommandLine(std::span<const std::string> args,
                                              std::string& error) {
    SimCommand command;
    ArgReader r(args);
    if (!r.Done() && args[0] == "make-enc") {
        r.Next();
        command.kind = SimCommand::Kind::MakeEnc;
        if (!ParseMakeEnc(r, command.makeEnc, error)) {
            return std::nullopt;
        }
        return command;
    }
    while (!r.Done()) {
        const std::string& option = r.Next();
        if (option == "--help" || option == "-h") {
            command.kind = SimCommand::Kind::Help;
            return command;
        }
        if (!ParseServeOption(r, option, command.serve, error)) {
            return std::nullopt;
        }
    }
    if (!CheckFtdiOptions(command.serve, error)) {
        return std::nullopt;
    }
    return command;
}
