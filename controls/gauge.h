#pragma once
// A window-less gauge that shows a value between a minimum and a maximum as
// text, a horizontal or vertical bar, a pie or a needle, with the percentage
// written over it in inverted colours. Each painting is composed off-screen
// and copied to the surface in one step, so the gauge does not flicker.
//
// Setting a property that changes the picture repaints at once, through the
// host's repaint handler: a long operation that blocks the message loop can
// still move the gauge. Setting Progress repaints only when the whole-number
// percentage changes.
#include <cstdint>

#include "controls/graphic_control.h"

namespace controls {

enum TGaugeKind { gkText, gkHorizontalBar, gkVerticalBar, gkPie, gkNeedle };
enum TBorderStyle { bsNone, bsSingle };

class TGauge : public TGraphicControl {
public:
    explicit TGauge(rtl::TComponent* owner = nullptr);

    TGaugeKind Kind() const { return kind_; }
    void SetKind(TGaugeKind kind);
    bool ShowText() const { return showText_; }
    void SetShowText(bool value);
    TBorderStyle BorderStyle() const { return borderStyle_; }
    void SetBorderStyle(TBorderStyle style);
    gdi::TColor ForeColor() const { return foreColor_; }
    void SetForeColor(gdi::TColor color);
    gdi::TColor BackColor() const { return backColor_; }
    void SetBackColor(gdi::TColor color);

    int32_t MinValue() const { return minValue_; }
    // Throws EInvalidOperation for a value above MaxValue, except while loading.
    void SetMinValue(int32_t value);
    int32_t MaxValue() const { return maxValue_; }
    // Throws EInvalidOperation for a value below MinValue, except while loading.
    void SetMaxValue(int32_t value);
    int32_t Progress() const { return progress_; }
    // Clamps the value into MinValue..MaxValue.
    void SetProgress(int32_t value);

    // 0 when MaxValue = MinValue, else the share of the range that Progress
    // has reached, in whole per cent (truncated).
    int PercentComplete() const;

    void Paint(gdi::Canvas& canvas) override;

private:
    TGaugeKind kind_ = gkHorizontalBar;
    bool showText_ = true;
    TBorderStyle borderStyle_ = bsSingle;
    gdi::TColor foreColor_ = gdi::clBlack;
    gdi::TColor backColor_ = gdi::clWhite;
    int32_t minValue_ = 0;
    int32_t maxValue_ = 100;
    int32_t progress_ = 0;
};

} // namespace controls
