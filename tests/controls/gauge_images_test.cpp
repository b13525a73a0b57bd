// Writes a picture of each gauge kind at 42 %: into docs/images when
// VEK_WRITE_DOCS_IMAGES=1, otherwise into the build directory.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include "controls/gauge.h"

using namespace controls;

namespace {

std::filesystem::path ImageFolder()
{
    const char* flag = std::getenv("VEK_WRITE_DOCS_IMAGES");
    if (flag != nullptr && std::string(flag) == "1") return std::filesystem::path(VEK_SOURCE_DIR) / "docs" / "images";
    return std::filesystem::path(VEK_BUILD_DIR) / "docs-images";
}

struct Sample {
    const char* name;
    TGaugeKind kind;
    int width, height;
};

} // namespace

TEST(GaugeImagesTest, WritesEachKindAtFortyTwoPercent)
{
    const Sample samples[] = {
        {"text", gkText, 100, 24},
        {"horizontal-bar", gkHorizontalBar, 249, 20},
        {"vertical-bar", gkVerticalBar, 32, 100},
        {"pie", gkPie, 100, 100},
        {"needle", gkNeedle, 100, 60},
    };
    std::filesystem::path folder = ImageFolder();
    std::filesystem::create_directories(folder);
    for (const Sample& s : samples) {
        TGauge g;
        g.SetBounds(0, 0, s.width, s.height);
        g.SetKind(s.kind);
        // As on the converter's main window.
        g.SetForeColor(gdi::clGradientActiveCaption);
        g.SetProgress(42);
        gdi::Canvas canvas(s.width, s.height);
        g.Paint(canvas);
        std::filesystem::path file = folder / (std::string("gauge-") + s.name + ".png");
        canvas.SaveToPng(file.string());
        EXPECT_GT(std::filesystem::file_size(file), 100u) << file;
    }
}
