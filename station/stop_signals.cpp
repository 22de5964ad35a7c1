#include "station/stop_signals.h"

#include <fcntl.h>
#include <unistd.h>

namespace {

// The descriptor SIGINT, SIGTERM and SIGHUP are written to while the station runs, for its loop to
// read.
int gStopPipe = -1;

extern "C" void NoteStopSignal(int signal) {
    const unsigned char number = static_cast<unsigned char>(signal);
    [[maybe_unused]] const ssize_t n = ::write(gStopPipe, &number, 1);
}

}  // namespace

StopSignals::StopSignals() {
    int ends[2] = {-1, -1};
    if (::pipe2(ends, O_CLOEXEC | O_NONBLOCK) == 0) {
        read_.Reset(ends[0]);
        write_.Reset(ends[1]);
    }
    gStopPipe = write_.Get();
    struct sigaction action {};
    action.sa_handler = NoteStopSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    ::sigaction(SIGINT, &action, &oldInt_);
    ::sigaction(SIGTERM, &action, &oldTerm_);
    ::sigaction(SIGHUP, &action, &oldHup_);
}

StopSignals::~StopSignals() {
    ::sigaction(SIGINT, &oldInt_, nullptr);
    ::sigaction(SIGTERM, &oldTerm_, nullptr);
    ::sigaction(SIGHUP, &oldHup_, nullptr);
    gStopPipe = -1;
}

int StopSignals::Take() {
    unsigned char number = 0;
    return ::read(read_.Get(), &number, 1) == 1 ? number : 0;
}

void StopSignals::Raise(int signal) {
    const unsigned char number = static_cast<unsigned char>(signal);
    [[maybe_unused]] const ssize_t n = ::write(write_.Get(), &number, 1);
}
