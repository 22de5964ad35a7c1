// flashwright-sim: a device bootloader on the network, for demos, tests and benchmarks.

#include <csignal>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "sim/enc_maker.h"
#include "sim/pty_transport.h"
#include "sim/sim_command_line.h"
#include "sim/udp_transport.h"

namespace {

std::atomic<bool> g_stop{false};

extern "C" void OnStopSignal(int) {
    g_stop = true;
}

bool WriteFile(const std::string& path, const std::vector<std::uint8_t>& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()),
              static_cast<std::streamsize>(bytes.size()));
    return static_cast<bool>(out.flush());
}

int MakeEnc(const MakeEncCommand& c) {
    std::vector<std::uint8_t> payload;
    if (c.randomBytes) {
        payload = PseudoRandomBytes(*c.randomBytes, c.seed);
    } else {
        std::ifstream in(c.input, std::ios::binary);
        if (!in) {
            std::fprintf(stderr, "flashwright-sim: cannot read %s\n", c.input.c_str());
            return 1;
        }
        payload.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }
    std::string error;
    if (!WriteUpdateFile(c.output, payload, c.frameSize, error)) {
        std::fprintf(stderr, "flashwright-sim: %s\n", error.c_str());
        return 1;
    }
    std::printf("%s: %zu bytes in %zu frames of up to %u bytes\n", c.output.c_str(), payload.size(),
                (payload.size() + c.frameSize - 1) / c.frameSize, c.frameSize);
    return 0;
}

// Serves on the opened transport until a signal (or the first update with --once).
template <typename Server>
int ServeOn(Server& server, const ServeCommand& c) {
    std::signal(SIGINT, OnStopSignal);
    std::signal(SIGTERM, OnStopSignal);

    int status = 0;
    server.Run(g_stop, [&](const SimSessionSummary& summary) {
        std::printf("flashwright-sim: %s\n", SummaryLine(summary, c.sim).c_str());
        std::fflush(stdout);
        server.Inspect([&](const BootloaderSim& sim) {
            if (!c.imageFile.empty() && !WriteFile(c.imageFile, sim.AcceptedImage())) {
                status = 1;
            }
            if (!c.payloadFile.empty() && !WriteFile(c.payloadFile, sim.AcceptedPayload())) {
                status = 1;
            }
            return 0;
        });
        if (c.once) {
            g_stop = true;
        }
    });
    return status;
}

int Serve(const ServeCommand& c) {
    std::string error;
    if (c.transport == "pty") {
        PtySimServer server(c.sim, c.baud, c.ptyLink);
        if (!server.Open(error)) {
            std::fprintf(stderr, "flashwright-sim: %s\n", error.c_str());
            return 1;
        }
        std::printf("flashwright-sim: bootloader %X.%.2X, device id %u, serial port %s%s%s\n",
                    c.sim.versionHigh, c.sim.versionLow, c.sim.deviceId, server.Path().c_str(),
                    c.ptyLink.empty() ? "" : " linked from ", c.ptyLink.c_str());
        std::fflush(stdout);
        return ServeOn(server, c);
    }
    if (c.transport != "udp") {
        std::fprintf(stderr, "flashwright-sim: unknown transport %s\n", c.transport.c_str());
        return 2;
    }
    UdpSimServer server(c.sim, c.address, c.port);
    if (!server.Bind(error)) {
        std::fprintf(stderr, "flashwright-sim: %s\n", error.c_str());
        return 1;
    }
    std::printf("flashwright-sim: bootloader %X.%.2X, device id %u, listening on %s:%u (UDP)\n",
                c.sim.versionHigh, c.sim.versionLow, c.sim.deviceId, c.address.c_str(), c.port);
    std::fflush(stdout);
    return ServeOn(server, c);
}

}  // namespace

int main(int argc, char** argv) {
    const std::vector<std::string> args(argv + 1, argv + argc);
    std::string error;
    const std::optional<SimCommand> command = ParseSimCommandLine(args, error);
    if (!command) {
        std::fprintf(stderr, "flashwright-sim: %s\n%s", error.c_str(), kSimUsage);
        return 2;
    }
    switch (command->kind) {
        case SimCommand::Kind::Help:
            std::fputs(kSimUsage, stdout);
            return 0;
        case SimCommand::Kind::MakeEnc:
            return MakeEnc(command->makeEnc);
        case SimCommand::Kind::Serve:
            break;
    }
    return Serve(command->serve);
}
