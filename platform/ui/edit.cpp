#include "platform/ui/edit.h"

#include <algorithm>
#include <cctype>

#include "platform/ui/frames.h"
#include "platform/ui/clipboard.h"

namespace ui {

size_t NextCharOffset(const std::string& s, size_t pos)
{
    if (pos >= s.size()) return s.size();
    ++pos;
    while (pos < s.size() && (static_cast<unsigned char>(s[pos]) & 0xC0) == 0x80) ++pos;
    return pos;
}

size_t PrevCharOffset(const std::string& s, size_t pos)
{
    if (pos == 0) return 0;
    pos = std::min(pos, s.size()) - 1;
    while (pos > 0 && (static_cast<unsigned char>(s[pos]) & 0xC0) == 0x80) --pos;
    return pos;
}

std::string EncodeUtf8(char32_t cp)
{
    std::string out;
    if (cp < 0x80) {
        out += static_cast<char>(cp);
    } else if (cp < 0x800) {
        out += static_cast<char>(0xC0 | (cp >> 6));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
        out += static_cast<char>(0xE0 | (cp >> 12));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else if (cp < 0x110000) {
        out += static_cast<char>(0xF0 | (cp >> 18));
        out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    }
    return out;
}

namespace {
bool IsWordByte(char c)
{
    const auto u = static_cast<unsigned char>(c);
    return u >= 0x80 || std::isalnum(u) || c == '_';
}
constexpr int kMarginX = 3;
constexpr int kMarginY = 2;
constexpr const char* kBullet = "\u2022";
} // namespace

Edit::Edit(Window* parent) : Window(parent)
{
    TabStop = true;
    Color = gdi::clWindow;
}

gdi::Canvas& Edit::Measure()
{
    if (!measure_) measure_ = std::make_unique<gdi::Canvas>(1, 1);
    measure_->Font = Font;
    return *measure_;
}

int Edit::LineHeight() { return std::max(1, Measure().TextHeight("Ag")); }

std::string Edit::Shown(size_t begin, size_t end) const
{
    const std::string& t = Text();
    end = std::min(end, t.size());
    if (begin >= end) return {};
    if (!Password) return t.substr(begin, end - begin);
    std::string bullets;
    for (size_t pos = begin; pos < end; pos = NextCharOffset(t, pos)) bullets += t[pos] == '\n' ? "\n" : kBullet;
    return bullets;
}

std::vector<std::pair<size_t, size_t>> Edit::Lines() const
{
    std::vector<std::pair<size_t, size_t>> lines;
    const std::string& t = Text();
    if (!MultiLine()) {
        lines.emplace_back(0, t.size());
        return lines;
    }
    size_t begin = 0;
    for (;;) {
        size_t nl = t.find('\n', begin);
        if (nl == std::string::npos) {
            lines.emplace_back(begin, t.size());
            break;
        }
        lines.emplace_back(begin, nl);
        begin = nl + 1;
    }
    return lines;
}

size_t Edit::LineOf(size_t pos) const
{
    auto lines = Lines();
    for (size_t i = 0; i < lines.size(); ++i)
        if (pos <= lines[i].second) return i;
    return lines.size() - 1;
}

void Edit::SetSel(size_t start, size_t length)
{
    const std::string& t = Text();
    start = std::min(start, t.size());
    size_t end = std::min(t.size(), start + std::min(length, t.size()));
    // Keep both ends on character boundaries.
    while (start > 0 && start < t.size() && (static_cast<unsigned char>(t[start]) & 0xC0) == 0x80) --start;
    while (end < t.size() && (static_cast<unsigned char>(t[end]) & 0xC0) == 0x80) ++end;
    anchor_ = start;
    caret_ = end;
    ScrollToCaret();
    Invalidate();
}

void Edit::ReplaceSel(const std::string& text)
{
    std::string insert = text;
    if (!MultiLine()) {
        // A single-line box keeps the first line of what is pasted.
        size_t nl = insert.find_first_of("\r\n");
        if (nl != std::string::npos) insert.resize(nl);
    }
    std::string t = Text();
    const size_t start = SelStart();
    t.erase(start, SelLength());
    if (MaxLength && t.size() + insert.size() > MaxLength) {
        size_t room = MaxLength > t.size() ? MaxLength - t.size() : 0;
        while (room > 0 && room < insert.size() && (static_cast<unsigned char>(insert[room]) & 0xC0) == 0x80) --room;
        insert.resize(std::min(room, insert.size()));
    }
    t.insert(start, insert);
    settingText_ = true;
    SetText(t);
    settingText_ = false;
    caret_ = anchor_ = start + insert.size();
    Modified = true;
    ScrollToCaret();
    Invalidate();
    NotifyParent(EN_CHANGE);
    if (OnChange) OnChange();
}

void Edit::TextChanged()
{
    if (!settingText_) {
        // Text set from outside: caret to the end, nothing selected.
        caret_ = anchor_ = Text().size();
        scrollX_ = 0;
        topLine_ = 0;
        ScrollToCaret();
    }
    Invalidate();
}

void Edit::FocusChanged(bool gained)
{
    if (gained && !MultiLine() && !dragging_) SelectAll(); // as a single-line box does when tabbed into
    Invalidate();
}

void Edit::CopyToClipboard()
{
    if (Password) return; // a password never leaves the box
    if (SelLength() > 0) Clipboard().SetText(SelText());
}

void Edit::CutToClipboard()
{
    if (SelLength() == 0 || ReadOnly || Password) return;
    CopyToClipboard();
    ReplaceSel("");
}

void Edit::PasteFromClipboard()
{
    if (ReadOnly) return;
    if (auto text = Clipboard().GetText()) ReplaceSel(*text);
}

void Edit::MoveCaret(size_t pos, bool extend)
{
    caret_ = std::min(pos, Text().size());
    if (!extend) anchor_ = caret_;
    ScrollToCaret();
    Invalidate();
}

void Edit::ScrollToCaret()
{
    auto lines = Lines();
    const size_t li = LineOf(caret_);
    gdi::Canvas& m = Measure();
    const int x = m.TextWidth(Shown(lines[li].first, caret_));
    const int visibleWidth = std::max(1, Width() - 2 * kMarginX);
    if (x - scrollX_ > visibleWidth) scrollX_ = x - visibleWidth + visibleWidth / 3;
    if (x < scrollX_) scrollX_ = std::max(0, x - visibleWidth / 3);
    if (MultiLine()) {
        const int visibleLines = std::max(1, (Height() - 2 * kMarginY) / LineHeight());
        const int line = static_cast<int>(li);
        if (line < topLine_) topLine_ = line;
        if (line >= topLine_ + visibleLines) topLine_ = line - visibleLines + 1;
    }
}

size_t Edit::OffsetAt(TPoint p)
{
    auto lines = Lines();
    size_t li = 0;
    if (MultiLine()) {
        int l = topLine_ + (p.Y - kMarginY) / LineHeight();
        li = static_cast<size_t>(std::clamp(l, 0, static_cast<int>(lines.size()) - 1));
    }
    const std::string& t = Text();
    gdi::Canvas& m = Measure();
    const int x = p.X - kMarginX + scrollX_;
    size_t best = lines[li].first;
    int bestDistance = std::abs(x);
    for (size_t pos = lines[li].first; pos < lines[li].second;) {
        pos = NextCharOffset(t, pos);
        const int w = m.TextWidth(Shown(lines[li].first, pos));
        if (std::abs(w - x) < bestDistance) {
            bestDistance = std::abs(w - x);
            best = pos;
        }
        if (w > x) break;
    }
    return best;
}

bool Edit::KeyDown(unsigned vk, unsigned mods)
{
    const bool shift = mods & kmShift;
    const bool ctrl = mods & kmCtrl;
    const std::string& t = Text();
    auto lines = Lines();
    const auto& line = lines[LineOf(caret_)];
    switch (vk) {
    case VK_LEFT: {
        if (!shift && SelLength() > 0) {
            MoveCaret(SelStart(), false);
            return true;
        }
        size_t p = PrevCharOffset(t, caret_);
        if (ctrl && Password) {
            p = line.first;
        } else if (ctrl) {
            while (p > 0 && !IsWordByte(t[p])) p = PrevCharOffset(t, p);
            while (p > 0 && IsWordByte(t[PrevCharOffset(t, p)])) p = PrevCharOffset(t, p);
        }
        MoveCaret(p, shift);
        return true;
    }
    case VK_RIGHT: {
        if (!shift && SelLength() > 0) {
            MoveCaret(SelStart() + SelLength(), false);
            return true;
        }
        size_t p = NextCharOffset(t, caret_);
        if (ctrl && Password) {
            p = line.second;
        } else if (ctrl) {
            while (p < t.size() && IsWordByte(t[p])) p = NextCharOffset(t, p);
            while (p < t.size() && !IsWordByte(t[p])) p = NextCharOffset(t, p);
        }
        MoveCaret(p, shift);
        return true;
    }
    case VK_HOME: MoveCaret(ctrl ? 0 : line.first, shift); return true;
    case VK_END: MoveCaret(ctrl ? t.size() : line.second, shift); return true;
    case VK_BACK:
        if (ReadOnly) return true;
        if (SelLength() == 0) anchor_ = PrevCharOffset(t, caret_);
        ReplaceSel("");
        return true;
    case VK_DELETE:
        if (ReadOnly) return true;
        if (shift) {
            CutToClipboard();
            return true;
        }
        if (SelLength() == 0) anchor_ = NextCharOffset(t, caret_);
        ReplaceSel("");
        return true;
    case VK_INSERT:
        if (shift)
            PasteFromClipboard();
        else if (ctrl)
            CopyToClipboard();
        return true;
    default: break;
    }
    if (ctrl) {
        switch (vk) {
        case 'A': SelectAll(); return true;
        case 'C': CopyToClipboard(); return true;
        case 'X': CutToClipboard(); return true;
        case 'V': PasteFromClipboard(); return true;
        default: break;
        }
    }
    return false;
}

void Edit::KeyChar(char32_t ch)
{
    if (ReadOnly || ch < 0x20 || ch == 0x7F) return;
    ReplaceSel(EncodeUtf8(ch));
}

void Edit::MouseDown(TPoint p, unsigned button, unsigned flags)
{
    if (button != MK_LBUTTON) return;
    dragging_ = true;
    MoveCaret(OffsetAt(p), (flags & MK_SHIFT) != 0);
}

void Edit::MouseMove(TPoint p, unsigned flags)
{
    if (dragging_ && (flags & MK_LBUTTON)) MoveCaret(OffsetAt(p), true);
}

void Edit::DoubleClick(TPoint p, unsigned)
{
    if (Password) {
        SelectAll();
        return;
    }
    const std::string& t = Text();
    size_t pos = OffsetAt(p);
    size_t begin = pos, end = pos;
    while (begin > 0 && IsWordByte(t[begin - 1])) --begin;
    while (end < t.size() && IsWordByte(t[end])) ++end;
    SetSel(begin, end - begin);
}

void Edit::Paint(gdi::Canvas& c)
{
    const TRect r = ClientRect();
    c.Brush.Style = gdi::BrushStyle::bsSolid;
    c.Brush.Color = (EnabledInForm() && !ReadOnly) || MultiLine() ? Color : gdi::clBtnFace;
    c.FillRect(r);
    DrawSunkenFrame(c, r);
    const TRect inner = gdi::Inflate(r, -2, -2);
    c.IntersectClipRect(inner);

    const int lh = LineHeight();
    const bool focused = Focused();
    const size_t selBegin = SelStart(), selEnd = SelStart() + SelLength();
    auto lines = Lines();
    for (size_t i = static_cast<size_t>(std::max(0, topLine_)); i < lines.size(); ++i) {
        const int y = MultiLine() ? kMarginY + static_cast<int>(i - topLine_) * lh : (Height() - lh) / 2;
        if (y > Height()) break;
        const auto [b, e] = lines[i];
        const std::string text = Shown(b, e);
        const int x0 = kMarginX - scrollX_;
        c.Font.Color = EnabledInForm() ? gdi::clWindowText : gdi::clGrayText;
        c.Brush.Style = gdi::BrushStyle::bsClear;
        c.TextOut(x0, y, text);
        // The selection, drawn over the text in the highlight colours.
        const size_t sb = std::clamp(selBegin, b, e), se = std::clamp(selEnd, b, e);
        if (focused && se > sb) {
            const int xs = x0 + c.TextWidth(Shown(b, sb));
            const std::string sel = Shown(sb, se);
            c.Brush.Style = gdi::BrushStyle::bsSolid;
            c.Brush.Color = gdi::clHighlight;
            c.Font.Color = gdi::clHighlightText;
            c.TextOut(xs, y, sel);
        }
        if (focused && caret_ >= b && caret_ <= e) {
            const int xc = x0 + c.TextWidth(Shown(b, caret_));
            c.Brush.Style = gdi::BrushStyle::bsSolid;
            c.Brush.Color = gdi::clWindowText;
            c.FillRect(TRect{xc, y, xc + 1, y + lh});
        }
    }
}

Memo::Memo(Window* parent) : Edit(parent) {}

bool Memo::KeyDown(unsigned vk, unsigned mods)
{
    const bool shift = mods & kmShift;
    auto lines = Lines();
    const size_t li = LineOf(caret_);
    const int lh = LineHeight();
    auto moveToLine = [&](long target) {
        target = std::clamp<long>(target, 0, static_cast<long>(lines.size()) - 1);
        // Keep the caret's x position as the line changes.
        gdi::Canvas& m = Measure();
        const int x = m.TextWidth(Shown(lines[li].first, caret_));
        const int y = kMarginY + static_cast<int>(target - topLine_) * lh;
        size_t pos;
        if (target < topLine_ || y >= Height()) {
            topLine_ = static_cast<int>(target);
            pos = OffsetAt(TPoint{x + kMarginX - scrollX_, kMarginY});
        } else {
            pos = OffsetAt(TPoint{x + kMarginX - scrollX_, y});
        }
        MoveCaret(pos, shift);
    };
    const long page = std::max(1, (Height() - 2 * kMarginY) / lh);
    switch (vk) {
    case VK_UP: moveToLine(static_cast<long>(li) - 1); return true;
    case VK_DOWN: moveToLine(static_cast<long>(li) + 1); return true;
    case VK_PRIOR: moveToLine(static_cast<long>(li) - page); return true;
    case VK_NEXT: moveToLine(static_cast<long>(li) + page); return true;
    case VK_RETURN:
        if (WantReturns && !ReadOnly) {
            ReplaceSel("\n");
            return true;
        }
        return false;
    default: return Edit::KeyDown(vk, mods);
    }
}

void Memo::MouseWheel(int steps)
{
    const int lines = static_cast<int>(Lines().size());
    topLine_ = std::clamp(topLine_ - steps * 3, 0, std::max(0, lines - 1));
    Invalidate();
}

} // namespace ui
