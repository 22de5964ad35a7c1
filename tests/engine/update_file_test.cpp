#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>

#include "engine/update_file.h"
#include "support/temp_dir.h"

using Bytes = std::vector<std::uint8_t>;

TEST(DecodePair, DigitsOfBothCasesDecodeAlike) {
    EXPECT_EQ(DecodePair('a', 'B'), 0xAB);
    EXPECT_EQ(DecodePair('A', 'b'), 0xAB);
    EXPECT_EQ(DecodePair('0', '0'), 0x00);
    EXPECT_EQ(DecodePair('F', 'f'), 0xFF);
    EXPECT_EQ(DecodePair('9', '1'), 0x91);
}

TEST(DecodePair, OnlyLeadingDigitsUpToTheFirstNulCount) {
    EXPECT_EQ(DecodePair('7', 'x'), 0x07);   // a single digit gives its own value
    EXPECT_EQ(DecodePair('x', '7'), 0x00);   // no leading digit gives 0
    EXPECT_EQ(DecodePair('\0', 'A'), 0x00);  // a NUL first makes the text empty
    EXPECT_EQ(DecodePair('C', '\0'), 0x0C);
    EXPECT_EQ(DecodePair('g', 'G'), 0x00);
}

TEST(ReadUpdateFile, DecodesEveryPairInOrder) {
    TempDir dir;
    const UpdateFileRead r = ReadUpdateFile(dir.Write("a.enc", "0003aBcD0eFF"));
    ASSERT_EQ(r.outcome, ReadOutcome::Ok);
    EXPECT_EQ(r.image.bytes, (Bytes{0x00, 0x03, 0xAB, 0xCD, 0x0E, 0xFF}));
}

TEST(ReadUpdateFile, ReportsEachReadingFailure) {
    TempDir dir;
    EXPECT_EQ(ReadUpdateFile((dir.Path() / "missing.enc").string()).outcome,
              ReadOutcome::CannotOpen);
    EXPECT_EQ(ReadUpdateFile(dir.Path().string()).outcome, ReadOutcome::CannotOpen)
        << "a folder is not an update file";

    const UpdateFileRead odd = ReadUpdateFile(dir.Write("odd.enc", "ABC"));
    EXPECT_EQ(odd.outcome, ReadOutcome::OddSize);
    EXPECT_EQ(odd.detail, 3) << "the size in bytes as read, not halved";
}

TEST(ReadUpdateFile, EmptyFileReadsAsEmptyImage) {
    TempDir dir;
    const UpdateFileRead r = ReadUpdateFile(dir.Write("empty.enc", ""));
    EXPECT_EQ(r.outcome, ReadOutcome::Ok);
    EXPECT_TRUE(r.image.bytes.empty());
}

TEST(ReadUpdateFile, OnlyARegularFileIsOpenedAndNothingElseBlocks) {
    TempDir dir;
    const std::filesystem::path fifo = dir.Path() / "pipe.enc";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);  // no writer: opening it plainly would block
    const std::filesystem::path zero = dir.Path() / "zero.enc";
    std::filesystem::create_symlink("/dev/zero", zero);
    const std::filesystem::path folder = dir.Path() / "folder.enc";
    std::filesystem::create_directory(folder);
    for (const std::filesystem::path& path : {fifo, zero, folder}) {
        EXPECT_EQ(ReadUpdateFile(path.string()).outcome, ReadOutcome::CannotOpen) << path;
        EXPECT_FALSE(UpdateFileLength(path.string()).has_value()) << path;
    }
    // A symbolic link to a regular file is that file.
    std::filesystem::create_symlink(dir.Write("real.enc", "0001AA"), dir.Path() / "link.enc");
    EXPECT_EQ(UpdateFileLength((dir.Path() / "link.enc").string()), 6);
}

TEST(UpdateFileLength, LengthOrNothing) {
    TempDir dir;
    EXPECT_EQ(UpdateFileLength(dir.Write("one.enc", "A")), 1);
    EXPECT_FALSE(UpdateFileLength((dir.Path() / "none.enc").string()).has_value());
    EXPECT_FALSE(UpdateFileLength(dir.Path().string()).has_value());
}

namespace {

Bytes FrameOf(unsigned length, std::uint8_t fill = 0x5A) {
    Bytes f{static_cast<std::uint8_t>(length >> 8), static_cast<std::uint8_t>(length & 0xFF)};
    f.insert(f.end(), length, fill);
    return f;
}

Bytes Concat(std::initializer_list<Bytes> parts) {
    Bytes all;
    for (const Bytes& p : parts) {
        all.insert(all.end(), p.begin(), p.end());
    }
    return all;
}

}  // namespace

TEST(Frames, WellFormedImagesSplitExactly) {
    EXPECT_FALSE(FindMalformedFrame(FrameOf(3)).has_value());
    EXPECT_FALSE(FindMalformedFrame(Concat({FrameOf(276), FrameOf(0), FrameOf(1)})).has_value());

    const Bytes image = Concat({FrameOf(4), FrameOf(276)});
    const std::optional<Frame> second = FrameAt(image, 6);
    ASSERT_TRUE(second.has_value());
    EXPECT_EQ(second->length, 276u);
    EXPECT_EQ(second->Size(), 278u);
}

TEST(Frames, MalformedFramesReportTheirDeclaredLength) {
    // 277 is too long even when enough data follows.
    EXPECT_EQ(FindMalformedFrame(Concat({FrameOf(277)})), 277u);
    // The second frame declares one byte more than is left.
    Bytes overrun = Concat({FrameOf(2), FrameOf(5)});
    overrun.pop_back();
    EXPECT_EQ(FindMalformedFrame(overrun), 5u);
    // A single byte left after the last whole frame: the missing low byte reads as 0.
    EXPECT_EQ(FindMalformedFrame(Concat({FrameOf(2), Bytes{0x01}})), 0x100u);
    // An empty image has no frame at all.
    EXPECT_EQ(FindMalformedFrame(Bytes{}), 0u);
}

TEST(Frames, AWalkReportsTheFramesTheirLengthsAndWhereAndWhyItStopped) {
    Bytes overrun = Concat({FrameOf(2), FrameOf(5)});
    overrun.pop_back();
    struct Case {
        Bytes image;
        std::size_t frames;
        unsigned smallest, largest;
        std::optional<std::size_t> badOffset;
        FrameFault fault;
    };
    const std::vector<Case> cases{
        {Concat({FrameOf(276), FrameOf(0), FrameOf(17)}), 3, 0, 276, std::nullopt, {}},
        {Concat({FrameOf(9), FrameOf(277)}), 1, 9, 9, 11, FrameFault::TooLong},
        {overrun, 1, 2, 2, 4, FrameFault::PastTheEnd},
        {Concat({FrameOf(2), Bytes{0x01}}), 1, 2, 2, 4, FrameFault::ShortHeader},
    };
    for (const Case& c : cases) {
        const FrameWalk walk = WalkFrames(c.image);
        EXPECT_EQ(walk.frames, c.frames);
        EXPECT_EQ(walk.smallestLength, c.smallest);
        EXPECT_EQ(walk.largestLength, c.largest);
        ASSERT_EQ(walk.malformed.has_value(), c.badOffset.has_value());
        if (walk.malformed) {
            EXPECT_EQ(walk.malformed->offset, *c.badOffset);
            EXPECT_EQ(walk.malformed->fault, c.fault);
        }
    }
}
