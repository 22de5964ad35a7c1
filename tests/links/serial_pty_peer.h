#pragma once

#include <chrono>
#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

// A pseudo-terminal pair: the link opens the path; the test talks on the master side. The
// pair keeps the far side open itself, so the master reads no hang-up between two opens.
class PtyPair {
  public:
    PtyPair();
    ~PtyPair();
    PtyPair(const PtyPair&) = delete;
    PtyPair& operator=(const PtyPair&) = delete;

    const std::string& Path() const { return path_; }
    int Master() const { return master_; }
    // The cable is pulled: the link's next status query fails.
    void Hangup();

  private:
    int master_ = -1;
    int slave_ = -1;
    std::string path_;
};

// A small bootloader stand-in on the master side: answers each 0xF0 with the scripted
// answer (one write), and each frame after 0xF1 with the next scripted reply (0x11 once the
// script is used up; none stays silent). Records every byte and frame it received.
class ScriptedPtyPeer {
  public:
    using Bytes = std::vector<std::uint8_t>;

    explicit ScriptedPtyPeer(const PtyPair& pty);
    ~ScriptedPtyPeer();
    ScriptedPtyPeer(const ScriptedPtyPeer&) = delete;
    ScriptedPtyPeer& operator=(const ScriptedPtyPeer&) = delete;

    void AnswerSyncWith(Bytes answer);  // empty: silent
    void ReplyToFrames(std::vector<std::optional<std::uint8_t>> replies);

    Bytes Received() const;
    std::vector<Bytes> Frames() const;
    // Waits until at least `count` bytes have come in; false after the time-out.
    bool WaitForBytes(std::size_t count,
                      std::chrono::milliseconds timeout = std::chrono::seconds(2)) const;

  private:
    void Run(std::stop_token stop);
    void Take(std::uint8_t byte);
    void Send(const Bytes& bytes);

    int master_;
    mutable std::mutex mutex_;
    Bytes syncAnswer_{0xFE, 0x01, 0x05, 0x07, 0xFF};
    std::vector<std::optional<std::uint8_t>> replies_;
    std::size_t nextReply_ = 0;
    Bytes received_;
    std::vector<Bytes> frames_;
    bool inFrames_ = false;
    Bytes frame_;
    std::jthread thread_;
};

// Writes an update file of frames with the given body lengths (bodies filled with a running
// pattern) and returns its path; `frames` receives the frames as they must go on the wire.
std::string WriteUpdateFile(const std::string& folder, const std::vector<unsigned>& bodyLengths,
                            std::vector<std::vector<std::uint8_t>>* frames = nullptr);
