#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <thread>
#include <vector>

#include "platform/gdi/canvas.h"
#include "platform/gdi/canvas_cairo.h"
#include "platform/rtl/exception.h"

using namespace gdi;

namespace {

int CountColor(const Canvas& c, const TRect& r, TColor color)
{
    int n = 0;
    for (int y = r.Top; y < r.Bottom; ++y)
        for (int x = r.Left; x < r.Right; ++x)
            if (c.Pixel(x, y) == color) ++n;
    return n;
}

TRect Whole(const Canvas& c) { return TRect{0, 0, c.Width(), c.Height()}; }

} // namespace

TEST(CanvasTest, NewCanvasIsBlackAndPixelOutsideIsNone)
{
    Canvas c(4, 3);
    EXPECT_EQ(c.Width(), 4);
    EXPECT_EQ(c.Height(), 3);
    EXPECT_EQ(CountColor(c, Whole(c), clBlack), 12);
    EXPECT_EQ(c.Pixel(4, 0), clNone);
    EXPECT_EQ(c.Pixel(-1, 0), clNone);
}

TEST(CanvasTest, FillRectCoversExactlyTheRectangle)
{
    Canvas c(10, 10);
    c.Brush.Color = RGB(10, 20, 30);
    c.FillRect(Rect(2, 3, 7, 5));
    EXPECT_EQ(CountColor(c, Whole(c), RGB(10, 20, 30)), 5 * 2);
    EXPECT_EQ(c.Pixel(2, 3), RGB(10, 20, 30));
    EXPECT_EQ(c.Pixel(6, 4), RGB(10, 20, 30));
    EXPECT_EQ(c.Pixel(7, 4), clBlack); // right edge excluded
    EXPECT_EQ(c.Pixel(6, 5), clBlack); // bottom edge excluded
}

TEST(CanvasTest, SystemColoursResolveToTheScheme)
{
    Canvas c(1, 1);
    c.Brush.Color = clBtnFace;
    c.FillRect(Rect(0, 0, 1, 1));
    EXPECT_EQ(c.Pixel(0, 0), ColorToRGB(clBtnFace));
    EXPECT_EQ(ColorToRGB(clGradientActiveCaption), GetSysColor(27));
    EXPECT_EQ(ColorToRGB(clRed), RGB(255, 0, 0));
}

TEST(CanvasTest, FrameRectDrawsOnePixelBorderOnly)
{
    Canvas c(8, 6);
    c.Brush.Color = clWhite;
    c.FrameRect(Rect(1, 1, 7, 5));
    EXPECT_EQ(CountColor(c, Whole(c), clWhite), 2 * 6 + 2 * 2);
    EXPECT_EQ(c.Pixel(1, 1), clWhite);
    EXPECT_EQ(c.Pixel(6, 4), clWhite);
    EXPECT_EQ(c.Pixel(3, 2), clBlack);
}

TEST(CanvasTest, RectangleOutlinesWithPenAndFillsWithBrush)
{
    Canvas c(8, 8);
    c.Pen.Color = clRed;
    c.Brush.Color = clBlue;
    c.Rectangle(1, 1, 7, 7);
    EXPECT_EQ(c.Pixel(1, 1), clRed);
    EXPECT_EQ(c.Pixel(6, 6), clRed);
    EXPECT_EQ(c.Pixel(7, 7), clBlack);
    EXPECT_EQ(c.Pixel(3, 3), clBlue);
    EXPECT_EQ(CountColor(c, Whole(c), clRed), 20);
}

TEST(CanvasTest, LineExcludesItsEndPoint)
{
    Canvas c(10, 10);
    c.Pen.Color = clWhite;
    c.MoveTo(1, 2);
    c.LineTo(6, 2);
    EXPECT_EQ(CountColor(c, Whole(c), clWhite), 5);
    EXPECT_EQ(c.Pixel(1, 2), clWhite);
    EXPECT_EQ(c.Pixel(5, 2), clWhite);
    EXPECT_EQ(c.Pixel(6, 2), clBlack);
    EXPECT_EQ(c.PenPos(), (TPoint{6, 2}));
}

TEST(CanvasTest, EllipseStaysInsideItsBoxAndTouchesEachSide)
{
    Canvas c(30, 20);
    c.Pen.Color = clRed;
    c.Brush.Color = clBlue;
    c.Ellipse(5, 2, 25, 18);
    for (int x = 0; x < 30; ++x)
        for (int y = 0; y < 20; ++y)
            if (!Rect(5, 2, 25, 18).Contains(x, y)) {
                ASSERT_EQ(c.Pixel(x, y), clBlack) << x << "," << y;
            }
    EXPECT_EQ(c.Pixel(15, 2), clRed);   // top
    EXPECT_EQ(c.Pixel(15, 17), clRed);  // bottom
    EXPECT_EQ(c.Pixel(5, 10), clRed);   // left
    EXPECT_EQ(c.Pixel(24, 10), clRed);  // right
    EXPECT_EQ(c.Pixel(15, 10), clBlue); // inside
    EXPECT_EQ(c.Pixel(5, 2), clBlack);  // corner of the box
}

TEST(CanvasTest, PieGoesCounterClockwiseFromFirstToSecondRay)
{
    // From the right (3 o'clock) to the top (12 o'clock): the upper right quarter.
    Canvas c(41, 41);
    c.Pen.Color = clWhite;
    c.Brush.Color = clWhite;
    c.Pie(0, 0, 41, 41, 40, 20, 20, 0);
    EXPECT_EQ(c.Pixel(30, 10), clWhite); // upper right
    EXPECT_EQ(c.Pixel(10, 10), clBlack); // upper left
    EXPECT_EQ(c.Pixel(10, 30), clBlack); // lower left
    EXPECT_EQ(c.Pixel(30, 30), clBlack); // lower right

    // Swapped rays: the other three quarters.
    Canvas d(41, 41);
    d.Pen.Color = clWhite;
    d.Brush.Color = clWhite;
    d.Pie(0, 0, 41, 41, 20, 0, 40, 20);
    EXPECT_EQ(d.Pixel(30, 10), clBlack);
    EXPECT_EQ(d.Pixel(10, 10), clWhite);
    EXPECT_EQ(d.Pixel(10, 30), clWhite);
    EXPECT_EQ(d.Pixel(30, 30), clWhite);
}

TEST(CanvasTest, PieWithCoincidentRaysIsTheWholeEllipse)
{
    Canvas c(21, 21);
    c.Pen.Color = clWhite;
    c.Brush.Color = clWhite;
    c.Pie(0, 0, 21, 21, 10, 0, 10, 0);
    EXPECT_EQ(c.Pixel(5, 10), clWhite);
    EXPECT_EQ(c.Pixel(15, 10), clWhite);
    EXPECT_EQ(c.Pixel(10, 15), clWhite);
}

TEST(CanvasTest, ClipLimitsDrawingAndResets)
{
    Canvas c(10, 10);
    c.IntersectClipRect(Rect(2, 2, 5, 5));
    EXPECT_EQ(c.ClipRect(), Rect(2, 2, 5, 5));
    c.Brush.Color = clWhite;
    c.FillRect(Rect(0, 0, 10, 10));
    EXPECT_EQ(CountColor(c, Whole(c), clWhite), 9);
    c.ResetClip();
    c.FillRect(Rect(0, 0, 10, 10));
    EXPECT_EQ(CountColor(c, Whole(c), clWhite), 100);
}

TEST(CanvasTest, XorCombinesEveryChannelBitwise)
{
    Canvas dest(4, 1), src(4, 1);
    dest.SetPixel(0, 0, RGB(0x12, 0x34, 0x56));
    dest.SetPixel(1, 0, clWhite);
    src.SetPixel(0, 0, RGB(0xFF, 0x0F, 0xF0));
    src.SetPixel(1, 0, clWhite);
    src.SetPixel(2, 0, RGB(1, 2, 3));
    dest.Draw(0, 0, src, CopyMode::cmSrcInvert);
    EXPECT_EQ(dest.Pixel(0, 0), RGB(0x12 ^ 0xFF, 0x34 ^ 0x0F, 0x56 ^ 0xF0));
    EXPECT_EQ(dest.Pixel(1, 0), clBlack);
    EXPECT_EQ(dest.Pixel(2, 0), RGB(1, 2, 3)); // onto black: a copy
    EXPECT_EQ(dest.Pixel(3, 0), clBlack);
    // Twice restores.
    dest.Draw(0, 0, src, CopyMode::cmSrcInvert);
    EXPECT_EQ(dest.Pixel(0, 0), RGB(0x12, 0x34, 0x56));
    EXPECT_EQ(dest.Pixel(1, 0), clWhite);
}

TEST(CanvasTest, XorIsClippedAndOffset)
{
    Canvas dest(6, 6), src(4, 4);
    src.Brush.Color = clWhite;
    src.FillRect(Rect(0, 0, 4, 4));
    dest.IntersectClipRect(Rect(0, 0, 4, 6));
    dest.Draw(2, 3, src, CopyMode::cmSrcInvert); // reaches past right and bottom
    EXPECT_EQ(CountColor(dest, Whole(dest), clWhite), 2 * 3);
    EXPECT_EQ(dest.Pixel(2, 3), clWhite);
    EXPECT_EQ(dest.Pixel(4, 3), clBlack); // outside the clip
    EXPECT_EQ(dest.Pixel(1, 3), clBlack);
}

TEST(CanvasTest, CopyAndBitmapRoundTrip)
{
    Bitmap bm(3, 2);
    bm.FillRect(0, 0, 3, 2, 200, 100, 50);
    bm.FillRect(1, 1, 2, 2, 1, 2, 3);
    Canvas c(bm);
    EXPECT_EQ(c.Pixel(0, 0), RGB(200, 100, 50));
    EXPECT_EQ(c.Pixel(1, 1), RGB(1, 2, 3));

    Canvas big(5, 5);
    big.Draw(1, 1, c);
    EXPECT_EQ(big.Pixel(1, 1), RGB(200, 100, 50));
    EXPECT_EQ(big.Pixel(2, 2), RGB(1, 2, 3));
    EXPECT_EQ(big.Pixel(0, 0), clBlack);

    Bitmap back = big.ToBitmap(Rect(1, 1, 4, 3));
    ASSERT_EQ(back.Width(), 3);
    ASSERT_EQ(back.Height(), 2);
    const uint8_t* row1 = back.ScanLine(1);
    EXPECT_EQ(row1[3], 3); // blue first
    EXPECT_EQ(row1[4], 2);
    EXPECT_EQ(row1[5], 1);
}

TEST(CanvasTest, StretchCopyScales)
{
    Canvas src(2, 1);
    src.SetPixel(0, 0, clRed);
    src.SetPixel(1, 0, clBlue);
    Canvas dest(4, 2);
    dest.CopyRect(Rect(0, 0, 4, 2), src, Rect(0, 0, 2, 1));
    EXPECT_EQ(dest.Pixel(1, 1), clRed);
    EXPECT_EQ(dest.Pixel(2, 0), clBlue);
}

TEST(CanvasTest, SetSizeKeepsPixelsAndBlackensNewArea)
{
    Canvas c(2, 2);
    c.Brush.Color = clWhite;
    c.FillRect(Rect(0, 0, 2, 2));
    c.SetSize(3, 3);
    EXPECT_EQ(c.Pixel(1, 1), clWhite);
    EXPECT_EQ(c.Pixel(2, 2), clBlack);
    c.Brush.Color = clRed;
    c.FillRect(Rect(0, 0, 3, 3)); // the clip follows the new size
    EXPECT_EQ(c.Pixel(2, 2), clRed);
}

TEST(CanvasTest, TextDrawsFontColourWithinItsExtent)
{
    Canvas c(120, 40);
    c.Brush.Style = BrushStyle::bsClear;
    c.Font.Color = clWhite;
    TSize size = c.TextExtent("42%");
    EXPECT_GT(size.cx, 10);
    EXPECT_GE(size.cy, 11);
    EXPECT_LE(size.cy, 20);
    c.TextOut(10, 5, "42%");
    TRect box = Rect(10, 5, 10 + size.cx, 5 + size.cy);
    int lit = 0, white = 0;
    for (int y = 0; y < c.Height(); ++y)
        for (int x = 0; x < c.Width(); ++x) {
            TColor p = c.Pixel(x, y);
            if (p == clBlack) continue;
            ASSERT_TRUE(box.Contains(x, y)) << x << "," << y;
            // Antialiased edges are shades of the text colour on black: grey.
            EXPECT_EQ(GetRValue(p), GetGValue(p));
            EXPECT_EQ(GetGValue(p), GetBValue(p));
            ++lit;
            if (p == clWhite) ++white;
        }
    EXPECT_GT(lit, 20);
    EXPECT_GT(white, 5);
}

TEST(CanvasTest, TextWithSolidBrushFillsItsCell)
{
    Canvas c(80, 30);
    c.Brush.Color = clBlue;
    c.Font.Color = clWhite;
    c.TextOut(3, 4, "ab");
    TSize size = c.TextExtent("ab");
    EXPECT_EQ(c.Pixel(3, 4), clBlue);
    EXPECT_EQ(c.Pixel(3 + size.cx - 1, 4 + size.cy - 1), clBlue);
    EXPECT_EQ(c.Pixel(3 + size.cx, 4), clBlack);
}

TEST(CanvasTest, TextRectClipsToItsRectangle)
{
    Canvas c(80, 30);
    c.Brush.Style = BrushStyle::bsClear;
    c.Font.Color = clWhite;
    c.Font.Height = -20;
    c.TextRect(Rect(0, 0, 80, 10), 2, 0, "MMMM");
    for (int y = 10; y < 30; ++y)
        for (int x = 0; x < 80; ++x) ASSERT_EQ(c.Pixel(x, y), clBlack) << x << "," << y;
    EXPECT_GT(CountColor(c, Rect(0, 0, 80, 10), clBlack), 0);
    EXPECT_LT(CountColor(c, Rect(0, 0, 80, 10), clBlack), 800);
}

TEST(CanvasTest, FontHeightsAndSizes)
{
    Canvas c(10, 10);
    TFont f;
    EXPECT_EQ(f.Size(), 8); // -11 pixels at 96 per inch
    f.SetSize(12);
    EXPECT_EQ(f.Height, -16);
    c.Font.Height = -11;
    int small = c.TextExtent("Hello").cx;
    c.Font.Height = -22;
    int large = c.TextExtent("Hello").cx;
    EXPECT_GT(large, small * 3 / 2);
    // A positive height is the cell: the text's height is close to it.
    c.Font.Height = 20;
    EXPECT_NEAR(c.TextExtent("Hg").cy, 20, 3);
}

TEST(CanvasTest, FaceNamesMapToSystemFamilies)
{
    EXPECT_EQ(MapFontFamily("MS Sans Serif"), "Sans");
    EXPECT_EQ(MapFontFamily("Courier New"), "Monospace");
    EXPECT_EQ(MapFontFamily("Lucida Console"), "Monospace");
    EXPECT_EQ(MapFontFamily("DejaVu Serif"), "DejaVu Serif");
    Canvas c(10, 10);
    c.Font.Name = "Courier New";
    EXPECT_EQ(c.TextWidth("iiii"), c.TextWidth("MMMM")); // monospace
    c.Font.Name = "MS Sans Serif";
    EXPECT_LT(c.TextWidth("iiii"), c.TextWidth("MMMM"));
}

TEST(CanvasTest, ChineseTextHasExtentAndDraws)
{
    const std::string text = "\xe8\xbd\xac\xe6\x8d\xa2\xe5\xae\x8c\xe6\x88\x90"; // four Han characters
    Canvas c(120, 40);
    c.Brush.Style = BrushStyle::bsClear;
    c.Font.Color = clWhite;
    c.Font.Height = -16;
    TSize size = c.TextExtent(text);
    EXPECT_GE(size.cx, 4 * 12); // Han glyphs are about an em wide each
    EXPECT_GT(size.cy, 0);
    c.TextOut(0, 0, text);
    EXPECT_GT(CountColor(c, Rect(0, 0, size.cx, size.cy), clBlack), 0);
    EXPECT_LT(CountColor(c, Rect(0, 0, size.cx, size.cy), clBlack), size.cx * size.cy * 9 / 10);
}

TEST(CanvasTest, InvalidUtf8IsDrawnNotDropped)
{
    Canvas c(60, 20);
    EXPECT_GT(c.TextExtent("a\xff"
                           "b")
                  .cx,
              c.TextExtent("ab").cx);
}

TEST(CanvasTest, PngOutputAndItsErrors)
{
    Canvas c(3, 2);
    std::string path = std::string(VEK_BUILD_DIR) + "/canvas_test.png";
    c.SaveToPng(path);
    std::FILE* f = std::fopen(path.c_str(), "rb");
    ASSERT_NE(f, nullptr);
    unsigned char sig[8] = {};
    EXPECT_EQ(std::fread(sig, 1, 8, f), 8u);
    std::fclose(f);
    EXPECT_EQ(sig[1], 'P');
    EXPECT_EQ(sig[2], 'N');
    // Read back, the pixels are the canvas's.
    c.SetPixel(2, 1, RGB(10, 200, 30));
    c.SaveToPng(path);
    cairo_surface_t* png = cairo_image_surface_create_from_png(path.c_str());
    ASSERT_EQ(cairo_surface_status(png), CAIRO_STATUS_SUCCESS);
    {
        Canvas back = CanvasForSurface(png, 3, 2);
        EXPECT_EQ(back.Pixel(2, 1), RGB(10, 200, 30));
        EXPECT_EQ(back.Pixel(0, 0), clBlack);
    }
    cairo_surface_destroy(png);
    EXPECT_THROW(c.SaveToPng("/nonexistent-folder/x.png"), rtl::Exception);
    EXPECT_THROW(Canvas(0, 0).SaveToPng(path), rtl::Exception);
}

TEST(CanvasTest, SubCanvasDrawsAtItsOffsetAndStaysInside)
{
    Canvas c(10, 10);
    {
        Canvas sub = c.SubCanvas(Rect(3, 4, 6, 8));
        EXPECT_EQ(sub.Width(), 3);
        EXPECT_EQ(sub.Height(), 4);
        sub.Brush.Color = clWhite;
        sub.FillRect(Rect(-5, -5, 20, 20));
        EXPECT_EQ(sub.Pixel(0, 0), clWhite);
        Canvas src(2, 2);
        src.Brush.Color = clWhite;
        src.FillRect(Rect(0, 0, 2, 2));
        sub.Draw(1, 1, src, CopyMode::cmSrcInvert);
    }
    EXPECT_EQ(CountColor(c, Whole(c), clWhite), 12 - 4);
    EXPECT_EQ(c.Pixel(3, 4), clWhite);
    EXPECT_EQ(c.Pixel(4, 5), clBlack);
    EXPECT_EQ(c.Pixel(2, 4), clBlack);
    EXPECT_EQ(c.Pixel(6, 7), clBlack);
}

TEST(CanvasTest, DegenerateShapesAndHugeFontsAreHarmless)
{
    Canvas c(20, 20);
    c.Pen.Color = clWhite;
    c.Brush.Color = clWhite;
    c.Ellipse(5, 5, 5, 9);         // no width
    c.Pie(5, 5, 6, 6, 0, 0, 0, 0); // one pixel
    c.Rectangle(9, 9, 3, 3);       // corners swapped
    c.Polygon({});
    c.CopyRect(Rect(0, 0, 5, 5), c, Rect(0, 0, 0, 0));
    EXPECT_GT(CountColor(c, Whole(c), clWhite), 0);
    c.Font.Height = -1000000;
    EXPECT_LE(c.TextExtent("W").cy, 4000);
    c.TextOut(0, 0, "W");
    c.Brush.Color = clRed; // the context still works afterwards
    c.FillRect(Rect(0, 0, 1, 1));
    EXPECT_EQ(c.Pixel(0, 0), clRed);
}

TEST(CanvasTest, CopyOntoItselfAndUnmatchedSizes)
{
    Canvas c(6, 2);
    c.SetPixel(0, 0, clRed);
    c.SetPixel(1, 0, clBlue);
    c.CopyRect(Rect(2, 0, 4, 1), c, Rect(0, 0, 2, 1)); // onto itself
    EXPECT_EQ(c.Pixel(2, 0), clRed);
    EXPECT_EQ(c.Pixel(3, 0), clBlue);
    // Exclusive-or uses the smaller of the two rectangles.
    c.CopyRect(Rect(0, 1, 6, 2), c, Rect(0, 0, 2, 1), CopyMode::cmSrcInvert);
    EXPECT_EQ(c.Pixel(0, 1), clRed);
    EXPECT_EQ(c.Pixel(1, 1), clBlue);
    EXPECT_EQ(c.Pixel(2, 1), clBlack);
}

TEST(CanvasTest, WrappedSurfaceWithAlphaKeepsItOpaque)
{
    // Windows with a 32-bit visual hand over surfaces with an alpha channel.
    cairo_surface_t* surface = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, 4, 4);
    {
        Canvas c = CanvasForSurface(surface, 4, 4);
        c.Brush.Color = RGB(0x20, 0x40, 0x60);
        c.FillRect(Rect(0, 0, 4, 4));
        Canvas src(2, 2);
        src.Brush.Color = clWhite;
        src.FillRect(Rect(0, 0, 2, 2));
        c.Draw(1, 1, src, CopyMode::cmSrcInvert);
        EXPECT_EQ(c.Pixel(1, 1), RGB(0xDF, 0xBF, 0x9F));
        EXPECT_EQ(c.Pixel(0, 0), RGB(0x20, 0x40, 0x60));
        EXPECT_THROW(c.SetSize(5, 5), rtl::Exception);
        c.Flush();
    }
    const uint32_t* data = reinterpret_cast<const uint32_t*>(cairo_image_surface_get_data(surface));
    int stride = cairo_image_surface_get_stride(surface) / 4;
    EXPECT_EQ(data[1 * stride + 1], 0xFFDFBF9Fu); // opaque, inverted
    cairo_surface_destroy(surface);
}

TEST(CanvasTest, FontStylesChangeTheText)
{
    Canvas c(10, 10);
    c.Font.Height = -16;
    int regular = c.TextWidth("Wide text");
    c.Font.Style = fsBold;
    EXPECT_GT(c.TextWidth("Wide text"), regular);
    // Underline adds a line below the glyphs.
    auto inkRows = [](const Canvas& canvas) {
        int rows = 0;
        for (int y = 0; y < canvas.Height(); ++y)
            for (int x = 0; x < canvas.Width(); ++x)
                if (canvas.Pixel(x, y) != clBlack) {
                    ++rows;
                    break;
                }
        return rows;
    };
    Canvas plain(60, 30), underlined(60, 30);
    for (Canvas* k : {&plain, &underlined}) {
        k->Brush.Style = BrushStyle::bsClear;
        k->Font.Color = clWhite;
        k->Font.Height = -16;
        k->Font.Quality = FontQuality::fqNonAntialiased;
    }
    underlined.Font.Style = fsUnderline;
    plain.TextOut(0, 0, "ace");
    underlined.TextOut(0, 0, "ace");
    EXPECT_GT(inkRows(underlined), inkRows(plain));
}

TEST(CanvasTest, TextFromSeveralThreadsAtOnce)
{
    // The crash reporter's dialogs paint on their own thread while the main
    // thread keeps painting: each thread has its own canvases.
    auto work = [](int* width) {
        Canvas c(100, 30);
        c.Font.Color = clWhite;
        for (int i = 0; i < 100; ++i) {
            c.TextOut(0, 0, "Vek to avi Converter");
            *width = c.TextWidth("Vek to avi Converter");
        }
    };
    int a = 0, b = 0;
    std::thread first(work, &a), second(work, &b);
    first.join();
    second.join();
    EXPECT_GT(a, 50);
    EXPECT_EQ(a, b);
}
