// Shows a photograph-like picture over the whole screen, then takes the
// report's screenshot of it RUNS times (capture, reduction, PNG file) and
// prints the best time in seconds. Also leaves the captured picture as a PPM
// for the comparison with ImageMagick (run.sh).
//
//   screenshot_bench OUT.png CAPTURED.ppm RUNS
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>

#include "crashreport/delivery/screenshot/screenshot.h"
#include "platform/ui/backend.h"
#include "platform/ui/form.h"
#include "tests/crashreport/delivery/screenshot/test_pictures.h"

namespace {

struct PictureForm : ui::Form {
    gdi::Bitmap picture;
    void Paint(gdi::Canvas& c) override { c.Draw(0, 0, picture); }
};

void PumpFor(int ms)
{
    const auto end = ui::TickCount() + static_cast<unsigned>(ms);
    while (ui::TickCount() < end) {
        ui::WaitMessage(10);
        ui::PumpPending(false);
    }
}

} // namespace

int main(int argc, char** argv)
{
    if (argc != 4) {
        std::fprintf(stderr, "usage: %s OUT.png CAPTURED.ppm RUNS\n", argv[0]);
        return 2;
    }
    const std::string out = argv[1], ppm = argv[2];
    const int runs = std::max(1, std::atoi(argv[3]));
    if (!ui::X11DisplayReachable() || !ui::SelectBackend(ui::BackendKind::bkX11)) {
        std::fprintf(stderr, "no X display\n");
        return 1;
    }
    const ui::TSize screen = ui::ThreadConnection().ScreenSize();
    PictureForm form;
    form.picture = gdi::Bitmap(screen.cx, screen.cy);
    const auto photo = screenshot_test::PhotoLike(screen.cx, screen.cy);
    for (int y = 0; y < screen.cy; ++y) {
        std::uint8_t* row = form.picture.ScanLine(y);
        for (int x = 0; x < screen.cx; ++x) {
            const std::uint32_t p = photo[static_cast<size_t>(y) * screen.cx + x];
            row[3 * x] = static_cast<std::uint8_t>(p);
            row[3 * x + 1] = static_cast<std::uint8_t>(p >> 8);
            row[3 * x + 2] = static_cast<std::uint8_t>(p >> 16);
        }
    }
    form.SetBounds(0, 0, screen.cx, screen.cy);
    form.Show();
    PumpFor(500);
    std::system("xdotool mousemove 700 500 2>/dev/null");
    PumpFor(100);

    double best = 1e9;
    crashreport::screenshot::TScreenshot shot;
    for (int i = 0; i < runs; ++i) {
        const auto t0 = std::chrono::steady_clock::now();
        if (!shot.Capture(false) || !shot.Save(out)) {
            std::fprintf(stderr, "no screenshot\n");
            return 1;
        }
        const double s = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
        best = std::min(best, s);
    }
    const ui::TScreenPicture& p = shot.Picture();
    std::ofstream f(ppm, std::ios::binary);
    f << "P6\n" << p.Width << " " << p.Height << "\n255\n";
    for (std::uint32_t v : p.Pixels) {
        const char rgb[3] = {static_cast<char>(v >> 16), static_cast<char>(v >> 8), static_cast<char>(v)};
        f.write(rgb, 3);
    }
    std::printf("%.4f\n", best);
    return 0;
}
