#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "engine/byte_transport.h"

// A serial port as the system lists it: its device path and the description it gives.
struct SerialPortEntry {
    std::string name;  // device path on Linux ("/dev/ttyUSB0"), "COMn" on Windows
    std::string description;
};

// Line settings in the link's numbering.
struct SerialLineSettings {
    unsigned baud = 115200;
    unsigned parity = 0;    // 0 none, 1 odd, 2 even, 3 mark, 4 space
    unsigned byteSize = 8;  // 7 or 8
    unsigned stopBits = 0;  // 0 one, 1 one and a half, 2 two
};

// The few port calls the serial link makes, used synchronously. Failures carry the system's
// error code (errno, or the last error on Windows). Tests replace it to inject failures.
class SerialPort {
  public:
    virtual ~SerialPort() = default;

    // Opens the port for reading and writing, exclusively. Returns 0 or the error code.
    virtual int Open(const std::string& name) = 0;
    // Discards everything waiting in both directions. Returns 0 or the error code.
    virtual int Purge() = 0;
    // Applies the line settings: no flow control, modem lines inactive. 0 or the error code.
    virtual int Configure(const SerialLineSettings& settings) = 0;

    // The status query: how many bytes wait to be read now (count), without blocking.
    virtual IoResult Waiting() = 0;
    // Reads up to buffer.size() of the waiting bytes; returns at once.
    virtual IoResult Read(std::span<std::uint8_t> buffer) = 0;
    // Writes the block in one synchronous write.
    virtual IoResult Write(std::span<const std::uint8_t> bytes) = 0;
    // Purges and closes the port; harmless when it is not open.
    virtual void Close() = 0;
};

// How the link reaches the system's ports: making a port object, listing the ports present.
struct SerialPortAccess {
    std::function<std::unique_ptr<SerialPort>()> makePort;
    std::function<std::vector<SerialPortEntry>()> listPorts;
};

// The system's ports through Qt SerialPort. Its port objects need a QCoreApplication (or a
// QThread) in the calling thread.
SerialPortAccess SystemSerialPorts();
