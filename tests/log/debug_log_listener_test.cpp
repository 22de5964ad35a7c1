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

    std::optional<TcpClient> ConnectText() const {
        return TcpClient::Connect(options_.listenAddress, options_.textPort);
    }
    std::optional<TcpClient> ConnectDump() const {
        return TcpClient::Connect(options_.listenAddress, options_.dumpPort);
    }

    TempDir dir_;
    DebugLogOptions options_;
    C_Debug_Log log_;
};

TEST_F(DebugLogListeners, TextClientGetsLinesWithCrLfAndASecondClientIsRefused) {
    log_.SetOutputs(false, false, true, false);
    std::optional<TcpClient> client = ConnectText();
    ASSERT_TRUE(client);
    ASSERT_TRUE(WaitServed(log_, *client, false));

    log_.Log(4, "OnButton_Program() - send update", 9);
    log_.LogData(4, std::vector<std::uint8_t>{1, 2, 3}, 21);
    log_.Log(4, "multi\nline", 9);
    EXPECT_TRUE(client->ReadUntil("14:03:07,045 | L:4 | S:009 | multi\r\nline\r\n"));
    EXPECT_NE(client->Received().find(
                  "\r\n14:03:07,045 | L:4 | S:009 | OnButton_Program() - send update\r\n"),
              std::string::npos);
    EXPECT_TRUE(AllLinesEndInCrLf(client->Received()));
    EXPECT_EQ(client->Received().find("Length:3"), std::string::npos);

    EXPECT_FALSE(ConnectText());
}

TEST_F(DebugLogListeners, DumpClientGetsDumpsWithAClosingLineFeed) {
    log_.SetOutputs(false, false, false, true);
    std::optional<TcpClient> client = ConnectDump();
    ASSERT_TRUE(client);
    ASSERT_TRUE(WaitServed(log_, *client, true));

    log_.Log(4, "not for the dump port", 9);
    log_.LogData(4, std::vector<std::uint8_t>{0xF0, 0x01, 0xFF}, 21);
    EXPECT_TRUE(client->ReadUntil("\r\n14:03:07,045 | L:4 | S:021 | Length:3\r\nF0 01 FF \r\n"));
    EXPECT_TRUE(AllLinesEndInCrLf(client->Received()));
    EXPECT_EQ(client->Received().find("not for the dump port"), std::string::npos);
    EXPECT_FALSE(ConnectDump());
}

TEST_F(DebugLogListeners, ClientInputIsIgnoredAndThePortListensAgainAfterTheClientLeft) {
    log_.SetOutputs(true, false, true, false);
    {
        std::optional<TcpClient> first = ConnectText();
        ASSERT_TRUE(first);
        ASSERT_TRUE(WaitServed(log_, *first, false));
        // More than one read's worth of input, with line ends and a command-like text.
        for (int i = 0; i < 20; ++i) {
            first->Send("quit\r\nSetOutputs(0,0,0,0)\r\n" + std::string(40, 'x'));
        }
        log_.Log(4, "after input", 9);
        EXPECT_TRUE(first->ReadUntil("after input\r\n"));
    }
    std::optional<TcpClient> second;
    ASSERT_TRUE(WaitUntil([&] {
        second = ConnectText();
        return second.has_value();
    }));
    ASSERT_TRUE(WaitServed(log_, *second, false));
    log_.Log(4, "for the second client", 9);
    EXPECT_TRUE(second->ReadUntil("for the second client\r\n"));
    EXPECT_EQ(ReadFile(dir_.Path() / "debug_log.txt").find("quit"), std::string::npos);
}

TEST_F(DebugLogListeners, SwitchingOffDropsTheClientsAndClosesThePorts) {
    log_.SetOutputs(false, false, true, true);
    std::optional<TcpClient> text = ConnectText();
    std::optional<TcpClient> dump = ConnectDump();
    ASSERT_TRUE(text && dump);
    ASSERT_TRUE(WaitServed(log_, *text, false));
    ASSERT_TRUE(WaitServed(log_, *dump, true));

    log_.SetOutputs(false, false, false, false);
    EXPECT_TRUE(text->WaitClosed());
    EXPECT_TRUE(dump->WaitClosed());
    EXPECT_FALSE(ConnectText());
    EXPECT_FALSE(ConnectDump());
}

}  // namespace
