#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "sim/bootloader_sim.h"
#include "sim/corvane_application.h"

// The simulator program's command line: serving as a device, or making an update file.

struct ServeCommand {
    SimOptions sim;
    std::string transport = "udp";  // the carriage to serve on
    std::string address = "127.0.0.1";
    std::uint16_t port = 4107;
    std::string imageFile;    // accepted frames as received, written after each update
    std::string payloadFile;  // accepted frame bodies, written after each update
    bool once = false;        // exit after the first update served
    // Serial line ("--transport pty"): a symbolic link to the port, and the rate whose line
    // time is modelled (0: none).
    std::string ptyLink;
    unsigned baud = 0;
    // FTDI device ("--transport ftdi"): the bus folder, the device's strings, the Corvane
    // application it may start in, and a scripted unplug and replug (ms after start).
    std::string bus;
    std::string description = "Flashwright simulated device";
    std::string serial = "FWSIM001";
    bool corvane = false;
    CorvaneOptions application;
    std::optional<unsigned> unplugAfterMs;
    std::optional<unsigned> replugAfterMs;
    // USBXpress device ("--transport usbxpress"): the same bus, strings and schedule; it may
    // start in the Pellix-USB application.
    bool pellix = false;
};

struct MakeEncCommand {
    std::string input;  // binary to cut into frames; empty with randomBytes
    std::optional<std::size_t> randomBytes;
    std::uint32_t seed = 1;
    std::string output;
    unsigned frameSize = 276;
};

struct SimCommand {
    enum class Kind { Serve, MakeEnc, Help } kind = Kind::Serve;
    ServeCommand serve;
    MakeEncCommand makeEnc;
};

// Parses the arguments after the program's name; nothing with `error` set when they are wrong.
std::optional<SimCommand> ParseSimCommandLine(std::span<const std::string> args,
                                              std::string& error);

// A reply byte by name: ack, crc, signature, notready, silent (none) or a byte as 0xNN.
// Nothing when the name is unknown; `silent` is then false.
std::optional<std::uint8_t> ParseReply(const std::string& text, bool& valid);

// "F:R" or "F:RxN": reply R to the next N attempts of frame F.
std::optional<SimFault> ParseFault(const std::string& text);

extern const char* const kSimUsage;
