#include "platform/ui/rich_text_view.h"

#include <algorithm>

#include "platform/ui/clipboard.h"
#include "platform/ui/edit.h"
#include "platform/ui/frames.h"

namespace ui {

namespace {
size_t CharCount(const std::string& s)
{
    size_t n = 0;
    for (unsigned char c : s)
        if ((c & 0xC0) != 0x80) n += c == '\t' ? 8 : 1;
    return n;
}

// Tabs become blanks up to the next multiple of eight characters.
std::string ExpandTabs(const std::string& s, size_t column)
{
    if (s.find('\t') == std::string::npos) return s;
    std::string out;
    for (size_t i = 0; i < s.size(); ++i) {
        const unsigned char c = static_cast<unsigned char>(s[i]);
        if (c == '\t') {
            const size_t blanks = 8 - column % 8;
            out.append(blanks, ' ');
            column += blanks;
            continue;
        }
        out += static_cast<char>(c);
        if ((c & 0xC0) != 0x80) ++column;
    }
    return out;
}
} // namespace

RichTextView::RichTextView(Window* parent) : Window(parent)
{
    TabStop = true;
    Color = gdi::clWhite;
    Font.Name = "Lucida Console";
    Font.SetSize(8);
}

void RichTextView::LoadRTF(const std::string& rtf) { SetDocument(ParseRTF(rtf)); }

void RichTextView::SetPlainText(const std::string& text)
{
    RichDocument doc;
    doc.Lines.emplace_back();
    for (size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (c == '\r' && i + 1 < text.size() && text[i + 1] == '\n') continue;
        if (c == '\r' || c == '\n') {
            doc.Lines.emplace_back();
            continue;
        }
        auto& runs = doc.Lines.back().Runs;
        if (runs.empty()) runs.push_back(RichRun{{}, gdi::clWindowText, false});
        // Control characters other than tabs show as blanks.
        runs.back().Text += static_cast<unsigned char>(c) < 32 && c != '\t' ? ' ' : c;
    }
    SetDocument(std::move(doc));
}

void RichTextView::SetDocument(RichDocument document)
{
    doc_ = std::move(document);
    widestChars_ = 0;
    for (const RichLine& line : doc_.Lines) {
        size_t n = 0;
        for (const RichRun& run : line.Runs) n += CharCount(run.Text);
        widestChars_ = std::max(widestChars_, n);
    }
    top_ = scrollX_ = 0;
    anchor_ = caret_ = -1;
    Invalidate();
}

gdi::TFont RichTextView::PaneFont() const
{
    gdi::TFont f = Font;
    if (UseDocumentFont) {
        if (!doc_.FontFace.empty()) f.Name = doc_.FontFace;
        if (doc_.PointSize > 0) f.SetSize(std::min(doc_.PointSize, 72));
    }
    return f;
}

int RichTextView::LineHeight() const
{
    gdi::Canvas measure(1, 1);
    measure.Font = PaneFont();
    return std::max(1, measure.TextHeight("Ag"));
}

int RichTextView::CharWidth() const
{
    gdi::Canvas measure(1, 1);
    measure.Font = PaneFont();
    return std::max(1, measure.TextWidth("0000000000") / 10);
}

TRect RichTextView::TextArea() const
{
    return TRect{2, 2, std::max(2, Width() - 2 - kScrollBarWidth), std::max(2, Height() - 2 - kScrollBarWidth)};
}

int RichTextView::VisibleLines() const { return std::max(1, TextArea().Height() / LineHeight()); }
int RichTextView::MaxTop() const { return std::max(0, static_cast<int>(doc_.Lines.size()) - VisibleLines()); }

int RichTextView::MaxScrollX() const
{
    const long long width = static_cast<long long>(widestChars_) * CharWidth() + 8;
    return static_cast<int>(std::clamp<long long>(width - TextArea().Width(), 0, 1 << 30));
}

void RichTextView::SetTopLine(int line)
{
    line = std::clamp(line, 0, MaxTop());
    if (line == top_) return;
    top_ = line;
    Invalidate();
}

void RichTextView::SetScrollX(int x)
{
    x = std::clamp(x, 0, MaxScrollX());
    if (x == scrollX_) return;
    scrollX_ = x;
    Invalidate();
}

void RichTextView::Resized()
{
    top_ = std::min(top_, MaxTop());
    scrollX_ = std::min(scrollX_, MaxScrollX());
}

void RichTextView::SelectAll()
{
    if (doc_.Lines.empty()) return;
    anchor_ = 0;
    caret_ = static_cast<int>(doc_.Lines.size()) - 1;
    Invalidate();
}

std::string RichTextView::SelText() const
{
    if (anchor_ < 0) return {};
    std::string text;
    for (int i = SelFirst(); i <= SelLast() && i < static_cast<int>(doc_.Lines.size()); ++i) {
        if (i != SelFirst()) text += '\n';
        text += doc_.Lines[static_cast<size_t>(i)].Text();
    }
    return text;
}

void RichTextView::CopyToClipboard()
{
    if (anchor_ >= 0) Clipboard().SetText(SelText());
}

int RichTextView::LineAt(TPoint p) const
{
    const int line = top_ + (p.Y - TextArea().Top) / LineHeight();
    return std::clamp(line, 0, std::max(0, static_cast<int>(doc_.Lines.size()) - 1));
}

bool RichTextView::ScrollBarMouseDown(TPoint p)
{
    const TRect area = TextArea();
    if (p.X >= area.Right && p.Y < area.Bottom) {
        if (p.Y < area.Top + kScrollBarWidth)
            SetTopLine(top_ - 1);
        else if (p.Y >= area.Bottom - kScrollBarWidth)
            SetTopLine(top_ + 1);
        else
            SetTopLine(p.Y < (area.Top + area.Bottom) / 2 ? top_ - VisibleLines() : top_ + VisibleLines());
        return true;
    }
    if (p.Y >= area.Bottom && p.X < area.Right) {
        if (p.X < area.Left + kScrollBarWidth)
            SetScrollX(scrollX_ - CharWidth() * 4);
        else if (p.X >= area.Right - kScrollBarWidth)
            SetScrollX(scrollX_ + CharWidth() * 4);
        else
            SetScrollX(p.X < (area.Left + area.Right) / 2 ? scrollX_ - area.Width() : scrollX_ + area.Width());
        return true;
    }
    return false;
}

void RichTextView::MouseDown(TPoint p, unsigned button, unsigned flags)
{
    if (button != MK_LBUTTON) return;
    SetFocus();
    if (ScrollBarMouseDown(p) || doc_.Lines.empty()) return;
    const int line = LineAt(p);
    if (!(flags & MK_SHIFT) || anchor_ < 0) anchor_ = line;
    caret_ = line;
    Invalidate();
}

void RichTextView::MouseMove(TPoint p, unsigned flags)
{
    if (!(flags & MK_LBUTTON) || anchor_ < 0 || !TextArea().Contains(p.X, std::max(p.Y, TextArea().Top))) return;
    caret_ = LineAt(p);
    if (p.Y >= TextArea().Bottom) SetTopLine(top_ + 1);
    if (p.Y < TextArea().Top) SetTopLine(top_ - 1);
    Invalidate();
}

void RichTextView::MouseWheel(int steps) { SetTopLine(top_ - steps * 3); }

bool RichTextView::KeyDown(unsigned vk, unsigned modifiers)
{
    if (modifiers & kmCtrl) {
        if (vk == 'A') {
            SelectAll();
            return true;
        }
        if (vk == 'C' || vk == VK_INSERT) {
            CopyToClipboard();
            return true;
        }
        if (vk == VK_HOME) {
            SetTopLine(0);
            return true;
        }
        if (vk == VK_END) {
            SetTopLine(MaxTop());
            return true;
        }
    }
    switch (vk) {
    case VK_UP: SetTopLine(top_ - 1); return true;
    case VK_DOWN: SetTopLine(top_ + 1); return true;
    case VK_PRIOR: SetTopLine(top_ - VisibleLines()); return true;
    case VK_NEXT: SetTopLine(top_ + VisibleLines()); return true;
    case VK_HOME: SetScrollX(0); return true;
    case VK_END: SetScrollX(MaxScrollX()); return true;
    case VK_LEFT: SetScrollX(scrollX_ - CharWidth() * 4); return true;
    case VK_RIGHT: SetScrollX(scrollX_ + CharWidth() * 4); return true;
    default: return false;
    }
}

void RichTextView::Paint(gdi::Canvas& c)
{
    const TRect r = ClientRect();
    c.Brush.Style = gdi::BrushStyle::bsSolid;
    c.Brush.Color = Color;
    c.FillRect(r);
    DrawSunkenFrame(c, r);
    const TRect area = TextArea();
    const TRect outer = c.ClipRect();
    c.IntersectClipRect(area);
    const gdi::TFont font = PaneFont();
    const int lh = LineHeight();
    const int cw = CharWidth();
    // Characters left of the view are skipped, and no more than fit are drawn.
    const size_t firstChar = static_cast<size_t>(scrollX_ / cw);
    const size_t maxChars = static_cast<size_t>(area.Width() / cw + 4);
    const int end = std::min(static_cast<int>(doc_.Lines.size()), top_ + VisibleLines() + 1);
    for (int i = top_; i < end; ++i) {
        const int y = area.Top + (i - top_) * lh;
        const bool selected = anchor_ >= 0 && i >= SelFirst() && i <= SelLast();
        if (selected) {
            c.Brush.Style = gdi::BrushStyle::bsSolid;
            c.Brush.Color = gdi::clHighlight;
            c.FillRect(TRect{area.Left, y, area.Right, y + lh});
        }
        size_t column = 0; // characters of the line before the current run
        int x = area.Left + 2 + static_cast<int>(firstChar) * cw - scrollX_;
        for (const RichRun& run : doc_.Lines[static_cast<size_t>(i)].Runs) {
            const std::string text = ExpandTabs(run.Text, column);
            const size_t runChars = CharCount(text);
            if (column + runChars > firstChar && column < firstChar + maxChars) {
                // The part of this run from firstChar on, at most maxChars.
                size_t from = 0, skip = firstChar > column ? firstChar - column : 0;
                for (size_t k = 0; k < skip && from < text.size(); ++k) from = NextCharOffset(text, from);
                size_t to = from;
                const size_t room = firstChar + maxChars - std::max(column, firstChar);
                for (size_t k = 0; k < room && to < text.size(); ++k) to = NextCharOffset(text, to);
                const std::string piece = text.substr(from, to - from);
                c.Font = font;
                if (run.Bold) c.Font.Style |= gdi::fsBold;
                c.Font.Color = selected ? gdi::clHighlightText : run.Color;
                c.Brush.Style = gdi::BrushStyle::bsClear;
                c.TextOut(x, y, piece);
                x += c.TextWidth(piece);
            }
            column += runChars;
            if (column >= firstChar + maxChars) break;
        }
    }
    c.ResetClip();
    c.IntersectClipRect(outer);
    // Scroll bars, both always present as in the original pane.
    auto box = [&](const TRect& b) {
        c.Brush.Style = gdi::BrushStyle::bsSolid;
        c.Brush.Color = gdi::clBtnFace;
        c.FillRect(b);
        DrawRaisedFrame(c, b, false);
    };
    const TRect vbar{area.Right, area.Top, area.Right + kScrollBarWidth, area.Bottom};
    const TRect hbar{area.Left, area.Bottom, area.Right, area.Bottom + kScrollBarWidth};
    c.Brush.Style = gdi::BrushStyle::bsSolid;
    c.Brush.Color = gdi::clScrollBar;
    c.FillRect(vbar);
    c.FillRect(hbar);
    const TRect up{vbar.Left, vbar.Top, vbar.Right, vbar.Top + kScrollBarWidth};
    const TRect down{vbar.Left, vbar.Bottom - kScrollBarWidth, vbar.Right, vbar.Bottom};
    const TRect left{hbar.Left, hbar.Top, hbar.Left + kScrollBarWidth, hbar.Bottom};
    const TRect right{hbar.Right - kScrollBarWidth, hbar.Top, hbar.Right, hbar.Bottom};
    for (const TRect& b : {up, down, left, right}) box(b);
    DrawScrollArrow(c, up, 0, -1);
    DrawScrollArrow(c, down, 0, 1);
    DrawScrollArrow(c, left, -1, 0);
    DrawScrollArrow(c, right, 1, 0);
    const int vtrack = std::max(0, vbar.Height() - 2 * kScrollBarWidth);
    const int lines = std::max(1, static_cast<int>(doc_.Lines.size()));
    const int vthumb = std::min(vtrack, std::max(8, vtrack * VisibleLines() / lines));
    const int vy = vbar.Top + kScrollBarWidth +
        static_cast<int>(static_cast<long long>(vtrack - vthumb) * top_ / std::max(1, MaxTop()));
    if (MaxTop() > 0) box(TRect{vbar.Left, vy, vbar.Right, vy + vthumb});
    const int htrack = std::max(0, hbar.Width() - 2 * kScrollBarWidth);
    const long long total = static_cast<long long>(widestChars_) * cw + 8;
    const int hthumb = static_cast<int>(
        std::min<long long>(htrack, std::max<long long>(8, htrack * area.Width() / std::max<long long>(1, total))));
    const int hx = hbar.Left + kScrollBarWidth +
        static_cast<int>(static_cast<long long>(htrack - hthumb) * scrollX_ / std::max(1, MaxScrollX()));
    if (MaxScrollX() > 0) box(TRect{hx, hbar.Top, hx + hthumb, hbar.Bottom});
    c.Brush.Color = gdi::clBtnFace;
    c.FillRect(TRect{area.Right, area.Bottom, area.Right + kScrollBarWidth, area.Bottom + kScrollBarWidth});
}

} // namespace ui
