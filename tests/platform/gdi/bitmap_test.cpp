#include <gtest/gtest.h>

#include <vector>

#include "platform/gdi/dib.h"

using gdi::Bitmap;

TEST(BitmapTest, StrideIsRowRoundedUpToFourBytes)
{
    EXPECT_EQ(Bitmap::StrideFor(1), 4u);
    EXPECT_EQ(Bitmap::StrideFor(320), 960u);
    EXPECT_EQ(Bitmap::StrideFor(333), 1000u);
    EXPECT_EQ(Bitmap::StrideFor(0), 0u);
}

TEST(BitmapTest, ResizeKeepsPixelsInsideAndBlackensNewArea)
{
    Bitmap bm(2, 2);
    bm.FillRect(0, 0, 2, 2, 1, 2, 3);
    bm.SetSize(3, 3);
    const uint8_t* row0 = bm.ScanLine(0);
    EXPECT_EQ(row0[0], 3); // blue first
    EXPECT_EQ(row0[2], 1);
    EXPECT_EQ(row0[6], 0);           // new column
    EXPECT_EQ(bm.ScanLine(2)[0], 0); // new row
}

TEST(BitmapTest, DrawClipsAtEdges)
{
    Bitmap dst(4, 4), src(3, 3);
    src.FillRect(0, 0, 3, 3, 9, 9, 9);
    dst.Draw(2, 2, src);
    EXPECT_EQ(dst.ScanLine(1)[2 * 3], 0);
    EXPECT_EQ(dst.ScanLine(2)[2 * 3], 9);
    EXPECT_EQ(dst.ScanLine(3)[3 * 3 + 2], 9);
    dst.Draw(-5, 0, src); // entirely outside: nothing happens
    EXPECT_EQ(dst.ScanLine(0)[0], 0);
}

TEST(DibTest, BottomUpRetrievalReversesRowsAndPads)
{
    Bitmap bm(1, 3);
    for (int r = 0; r < 3; ++r) bm.FillRect(0, r, 1, r + 1, 0, 0, static_cast<uint8_t>(10 + r));
    gdi::BITMAPINFOHEADER h{};
    h.biSize = 40;
    h.biWidth = 1;
    h.biHeight = 3;
    h.biPlanes = 1;
    h.biBitCount = 24;
    std::vector<uint8_t> bits(12, 0xEE);
    ASSERT_EQ(gdi::GetDIBits(bm, 0, 3, bits.data(), h), 3);
    EXPECT_EQ(bits[0], 12); // bottom row first
    EXPECT_EQ(bits[4], 11);
    EXPECT_EQ(bits[8], 10);
    EXPECT_EQ(bits[3], 0); // padding cleared
    h.biBitCount = 32;
    EXPECT_EQ(gdi::GetDIBits(bm, 0, 3, bits.data(), h), 0);
}
