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
    void SetItemIndex(int index);  // -1: none
    int TopIndex() const { return top_; }
    int ItemHeight = 16;
    std::function<void()> OnSelect;    // the selection changed
    std::function<void()> OnActivate;  // double click on an item
    // Owner drawing: draws item index in rect (the list's canvas). Without
    // OnDrawItem and with OwnerDraw set, the parent gets WM_DRAWITEM instead.
    std::function<void(gdi::Canvas&, int index, const TRect& rect, bool selected)> OnDrawItem;
    bool OwnerDraw = false;

    bool WantsDialogKey(unsigned vk) const override
    {
        return vk == VK_UP || vk == VK_DOWN || vk == VK_PRIOR || vk == VK_NEXT || vk == VK_HOME || vk == VK_END;
    }
    void Paint(gdi::Canvas& canvas) override;
    int VisibleCount() const;

protected:
    bool KeyDown(unsigned vk, unsigned modifiers) override;
    void MouseDown(TPoint p, unsigned button, unsigned flags) override;
    void DoubleClick(TPoint p, unsigned flags) override;
    void MouseWheel(int steps) override;

private:
    void EnsureVisible(int index);
    int index_ = -1;
    int top_ = 0;
};

} // namespace ui
