#include "links/serial_pty_peer.h"

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <stdexcept>

PtyPair::PtyPair() {
    char name[256] = {};
    if (openpty(&master_, &slave_, name, nullptr, nullptr) != 0) {
        throw std::runtime_error("openpty failed");
    }
    termios raw{};
    tcgetattr(slave_, &raw);
    cfmakeraw(&raw);
    tcsetattr(slave_, TCSANOW, &raw);
    path_ = name;
}

PtyPair::~PtyPair() {
    Hangup();
    if (slave_ >= 0) {
        close(slave_);
    }
}

void PtyPair::Hangup() {
    if (master_ >= 0) {
        close(master_);
        master_ = -1;
    }
}

ScriptedPtyPeer::ScriptedPtyPeer(const PtyPair& pty)
    : master_(pty.Master()), thread_([this](std::stop_token stop) { Run(stop); }) {}

ScriptedPtyPeer::~ScriptedPtyPeer() {
    thread_.request_stop();
    thread_.join();
}

void ScriptedPtyPeer::AnswerSyncWith(Bytes answer) {
    std::lock_guard lock(mutex_);
    syncAnswer_ = std::move(answer);
}

void ScriptedPtyPeer::ReplyToFrames(std::vector<std::optional<std::uint8_t>> replies) {
    std::lock_guard lock(mutex_);
    replies_ = std::move(replies);
    nextReply_ = 0;
}

ScriptedPtyPeer::Bytes ScriptedPtyPeer::Received() const {
    std::lock_guard lock(mutex_);
    return received_;
}

std::vector<ScriptedPtyPeer::Bytes> ScriptedPtyPeer::Frames() const {
    std::lock_guard lock(mutex_);
    return frames_;
}

bool ScriptedPtyPeer::WaitForBytes(std::size_t count, std::chrono::milliseconds timeout) const {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (Received().size() < count) {
        if (std::chrono::steady_clock::now() > deadline) {
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

void ScriptedPtyPeer::Run(std::stop_token stop) {
    while (!stop.stop_requested()) {
        pollfd fd{master_, POLLIN, 0};
        if (poll(&fd, 1, 5) <= 0 || (fd.revents & POLLIN) == 0) {
            continue;
        }
        std::uint8_t buffer[512];
        const ssize_t got = read(master_, buffer, sizeof buffer);
        for (ssize_t i = 0; i < got; ++i) {
            Take(buffer[i]);
        }
    }
}

void ScriptedPtyPeer::Take(std::uint8_t byte) {
    Bytes answer;
    {
        std::lock_guard lock(mutex_);
        received_.push_back(byte);
        if (!inFrames_) {
            if (byte == 0xF0) {
                answer = syncAnswer_;
            } else if (byte == 0xF1) {
                inFrames_ = true;
            }
        } else {
            frame_.push_back(byte);
            const std::size_t length =
                frame_.size() >= 2 ? 2u + (static_cast<unsigned>(frame_[0]) << 8 | frame_[1]) : 0u;
            if (length != 0 && frame_.size() == length) {
                frames_.push_back(std::move(frame_));
                frame_.clear();
                std::optional<std::uint8_t> reply = 0x11;
                if (nextReply_ < replies_.size()) {
                    reply = replies_[nextReply_++];
                }
                if (reply) {
                    answer.push_back(*reply);
                }
            }
        }
    }
    Send(answer);
}

void ScriptedPtyPeer::Send(const Bytes& bytes) {
    if (!bytes.empty()) {
        [[maybe_unused]] const ssize_t written = write(master_, bytes.data(), bytes.size());
    }
}

std::string WriteUpdateFile(const std::string& folder, const std::vector<unsigned>& bodyLengths,
                            std::vector<std::vector<std::uint8_t>>* frames) {
    std::string hex;
    unsigned pattern = 0;
    for (const unsigned length : bodyLengths) {
        std::vector<std::uint8_t> frame{static_cast<std::uint8_t>(length >> 8),
                                        static_cast<std::uint8_t>(length & 0xFF)};
        for (unsigned i = 0; i < length; ++i) {
            frame.push_back(static_cast<std::uint8_t>(pattern++ * 7 + 3));
        }
        for (const std::uint8_t b : frame) {
            char pair[3];
            std::snprintf(pair, sizeof pair, "%02X", b);
            hex += pair;
        }
        if (frames != nullptr) {
            frames->push_back(std::move(frame));
        }
    }
    const std::string path = folder + "/update.enc";
    std::ofstream(path, std::ios::binary) << hex;
    return path;
}
