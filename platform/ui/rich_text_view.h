#pragma once
// A read-only rich text pane: shows a RichDocument (rtf_reader.h) line by
// line in its own font with each run's colour and weight, scrolls both ways
// (keys, wheel, scroll bars), selects whole lines with the mouse or Ctrl+A
// and copies the selection with Ctrl+C. Only the visible part of a line is
// laid out, so very long lines and documents stay quick.
#include <string>

#include "platform/ui/rtf_reader.h"
#include "platform/ui/window.h"

namespace ui {

class RichTextView : public Window {
public:
    explicit RichTextView(Window* parent);

    void LoadRTF(const std::string& rtf);
    void SetDocument(RichDocument document);
    // Plain text shown in the window text colour (a plain edit's contents).
    void SetPlainText(const std::string& text);
    const RichDocument& Document() const { return doc_; }
    // The document's font face and size replace Font's when UseDocumentFont is set.
    bool UseDocumentFont = false;

    int TopLine() const { return top_; }
    void SetTopLine(int line);
    int ScrollX() const { return scrollX_; }
    void SetScrollX(int x);
    int LineHeight() const;
    int VisibleLines() const;

    // Selected lines [first, last]; -1 when nothing is selected.
    int SelFirst() const { return std::min(anchor_, caret_); }
    int SelLast() const { return std::max(anchor_, caret_); }
    void SelectAll();
    std::string SelText() const;
    void CopyToClipboard();

    static constexpr int kScrollBarWidth = 16;
    bool WantsDialogKey(unsigned vk) const override
    {
        return vk == VK_UP || vk == VK_DOWN || vk == VK_PRIOR || vk == VK_NEXT || vk == VK_HOME || vk == VK_END ||
            vk == VK_LEFT || vk == VK_RIGHT;
    }
    void Paint(gdi::Canvas& canvas) override;

protected:
    bool KeyDown(unsigned vk, unsigned modifiers) override;
    void MouseDown(TPoint p, unsigned button, unsigned flags) override;
    void MouseMove(TPoint p, unsigned flags) override;
    void MouseWheel(int steps) override;
    void Resized() override;

private:
    gdi::TFont PaneFont() const;
    int CharWidth() const;
    TRect TextArea() const;
    int MaxTop() const;
    int MaxScrollX() const;
    int LineAt(TPoint p) const;
    bool ScrollBarMouseDown(TPoint p);

    RichDocument doc_;
    size_t widestChars_ = 0; // the longest line in characters
    int top_ = 0;
    int scrollX_ = 0;
    int anchor_ = -1, caret_ = -1;
};

} // namespace ui
