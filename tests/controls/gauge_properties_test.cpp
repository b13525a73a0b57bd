#include <gtest/gtest.h>

#include <climits>
#include <string>

#include "controls/control_errors.h"
#include "controls/gauge.h"

using namespace controls;

namespace {

// Counts the paintings the host is asked for.
struct CountingHost {
    int repaints = 0;
    explicit CountingHost(TGauge& g)
    {
        g.SetRepaintHandler([this](TGraphicControl&) { ++repaints; });
    }
};

std::string MessageOf(const std::function<void()>& f)
{
    try {
        f();
    } catch (const EInvalidOperation& e) {
        return e.Message;
    }
    return "(no error)";
}

} // namespace

TEST(GaugePropertiesTest, Defaults)
{
    TGauge g;
    EXPECT_EQ(g.Width(), 100);
    EXPECT_EQ(g.Height(), 100);
    EXPECT_EQ(g.Kind(), gkHorizontalBar);
    EXPECT_EQ(g.BorderStyle(), bsSingle);
    EXPECT_EQ(g.ForeColor(), gdi::clBlack);
    EXPECT_EQ(g.BackColor(), gdi::clWhite);
    EXPECT_TRUE(g.ShowText());
    EXPECT_EQ(g.MinValue(), 0);
    EXPECT_EQ(g.MaxValue(), 100);
    EXPECT_EQ(g.Progress(), 0);
    EXPECT_EQ(g.Style(), csFramed | csOpaque);
}

TEST(GaugePropertiesTest, ProgressIsClampedIntoTheRange)
{
    TGauge g;
    g.SetProgress(150);
    EXPECT_EQ(g.Progress(), 100);
    g.SetProgress(-5);
    EXPECT_EQ(g.Progress(), 0);
    g.SetProgress(42);
    EXPECT_EQ(g.Progress(), 42);
    EXPECT_EQ(g.PercentComplete(), 42);
}

TEST(GaugePropertiesTest, PercentCompleteTruncatesAndHandlesEmptyRange)
{
    TGauge g;
    g.SetMaxValue(3);
    g.SetProgress(2);
    EXPECT_EQ(g.PercentComplete(), 66); // 66.67 truncated
    g.SetMinValue(-3);
    g.SetProgress(-2);
    EXPECT_EQ(g.PercentComplete(), 16); // 1/6
    g.SetMinValue(3);
    EXPECT_EQ(g.Progress(), 3);        // raised with the minimum
    EXPECT_EQ(g.PercentComplete(), 0); // MinValue = MaxValue
    g.SetProgress(10);
    EXPECT_EQ(g.PercentComplete(), 0);
}

TEST(GaugePropertiesTest, FullSignedRangeDoesNotOverflow)
{
    TGauge g;
    g.SetMaxValue(INT_MAX);
    g.SetMinValue(INT_MIN);
    g.SetProgress(0);
    EXPECT_EQ(g.PercentComplete(), 50);
    g.SetProgress(INT_MAX);
    EXPECT_EQ(g.PercentComplete(), 100);
}

TEST(GaugePropertiesTest, RangeErrorsNameTheAllowedValuesAndChangeNothing)
{
    TGauge g;
    g.SetProgress(30);
    CountingHost host(g);
    EXPECT_EQ(MessageOf([&] { g.SetMaxValue(-1); }), "Value must be between 1 and 2147483647");
    EXPECT_EQ(MessageOf([&] { g.SetMinValue(101); }), "Value must be between -2147483647 and 99");
    EXPECT_EQ(g.MinValue(), 0);
    EXPECT_EQ(g.MaxValue(), 100);
    EXPECT_EQ(g.Progress(), 30);
    EXPECT_EQ(host.repaints, 0);
    // The error is the runtime's base class too.
    EXPECT_THROW(g.SetMaxValue(-7), rtl::Exception);
}

TEST(GaugePropertiesTest, RangeErrorAtTheEndsOfTheIntegerRange)
{
    TGauge g;
    g.SetMaxValue(INT_MAX);
    g.SetMinValue(INT_MAX);
    EXPECT_EQ(MessageOf([&] { g.SetMaxValue(0); }), "Value must be between 2147483648 and 2147483647");
    g.SetMinValue(INT_MIN);
    g.SetMaxValue(INT_MIN);
    EXPECT_EQ(MessageOf([&] { g.SetMinValue(0); }), "Value must be between -2147483647 and -2147483649");
}

TEST(GaugePropertiesTest, LoadingAcceptsAnyOrderOfRangeValues)
{
    TGauge g;
    g.BeginLoading();
    g.SetMinValue(200); // stored layouts set the minimum before the maximum
    g.SetMaxValue(300);
    g.EndLoading();
    EXPECT_EQ(g.MinValue(), 200);
    EXPECT_EQ(g.MaxValue(), 300);
    EXPECT_EQ(g.Progress(), 200);
    EXPECT_THROW(g.SetMinValue(301), EInvalidOperation);
}

TEST(GaugePropertiesTest, LoweringTheMaximumMovesProgressDown)
{
    TGauge g;
    g.SetProgress(80);
    g.SetMaxValue(50);
    EXPECT_EQ(g.Progress(), 50);
    EXPECT_EQ(g.PercentComplete(), 100);
}

TEST(GaugeRepaintTest, AppearanceSettersRepaintOnlyOnChange)
{
    TGauge g;
    CountingHost host(g);
    g.SetKind(gkHorizontalBar);
    g.SetShowText(true);
    g.SetBorderStyle(bsSingle);
    g.SetForeColor(gdi::clBlack);
    g.SetBackColor(gdi::clWhite);
    g.SetMinValue(0);
    g.SetMaxValue(100);
    EXPECT_EQ(host.repaints, 0);
    g.SetKind(gkPie);
    g.SetShowText(false);
    g.SetBorderStyle(bsNone);
    g.SetForeColor(gdi::clRed);
    g.SetBackColor(gdi::clBlue);
    g.SetMinValue(-10);
    g.SetMaxValue(10);
    EXPECT_EQ(host.repaints, 7);
}

TEST(GaugeRepaintTest, ProgressRepaintsOnlyWhenThePercentageChanges)
{
    TGauge g;
    g.SetMaxValue(1000);
    CountingHost host(g);
    for (int v = 0; v < 10; ++v) g.SetProgress(v); // all 0 %
    EXPECT_EQ(host.repaints, 0);
    g.SetProgress(10); // 1 %
    EXPECT_EQ(host.repaints, 1);
    g.SetProgress(10);
    g.SetProgress(19);
    EXPECT_EQ(host.repaints, 1);
    for (int v = 0; v <= 1000; ++v) g.SetProgress(v);
    EXPECT_EQ(host.repaints, 1 + 100 + 1); // back to 0 %, then each of 1..100 %
    g.SetProgress(5000);                   // clamped to the current value: nothing
    EXPECT_EQ(host.repaints, 102);
}

TEST(GaugeRepaintTest, RepaintHappensBeforeTheSetterReturns)
{
    TGauge g;
    g.SetBounds(0, 0, 50, 10);
    gdi::Canvas screen(50, 10);
    int seen = -1;
    g.SetRepaintHandler([&](TGraphicControl& c) {
        seen = g.Progress();
        c.PaintOn(screen);
    });
    g.SetProgress(100);
    EXPECT_EQ(seen, 100);
    EXPECT_EQ(screen.Pixel(2, 1), gdi::clBlack); // the bar is on the surface already
    EXPECT_EQ(screen.Pixel(47, 1), gdi::clBlack);
}

TEST(GaugeRepaintTest, NoRepaintWhileHiddenOrLoading)
{
    TGauge g;
    CountingHost host(g);
    g.SetVisible(false);
    g.SetProgress(50);
    g.SetKind(gkPie);
    EXPECT_EQ(host.repaints, 0);
    g.SetVisible(true);
    g.BeginLoading();
    g.SetProgress(60);
    g.SetKind(gkNeedle);
    g.EndLoading();
    EXPECT_EQ(host.repaints, 0);
    g.SetProgress(70);
    EXPECT_EQ(host.repaints, 1);
}
