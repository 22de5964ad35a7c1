// flashwright-sim: a device bootloader on the network, a serial line or a simulated USB bus,
// for demos, tests and benchmarks.

#include <poll.h>
#include <sys/signalfd.h>

#include <csignal>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "log/unique_fd.h"
#include "sim/enc_maker.h"
#include "sim/ftdi_transport.h"
#include "sim/pty_transport.h"
#include "sim/sim_command_line.h"
#include "sim/udp_transport.h"
#include "sim/usbxpress_transport.h"

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

// Prints a served update's summary and writes the files asked for; false when writing fails.
template <typename Server>
bool ReportUpdate(Server& server, const ServeCommand& c, const SimSessionSummary& summary) {
    std::printf("flashwright-sim: %s\n", SummaryLine(summary, c.sim).c_str());
    std::fflush(stdout);
    return server.Inspect([&](const BootloaderSim& sim) {
        bool ok = true;
        if (!c.imageFile.empty() && !WriteFile(c.imageFile, sim.AcceptedImage())) {
            ok = false;
        }
        if (!c.payloadFile.empty() && !WriteFile(c.payloadFile, sim.AcceptedPayload())) {
            ok = false;
        }
        return ok;
    });
}

// Serves on the opened transport until a signal (or the first update with --once).
template <typename Server>
int ServeOn(Server& server, const ServeCommand& c) {
    std::signal(SIGINT, OnStopSignal);
    std::signal(SIGTERM, OnStopSignal);

    int status = 0;
    server.Run(g_stop, [&](const SimSessionSummary& summary) {
        if (!ReportUpdate(server, c, summary)) {
            status = 1;
        }
        if (c.once) {
            g_stop = true;
        }
    });
    return status;
}

// A device on a bus serves in its own thread; this one takes the signals through a signalfd:
// SIGUSR1 unplugs, SIGUSR2 plugs back in, SIGINT and SIGTERM end.
template <typename Server>
int ServeOnBus(Server& server, const ServeCommand& c, const char* kind, bool inApplication,
               const char* application) {
    // Blocked before the serving thread starts, so no thread takes them the ordinary way.
    sigset_t signals;
    sigemptyset(&signals);
    for (const int s : {SIGINT, SIGTERM, SIGUSR1, SIGUSR2}) {
        sigaddset(&signals, s);
    }
    pthread_sigmask(SIG_BLOCK, &signals, nullptr);
    const UniqueFd signalFd(::signalfd(-1, &signals, SFD_CLOEXEC));
    if (!signalFd.Valid()) {
        std::fprintf(stderr, "flashwright-sim: cannot take signals\n");
        return 1;
    }

    std::atomic<int> status{0};
    std::string error;
    const bool started = server.Start(error, [&](const SimSessionSummary& summary) {
        if (!ReportUpdate(server, c, summary)) {
            status = 1;
        }
        if (c.once) {
            g_stop = true;
        }
    });
    if (!started) {
        std::fprintf(stderr, "flashwright-sim: %s\n", error.c_str());
        return 1;
    }
    std::printf(
        "flashwright-sim: bootloader %X.%.2X, device id %u, %s device %s (%s) on %s, "
        "port %s, %s%s\n",
        c.sim.versionHigh, c.sim.versionLow, c.sim.deviceId, kind, c.serial.c_str(),
        c.description.c_str(), c.bus.c_str(), server.TtyPath().c_str(),
        inApplication ? "in the " : "in the bootloader", inApplication ? application : "");
    std::fflush(stdout);

    while (!g_stop.load()) {
        // Bounded, so --once is noticed without a signal.
        pollfd pfd{signalFd.Get(), POLLIN, 0};
        if (::poll(&pfd, 1, 100) <= 0) {
            continue;
        }
        signalfd_siginfo info{};
        if (::read(signalFd.Get(), &info, sizeof info) != sizeof info) {
            continue;
        }
        if (info.ssi_signo == SIGUSR1) {
            server.Unplug();
            std::printf("flashwright-sim: unplugged\n");
        } else if (info.ssi_signo == SIGUSR2) {
            const bool plugged = server.Replug();
            std::printf("flashwright-sim: %s %s\n",
                        plugged ? "plugged in, bootloader on port" : "cannot plug in",
                        server.TtyPath().c_str());
        } else {
            g_stop = true;
        }
        std::fflush(stdout);
    }
    server.Stop();
    return status.load();
}

// What the command line says of a device on a bus, whatever the bus.
void TakeBusSettings(const ServeCommand& c, bool startInApplication, BusSimSettings& settings) {
    settings.description = c.description;
    settings.serial = c.serial;
    settings.startInApplication = startInApplication;
    settings.unplugAfterMs = c.unplugAfterMs;
    settings.replugAfterMs = c.replugAfterMs;
    settings.bootloader = c.sim;
    settings.baud = c.baud;
}

int ServeFtdi(const ServeCommand& c) {
    FtdiSimOptions options;
    TakeBusSettings(c, c.corvane, options);
    options.application = c.application;
    FtdiSimServer server(c.bus, options);
    return ServeOnBus(server, c, "FTDI", c.corvane, "Corvane application");
}

int ServeUsbXpress(const ServeCommand& c) {
    UsbXpressSimOptions options;
    TakeBusSettings(c, c.pellix, options);
    UsbXpressSimServer server(c.bus, options);
    return ServeOnBus(server, c, "USBXpress", c.pellix, "Pellix-USB application");
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
    if (c.transport == "ftdi") {
        return ServeFtdi(c);
    }
    if (c.transport == "usbxpress") {
        return ServeUsbXpress(c);
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
