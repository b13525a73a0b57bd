#pragma once
// A list of text items with one selected item, keyboard and mouse
// selection, scrolling, and optional owner drawing of the items.
#include <functional>
#include <string>
#include <vector>

#include "platform/ui/window.h"

namespace ui {

class ListBox : public Window {
public:
    explicit ListBox(Window* parent);

    std::vector<std::string> Items;
    void SetItems(std::vector<std::string> items);
    int ItemIndex() const { return index_; }
    void SetItemIndex(int index); // -1: none
    int TopIndex() const { return top_; }
    // Scrolls so that index is the first row shown (clamped).
    void SetTopIndex(int index);
    int ItemHeight = 16;
    std::function<void()> OnSelect;   // the selection changed
    std::function<void()> OnActivate; // double click on an item
    // Owner drawing: draws item index in rect (the list's canvas). Without
    // OnDrawItem and with OwnerDraw set, the parent gets WM_DRAWITEM instead.
    std::function<void(gdi::Canvas&, int index, const TRect& rect, bool selected)> OnDrawItem;
    bool OwnerDraw = false;

    bool WantsDialogKey(unsigned vk) const override
    {
        return vk == VK_UP || vk == VK_DOWN || vk == VK_PRIOR || vk == VK_NEXT || vk == VK_HOME || vk == VK_END;
    }
    void Paint(gdi::Canvas& canvas) override;
    // Rows shown whole; a row that would be cut at the bottom is left out.
    int VisibleCount() const;
    // A vertical scroll bar at the right edge when the items do not all fit:
    // arrows scroll by a row, the track beside the thumb by a page.
    static constexpr int kScrollBarWidth = 16;
    bool ScrollBarShown() const { return static_cast<int>(Items.size()) > VisibleCount(); }
    TRect ScrollBarRect() const;
    TRect ThumbRect() const;

protected:
    bool KeyDown(unsigned vk, unsigned modifiers) override;
    void MouseDown(TPoint p, unsigned button, unsigned flags) override;
    void DoubleClick(TPoint p, unsigned flags) override;
    void MouseWheel(int steps) override;

private:
    void EnsureVisible(int index);
    int MaxTop() const;
    bool ScrollBarMouseDown(TPoint p);
    void PaintScrollBar(gdi::Canvas& canvas);
    int index_ = -1;
    int top_ = 0;
};

} // namespace ui
