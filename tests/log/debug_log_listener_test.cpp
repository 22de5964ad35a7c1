#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "log/debug_log.h"
#include "log_test_support.h"
#include "support/temp_dir.h"

namespace {

class DebugLogListeners : public ::testing::Test {
  protected:
    DebugLogListeners() : options_(TestOptions(dir_.Path())), log_(options_) { log_.SetLevel(5); }

    std::optional<TcpClient> Connect(bool dump) const {
        return TcpClient::Connect(options_.listenAddress,
                                  dump ? options_.dumpPort : options_.textPort);
    }
    // A client that the worker has accepted; empty when that did not happen.
    std::optional<TcpClient> ConnectServed(bool dump) {
        std::optional<TcpClient> client = Connect(dump);
        if (client && !WaitServed(log_, *client, dump)) {
            client.reset();
        }
        return client;
    }

    TempDir dir_;
    DebugLogOptions options_;
    C_Debug_Log log_;
};

TEST_F(DebugLogListeners, EachPortServesItsEntriesWithCrLfToOneClient) {
    log_.SetOutputs(false, false, true, true);
    std::optional<TcpClient> text = ConnectServed(false);
    std::optional<TcpClient> dump = ConnectServed(true);
    ASSERT_TRUE(text && dump);

    log_.Log(4, "OnButton_Program() - send update", 9);
    log_.LogData(4, std::vector<std::uint8_t>{0xF0, 0x01, 0xFF}, 21);
    log_.Log(4, "multi\nline", 9);
    log_.LogData(4, std::vector<std::uint8_t>{0x07}, 22);

    EXPECT_TRUE(text->ReadUntil("14:03:07,045 | L:4 | S:009 | multi\r\nline\r\n"));
    EXPECT_NE(text->Received().find(
                  "\r\n14:03:07,045 | L:4 | S:009 | OnButton_Program() - send update\r\n"),
              std::string::npos);
    // A dump ends with an extra line end, so its last row is complete on the screen.
    EXPECT_TRUE(dump->ReadUntil("\r\n14:03:07,045 | L:4 | S:022 | Length:1\r\n07 \r\n"));
    EXPECT_NE(
        dump->Received().find("\r\n14:03:07,045 | L:4 | S:021 | Length:3\r\nF0 01 FF \r\n\r\n"),
        std::string::npos);
    for (const TcpClient* client : {&*text, &*dump}) {
        EXPECT_TRUE(AllLinesEndInCrLf(client->Received()));
    }
    EXPECT_EQ(text->Received().find("Length:"), std::string::npos);
    EXPECT_EQ(dump->Received().find("multi"), std::string::npos);

    EXPECT_FALSE(Connect(false)) << "one client at a time";
    EXPECT_FALSE(Connect(true)) << "one client at a time";
}

TEST_F(DebugLogListeners, ClientInputIsIgnoredAndThePortListensAgainAfterTheClientLeft) {
    log_.SetOutputs(true, false, true, false);
    {
        std::optional<TcpClient> first = ConnectServed(false);
        ASSERT_TRUE(first);
        // More than one read's worth of input, with line ends and a command-like text.
        for (int i = 0; i < 20; ++i) {
            first->Send("quit\r\nSetOutputs(0,0,0,0)\r\n" + std::string(40, 'x'));
        }
        log_.Log(4, "after input", 9);
        EXPECT_TRUE(first->ReadUntil("after input\r\n"));
    }
    std::optional<TcpClient> second;
    ASSERT_TRUE(WaitUntil([&] {
        second = Connect(false);
        return second.has_value();
    }));
    ASSERT_TRUE(WaitServed(log_, *second, false));
    log_.Log(4, "for the second client", 9);
    EXPECT_TRUE(second->ReadUntil("for the second client\r\n"));
    EXPECT_EQ(ReadFile(dir_.Path() / "debug_log.txt").find("quit"), std::string::npos);
}

TEST_F(DebugLogListeners, SwitchingOffDropsTheClientsAndClosesThePorts) {
    log_.SetOutputs(false, false, true, true);
    std::optional<TcpClient> text = ConnectServed(false);
    std::optional<TcpClient> dump = ConnectServed(true);
    ASSERT_TRUE(text && dump);

    log_.SetOutputs(false, false, false, false);
    EXPECT_TRUE(text->WaitClosed());
    EXPECT_TRUE(dump->WaitClosed());
    EXPECT_FALSE(Connect(false));
    EXPECT_FALSE(Connect(true));
}

}  // namespace
