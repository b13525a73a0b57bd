#pragma once
// Edit boxes: single-line (Edit) and multi-line (Memo). Text is UTF-8;
// positions (SelStart, SelLength) are byte offsets that always fall on
// character boundaries. Keys: arrows (with Shift to select, Ctrl by words),
// Home/End, Backspace/Delete, Ctrl+A, Ctrl+C/X/V and Shift+Insert; the mouse
// places the caret and selects by dragging, a double click selects a word.
// A password box shows a bullet for every character, never puts its text
// on the clipboard, and treats its text as one word (no word boundaries
// are given away by the caret).
#include <functional>

#include "platform/ui/window.h"

namespace ui {

class Edit : public Window {
public:
    explicit Edit(Window* parent);

    bool ReadOnly = false;
    bool Password = false; // the password style: bullets shown, no copy or cut
    size_t MaxLength = 0;  // bytes; 0: no limit
    bool Modified = false;
    std::function<void()> OnChange;

    size_t SelStart() const { return std::min(caret_, anchor_); }
    size_t SelLength() const { return caret_ > anchor_ ? caret_ - anchor_ : anchor_ - caret_; }
    std::string SelText() const { return Text().substr(SelStart(), SelLength()); }
    size_t CaretPos() const { return caret_; }
    // Selects length bytes from start; the caret ends at the selection's end.
    void SetSel(size_t start, size_t length);
    void SelectAll() { SetSel(0, Text().size()); }
    // Replaces the selection (or inserts at the caret) as if typed.
    void ReplaceSel(const std::string& text);
    void CopyToClipboard();
    void CutToClipboard();
    void PasteFromClipboard();

    void Paint(gdi::Canvas& canvas) override;

protected:
    bool KeyDown(unsigned vk, unsigned modifiers) override;
    void KeyChar(char32_t ch) override;
    void MouseDown(TPoint p, unsigned button, unsigned flags) override;
    void MouseMove(TPoint p, unsigned flags) override;
    void MouseUp(TPoint, unsigned, unsigned) override { dragging_ = false; }
    void DoubleClick(TPoint p, unsigned flags) override;
    void TextChanged() override;
    void FocusChanged(bool gained) override;

    virtual bool MultiLine() const { return false; }
    // The byte offset nearest to a point of the client area.
    size_t OffsetAt(TPoint p);
    void MoveCaret(size_t pos, bool extend);
    void ScrollToCaret();
    int LineHeight();
    // Lines as [begin, end) byte ranges.
    std::vector<std::pair<size_t, size_t>> Lines() const;
    size_t LineOf(size_t pos) const;
    gdi::Canvas& Measure();
    // The text between two byte offsets as the box shows it: itself, or a
    // bullet per character in a password box.
    std::string Shown(size_t begin, size_t end) const;

    size_t caret_ = 0;
    size_t anchor_ = 0;
    int scrollX_ = 0; // pixels
    int topLine_ = 0; // first visible line (multi-line)
    bool dragging_ = false;
    bool settingText_ = false;
    std::unique_ptr<gdi::Canvas> measure_;
};

class Memo : public Edit {
public:
    explicit Memo(Window* parent);
    bool WantReturns = true;
    bool WantsDialogKey(unsigned vk) const override { return vk == VK_RETURN && WantReturns && !ReadOnly; }
    int TopLine() const { return topLine_; }

protected:
    bool MultiLine() const override { return true; }
    bool KeyDown(unsigned vk, unsigned modifiers) override;
    void MouseWheel(int steps) override;
};

// Byte offset helpers for UTF-8 text.
size_t NextCharOffset(const std::string& s, size_t pos);
size_t PrevCharOffset(const std::string& s, size_t pos);
std::string EncodeUtf8(char32_t cp);

} // namespace ui
