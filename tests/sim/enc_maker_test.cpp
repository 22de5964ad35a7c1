#include <gtest/gtest.h>

#include <filesystem>

#include "engine/update_file.h"
#include "sim/enc_maker.h"
#include "support/temp_dir.h"

using Bytes = std::vector<std::uint8_t>;

TEST(EncMaker, CutsIntoFramesOfAtMostTheBodySize) {
    const Bytes payload = PseudoRandomBytes(600, 3);
    const Bytes image = CutIntoFrames(payload, 276);
    ASSERT_EQ(image.size(), 600u + 3 * 2);
    EXPECT_EQ(image[0], 0x01);
    EXPECT_EQ(image[1], 0x14);  // 276
    EXPECT_EQ(image[278], 0x01);
    EXPECT_EQ(image[279], 0x14);
    EXPECT_EQ(image[556], 0x00);
    EXPECT_EQ(image[557], 48);  // the rest
    EXPECT_FALSE(FindMalformedFrame(image).has_value());
    EXPECT_TRUE(CutIntoFrames({}, 276).empty());
}

TEST(EncMaker, FileDecodesToTheFramesAndTheyCarryThePayload) {
    TempDir dir;
    const std::string path = (dir.Path() / "x.enc").string();
    const Bytes payload = PseudoRandomBytes(1000, 11);
    std::string error;
    ASSERT_TRUE(WriteUpdateFile(path, payload, 100, error)) << error;

    const UpdateFileRead read = ReadUpdateFile(path);
    ASSERT_EQ(read.outcome, ReadOutcome::Ok);
    EXPECT_EQ(read.image.bytes, CutIntoFrames(payload, 100));
    EXPECT_EQ(HexText(Bytes{0x00, 0xAB, 0x7F}), "00AB7F");
}

TEST(SampleUpdate, ShippedSampleIsAWellFormedImageOfTensOfKiB) {
    const UpdateFileRead read = ReadUpdateFile(FLASHWRIGHT_SAMPLE_UPDATE);
    ASSERT_EQ(read.outcome, ReadOutcome::Ok);
    EXPECT_FALSE(FindMalformedFrame(read.image.bytes).has_value());
    EXPECT_GE(read.image.bytes.size(), 20u * 1024);
    EXPECT_LE(read.image.bytes.size(), 100u * 1024);
}
