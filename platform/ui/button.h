#pragma once
// Push button and check box.
#include <functional>

#include "platform/ui/window.h"

namespace ui {

class Button : public Window {
public:
    explicit Button(Window* parent, const std::string& caption = {});
    // Enter in the form presses the default button, Escape the cancel button.
    bool Default = false;
    bool Cancel = false;
    // When not mrNone, a click ends the modal form with this result.
    int ModalResult = 0;
    std::function<void()> OnClick;
    // Presses the button: sets the form's ModalResult, runs OnClick and
    // notifies the parent (WM_COMMAND, BN_CLICKED).
    virtual void Click();
    void Paint(gdi::Canvas& canvas) override;

protected:
    void MouseDown(TPoint, unsigned button, unsigned) override;
    void MouseUp(TPoint, unsigned button, unsigned) override;
    void DoubleClick(TPoint p, unsigned flags) override { MouseDown(p, MK_LBUTTON, flags); }
    bool KeyDown(unsigned vk, unsigned modifiers) override;
    bool pressed_ = false;
};

class CheckBox : public Button {
public:
    explicit CheckBox(Window* parent, const std::string& caption = {});
    bool Checked() const { return checked_; }
    // The box at the right edge and the text right-aligned before it.
    bool RightAligned = false;
    void SetChecked(bool checked);
    std::function<void()> OnChange;
    void Click() override; // toggles
    void Paint(gdi::Canvas& canvas) override;

private:
    bool checked_ = false;
};

// Static text: one or more lines, left, centred or right.
class StaticText : public Window {
public:
    enum class Alignment { taLeft, taCenter, taRight };
    explicit StaticText(Window* parent, const std::string& text = {});
    Alignment Align = Alignment::taLeft;
    bool WordWrap = true;
    gdi::TColor TextColor = gdi::clWindowText;
    void Paint(gdi::Canvas& canvas) override;
};

// Draws text in rect, wrapping at blanks when wrap is set (a word wider than
// the rect breaks between characters) and breaking at newlines; returns the
// height used.
int DrawTextBlock(gdi::Canvas& canvas, const TRect& rect, const std::string& text, bool wrap,
                  StaticText::Alignment align);
// The pixel size DrawTextBlock needs for text at a given width.
TSize MeasureTextBlock(gdi::Canvas& canvas, const std::string& text, int width);

} // namespace ui
