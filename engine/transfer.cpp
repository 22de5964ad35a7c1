#include "engine/bootloader_protocol.h"
#include "engine/protocol_log.h"
#include "engine/update_file.h"

namespace {

// Reading failures end the operation with the link left as it was.
int ReadingFailure(LogSink& log, const TransferProfile& p, const UpdateFileRead& read) {
    switch (read.outcome) {
        case ReadOutcome::CannotOpen:
            return Fail(log, p.fileInUse);
        case ReadOutcome::OddSize:
            return Fail(log, p.wrongFileSize, static_cast<int>(read.detail));
        case ReadOutcome::NoMemory:
            return Fail(log, p.noMemory);
        case ReadOutcome::ShortRead:
            return Fail(log, p.fileReadError, static_cast<int>(read.detail));
        case ReadOutcome::Ok:
            break;
    }
    return 0;
}

enum class Reply { Accepted, Failed, NotReady };

class Transfer {
  public:
    Transfer(const LinkContext& link, const TransferProfile& p, const TransferRequest& request,
             BootloaderInfo& info)
        : link_(link), p_(p), request_(request), info_(info) {}

    int Run() {
        Progress(0, true);
        info_.signatureError = false;
        if (!p_.opensLinkItself && !link_.transport.IsOpen()) {
            return Fail(log(), p_.notOpen);
        }
        UpdateFileRead read = ReadUpdateFile(request_.path);
        if (read.outcome != ReadOutcome::Ok) {
            return ReadingFailure(log(), p_, read);
        }
        image_ = std::move(read.image.bytes);
        if (p_.opensLinkItself && !link_.transport.IsOpen()) {
            if (!request_.openLink || !request_.openLink()) {
                LogLineOf(log(), p_.openFailed.line);
                return CloseWith(p_.openFailed.code);
            }
        }
        // A broken file is refused before its first frame goes out, so the device is
        // never left with only the frames before the fault.
        if (const std::optional<unsigned> badLength = FindMalformedFrame(image_)) {
            LogLineOf(log(), p_.formatError.line, static_cast<int>(*badLength));
            return CloseWith(p_.formatError.code);
        }
        return SendFrames();
    }

  private:
    LogSink& log() { return link_.log; }

    void Progress(int position, bool withRange = false) {
        if (request_.progress == nullptr) {
            return;
        }
        if (withRange) {
            request_.progress->SetRange(0, 100);
        }
        request_.progress->SetPos(position);
    }

    int CloseWith(int code) {
        link_.transport.Close();
        return code;
    }

    bool StopRequested() {
        return request_.progress != nullptr && request_.progress->StopRequested();
    }

    // The stop is honoured only between frames: whatever went out went out whole.
    int Stopped(int frameNumber) {
        Logf(log(), p_.done.level, p_.done.source, "transfer stopped at frame %d", frameNumber);
        return CloseWith(kTransferStopped);
    }

    int SendFrames() {
        std::size_t offset = 0;
        int frameNumber = 0;
        int errors = 0;
        for (;;) {
            if (StopRequested()) {
                return Stopped(frameNumber);
            }
            const Frame frame = *FrameAt(image_, offset);
            const auto bytes = std::span<const std::uint8_t>(image_).subspan(offset, frame.Size());
            if (const int code = SendFrame(frame, frameNumber, bytes); code != 0) {
                return code;
            }
            if (request_.progress != nullptr) {
                request_.progress->FrameSent(frameNumber);
            }
            std::uint8_t reply = BL_NOTHING;
            if (const int code = AwaitReply(reply); code != 0) {
                return code;
            }
            if (reply == BL_NOTHING && StopRequested()) {
                return Stopped(frameNumber);  // its reply no longer matters
            }
            switch (Judge(reply)) {
                case Reply::NotReady:
                    LogLineOf(log(), p_.notReady.line);
                    return CloseWith(p_.notReady.code);
                case Reply::Accepted:
                    ++frameNumber;
                    offset += frame.Size();
                    errors = 0;
                    Wait(link_.clock, p_.acceptWait, 1);
                    break;
                case Reply::Failed:
                    if (++errors > 3) {
                        link_.transport.Close();
                        LogLineOf(log(), p_.tooManyErrors.line);
                        return p_.tooManyErrors.code;
                    }
                    if (request_.progress != nullptr) {
                        request_.progress->FrameRetried(frameNumber, reply);
                    }
                    break;
            }
            Progress(
                static_cast<int>(static_cast<unsigned long long>(offset) * 100 / image_.size()));
            if (offset >= image_.size()) {
                link_.transport.Close();
                Progress(100);
                LogLineOf(log(), p_.done);
                return 0;
            }
        }
    }

    int SendFrame(const Frame& frame, int frameNumber, std::span<const std::uint8_t> bytes) {
        // Whatever waits now was sent before this frame, so it cannot answer it.
        Dump(log(), p_.replyDump, link_.transport.DiscardInput());
        const auto logFrame = [&] {
            LogLineOf(log(), p_.sendFrame, frameNumber, static_cast<int>(frame.offset),
                      frame.length);
        };
        if (p_.logFrameBeforeWrite) {
            logFrame();
        }
        const IoResult written = link_.transport.Write(bytes);
        if (!written.ok) {
            LogLineOf(log(), p_.writeFailed.line, written.error);
            return CloseWith(p_.writeFailed.code);
        }
        if (!p_.logFrameBeforeWrite) {
            logFrame();
        }
        Dump(log(), p_.sentFrame, bytes);
        if (p_.afterFrameMs > 0) {
            Wait(link_.clock, p_.afterFrameWait, p_.afterFrameMs);
        }
        return 0;
    }

    // Polls until a byte other than BL_NOTHING arrives, the reply time has run out or a stop is
    // requested.
    int AwaitReply(std::uint8_t& reply) {
        const std::uint64_t start = link_.clock.NowMs();
        do {
            if (StopRequested()) {
                reply = BL_NOTHING;
                return 0;
            }
            const PollResult r = link_.transport.PollByte();
            switch (r.status) {
                case PollStatus::Byte:
                    Dump(log(), p_.replyDump, std::span(&r.byte, 1));
                    LogLineOf(log(), p_.replyByte, static_cast<unsigned>(r.byte));
                    reply = r.byte;
                    continue;
                case PollStatus::StatusFailed:
                    if (p_.statusFailed.code != 0) {
                        LogLineOf(log(), p_.statusFailed.line, r.error);
                        return CloseWith(p_.statusFailed.code);
                    }
                    break;
                case PollStatus::ReadFailed:
                    if (p_.readFailed.code != 0) {
                        LogLineOf(log(), p_.readFailed.line, r.error);
                        return CloseWith(p_.readFailed.code);
                    }
                    break;
                case PollStatus::Nothing:
                    break;
            }
            reply = BL_NOTHING;
            Wait(link_.clock, p_.emptyPollWait, 1);
        } while (reply == BL_NOTHING && link_.clock.NowMs() - start <= kReplyTimeoutMs);
        return 0;
    }

    Reply Judge(std::uint8_t reply) {
        switch (reply) {
            case BL_ACK:
                return Reply::Accepted;
            case BL_SIGNATURE_ERROR:
                info_.signatureError = true;
                LogLineOf(log(), p_.signatureError);
                return Reply::Accepted;
            case BL_CRC_ERROR:
                LogLineOf(log(), p_.crcError);
                return Reply::Failed;
            case BL_NOT_READY:
                return Reply::NotReady;
            default:
                LogLineOf(log(), p_.timeout, static_cast<unsigned>(reply));
                return Reply::Failed;
        }
    }

    const LinkContext& link_;
    const TransferProfile& p_;
    const TransferRequest& request_;
    BootloaderInfo& info_;
    std::vector<std::uint8_t> image_;
};

}  // namespace

int RunTransfer(const LinkContext& link, const TransferProfile& profile,
                const TransferRequest& request, BootloaderInfo& info) {
    return Transfer(link, profile, request, info).Run();
}
