#pragma once
// Message boxes: the platform's MessageBox (flags MB_*) and the framework's
// MessageDlg (a type and a set of buttons). Both are modal forms with an
// icon, the text, and a row of buttons; Enter presses the default (first)
// button, Escape the one that cancels.
#include <string>
#include <vector>

#include "platform/ui/button.h"
#include "platform/ui/dialogs.h"
#include "platform/ui/form.h"

namespace ui {

enum class MessageIcon { miNone, miError, miQuestion, miWarning, miInformation };

struct MessageButton {
    std::string caption;
    int result;
};

class MessageBoxForm : public Form {
public:
    // escapeResult: what Escape and closing the window answer; mrNone
    // makes the box answerable only with its buttons. The button at
    // defaultIndex is the default one and has the focus.
    MessageBoxForm(Form* owner, const std::string& text, const std::string& caption, MessageIcon icon,
                   const std::vector<MessageButton>& buttons, int escapeResult, size_t defaultIndex = 0);
    const std::vector<Button*>& Buttons() const { return buttons_; }
    StaticText* TextLabel() const { return text_; }
    MessageIcon Icon() const { return icon_; }
    void Paint(gdi::Canvas& canvas) override;
    // Ctrl+C copies the box as text (caption, message, buttons), as the
    // platform's message boxes do.
    bool PreviewKey(unsigned vk, unsigned modifiers) override;
    std::string AsText() const;

private:
    MessageIcon icon_;
    StaticText* text_;
    std::vector<Button*> buttons_;
};

// MessageBox flags to buttons, icon and result; returns mrOk, mrCancel, mrYes or mrNo.
int ShowMessageBox(Form* owner, const std::string& text, const std::string& caption, unsigned flags);
int ShowMessageDialog(Form* owner, const std::string& text, MsgDlgType type, unsigned buttons);

// Draws one of the message icons, 32 x 32, with its top-left corner at (x, y).
void DrawMessageIcon(gdi::Canvas& canvas, int x, int y, MessageIcon icon);

// Runs for every message box when set, after it is built and before its
// modal loop: tests and the documentation use it to see or answer boxes.
extern std::function<void(MessageBoxForm&)> OnMessageBoxShown;

} // namespace ui
