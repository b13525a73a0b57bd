// Hosting a window-less control: painting inside its bounds on the parent's
// canvas, invalidation of old and new bounds, the parent's colour and font.
#include <gtest/gtest.h>

#include <vector>

#include "controls/gauge.h"

using namespace controls;
using gdi::TRect;

TEST(GraphicControlTest, PaintOnDrawsInsideTheBoundsOnly)
{
    gdi::Canvas parent(60, 30);
    parent.Brush.Color = gdi::clBtnFace;
    parent.FillRect(TRect{0, 0, 60, 30});
    TGauge g;
    g.SetBounds(10, 5, 40, 10);
    g.SetForeColor(gdi::clRed);
    g.SetShowText(false);
    g.SetProgress(100);
    g.PaintOn(parent);
    EXPECT_EQ(parent.Pixel(10, 5), gdi::clBlack);  // border
    EXPECT_EQ(parent.Pixel(49, 14), gdi::clBlack); // border
    EXPECT_EQ(parent.Pixel(12, 7), gdi::clRed);    // bar
    const gdi::TColor face = gdi::ColorToRGB(gdi::clBtnFace);
    EXPECT_EQ(parent.Pixel(9, 5), face);
    EXPECT_EQ(parent.Pixel(50, 5), face);
    EXPECT_EQ(parent.Pixel(10, 15), face);
    EXPECT_EQ(parent.Pixel(10, 4), face);
}

TEST(GraphicControlTest, HostIsToldOfOldAndNewBounds)
{
    TGauge g;
    g.SetBounds(0, 0, 10, 10);
    std::vector<TRect> invalidated;
    g.SetInvalidateHandler([&](TGraphicControl&, const TRect& r) { invalidated.push_back(r); });
    g.SetBounds(48, 72, 249, 20);
    ASSERT_EQ(invalidated.size(), 2u);
    EXPECT_EQ(invalidated[0], (TRect{0, 0, 10, 10}));
    EXPECT_EQ(invalidated[1], (TRect{48, 72, 297, 92}));
    g.SetBounds(48, 72, 249, 20);
    EXPECT_EQ(invalidated.size(), 2u);
    g.SetVisible(false); // the parent must paint where the control was
    ASSERT_EQ(invalidated.size(), 3u);
    g.SetColor(gdi::clRed); // hidden: nothing to paint
    EXPECT_EQ(invalidated.size(), 3u);
}

TEST(GraphicControlTest, ParentColourAndFontAreAdoptedUntilSetExplicitly)
{
    TGauge g;
    gdi::TFont parentFont;
    parentFont.Name = "Courier New";
    parentFont.Height = -13;
    g.ParentChanged(gdi::clYellow, parentFont);
    EXPECT_EQ(g.Color(), gdi::clYellow);
    EXPECT_EQ(g.Font().Name, "Courier New");
    g.SetColor(gdi::clAqua);
    EXPECT_FALSE(g.ParentColor());
    g.ParentChanged(gdi::clYellow, parentFont);
    EXPECT_EQ(g.Color(), gdi::clAqua);
    EXPECT_TRUE(g.ParentFont());
}

TEST(GraphicControlTest, ControlColourShowsAroundThePie)
{
    TGauge g;
    g.SetKind(gkPie);
    g.SetShowText(false);
    g.SetColor(gdi::clLime);
    gdi::Canvas c(100, 100);
    g.Paint(c);
    EXPECT_EQ(c.Pixel(3, 3), gdi::clLime);
    EXPECT_EQ(c.Pixel(50, 50), gdi::clWhite);
}

TEST(GraphicControlTest, OwnerDestroysTheControl)
{
    rtl::TComponent owner;
    auto* g = new TGauge(&owner);
    g->Name = "Gauge1";
    ASSERT_EQ(owner.Components().size(), 1u);
    EXPECT_EQ(owner.Components()[0], g);
}

// A host that outlived its control would call into a destroyed object: the
// wrong order of ownership stops the program at once.
TEST(GraphicControlDeathTest, DestroyingAHostedControlStopsTheProgram)
{
    EXPECT_DEATH(
        {
            auto* g = new controls::TGauge;
            g->Name = "Gauge1";
            int host = 0;
            g->SetHost(&host);
            delete g;
        },
        "TGraphicControl \"Gauge1\" destroyed while a window still hosts it");
    controls::TGauge g; // unhosted before it goes: fine
    int host = 0;
    g.SetHost(&host);
    EXPECT_EQ(g.Host(), &host);
    g.SetHost(nullptr);
}
