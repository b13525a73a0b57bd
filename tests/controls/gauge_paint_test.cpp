// Pixel tests of the gauge's picture: each kind at 0, 42 and 100 per cent,
// the border, and the percentage text combined by exclusive-or.
#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <cstdint>

#include "controls/blt_bitmap.h"
#include "controls/gauge.h"

using namespace controls;
using gdi::Canvas;
using gdi::TColor;
using gdi::TRect;

namespace {

constexpr TColor kSentinel = gdi::RGB(255, 0, 255);
const TColor kFore = gdi::ColorToRGB(gdi::clGradientActiveCaption);
const TColor kBack = gdi::clWhite;
const TColor kFace = gdi::ColorToRGB(gdi::clBtnFace);

TGauge& Configure(TGauge& g, TGaugeKind kind, int width, int height, int percent, bool text = false)
{
    g.SetBounds(0, 0, width, height);
    g.SetKind(kind);
    g.SetForeColor(gdi::clGradientActiveCaption);
    g.SetShowText(text);
    g.SetProgress(percent);
    return g;
}

Canvas Render(TGauge& g)
{
    Canvas c(g.Width(), g.Height());
    c.Brush.Color = kSentinel;
    c.FillRect(TRect{0, 0, c.Width(), c.Height()});
    g.Paint(c);
    return c;
}

// The needle's dial stands on a base line drawn over the bottom border, and
// a full needle reaches the right border just above it.
enum class Bottom { border, baseLine };

void ExpectBorder(const Canvas& c, Bottom bottom = Bottom::border)
{
    for (int x = 0; x < c.Width(); ++x) {
        ASSERT_EQ(c.Pixel(x, 0), gdi::clBlack) << "top " << x;
        TColor expected = bottom == Bottom::border || x == 0 ? gdi::clBlack : kFore;
        ASSERT_EQ(c.Pixel(x, c.Height() - 1), expected) << "bottom " << x;
    }
    int rightEnd = bottom == Bottom::border ? c.Height() : c.Height() - 2;
    for (int y = 0; y < c.Height(); ++y) {
        ASSERT_EQ(c.Pixel(0, y), gdi::clBlack) << "left " << y;
        if (y < rightEnd) {
            ASSERT_EQ(c.Pixel(c.Width() - 1, y), gdi::clBlack) << "right " << y;
        }
    }
}

int Count(const Canvas& c, TColor color)
{
    int n = 0;
    for (int y = 0; y < c.Height(); ++y)
        for (int x = 0; x < c.Width(); ++x) n += c.Pixel(x, y) == color;
    return n;
}

// Every pixel of rect has the colour.
void ExpectArea(const Canvas& c, const TRect& r, TColor color, const char* what)
{
    for (int y = r.Top; y < r.Bottom; ++y)
        for (int x = r.Left; x < r.Right; ++x) ASSERT_EQ(c.Pixel(x, y), color) << what << " at " << x << "," << y;
}

} // namespace

TEST(GaugePaintTest, HorizontalBarWidthFollowsThePercentage)
{
    // 249 wide with the border: W = 248, the bar's right edge is trunc(W * p / 100).
    struct Case {
        int percent, right;
    } cases[] = {{0, 1}, {42, 104}, {100, 248}};
    for (auto [percent, right] : cases) {
        SCOPED_TRACE(percent);
        TGauge g;
        Canvas c = Render(Configure(g, gkHorizontalBar, 249, 20, percent));
        ExpectBorder(c);
        ExpectArea(c, TRect{1, 1, right, 19}, kFore, "bar");
        ExpectArea(c, TRect{right, 1, 248, 19}, kBack, "empty part");
    }
}

TEST(GaugePaintTest, HorizontalBarWithoutBorderUsesTheWholeRectangle)
{
    TGauge g;
    g.SetBorderStyle(bsNone);
    Canvas c = Render(Configure(g, gkHorizontalBar, 200, 10, 42));
    ExpectArea(c, TRect{0, 0, 84, 10}, kFore, "bar");
    ExpectArea(c, TRect{84, 0, 200, 10}, kBack, "empty part");
}

TEST(GaugePaintTest, VerticalBarRisesFromTheBottom)
{
    // 100 high with the border: H = 99, f = trunc(H * p / 100) rows above row 99.
    struct Case {
        int percent, top;
    } cases[] = {{0, 99}, {42, 58}, {100, 1}};
    for (auto [percent, top] : cases) {
        SCOPED_TRACE(percent);
        TGauge g;
        Canvas c = Render(Configure(g, gkVerticalBar, 32, 100, percent));
        ExpectBorder(c);
        ExpectArea(c, TRect{1, top, 31, 99}, kFore, "bar");
        ExpectArea(c, TRect{1, 1, 31, top}, kBack, "empty part");
    }
}

TEST(GaugePaintTest, VerticalBarWithoutBorderFillsCompletelyAtFullProgress)
{
    TGauge g;
    g.SetBorderStyle(bsNone);
    Canvas c = Render(Configure(g, gkVerticalBar, 10, 50, 100));
    ExpectArea(c, TRect{0, 0, 10, 50}, kFore, "bar");
    Configure(g, gkVerticalBar, 10, 50, 42);
    Canvas d = Render(g);
    ExpectArea(d, TRect{0, 29, 10, 50}, kFore, "bar"); // 21 rows
    ExpectArea(d, TRect{0, 0, 10, 29}, kBack, "empty part");
}

TEST(GaugePaintTest, PieFillsClockwiseFromTwelveOClock)
{
    for (int percent : {0, 42, 100}) {
        SCOPED_TRACE(percent);
        TGauge g;
        Canvas c = Render(Configure(g, gkPie, 100, 100, percent));
        ExpectBorder(c);
        EXPECT_EQ(c.Pixel(3, 3), kFace);     // outside the ellipse: the control's colour
        EXPECT_EQ(c.Pixel(50, 1), kFore);    // the outline touches the top
        EXPECT_EQ(c.Pixel(1, 50), kFore);    // and the left side
        TColor upperRight = c.Pixel(80, 30); // about 2 o'clock
        TColor rightLow = c.Pixel(85, 65);   // about 4 o'clock
        TColor bottom = c.Pixel(60, 85);     // about half past 5
        TColor left = c.Pixel(20, 50);       // 9 o'clock
        if (percent == 0) {
            EXPECT_EQ(upperRight, kBack);
            EXPECT_EQ(bottom, kBack);
        } else if (percent == 42) { // 151 degrees
            EXPECT_EQ(upperRight, kFore);
            EXPECT_EQ(rightLow, kFore);
            EXPECT_EQ(bottom, kBack);
            EXPECT_EQ(left, kBack);
        } else {
            EXPECT_EQ(upperRight, kFore);
            EXPECT_EQ(bottom, kFore);
            EXPECT_EQ(left, kFore);
        }
    }
}

TEST(GaugePaintTest, NeedleSweepsTheDialFromLeftToRight)
{
    auto onNeedle = [](const Canvas& c, int x, int y) {
        for (int dx = -1; dx <= 1; ++dx)
            if (c.Pixel(x + dx, y) == kFore) return true;
        return false;
    };
    TGauge g;
    Canvas empty = Render(Configure(g, gkNeedle, 100, 60, 0));
    ExpectBorder(empty, Bottom::baseLine);
    EXPECT_EQ(empty.Pixel(3, 3), kFace);   // outside the dial
    EXPECT_EQ(empty.Pixel(50, 1), kFore);  // the dial's top
    EXPECT_EQ(empty.Pixel(50, 30), kBack); // inside the dial, no needle
    EXPECT_FALSE(onNeedle(empty, 44, 30));

    // 42 %: from (50, 58) to (38, 2), a little left of upright.
    Canvas at42 = Render(Configure(g, gkNeedle, 100, 60, 42));
    for (int y = 10; y <= 50; y += 10) {
        int x = 50 - (58 - y) * 12 / 56;
        EXPECT_TRUE(onNeedle(at42, x, y)) << y;
        EXPECT_EQ(at42.Pixel(70, y), kBack) << y;
    }

    // 75 %: from (50, 58) to (85, 17).
    Canvas at75 = Render(Configure(g, gkNeedle, 100, 60, 75));
    for (int y = 20; y <= 50; y += 10) {
        int x = 50 + (58 - y) * 35 / 41;
        EXPECT_TRUE(onNeedle(at75, x, y)) << y;
        EXPECT_EQ(at75.Pixel(30, y), kBack) << y;
    }

    // 100 %: flat on the dial's straight edge, nothing above it.
    Canvas full = Render(Configure(g, gkNeedle, 100, 60, 100));
    ExpectArea(full, TRect{52, 58, 95, 59}, kFore, "needle");
    for (int y = 20; y <= 50; y += 10) EXPECT_EQ(full.Pixel(75, y), kBack) << y;
}

TEST(GaugePaintTest, TextKindShowsOnlyTheBackground)
{
    TGauge g;
    Canvas c = Render(Configure(g, gkText, 100, 24, 42));
    ExpectBorder(c);
    ExpectArea(c, TRect{1, 1, 99, 23}, kBack, "background");
}

TEST(GaugePaintTest, GaugePaintsItsWholeRectangle)
{
    for (TGaugeKind kind : {gkText, gkHorizontalBar, gkVerticalBar, gkPie, gkNeedle})
        for (TBorderStyle border : {bsNone, bsSingle}) {
            TGauge g;
            g.SetBorderStyle(border);
            Canvas c = Render(Configure(g, kind, 60, 40, 42, true));
            EXPECT_EQ(Count(c, kSentinel), 0) << kind << " " << border;
        }
}

namespace {

// Compares a gauge drawn with its text against the same gauge without it.
struct TextDifference {
    TRect box; // bounding box of the changed pixels
    int changed = 0;
    int notXorOfGrey = 0;                       // changes that are not base ^ (g, g, g)
    int notInverted = 0;                        // changes that are not base ^ white
    int invertedOnFore = 0, invertedOnBack = 0; // fully inverted pixels
};

TextDifference Compare(const Canvas& withText, const Canvas& base)
{
    TextDifference d;
    d.box = TRect{INT_MAX, INT_MAX, INT_MIN, INT_MIN};
    for (int y = 0; y < base.Height(); ++y)
        for (int x = 0; x < base.Width(); ++x) {
            TColor b = base.Pixel(x, y), t = withText.Pixel(x, y);
            if (b == t) continue;
            ++d.changed;
            d.box = TRect{std::min(d.box.Left, x), std::min(d.box.Top, y), std::max(d.box.Right, x + 1),
                          std::max(d.box.Bottom, y + 1)};
            uint32_t mask = static_cast<uint32_t>(b ^ t);
            uint8_t g = mask & 0xFF;
            if (mask != (uint32_t(g) | uint32_t(g) << 8 | uint32_t(g) << 16)) ++d.notXorOfGrey;
            if (mask != 0xFFFFFF) ++d.notInverted;
            if (mask == 0xFFFFFF) {
                if (b == kFore) ++d.invertedOnFore;
                if (b == kBack) ++d.invertedOnBack;
            }
        }
    return d;
}

} // namespace

TEST(GaugePaintTest, TextIsCentredAndInvertsWhatIsBeneath)
{
    for (TGaugeKind kind : {gkText, gkHorizontalBar, gkVerticalBar, gkPie, gkNeedle})
        for (int percent : {0, 42, 100}) {
            SCOPED_TRACE(testing::Message() << "kind " << kind << ", " << percent << " %");
            TGauge plain, texted;
            int w = kind == gkHorizontalBar ? 249 : 100, h = kind == gkHorizontalBar ? 20 : 60;
            Canvas base = Render(Configure(plain, kind, w, h, percent));
            Canvas withText = Render(Configure(texted, kind, w, h, percent, true));
            ExpectBorder(withText, kind == gkNeedle ? Bottom::baseLine : Bottom::border);
            TextDifference d = Compare(withText, base);
            EXPECT_GT(d.changed, 15);
            // The default font draws solid glyphs: each text pixel is the exact inverse.
            EXPECT_EQ(d.notInverted, 0);
            // Centred in the rectangle inside the border, to within the glyphs' side bearings.
            EXPECT_NEAR((d.box.Left + d.box.Right) / 2.0, w / 2.0, 3.0);
            EXPECT_NEAR((d.box.Top + d.box.Bottom) / 2.0, h / 2.0, 3.0);
            EXPECT_LT(d.box.Height(), 16);
            // Over a bar that is full, the text is inverted bar colour.
            if (percent == 100 && (kind == gkHorizontalBar || kind == gkVerticalBar || kind == gkPie)) {
                EXPECT_GT(d.invertedOnFore, 3);
            }
            if (percent == 0) {
                EXPECT_GT(d.invertedOnBack, 3);
            }
        }
}

TEST(GaugePaintTest, TextStaysReadableWhereTheBarEndsBeneathIt)
{
    // At 50 % the bar ends in the middle of the text.
    TGauge plain, texted;
    Canvas base = Render(Configure(plain, gkHorizontalBar, 249, 20, 50));
    Canvas withText = Render(Configure(texted, gkHorizontalBar, 249, 20, 50, true));
    TextDifference d = Compare(withText, base);
    EXPECT_LT(d.box.Left, 124);
    EXPECT_GT(d.box.Right, 124);
    EXPECT_GT(d.invertedOnFore, 3);
    EXPECT_GT(d.invertedOnBack, 3);
    // A white pixel of the text over the bar shows as the bar colour's inverse.
    bool sawInverse = false;
    for (int y = d.box.Top; y < d.box.Bottom; ++y)
        for (int x = d.box.Left; x < 124; ++x)
            if (withText.Pixel(x, y) == (kFore ^ 0xFFFFFF)) sawInverse = true;
    EXPECT_TRUE(sawInverse);
}

TEST(GaugePaintTest, SmoothedFontGivesGreyLevelsOfInversion)
{
    TGauge plain, texted;
    gdi::TFont smooth;
    smooth.Quality = gdi::FontQuality::fqAntialiased;
    smooth.Height = -16;
    texted.SetFont(smooth);
    Canvas base = Render(Configure(plain, gkHorizontalBar, 249, 20, 42));
    Canvas withText = Render(Configure(texted, gkHorizontalBar, 249, 20, 42, true));
    TextDifference d = Compare(withText, base);
    EXPECT_GT(d.changed, 15);
    EXPECT_EQ(d.notXorOfGrey, 0);
    EXPECT_GT(d.notInverted, 0);
}

TEST(GaugePaintTest, TextIsClippedToTheRectangleInsideTheBorder)
{
    TGauge g;
    gdi::TFont big;
    big.Height = -40;
    g.SetFont(big);
    Canvas c = Render(Configure(g, gkHorizontalBar, 60, 16, 42, true));
    ExpectBorder(c);
}

TEST(GaugePaintTest, ShowsTheWholeNumberPercentage)
{
    // Different texts give different pictures; equal percentages equal ones.
    TGauge a, b, c;
    a.SetMaxValue(1000);
    b.SetMaxValue(1000);
    Configure(a, gkText, 100, 24, 0);
    a.SetShowText(true);
    a.SetProgress(425);
    Configure(b, gkText, 100, 24, 0);
    b.SetShowText(true);
    b.SetProgress(429);
    Configure(c, gkText, 100, 24, 43, true);
    Canvas ca = Render(a), cb = Render(b), cc = Render(c);
    EXPECT_EQ(Compare(ca, cb).changed, 0);
    EXPECT_GT(Compare(ca, cc).changed, 0);
}

TEST(GaugePaintTest, MakeLikeTakesTheSizeAndTheWindowFrameColour)
{
    Canvas other(7, 5);
    TBltBitmap bitmap;
    bitmap.MakeLike(other);
    EXPECT_EQ(bitmap.Width(), 7);
    EXPECT_EQ(bitmap.Height(), 5);
    EXPECT_EQ(Count(bitmap, gdi::ColorToRGB(gdi::clWindowFrame)), 35);
}

TEST(GaugePaintTest, TinySizesPaintWithoutFault)
{
    for (TGaugeKind kind : {gkText, gkHorizontalBar, gkVerticalBar, gkPie, gkNeedle})
        for (TBorderStyle border : {bsNone, bsSingle})
            for (int size : {0, 1, 2, 3}) {
                TGauge g;
                g.SetBorderStyle(border);
                Configure(g, kind, size, size, 42, true);
                Canvas c(4, 4);
                g.Paint(c);
                // (The pie's and the dial's boxes turn inside out at these sizes
                // and may reach the border.)
                if (size > 0 && border == bsSingle && kind != gkNeedle && kind != gkPie) {
                    EXPECT_EQ(c.Pixel(0, 0), gdi::clBlack) << kind << " " << size;
                }
            }
}

TEST(GaugePaintTest, RangeInvertedWhileLoadingStillPaints)
{
    for (TGaugeKind kind : {gkText, gkHorizontalBar, gkVerticalBar, gkPie, gkNeedle}) {
        TGauge g;
        g.SetBounds(0, 0, 60, 40);
        g.SetKind(kind);
        g.SetProgress(100);
        g.BeginLoading();
        g.SetMinValue(INT_MAX);
        g.SetMaxValue(INT_MIN);
        g.EndLoading();
        Canvas c(60, 40);
        g.Paint(c);
        EXPECT_EQ(c.Pixel(0, 0), gdi::clBlack);
    }
}
