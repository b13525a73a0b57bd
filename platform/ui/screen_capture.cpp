#include "platform/ui/screen_capture.h"

#include <algorithm>

#include "platform/ui/backend.h"
#include "platform/ui/headless.h"
#include "platform/ui/screen_picture.h"

namespace ui {
namespace {

// Premultiplied ARGB over the picture's BGR bytes.
void BlendCursor(const TCursorImage& cursor, const TPoint& origin, gdi::Bitmap& out)
{
    const int left = cursor.Position.X - cursor.HotSpot.X - origin.X;
    const int top = cursor.Position.Y - cursor.HotSpot.Y - origin.Y;
    for (int y = 0; y < cursor.Height; ++y) {
        const int by = top + y;
        if (by < 0 || by >= out.Height()) continue;
        uint8_t* row = out.ScanLine(by);
        for (int x = 0; x < cursor.Width; ++x) {
            const int bx = left + x;
            if (bx < 0 || bx >= out.Width()) continue;
            const std::uint32_t p = cursor.Argb[static_cast<size_t>(y) * cursor.Width + x];
            const unsigned a = (p >> 24) & 0xFF;
            if (a == 0) continue;
            uint8_t* px = row + bx * 3;
            const unsigned bgr[3] = {p & 0xFF, (p >> 8) & 0xFF, (p >> 16) & 0xFF};
            for (int k = 0; k < 3; ++k) px[k] = static_cast<uint8_t>(std::min(255u, bgr[k] + px[k] * (255 - a) / 255));
        }
    }
}

bool CaptureX11(CaptureArea area, bool withCursor, gdi::Bitmap& out)
{
    TScreenPicture picture;
    if (!CaptureScreenPicture(area == CaptureArea::caActiveWindow, picture)) return false;
    if (picture.Width <= 0 || picture.Height <= 0) return false;
    gdi::Bitmap bmp(picture.Width, picture.Height);
    for (int row = 0; row < picture.Height; ++row) {
        uint8_t* line = bmp.ScanLine(row);
        const std::uint32_t* pixels = picture.Pixels.data() + static_cast<size_t>(row) * picture.Width;
        for (int col = 0; col < picture.Width; ++col) {
            line[col * 3 + 0] = static_cast<uint8_t>(pixels[col]);
            line[col * 3 + 1] = static_cast<uint8_t>(pixels[col] >> 8);
            line[col * 3 + 2] = static_cast<uint8_t>(pixels[col] >> 16);
        }
    }
    if (withCursor && picture.HasCursor) BlendCursor(picture.Cursor, picture.Origin, bmp);
    out = std::move(bmp);
    return true;
}

} // namespace

bool CaptureScreen(CaptureArea area, bool withCursor, gdi::Bitmap& out)
{
    if (CurrentBackend() == BackendKind::bkX11) return CaptureX11(area, withCursor, out);
    gdi::Bitmap screen = headless::CaptureScreen();
    if (area == CaptureArea::caActiveWindow) {
        const TRect r = gdi::Intersect(headless::ActiveWindowRect(), TRect{0, 0, screen.Width(), screen.Height()});
        if (!r.IsEmpty()) {
            gdi::Bitmap part(r.Width(), r.Height());
            part.Draw(-r.Left, -r.Top, screen);
            out = std::move(part);
            return true;
        }
    }
    out = std::move(screen);
    return true;
}

} // namespace ui
