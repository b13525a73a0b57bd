#include "platform/ui/button.h"

#include <sstream>

#include "platform/ui/form.h"
#include "platform/ui/frames.h"

namespace ui {

using gdi::TRect;

namespace {
// Bytes of the longest run of whole UTF-8 characters of word, from its
// start, that fits width; at least one character.
size_t FittingPrefix(gdi::Canvas& c, const std::string& word, int width)
{
    std::vector<size_t> ends; // where each character ends
    for (size_t i = 1; i <= word.size(); ++i)
        if (i == word.size() || (static_cast<unsigned char>(word[i]) & 0xC0) != 0x80) ends.push_back(i);
    size_t lo = 0, hi = ends.size() - 1; // ends[lo] is taken even when it does not fit
    while (lo < hi) {
        const size_t mid = lo + (hi - lo + 1) / 2;
        if (c.TextWidth(word.substr(0, ends[mid])) <= width)
            lo = mid;
        else
            hi = mid - 1;
    }
    return ends[lo];
}

std::vector<std::string> WrapLines(gdi::Canvas& c, const std::string& text, int width, bool wrap)
{
    std::vector<std::string> lines;
    std::string para;
    std::istringstream in(text);
    while (std::getline(in, para)) {
        if (!para.empty() && para.back() == '\r') para.pop_back();
        if (!wrap || c.TextWidth(para) <= width) {
            lines.push_back(para);
            continue;
        }
        std::string line;
        size_t i = 0;
        while (i < para.size()) {
            size_t j = para.find(' ', i);
            std::string word = para.substr(i, j == std::string::npos ? std::string::npos : j - i);
            std::string candidate = line.empty() ? word : line + " " + word;
            if (!line.empty() && c.TextWidth(candidate) > width) {
                lines.push_back(line);
                line = word;
            } else {
                line = candidate;
            }
            // A word wider than the line (a long path) breaks between characters.
            while (c.TextWidth(line) > width) {
                const size_t cut = FittingPrefix(c, line, width);
                if (cut >= line.size()) break;
                lines.push_back(line.substr(0, cut));
                line.erase(0, cut);
            }
            if (j == std::string::npos) break;
            i = j + 1;
        }
        lines.push_back(line);
    }
    if (lines.empty()) lines.emplace_back();
    return lines;
}
} // namespace

int DrawTextBlock(gdi::Canvas& c, const TRect& r, const std::string& text, bool wrap, StaticText::Alignment align)
{
    const int lineHeight = c.TextHeight("Ag");
    int y = r.Top;
    c.Brush.Style = gdi::BrushStyle::bsClear;
    for (const std::string& line : WrapLines(c, text, r.Width(), wrap)) {
        int x = r.Left;
        if (align != StaticText::Alignment::taLeft) {
            int w = c.TextWidth(line);
            x = align == StaticText::Alignment::taCenter ? r.Left + (r.Width() - w) / 2 : r.Right - w;
        }
        c.TextRect(r, x, y, line);
        // A line with characters of a taller fallback font (Chinese in a
        // Latin font) takes its own height, so its descenders are not cut.
        y += std::max(lineHeight, c.TextHeight(line));
    }
    return y - r.Top;
}

TSize MeasureTextBlock(gdi::Canvas& c, const std::string& text, int width)
{
    TSize s;
    const int lineHeight = c.TextHeight("Ag");
    for (const std::string& line : WrapLines(c, text, width, true)) {
        const TSize extent = c.TextExtent(line);
        s.cx = std::max(s.cx, extent.cx);
        s.cy += std::max(lineHeight, extent.cy);
    }
    return s;
}

Button::Button(Window* parent, const std::string& caption) : Window(parent)
{
    TabStop = true;
    SetText(caption);
}

void Button::Click()
{
    if (ModalResult != 0)
        if (Form* f = TopLevel()) f->ModalResult = ModalResult;
    if (OnClick) OnClick();
    NotifyParent(BN_CLICKED);
}

void Button::MouseDown(TPoint, unsigned button, unsigned)
{
    if (button != MK_LBUTTON) return;
    pressed_ = true;
    Repaint();
}

void Button::MouseUp(TPoint p, unsigned button, unsigned)
{
    if (button != MK_LBUTTON || !pressed_) return;
    pressed_ = false;
    Repaint();
    if (ClientRect().Contains(p.X, p.Y)) Click();
}

bool Button::KeyDown(unsigned vk, unsigned)
{
    if (vk == VK_SPACE) {
        Click();
        return true;
    }
    return false;
}

// Caption text with the framework's '&' accelerator markers removed.
static std::string StripAmpersands(const std::string& s)
{
    std::string out;
    for (size_t i = 0; i < s.size(); ++i) {
        if (s[i] == '&' && i + 1 < s.size()) {
            ++i;
        }
        out += s[i];
    }
    return out;
}

void Button::Paint(gdi::Canvas& c)
{
    const TRect r = ClientRect();
    c.Brush.Style = gdi::BrushStyle::bsSolid;
    c.Brush.Color = Color;
    c.FillRect(r);
    TRect frame = r;
    if (Default || Focused()) {
        c.Brush.Color = gdi::clBlack;
        c.FrameRect(r);
        frame = gdi::Inflate(r, -1, -1);
    }
    DrawRaisedFrame(c, frame, pressed_);
    const std::string caption = StripAmpersands(Text());
    c.Font.Color = EnabledInForm() ? gdi::clBtnText : gdi::clGrayText;
    const TSize ts = c.TextExtent(caption);
    const int shift = pressed_ ? 1 : 0;
    c.Brush.Style = gdi::BrushStyle::bsClear;
    c.TextRect(frame, (Width() - ts.cx) / 2 + shift, (Height() - ts.cy) / 2 + shift, caption);
    if (Focused()) DrawFocusRect(c, gdi::Inflate(frame, -3, -3));
}

CheckBox::CheckBox(Window* parent, const std::string& caption) : Button(parent, caption) {}

void CheckBox::SetChecked(bool checked)
{
    if (checked == checked_) return;
    checked_ = checked;
    Invalidate();
    if (OnChange) OnChange();
}

void CheckBox::Click()
{
    SetChecked(!checked_);
    Button::Click();
}

void CheckBox::Paint(gdi::Canvas& c)
{
    const TRect r = ClientRect();
    c.Brush.Style = gdi::BrushStyle::bsSolid;
    c.Brush.Color = Color;
    c.FillRect(r);
    const int box = 13;
    const int top = (Height() - box) / 2;
    // Right-aligned: the box at the right edge, the text ending just before it.
    const int boxLeft = RightAligned ? std::max(0, Width() - box) : 0;
    const TRect b{boxLeft, top, boxLeft + box, top + box};
    c.Brush.Color = EnabledInForm() ? gdi::clWindow : gdi::clBtnFace;
    c.FillRect(b);
    DrawSunkenFrame(c, b);
    if (checked_) {
        c.Pen.Color = gdi::clWindowText;
        c.Pen.Width = 1;
        for (int k = 0; k < 3; ++k) {
            c.MoveTo(boxLeft + 3, top + 5 + k);
            c.LineTo(boxLeft + 5, top + 7 + k);
            c.LineTo(boxLeft + 10, top + 2 + k);
        }
    }
    const std::string caption = StripAmpersands(Text());
    c.Font.Color = EnabledInForm() ? gdi::clWindowText : gdi::clGrayText;
    const TSize ts = c.TextExtent(caption);
    c.Brush.Style = gdi::BrushStyle::bsClear;
    const int textLeft = RightAligned ? std::max(0, boxLeft - 4 - ts.cx) : box + 4;
    c.TextRect(r, textLeft, (Height() - ts.cy) / 2, caption);
    if (Focused())
        DrawFocusRect(c,
                      TRect{std::max(0, textLeft - 2), (Height() - ts.cy) / 2 - 1,
                            std::min(Width(), textLeft + ts.cx + 2), (Height() + ts.cy) / 2 + 1});
}

StaticText::StaticText(Window* parent, const std::string& text) : Window(parent) { SetText(text); }

void StaticText::Paint(gdi::Canvas& c)
{
    c.Brush.Style = gdi::BrushStyle::bsSolid;
    c.Brush.Color = Color;
    c.FillRect(ClientRect());
    c.Font.Color = TextColor;
    DrawTextBlock(c, ClientRect(), Text(), WordWrap, Align);
}

} // namespace ui
