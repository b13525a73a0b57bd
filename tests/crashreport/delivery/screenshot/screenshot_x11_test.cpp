// The report's screenshot of a known X screen (Xvfb): a form of one colour
// at a known place holds the focus and the pointer rests on it. The PNG read
// back by PIL shows the red outline around the form and the cursor with its
// hot spot on the pointer. Skipped without a display.
#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <set>
#include <string>

#include "crashreport/delivery/screenshot/screenshot.h"
#include "platform/ui/backend.h"
#include "platform/ui/form.h"
#include "tests/platform/ui/x11_input_lock.h"
#include "tests/support/run_command.h"
#include "tests/support/temp_dir.h"

using namespace crashreport::screenshot;
using testing_support::RunCommand;

namespace {

void PumpFor(int ms)
{
    const auto end = ui::TickCount() + static_cast<unsigned>(ms);
    while (ui::TickCount() < end) {
        ui::WaitMessage(10);
        ui::PumpPending(false);
    }
}

constexpr std::uint32_t kFormColour = 0x3C78B4; // RGB(60, 120, 180)

struct Plain : ui::Form {
    void Paint(gdi::Canvas& c) override
    {
        c.Brush.Color = gdi::RGB(60, 120, 180);
        c.FillRect(ClientRect());
    }
};

std::vector<std::uint32_t> DecodeRgb(const std::string& png, const std::string& raw, int& w, int& h)
{
    const std::string out =
        RunCommand("/usr/bin/python3 -c \"import sys; from PIL import Image; im = Image.open(sys.argv[1]); "
                   "print(im.mode, *im.size); open(sys.argv[2], 'wb').write(im.convert('RGB').tobytes())\" '" +
                   png + "' '" + raw + "'");
    char mode[8] = {};
    if (std::sscanf(out.c_str(), "%7s %d %d", mode, &w, &h) != 3 || std::string(mode) != "P") return {};
    std::ifstream in(raw, std::ios::binary);
    std::vector<unsigned char> rgb((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    std::vector<std::uint32_t> px;
    for (size_t i = 0; i + 2 < rgb.size(); i += 3)
        px.push_back((std::uint32_t{rgb[i]} << 16) | (std::uint32_t{rgb[i + 1]} << 8) | rgb[i + 2]);
    return px;
}

struct ScreenshotX11 : ::testing::Test {
    testing_support::X11InputLock lock;
    testing_support::TempDir dir;
    void SetUp() override
    {
        if (!ui::X11DisplayReachable() || !ui::SelectBackend(ui::BackendKind::bkX11))
            GTEST_SKIP() << "no X display reachable";
        if (RunCommand("command -v xdotool >/dev/null && /usr/bin/python3 -c 'import PIL' 2>/dev/null && echo y") !=
            "y\n")
            GTEST_SKIP() << "xdotool and python3-pil are needed";
    }
};

} // namespace

TEST_F(ScreenshotX11, WholeScreenShowsTheFocusOutlineAndTheCursor)
{
    Plain f;
    f.SetBounds(100, 120, 300, 200);
    f.Show();
    PumpFor(200);
    RunCommand("xdotool mousemove 250 200");
    PumpFor(100);

    TScreenshot shot;
    ASSERT_TRUE(shot.Capture(false));
    const ui::TScreenPicture& p = shot.Picture();
    const std::string screen = RunCommand("xdotool getdisplaygeometry");
    EXPECT_EQ(std::to_string(p.Width) + " " + std::to_string(p.Height) + "\n", screen);
    ASSERT_TRUE(p.HasFocusRect);
    EXPECT_EQ(p.FocusRect, (ui::TRect{100, 120, 400, 320}));
    ASSERT_TRUE(p.HasCursor);
    EXPECT_EQ(p.Cursor.Position, (ui::TPoint{250, 200}));

    const std::string png = dir / "Screenshot.png";
    ASSERT_TRUE(shot.Save(png));
    int w = 0, h = 0;
    const std::vector<std::uint32_t> px = DecodeRgb(png, dir / "shot.rgb", w, h);
    ASSERT_EQ(w, p.Width);
    ASSERT_EQ(h, p.Height);
    ASSERT_EQ(px.size(), static_cast<size_t>(w) * h);
    auto at = [&](int x, int y) { return px[static_cast<size_t>(y) * w + x]; };

    // Two red frames on the form's edge, the form's own colour inside.
    for (int x = 100; x < 400; x += 7) {
        EXPECT_EQ(at(x, 120), 0xFF0000u) << x;
        EXPECT_EQ(at(x, 319), 0xFF0000u) << x;
    }
    for (int y = 122; y < 318; y += 7) {
        EXPECT_EQ(at(100, y), 0xFF0000u) << y;
        EXPECT_EQ(at(101, y), 0xFF0000u) << y;
        EXPECT_EQ(at(398, y), 0xFF0000u) << y;
        EXPECT_EQ(at(399, y), 0xFF0000u) << y;
        EXPECT_EQ(at(102, y), kFormColour) << y;
    }
    EXPECT_EQ(at(150, 300), kFormColour);
    EXPECT_NE(at(99, 200), 0xFF0000u);
    EXPECT_NE(at(400, 200), 0xFF0000u);

    // The cursor: its opaque pixels, hot spot on the pointer, are in the
    // file; the form around it keeps its colour.
    const ui::TCursorImage& c = p.Cursor;
    const int left = 250 - c.HotSpot.X, top = 200 - c.HotSpot.Y;
    int opaque = 0, seen = 0;
    for (int y = 0; y < c.Height; ++y)
        for (int x = 0; x < c.Width; ++x) {
            const std::uint32_t argb = c.Argb[static_cast<size_t>(y) * c.Width + x];
            if ((argb >> 24) != 0xFF) continue;
            ++opaque;
            seen += at(left + x, top + y) == (argb & 0xFFFFFF);
        }
    ASSERT_GT(opaque, 10);
    EXPECT_EQ(seen, opaque);
    EXPECT_EQ(at(left - 2, top - 2), kFormColour);
    EXPECT_EQ(at(left + c.Width + 2, top + c.Height + 2), kFormColour);
}

TEST_F(ScreenshotX11, ForegroundOnlyTakesTheActiveWindow)
{
    Plain f;
    f.SetBounds(200, 150, 160, 90);
    f.Show();
    PumpFor(200);
    RunCommand("xdotool mousemove 600 600"); // away from the window
    PumpFor(50);
    TScreenshot shot;
    ASSERT_TRUE(shot.Capture(true));
    const ui::TScreenPicture& p = shot.Picture();
    EXPECT_EQ(p.Origin, (ui::TPoint{200, 150}));
    EXPECT_EQ(p.Width, 160);
    EXPECT_EQ(p.Height, 90);
    // The outline sits on the picture's own border.
    EXPECT_EQ(p.Pixels[0], 0xFF0000u);
    EXPECT_EQ(p.Pixels[static_cast<size_t>(1) * 160 + 1], 0xFF0000u);
    EXPECT_EQ(p.Pixels[static_cast<size_t>(89) * 160 + 159], 0xFF0000u);
    EXPECT_EQ(p.Pixels[static_cast<size_t>(45) * 160 + 80], kFormColour);
    std::set<std::uint32_t> colours(p.Pixels.begin(), p.Pixels.end());
    EXPECT_EQ(colours, (std::set<std::uint32_t>{0xFF0000u, kFormColour}));

    const std::string png = dir / "fg.png";
    ASSERT_TRUE(shot.Save(png));
    int w = 0, h = 0;
    EXPECT_TRUE(DecodeRgb(png, dir / "fg.rgb", w, h) == p.Pixels);
}

TEST_F(ScreenshotX11, ActiveWindowOffTheScreenGivesOnePixel)
{
    Plain f;
    f.SetBounds(-3000, -3000, 100, 80);
    f.Show();
    PumpFor(200);
    TScreenshot shot;
    ASSERT_TRUE(shot.Capture(true));
    EXPECT_EQ(shot.Picture().Width, 1);
    EXPECT_EQ(shot.Picture().Height, 1);
    const std::string png = dir / "one.png";
    ASSERT_TRUE(shot.Save(png));
    EXPECT_NE(RunCommand("pngcheck -v '" + png + "'").find("1 x 1 image, 8-bit palette"), std::string::npos);
}
