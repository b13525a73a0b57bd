// The screenshot's colour reduction and PNG file, read back by real decoders
// (pngcheck, Python's imaging library, ImageMagick's identify), and the
// drawing of the focus outline and the cursor into a picture.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <set>
#include <string>

#include "crashreport/codecs/file_io.h"
#include "crashreport/delivery/screenshot/octree.h"
#include "crashreport/delivery/screenshot/png8_writer.h"
#include "crashreport/delivery/screenshot/screenshot.h"
#include "crashreport/options/module_options.h"
#include "platform/ui/backend.h"
#include "tests/crashreport/delivery/screenshot/test_pictures.h"
#include "tests/support/run_command.h"
#include "tests/support/temp_dir.h"

using namespace crashreport::screenshot;
using screenshot_test::FewColors;
using screenshot_test::PhotoLike;
using screenshot_test::Psnr;
using testing_support::HaveProgram;
using testing_support::RunCommand;

namespace {

const char* kPython = "/usr/bin/python3";

bool HavePil() { return RunCommand(std::string(kPython) + " -c 'import PIL' 2>/dev/null && echo y") == "y\n"; }

ui::TScreenPicture Picture(int w, int h, std::vector<std::uint32_t> px)
{
    ui::TScreenPicture p;
    p.Width = w;
    p.Height = h;
    p.Pixels = std::move(px);
    return p;
}

// The PNG decoded by PIL: mode, size and the pixels as 0x00RRGGBB.
struct Decoded {
    std::string Mode;
    int Width = 0, Height = 0, PaletteEntries = 0;
    std::vector<std::uint32_t> Pixels;
};

Decoded DecodeWithPil(const std::string& png, const std::string& rawOut)
{
    const std::string script = "import sys; from PIL import Image; im = Image.open(sys.argv[1]); im.load(); "
                               "print(im.mode, im.size[0], im.size[1], len(im.getpalette() or []) // 3); "
                               "open(sys.argv[2], 'wb').write(im.convert('RGB').tobytes())";
    const std::string out = RunCommand(std::string(kPython) + " -c \"" + script + "\" '" + png + "' '" + rawOut + "'");
    Decoded d;
    char mode[16] = {};
    if (std::sscanf(out.c_str(), "%15s %d %d %d", mode, &d.Width, &d.Height, &d.PaletteEntries) != 4) return d;
    d.Mode = mode;
    std::ifstream in(rawOut, std::ios::binary);
    std::vector<unsigned char> rgb((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    for (size_t i = 0; i + 2 < rgb.size(); i += 3)
        d.Pixels.push_back((std::uint32_t{rgb[i]} << 16) | (std::uint32_t{rgb[i + 1]} << 8) | rgb[i + 2]);
    return d;
}

struct ScreenshotPng : ::testing::Test {
    testing_support::TempDir dir;
    std::string Path(const char* name) { return dir.path() + "/" + name; }
    void Write(const std::string& path, const ui::TScreenPicture& p)
    {
        TScreenshot shot;
        shot.Assign(p);
        ASSERT_TRUE(shot.Save(path));
    }
    void NeedDecoders()
    {
        if (!HaveProgram("pngcheck") || !HaveProgram("identify") || !HavePil())
            GTEST_SKIP() << "pngcheck, identify and python3-pil are needed (scripts/setup.sh installs them)";
    }
};

} // namespace

// Fewer than 256 colours: one table entry per colour, and every pixel comes
// back exactly, in a width (1023) that is not a multiple of 4.
TEST_F(ScreenshotPng, FewColoursComeBackExactlyWithOddWidth)
{
    NeedDecoders();
    for (int count : {2, 200, 256}) {
        SCOPED_TRACE(count);
        const auto px = FewColors(1023, 768, count);
        TOctree tree;
        tree.AddPixels(px.data(), px.size());
        EXPECT_EQ(tree.LeafCount(), count);
        const std::vector<TRgb> colors = tree.Colors();
        std::set<std::uint32_t> table;
        for (const TRgb& c : colors) table.insert((std::uint32_t{c.R} << 16) | (std::uint32_t{c.G} << 8) | c.B);
        EXPECT_EQ(table, std::set<std::uint32_t>(px.begin(), px.end()));

        const std::string png = Path("few.png");
        Write(png, Picture(1023, 768, px));
        const Decoded d = DecodeWithPil(png, Path("few.rgb"));
        EXPECT_EQ(d.Mode, "P");
        EXPECT_EQ(d.Width, 1023);
        EXPECT_EQ(d.Height, 768);
        EXPECT_EQ(d.PaletteEntries, 256);
        ASSERT_EQ(d.Pixels.size(), px.size());
        EXPECT_TRUE(d.Pixels == px);
    }
}

// A photograph-like picture: valid chunks and CRCs, an 8-bit palette of the
// right size, and a colour error under the floor of 34 dB PSNR (36.7 dB measured).
TEST_F(ScreenshotPng, PhotographIsValidIndexedPngAboveThePsnrFloor)
{
    NeedDecoders();
    const int w = 800, h = 600;
    const auto px = PhotoLike(w, h);
    const std::string png = Path("photo.png");
    Write(png, Picture(w, h, px));

    int status = -1;
    const std::string check = RunCommand("pngcheck -v '" + png + "' 2>&1", &status);
    EXPECT_EQ(status, 0) << check;
    EXPECT_NE(check.find("800 x 600 image, 8-bit palette, non-interlaced"), std::string::npos) << check;
    EXPECT_NE(check.find("length 768: 256 palette entries"), std::string::npos) << check;
    EXPECT_NE(check.find("No errors detected"), std::string::npos) << check;

    EXPECT_EQ(RunCommand("identify -format '%w %h %m %[png:IHDR.color-type-orig] %[png:IHDR.bit-depth-orig]' '" + png +
                         "' 2>&1"),
              "800 600 PNG 3 8");

    const Decoded d = DecodeWithPil(png, Path("photo.rgb"));
    ASSERT_EQ(d.Pixels.size(), px.size());
    const double psnr = Psnr(px, d.Pixels);
    RecordProperty("psnr_db", std::to_string(psnr));
    EXPECT_GT(psnr, 34.0);
}

// A picture larger than the compressor's buffer: several IDAT chunks, none
// over 262,143 bytes, all full but the last; the decoders accept the file.
TEST_F(ScreenshotPng, LargePictureIsCutIntoBoundedIdatChunks)
{
    NeedDecoders();
    const int w = 1280, h = 1024;
    std::vector<std::uint8_t> idx(static_cast<size_t>(w) * h);
    for (size_t i = 0; i < idx.size(); ++i)
        idx[i] = static_cast<std::uint8_t>(screenshot_test::Hash(static_cast<std::uint32_t>(i)));
    TPalette palette{};
    for (int i = 0; i < kPaletteSize; ++i)
        palette[i] = TRgb{static_cast<std::uint8_t>(i), static_cast<std::uint8_t>(255 - i), 7};
    const std::vector<std::uint8_t> file = EncodePng8(w, h, idx.data(), palette);
    ASSERT_GT(file.size(), 8u);

    std::vector<std::uint32_t> idatLengths;
    for (size_t at = 8; at + 12 <= file.size();) {
        const std::uint32_t len = (std::uint32_t{file[at]} << 24) | (std::uint32_t{file[at + 1]} << 16) |
            (std::uint32_t{file[at + 2]} << 8) | file[at + 3];
        if (std::string(reinterpret_cast<const char*>(&file[at + 4]), 4) == "IDAT") idatLengths.push_back(len);
        at += 12 + len;
    }
    ASSERT_GE(idatLengths.size(), 5u); // 1.3 MB of noise does not compress
    for (size_t i = 0; i + 1 < idatLengths.size(); ++i) EXPECT_EQ(idatLengths[i], kIdatBufferSize);
    EXPECT_LE(idatLengths.back(), kIdatBufferSize);

    const std::string png = Path("noise.png");
    crashreport::codecs::WriteFileReplacing(png, file);
    int status = -1;
    const std::string check = RunCommand("pngcheck '" + png + "' 2>&1", &status);
    EXPECT_EQ(status, 0) << check;
    const Decoded d = DecodeWithPil(png, Path("noise.rgb"));
    ASSERT_EQ(d.Pixels.size(), idx.size());
    for (size_t i = 0; i < idx.size(); i += 997) {
        const TRgb c = palette[idx[i]];
        ASSERT_EQ(d.Pixels[i], (std::uint32_t{c.R} << 16) | (std::uint32_t{c.G} << 8) | c.B) << i;
    }
}

// Mapping picks the nearest table entry, which a brute-force search agrees on.
TEST(ScreenshotColours, NearestEntryAgreesWithFullSearch)
{
    const auto px = PhotoLike(300, 200);
    TOctree tree;
    tree.AddPixels(px.data(), px.size());
    EXPECT_LE(tree.LeafCount(), 256); // a merge can take several leaves at once
    EXPECT_GT(tree.LeafCount(), 200);
    const TPalette palette = tree.Palette();
    TNearestColor map(palette);
    for (std::uint32_t i = 0; i < 20000; ++i) {
        const std::uint32_t c = screenshot_test::Hash(i * 2654435761u) & 0xFFFFFF;
        int best = 0, bestDist = 1 << 30;
        for (int k = 0; k < kPaletteSize; ++k) {
            const int dr = palette[k].R - static_cast<int>(c >> 16),
                      dg = palette[k].G - static_cast<int>((c >> 8) & 0xFF),
                      db = palette[k].B - static_cast<int>(c & 0xFF);
            const int d = dr * dr + dg * dg + db * db;
            if (d < bestDist) {
                bestDist = d;
                best = k;
            }
        }
        ASSERT_EQ(map.Map(c), best) << std::hex << c;
    }
}

// The reduction merges the deepest nodes first: two shades that differ only
// in their lowest bits end up as one entry holding their mean.
TEST(ScreenshotColours, ReductionMergesTheClosestShadesIntoTheirMean)
{
    TOctree tree;
    for (int i = 0; i < 255; ++i) // 255 colours far apart (red differs in the top bits)
        tree.Add(static_cast<std::uint8_t>(i), static_cast<std::uint8_t>((i * 16) & 0xF0), 0x80);
    tree.Add(0x10, 0x10, 0x10);
    tree.Add(0x10, 0x10, 0x11); // 257 leaves: these two are siblings at level 7
    EXPECT_EQ(tree.LeafCount(), 256);
    const std::vector<TRgb> colors = tree.Colors();
    int merged = 0;
    for (const TRgb& c : colors) merged += c == TRgb{0x10, 0x10, 0x10};
    EXPECT_EQ(merged, 1); // (0x10 + 0x11) / 2 = 0x10, integer division
    for (const TRgb& c : colors) EXPECT_FALSE(c == (TRgb{0x10, 0x10, 0x11}));
}

// The focus outline: two red frames, the second one pixel inside the first,
// moved by the picture's origin and clipped to it.
TEST(ScreenshotMarks, FocusOutlineIsTwoRedFramesAtTheWindow)
{
    ui::TScreenPicture p = Picture(40, 30, std::vector<std::uint32_t>(40 * 30, 0x102030));
    p.Origin = {100, 200};
    p.HasFocusRect = true;
    p.FocusRect = {105, 204, 125, 260}; // runs off the bottom
    OutlineFocusWindow(p);
    auto at = [&p](int x, int y) { return p.Pixels[y * p.Width + x]; };
    for (int x = 5; x < 25; ++x) {
        EXPECT_EQ(at(x, 4), 0xFF0000u) << x;
    }
    for (int x = 6; x < 24; ++x) EXPECT_EQ(at(x, 5), 0xFF0000u) << x;
    for (int y = 4; y < 30; ++y) {
        EXPECT_EQ(at(5, y), 0xFF0000u);
        EXPECT_EQ(at(24, y), 0xFF0000u);
    }
    for (int y = 5; y < 30; ++y) {
        EXPECT_EQ(at(6, y), 0xFF0000u);
        EXPECT_EQ(at(23, y), 0xFF0000u);
    }
    // Inside the frames, outside them and above them: untouched.
    EXPECT_EQ(at(7, 6), 0x102030u);
    EXPECT_EQ(at(4, 10), 0x102030u);
    EXPECT_EQ(at(25, 10), 0x102030u);
    EXPECT_EQ(at(10, 3), 0x102030u);
    int red = 0;
    for (auto v : p.Pixels) red += v == 0xFF0000u;
    EXPECT_EQ(red, (20 + 2 * 26 - 2) + (18 + 2 * 25 - 2)); // corners counted once
}

// The cursor: its hot spot lands on the pointer (picture origin taken off),
// opaque pixels replace the screen, transparent ones leave it, and partly
// transparent ones blend (premultiplied).
TEST(ScreenshotMarks, CursorIsDrawnWithItsHotSpotOnThePointer)
{
    ui::TScreenPicture p = Picture(50, 50, std::vector<std::uint32_t>(50 * 50, 0x808080));
    p.Origin = {10, 20};
    p.HasCursor = true;
    p.Cursor.Position = {30, 45};
    p.Cursor.HotSpot = {2, 3};
    p.Cursor.Width = 4;
    p.Cursor.Height = 4;
    p.Cursor.Argb.assign(16, 0);            // transparent
    p.Cursor.Argb[0] = 0xFF0000FFu;         // opaque blue at (0, 0)
    p.Cursor.Argb[2 + 3 * 4] = 0xFF00FF00u; // opaque green at the hot spot
    p.Cursor.Argb[3] = 0x80400000u;         // half-transparent red, premultiplied
    DrawCursor(p);
    auto at = [&p](int x, int y) { return p.Pixels[y * p.Width + x]; };
    // Top-left of the cursor = pointer - hot spot - origin = (18, 22).
    EXPECT_EQ(at(18, 22), 0x0000FFu);
    EXPECT_EQ(at(20, 25), 0x00FF00u);
    EXPECT_EQ(at(21, 22), 0x804040u); // 0x40 + 0x80 * 127 / 255 = 0x80; 0x80 * 127 / 255 = 0x40
    EXPECT_EQ(at(19, 22), 0x808080u);
    int changed = 0;
    for (auto v : p.Pixels) changed += v != 0x808080u;
    EXPECT_EQ(changed, 3);
}

// Saving: an empty name or no picture writes nothing; an unwritable place
// leaves no file behind; the file name follows sfAttachScreenshot.
TEST_F(ScreenshotPng, SaveWritesOnlyWhereAndWhenAsked)
{
    TScreenshot shot;
    EXPECT_FALSE(shot.Save(Path("none.png")));
    EXPECT_NE(access(Path("none.png").c_str(), F_OK), 0);
    shot.Assign(Picture(3, 2, std::vector<std::uint32_t>(6, 0xABCDEF)));
    EXPECT_FALSE(shot.Save(""));
    EXPECT_FALSE(shot.Save(Path("missing-dir/Screenshot.png")));
    EXPECT_NE(access(Path("missing-dir").c_str(), F_OK), 0);
    const mode_t mask = ::umask(0);
    EXPECT_TRUE(shot.Save(Path("ok.png")));
    ::umask(mask);
    struct stat saved {};
    ASSERT_EQ(::stat(Path("ok.png").c_str(), &saved), 0);
    EXPECT_EQ(saved.st_mode & 07777, 0600u) << "the screen may show secrets: owner-only";
    shot.Release();
    EXPECT_FALSE(shot.HasPicture());
    EXPECT_FALSE(shot.Save(Path("after-release.png")));
    EXPECT_NE(access(Path("after-release.png").c_str(), F_OK), 0);

    crashreport::TTavrelModuleOptions options("", false);
    auto flags = options.SendFlags();
    flags.Exclude(crashreport::sfAttachScreenshot);
    options.SetSendFlags(flags);
    EXPECT_EQ(ScreenshotFileName(options), "");
    flags.Include(crashreport::sfAttachScreenshot);
    options.SetSendFlags(flags);
    setenv("TMPDIR", dir.path().c_str(), 1);
    EXPECT_EQ(ScreenshotFileName(options), dir.path() + "/Screenshot.png");
}

// Without a display the capture answers "no picture" and keeps none.
TEST(ScreenshotHeadless, CaptureAnswersNoPicture)
{
    ASSERT_TRUE(ui::SelectBackend(ui::BackendKind::bkHeadless));
    TScreenshot shot;
    EXPECT_FALSE(shot.Capture(false));
    EXPECT_FALSE(shot.Capture(true));
    EXPECT_FALSE(shot.HasPicture());
    EXPECT_FALSE(CaptureReportScreenshot(nullptr));
    EXPECT_FALSE(ReportScreenshotTaken());
}
