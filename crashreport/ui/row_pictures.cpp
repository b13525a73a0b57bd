#include "crashreport/ui/row_pictures.h"

#include <array>
#include <mutex>

namespace crashreport::ui {

namespace {

constexpr gdi::TColor kKey = gdi::RGB(255, 0, 255); // the transparent colour

gdi::Bitmap Draw(int size, void (*paint)(gdi::Canvas&))
{
    gdi::Canvas c(size, size);
    c.Brush.Color = kKey;
    c.FillRect(gdi::TRect{0, 0, size, size});
    paint(c);
    return c.ToBitmap();
}

void Frame(gdi::Canvas& c, gdi::TRect r, gdi::TColor fill, gdi::TColor line)
{
    c.Brush.Style = gdi::BrushStyle::bsSolid;
    c.Brush.Color = fill;
    c.Pen.Color = line;
    c.Rectangle(r);
}

// A sheet with a folded corner: a library.
void Library(gdi::Canvas& c)
{
    Frame(c, {3, 1, 13, 15}, gdi::RGB(255, 255, 255), gdi::RGB(64, 64, 64));
    c.Pen.Color = gdi::RGB(80, 120, 200);
    for (int y = 5; y <= 11; y += 2) {
        c.MoveTo(5, y);
        c.LineTo(11, y);
    }
    c.Brush.Color = gdi::RGB(230, 180, 60);
    c.FillRect({8, 10, 12, 14});
}

// A box: a package.
void Package(gdi::Canvas& c)
{
    Frame(c, {2, 5, 14, 15}, gdi::RGB(210, 170, 100), gdi::RGB(100, 70, 30));
    Frame(c, {1, 3, 15, 6}, gdi::RGB(230, 195, 130), gdi::RGB(100, 70, 30));
    c.Pen.Color = gdi::RGB(100, 70, 30);
    c.MoveTo(8, 3);
    c.LineTo(8, 15);
}

// A window with a title bar: a program.
void Program(gdi::Canvas& c)
{
    Frame(c, {1, 2, 15, 14}, gdi::RGB(255, 255, 255), gdi::RGB(40, 40, 40));
    c.Brush.Color = gdi::RGB(0, 0, 160);
    c.FillRect({2, 3, 14, 6});
    c.Brush.Color = gdi::RGB(192, 192, 192);
    c.FillRect({3, 8, 7, 12});
}

// A page of source with a marker: a source line.
void SourceLine(gdi::Canvas& c)
{
    Frame(c, {2, 1, 14, 15}, gdi::RGB(255, 255, 240), gdi::RGB(64, 64, 64));
    c.Pen.Color = gdi::RGB(96, 96, 96);
    for (int y = 4; y <= 12; y += 2) {
        c.MoveTo(6, y);
        c.LineTo(12, y);
    }
    c.Brush.Color = gdi::RGB(200, 0, 0);
    c.FillRect({3, 7, 6, 10});
}

void SignBox(gdi::Canvas& c)
{
    Frame(c, {0, 0, 13, 13}, gdi::RGB(255, 255, 255), gdi::RGB(123, 164, 224));
    c.Pen.Color = gdi::RGB(0, 0, 0);
    c.MoveTo(3, 6);
    c.LineTo(10, 6);
    c.SetPixel(0, 0, kKey); // a rounded corner that also names the key colour
}

void Plus(gdi::Canvas& c)
{
    SignBox(c);
    c.MoveTo(6, 3);
    c.LineTo(6, 10);
}

void Minus(gdi::Canvas& c) { SignBox(c); }

} // namespace

const gdi::Bitmap& RowPicture(TRowPicture picture)
{
    static std::once_flag once;
    static std::array<gdi::Bitmap, RowPictureCount> pictures;
    std::call_once(once, [] {
        pictures[rpLibrary] = Draw(16, Library);
        pictures[rpPackage] = Draw(16, Package);
        pictures[rpProgram] = Draw(16, Program);
        pictures[rpSourceLine] = Draw(16, SourceLine);
        pictures[rpPlus] = Draw(13, Plus);
        pictures[rpMinus] = Draw(13, Minus);
    });
    return pictures.at(static_cast<size_t>(picture));
}

void DrawTransparent(gdi::Canvas& canvas, int x, int y, const gdi::Bitmap& bitmap)
{
    if (bitmap.Width() <= 0 || bitmap.Height() <= 0) return;
    auto pixel = [&](int px, int py) {
        const std::uint8_t* p = bitmap.ScanLine(py) + static_cast<size_t>(px) * 3;
        return gdi::RGB(p[2], p[1], p[0]);
    };
    const gdi::TColor key = pixel(0, 0);
    for (int py = 0; py < bitmap.Height(); ++py)
        for (int px = 0; px < bitmap.Width(); ++px) {
            const gdi::TColor c = pixel(px, py);
            if (c != key) canvas.SetPixel(x + px, y + py, c);
        }
}

} // namespace crashreport::ui
