#include <gtest/gtest.h>

#include <vector>

#include "converter/byte_order.h"
#include "converter/frame_file.h"

using namespace converter;

TEST(FrameFormat, ByteOrderAndHeaderDecoding)
{
    EXPECT_EQ(ReverseBytes32(0x01020304u), 0x04030201u);
    EXPECT_EQ(ReverseBytes16(0xA1B2), 0xB2A1);
    const uint8_t bytes[14] = {0, 0, 1, 2, 0x01, 0xE0, 0x02, 0x80, 9, 9, 9, 9, 9, 9};
    FrameFileHeader h = DecodeFrameFileHeader(bytes);
    EXPECT_EQ(h.frameCount, 258);
    EXPECT_EQ(h.height, 480);
    EXPECT_EQ(h.width, 640);
    const uint8_t negative[14] = {0x80, 0, 0, 0, 0, 1, 0, 1};
    EXPECT_LT(DecodeFrameFileHeader(negative).frameCount, 0);
}

TEST(FrameFormat, TransformDoublesModulo256AndSwapsRedAndBlue)
{
    uint8_t frame[] = {10, 20, 30, 200, 100, 0};
    TransformFrame(frame, 2);
    const uint8_t expected[] = {60, 40, 20, 0, 200, 144};
    EXPECT_EQ(0, memcmp(frame, expected, sizeof frame));
    // Rows of every length, worked several pixels at a time: each pixel as
    // the first one, and nothing after the last pixel touched.
    for (size_t pixels = 1; pixels <= 50; ++pixels) {
        std::vector<uint8_t> row(pixels * 3 + 4);
        for (size_t i = 0; i < row.size(); ++i) row[i] = static_cast<uint8_t>(i * 37 + pixels);
        std::vector<uint8_t> want = row;
        for (size_t p = 0; p < pixels; ++p) {
            want[3 * p] = static_cast<uint8_t>(row[3 * p + 2] * 2);
            want[3 * p + 1] = static_cast<uint8_t>(row[3 * p + 1] * 2);
            want[3 * p + 2] = static_cast<uint8_t>(row[3 * p] * 2);
        }
        TransformFrame(row.data(), pixels);
        EXPECT_EQ(row, want) << pixels << " pixels";
    }
}

TEST(FrameFormat, ProgressRoundsHalfToEven)
{
    EXPECT_EQ(ProgressValue(0, 4), 0);
    EXPECT_EQ(ProgressValue(1, 4), 25);
    EXPECT_EQ(ProgressValue(3, 4), 75);
    EXPECT_EQ(ProgressValue(1, 8), 12); // 12.5
    EXPECT_EQ(ProgressValue(3, 8), 38); // 37.5
    EXPECT_EQ(ProgressValue(5, 8), 62); // 62.5
    EXPECT_EQ(ProgressValue(2, 3), 67);
    // Past 21,474,836 frames the product no longer fits in 32 bits.
    EXPECT_EQ(ProgressValue(2000000000, 2147483647), 93);
}

TEST(FrameFormat, CheckRejectsWhatCannotBeConverted)
{
    FrameFileHeader h;
    h.frameCount = 2;
    h.width = 4;
    h.height = 3;
    EXPECT_EQ(CheckFrameFile(h, 14 + 72), "");
    EXPECT_EQ(CheckFrameFile(h, 14 + 80), ""); // trailing bytes are ignored
    EXPECT_NE(CheckFrameFile(h, 14 + 71).find("truncated"), std::string::npos);
    EXPECT_NE(CheckFrameFile(h, 9).find("header"), std::string::npos);
    h.frameCount = -1;
    EXPECT_EQ(CheckFrameFile(h, 1000), "its frame count -1 is negative (stored as 4294967295, 2^31 or more)");
    h.frameCount = 1;
    h.width = 65535;
    h.height = 65535;
    EXPECT_NE(CheckFrameFile(h, 1ull << 40).find("larger than the 32767 x 32767 pixels"), std::string::npos);
    h.width = h.height = 32767;
    EXPECT_NE(CheckFrameFile(h, 1ull << 40).find("too large"), std::string::npos);
    h.width = 32767;
    h.height = 21845; // 2^31 - 1 bytes and a little less: the largest that passes
    EXPECT_EQ(CheckFrameFile(h, 1ull << 40), "");
    // Frames of no bytes would be written for as many frames as the count says.
    h.frameCount = 0x7FFFFFFF;
    h.width = 0;
    EXPECT_EQ(CheckFrameFile(h, 14), "its frames of 0 x 21845 pixels hold no bytes");
    h.width = 7;
    h.height = 0;
    EXPECT_EQ(CheckFrameFile(h, 14), "its frames of 7 x 0 pixels hold no bytes");
}
