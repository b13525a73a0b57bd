#include "controls/gauge.h"

#include <cinttypes>
#include <climits>
#include <cmath>

#include "controls/control_errors.h"
#include "platform/rtl/format.h"

namespace controls {

namespace {

// The message's bounds are computed in 64 bits: at the ends of the 32-bit
// range MinValue + 1 or MaxValue - 1 would overflow.
[[noreturn]] void RefuseValue(int64_t low, int64_t high)
{
    throw EInvalidOperation(rtl::Format("Value must be between %" PRId64 " and %" PRId64, low, high));
}

} // namespace

TGauge::TGauge(rtl::TComponent* owner) : TGraphicControl(owner)
{
    SetStyle(csFramed | csOpaque);
    SetBounds(0, 0, 100, 100);
}

void TGauge::SetKind(TGaugeKind kind)
{
    if (kind == kind_) return;
    kind_ = kind;
    Repaint();
}

void TGauge::SetShowText(bool value)
{
    if (value == showText_) return;
    showText_ = value;
    Repaint();
}

void TGauge::SetBorderStyle(TBorderStyle style)
{
    if (style == borderStyle_) return;
    borderStyle_ = style;
    Repaint();
}

void TGauge::SetForeColor(gdi::TColor color)
{
    if (color == foreColor_) return;
    foreColor_ = color;
    Repaint();
}

void TGauge::SetBackColor(gdi::TColor color)
{
    if (color == backColor_) return;
    backColor_ = color;
    Repaint();
}

void TGauge::SetMinValue(int32_t value)
{
    if (value == minValue_) return;
    if (value > maxValue_ && !Loading()) RefuseValue(-2147483647, int64_t{maxValue_} - 1);
    minValue_ = value;
    if (progress_ < minValue_) progress_ = minValue_;
    Repaint();
}

void TGauge::SetMaxValue(int32_t value)
{
    if (value == maxValue_) return;
    if (value < minValue_ && !Loading()) RefuseValue(int64_t{minValue_} + 1, 2147483647);
    maxValue_ = value;
    if (progress_ > maxValue_) progress_ = maxValue_;
    Repaint();
}

void TGauge::SetProgress(int32_t value)
{
    if (value < minValue_)
        value = minValue_;
    else if (value > maxValue_)
        value = maxValue_;
    if (value == progress_) return;
    int before = PercentComplete();
    progress_ = value;
    if (PercentComplete() != before) Repaint();
}

int TGauge::PercentComplete() const
{
    if (maxValue_ == minValue_) return 0;
    double share = (static_cast<double>(progress_) - minValue_) * 100.0 / (static_cast<double>(maxValue_) - minValue_);
    // Only a range left inverted by loading can go outside 0..100.
    if (share >= static_cast<double>(INT_MAX)) return INT_MAX;
    if (share <= static_cast<double>(INT_MIN)) return INT_MIN;
    return static_cast<int>(std::trunc(share));
}

} // namespace controls
