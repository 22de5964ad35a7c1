#include "cli/json_interrupt.h"

#include <fcntl.h>

#include <atomic>
#include <cerrno>
#include <system_error>

#include "cli/json_events.h"

namespace {

// The handler may only write to a pipe; the watcher thread does the rest.
std::atomic<int> gSignalPipe{-1};

extern "C" void OnSignal(int signal) {
    const int savedErrno = errno;
    const auto byte = static_cast<unsigned char>(signal);
    [[maybe_unused]] const ssize_t written = ::write(gSignalPipe.load(), &byte, 1);
    errno = savedErrno;
}

// Catches the signal unless it was ignored when the program started (a job run in the
// background with SIGINT ignored must not start heeding it).
bool Catch(int signal, struct sigaction& previous) {
    struct sigaction action {};
    action.sa_handler = OnSignal;
    sigemptyset(&action.sa_mask);
    if (::sigaction(signal, &action, &previous) != 0) {
        return false;
    }
    if (previous.sa_handler == SIG_IGN) {
        ::sigaction(signal, &previous, nullptr);
        return false;
    }
    return true;
}

}  // namespace

JsonInterruptGuard::JsonInterruptGuard(JsonLines& lines) : lines_(lines) {
    int ends[2] = {-1, -1};
    if (::pipe2(ends, O_CLOEXEC) != 0) {
        return;  // without the pipe the signals end the run as before, without result lines
    }
    readEnd_.Reset(ends[0]);
    writeEnd_.Reset(ends[1]);
    try {
        watcher_ = std::thread([this] { Watch(); });
    } catch (const std::system_error&) {
        return;
    }
    gSignalPipe.store(writeEnd_.Get());
    intCaught_ = Catch(SIGINT, previousInt_);
    termCaught_ = Catch(SIGTERM, previousTerm_);
}

JsonInterruptGuard::~JsonInterruptGuard() {
    if (intCaught_) {
        ::sigaction(SIGINT, &previousInt_, nullptr);
    }
    if (termCaught_) {
        ::sigaction(SIGTERM, &previousTerm_, nullptr);
    }
    if (watcher_.joinable()) {
        const unsigned char stop = 0;
        [[maybe_unused]] const ssize_t written = ::write(writeEnd_.Get(), &stop, 1);
        watcher_.join();
    }
    gSignalPipe.store(-1);
}

void JsonInterruptGuard::Watch() {
    unsigned char signal = 0;
    while (::read(readEnd_.Get(), &signal, 1) < 0 && errno == EINTR) {
    }
    if (signal == 0) {
        return;  // the run ended
    }
    lines_.Interrupt(signal);
    // Then the signal ends the program, as it did before it was caught.
    std::signal(signal, SIG_DFL);
    std::raise(signal);
}
