#include <gtest/gtest.h>

#include "sim/sim_command_line.h"

namespace {

std::optional<SimCommand> Parse(std::vector<std::string> args, std::string* error = nullptr) {
    std::string e;
    auto command = ParseSimCommandLine(args, e);
    if (error != nullptr) {
        *error = e;
    }
    return command;
}

}  // namespace

TEST(SimCommandLine, FaultsNameFrameReplyAndCount) {
    const auto crc = ParseFault("3:crcx3");
    ASSERT_TRUE(crc.has_value());
    EXPECT_EQ(crc->frame, 3u);
    EXPECT_EQ(crc->reply, 0x22);
    EXPECT_EQ(crc->count, 3u);

    const auto byte = ParseFault("0:0x55");
    ASSERT_TRUE(byte.has_value());
    EXPECT_EQ(byte->reply, 0x55);
    EXPECT_EQ(byte->count, 1u);

    const auto byteTimes = ParseFault("7:0x55x2");
    ASSERT_TRUE(byteTimes.has_value());
    EXPECT_EQ(byteTimes->reply, 0x55);
    EXPECT_EQ(byteTimes->count, 2u);

    const auto silent = ParseFault("1:silent");
    ASSERT_TRUE(silent.has_value());
    EXPECT_FALSE(silent->reply.has_value());

    EXPECT_FALSE(ParseFault("1").has_value());
    EXPECT_FALSE(ParseFault("x:ack").has_value());
    EXPECT_FALSE(ParseFault("1:maybe").has_value());
    EXPECT_FALSE(ParseFault("1:ackx0").has_value());
    EXPECT_FALSE(ParseFault("1:0x").has_value());
}

TEST(SimCommandLine, ServeOptionsFillTheDevice) {
    const auto c =
        Parse({"--address",  "127.0.4.1",         "--version",  "1.0A",          "--device-id",
               "0x10",       "--sync-delay",      "3000",       "--reply-delay", "2",
               "--reply",    "signature",         "--fault",    "2:crcx4",       "--fault",
               "5:notready", "--sync-answer",     "FE01050100", "--image",       "img.bin",
               "--once",     "--duplicate-reply", "0",          "--stray-byte",  "4:0x11"});
    ASSERT_TRUE(c.has_value());
    ASSERT_EQ(c->kind, SimCommand::Kind::Serve);
    const ServeCommand& s = c->serve;
    EXPECT_EQ(s.address, "127.0.4.1");
    EXPECT_EQ(s.sim.versionHigh, 1);
    EXPECT_EQ(s.sim.versionLow, 0x0A);
    EXPECT_EQ(s.sim.deviceId, 16);
    EXPECT_EQ(s.sim.syncDelayMs, 3000u);
    EXPECT_EQ(s.sim.replyDelayMs, 2u);
    EXPECT_EQ(s.sim.defaultReply, 0x33);
    ASSERT_EQ(s.sim.faults.size(), 2u);
    EXPECT_EQ(s.sim.faults[1].reply, 0xFE);
    EXPECT_EQ(s.sim.syncAnswer, (std::vector<std::uint8_t>{0xFE, 1, 5, 1, 0}));
    ASSERT_EQ(s.sim.extraBytes.size(), 2u);
    EXPECT_EQ(s.sim.extraBytes[0].frame, 0u);
    EXPECT_FALSE(s.sim.extraBytes[0].byte.has_value()) << "a copy of the reply";
    EXPECT_EQ(s.sim.extraBytes[1].frame, 4u);
    EXPECT_EQ(s.sim.extraBytes[1].byte, 0x11);
    EXPECT_EQ(s.imageFile, "img.bin");
    EXPECT_TRUE(s.once);
}

TEST(SimCommandLine, MakeEncTakesABinaryOrRandomBytes) {
    const auto file = Parse({"make-enc", "app.bin", "app.enc", "--frame-size", "100"});
    ASSERT_TRUE(file.has_value());
    EXPECT_EQ(file->kind, SimCommand::Kind::MakeEnc);
    EXPECT_EQ(file->makeEnc.input, "app.bin");
    EXPECT_EQ(file->makeEnc.output, "app.enc");
    EXPECT_EQ(file->makeEnc.frameSize, 100u);

    const auto random = Parse({"make-enc", "--random", "4096", "--seed", "9", "r.enc"});
    ASSERT_TRUE(random.has_value());
    EXPECT_EQ(random->makeEnc.randomBytes, 4096u);
    EXPECT_EQ(random->makeEnc.seed, 9u);
    EXPECT_EQ(random->makeEnc.output, "r.enc");
}

TEST(SimCommandLine, MistakesAreNamed) {
    std::string error;
    EXPECT_FALSE(Parse({"--bogus"}, &error).has_value());
    EXPECT_EQ(error, "unknown option --bogus");
    EXPECT_FALSE(Parse({"--port"}, &error).has_value());
    EXPECT_EQ(error, "--port needs a value");
    EXPECT_FALSE(Parse({"make-enc", "a.bin", "a.enc", "--frame-size", "277"}, &error));
    for (const char* stray : {"4", "4:17", "x:0x11", "4:0x"}) {
        EXPECT_FALSE(Parse({"--stray-byte", stray}, &error).has_value()) << stray;
        EXPECT_EQ(error, std::string("--stray-byte: expected FRAME:0xNN, got ") + stray);
    }
}

TEST(SimCommandLine, FtdiOptionsFillTheDevice) {
    const auto c = Parse({"--transport",
                          "ftdi",
                          "--bus",
                          "/tmp/bus",
                          "--description",
                          "Dev A",
                          "--serial",
                          "SN1",
                          "--corvane",
                          "--hardware",
                          "HW",
                          "--software",
                          "SW",
                          "--corvane-code",
                          "0102A0FF",
                          "--corvane-fault",
                          "refuse",
                          "--unplug-after-ms",
                          "100",
                          "--replug-after-ms",
                          "300",
                          "--baud",
                          "115200"});
    ASSERT_TRUE(c.has_value());
    const ServeCommand& s = c->serve;
    EXPECT_EQ(s.transport, "ftdi");
    EXPECT_EQ(s.bus, "/tmp/bus");
    EXPECT_EQ(s.description, "Dev A");
    EXPECT_EQ(s.serial, "SN1");
    EXPECT_TRUE(s.corvane);
    EXPECT_EQ(s.application.hardware, "HW");
    EXPECT_EQ(s.application.software, "SW");
    EXPECT_EQ(s.application.code, (std::array<std::uint8_t, 4>{0x01, 0x02, 0xA0, 0xFF}));
    EXPECT_EQ(s.application.fault, CorvaneFault::kRefuse);
    EXPECT_EQ(s.unplugAfterMs, 100u);
    EXPECT_EQ(s.replugAfterMs, 300u);
    EXPECT_EQ(s.baud, 115200u);
}

TEST(SimCommandLine, UsbXpressOptionsFillTheDevice) {
    const auto c =
        Parse({"--transport", "usbxpress", "--bus", "/tmp/bus", "--serial", "SN2", "--pellix"});
    ASSERT_TRUE(c.has_value());
    EXPECT_EQ(c->serve.transport, "usbxpress");
    EXPECT_EQ(c->serve.bus, "/tmp/bus");
    EXPECT_EQ(c->serve.serial, "SN2");
    EXPECT_TRUE(c->serve.pellix);
}

TEST(SimCommandLine, FtdiMistakesAreRefused) {
    const std::vector<std::vector<std::string>> wrong{
        {"--transport", "ftdi"},
        {"--transport", "usbxpress", "--pellix"},
        {"--corvane-code", "0102A0"},
        {"--corvane-code", "0102A0FG"},
        {"--corvane-fault", "sometimes"},
        {"--unplug-after-ms", "soon"},
        {"--replug-after-ms", "100"},
        {"--unplug-after-ms", "100", "--replug-after-ms", "100"},
        {"--serial"},
    };
    for (const auto& args : wrong) {
        std::string error;
        EXPECT_FALSE(Parse(args, &error).has_value()) << args[0];
        EXPECT_FALSE(error.empty());
    }
}
