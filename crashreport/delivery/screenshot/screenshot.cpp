#include "crashreport/delivery/screenshot/screenshot.h"

#include <algorithm>
#include <cerrno>

#include "crashreport/codecs/attachment_archive.h"
#include "crashreport/codecs/codec_error.h"
#include "crashreport/codecs/file_io.h"
#include "crashreport/delivery/screenshot/octree.h"
#include "crashreport/delivery/screenshot/png8_writer.h"
#include "crashreport/options/freeze_watch_hook.h"
#include "crashreport/options/module_options.h"

namespace crashreport::screenshot {

namespace {

constexpr std::uint32_t kRed = 0xFF0000;

void Frame(ui::TScreenPicture& p, const ui::TRect& r)
{
    if (r.IsEmpty()) return;
    auto put = [&p](int x, int y) {
        if (x >= 0 && y >= 0 && x < p.Width && y < p.Height) p.Pixels[static_cast<std::size_t>(y) * p.Width + x] = kRed;
    };
    for (int x = r.Left; x < r.Right; ++x) {
        put(x, r.Top);
        put(x, r.Bottom - 1);
    }
    for (int y = r.Top; y < r.Bottom; ++y) {
        put(r.Left, y);
        put(r.Right - 1, y);
    }
}

} // namespace

void OutlineFocusWindow(ui::TScreenPicture& picture)
{
    if (!picture.HasFocusRect) return;
    ui::TRect r = picture.FocusRect;
    r.Left -= picture.Origin.X;
    r.Right -= picture.Origin.X;
    r.Top -= picture.Origin.Y;
    r.Bottom -= picture.Origin.Y;
    Frame(picture, r);
    Frame(picture, ui::TRect{r.Left + 1, r.Top + 1, r.Right - 1, r.Bottom - 1});
}

void DrawCursor(ui::TScreenPicture& picture)
{
    if (!picture.HasCursor) return;
    const ui::TCursorImage& c = picture.Cursor;
    const int left = c.Position.X - c.HotSpot.X - picture.Origin.X;
    const int top = c.Position.Y - c.HotSpot.Y - picture.Origin.Y;
    for (int y = 0; y < c.Height; ++y) {
        const int py = top + y;
        if (py < 0 || py >= picture.Height) continue;
        for (int x = 0; x < c.Width; ++x) {
            const int px = left + x;
            if (px < 0 || px >= picture.Width) continue;
            const std::uint32_t src = c.Argb[static_cast<std::size_t>(y) * c.Width + x];
            const unsigned a = src >> 24;
            if (a == 0) continue;
            std::uint32_t& dst = picture.Pixels[static_cast<std::size_t>(py) * picture.Width + px];
            std::uint32_t out = 0;
            for (int shift = 0; shift <= 16; shift += 8) {
                // Premultiplied: source + destination x (1 - alpha).
                const unsigned s = (src >> shift) & 0xFF, d = (dst >> shift) & 0xFF;
                out |= std::min(255u, s + (d * (255 - a) + 127) / 255) << shift;
            }
            dst = out;
        }
    }
}

std::vector<std::uint8_t> EncodeScreenshotPng(const ui::TScreenPicture& picture)
{
    if (picture.Width <= 0 || picture.Height <= 0 ||
        picture.Pixels.size() != static_cast<std::size_t>(picture.Width) * picture.Height)
        return {};
    TOctree tree;
    tree.AddPixels(picture.Pixels.data(), picture.Pixels.size());
    const TPalette palette = tree.Palette();
    TNearestColor map(palette);
    std::vector<std::uint8_t> indices(picture.Pixels.size());
    map.MapPixels(picture.Pixels.data(), picture.Pixels.size(), indices.data());
    return EncodePng8(picture.Width, picture.Height, indices.data(), palette);
}

bool TScreenshot::Capture(bool foregroundOnly)
{
    Release();
    ui::TScreenPicture picture;
    if (!ui::CaptureScreenPicture(foregroundOnly, picture)) return false;
    Assign(std::move(picture));
    return true;
}

bool TScreenshot::Capture(const TTavrelModuleOptions& options)
{
    return Capture(options.SendFlags().Contains(sfScreenshotForegroundOnly));
}

void TScreenshot::Assign(ui::TScreenPicture picture)
{
    picture_ = std::move(picture);
    OutlineFocusWindow(picture_);
    DrawCursor(picture_);
    hasPicture_ = true;
}

bool TScreenshot::Save(const std::string& fileName) const
{
    if (fileName.empty() || !hasPicture_) return false;
    const std::vector<std::uint8_t> png = EncodeScreenshotPng(picture_);
    if (png.empty()) return false;
    try {
        codecs::WriteFileReplacing(fileName, png);
        return true;
    } catch (const codecs::EFWriteError&) {
        return false; // the previous file, if any, is untouched
    }
}

void TScreenshot::Release()
{
    picture_ = ui::TScreenPicture{};
    hasPicture_ = false;
}

namespace {
std::mutex g_reportMutex;
TScreenshot g_report;
} // namespace

bool CaptureReportScreenshot(const TTavrelModuleOptions* options)
{
    if (!options) options = QueryCurrentOptions();
    const bool foregroundOnly = options && options->SendFlags().Contains(sfScreenshotForegroundOnly);
    std::lock_guard lock(g_reportMutex);
    return g_report.Capture(foregroundOnly);
}

bool SaveReportScreenshot(const std::string& fileName)
{
    std::lock_guard lock(g_reportMutex);
    return g_report.Save(fileName);
}

void ReleaseReportScreenshot()
{
    std::lock_guard lock(g_reportMutex);
    g_report.Release();
}

bool ReportScreenshotTaken()
{
    std::lock_guard lock(g_reportMutex);
    return g_report.HasPicture();
}

std::string ScreenshotFileName(const TTavrelModuleOptions& options)
{
    if (!options.SendFlags().Contains(sfAttachScreenshot)) return {};
    return codecs::TemporaryFolder() + kScreenshotFileName;
}

} // namespace crashreport::screenshot
