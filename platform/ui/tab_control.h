#pragma once
// A tab control: a strip of tabs above a display area. It owns no pages:
// the parent hears of a new selection through WM_NOTIFY (TCN_SELCHANGING
// before, TCN_SELCHANGE after) and puts the page of that tab into
// DisplayRect. Left and Right move the selection while it has the focus.
#include <functional>
#include <string>
#include <vector>

#include "platform/ui/window.h"

namespace ui {

enum : int { TCN_SELCHANGE = -551, TCN_SELCHANGING = -552 };

class TabControl : public Window {
public:
    explicit TabControl(Window* parent);

    void SetTabs(std::vector<std::string> tabs);
    const std::vector<std::string>& Tabs() const { return tabs_; }
    int TabIndex() const { return index_; }
    // Selects a tab without notifying (the original control's TCM_SETCURSEL).
    void SetTabIndex(int index);
    // Selects a tab as the user does: notifies the parent and OnChange.
    void SelectTab(int index);
    std::function<void()> OnChange;

    // The area below the strip where a page goes, in this window's client
    // coordinates.
    TRect DisplayRect() const;
    // A tab's rectangle in the strip; empty for an index out of range.
    TRect TabRect(int index) const;
    int StripHeight() const;

    bool WantsDialogKey(unsigned vk) const override { return vk == VK_LEFT || vk == VK_RIGHT; }
    void Paint(gdi::Canvas& canvas) override;

protected:
    void MouseDown(TPoint p, unsigned button, unsigned flags) override;
    bool KeyDown(unsigned vk, unsigned modifiers) override;

private:
    void Notify(int code);
    std::vector<std::string> tabs_;
    int index_ = -1;
};

} // namespace ui
