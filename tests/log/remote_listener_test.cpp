#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <vector>

#include "log/remote_listener.h"
#include "log_test_support.h"

namespace {

using State = RemoteListener::State;

// Uses up every free file descriptor while it lives, so accept fails with EMFILE.
class DescriptorsExhausted {
  public:
    DescriptorsExhausted() {
        ::getrlimit(RLIMIT_NOFILE, &saved_);
        rlimit low = saved_;
        low.rlim_cur = 64;
        ::setrlimit(RLIMIT_NOFILE, &low);
        for (int fd = ::open("/dev/null", O_RDONLY); fd >= 0; fd = ::open("/dev/null", O_RDONLY)) {
            fds_.emplace_back(fd);
        }
    }
    ~DescriptorsExhausted() {
        fds_.clear();
        ::setrlimit(RLIMIT_NOFILE, &saved_);
    }

  private:
    rlimit saved_{};
    std::vector<UniqueFd> fds_;
};

TEST(RemoteListener, FailedAcceptKeepsListeningAndServesTheClientLater) {
    const std::string address = ProcessLoopbackAddress();
    const int port = FreePort(address);
    RemoteListener listener;
    ASSERT_EQ(listener.Start(address, port), 0);
    std::optional<TcpClient> client = TcpClient::Connect(address, port);
    ASSERT_TRUE(client);
    {
        DescriptorsExhausted exhausted;
        for (int pass = 0; pass < 5; ++pass) {
            listener.Serve();
        }
        EXPECT_EQ(listener.GetState(), State::kListening);
    }
    ASSERT_TRUE(WaitUntil([&] {
        listener.Serve();
        return listener.Connected();
    }));
    listener.Send("hello\r\n");
    EXPECT_TRUE(client->ReadUntil("hello\r\n"));
}

}  // namespace
