#include "platform/ui/message_box.h"

#include <algorithm>

#include "platform/ui/backend.h"
#include "platform/ui/clipboard.h"

namespace ui {

std::function<void(MessageBoxForm&)> OnMessageBoxShown;

namespace {
constexpr int kIcon = 32;
constexpr int kMargin = 12;
constexpr int kButtonW = 75, kButtonH = 23, kButtonGap = 6;
constexpr int kMinWidth = 200;
constexpr int kTextWidth = 420; // where the text wraps in an ordinary box
// Room the window manager's title bar takes besides the caption (icon and
// buttons), and how much wider its bold title font runs than ours.
constexpr int kTitleBarExtra = 96;
} // namespace

void DrawMessageIcon(gdi::Canvas& c, int x, int y, MessageIcon icon)
{
    if (icon == MessageIcon::miNone) return;
    c.Pen.Style = gdi::PenStyle::psSolid;
    c.Pen.Width = 1;
    c.Brush.Style = gdi::BrushStyle::bsSolid;
    std::string glyph;
    gdi::TColor glyphColor = gdi::clWhite;
    if (icon == MessageIcon::miWarning) {
        c.Pen.Color = gdi::RGB(128, 96, 0);
        c.Brush.Color = gdi::RGB(255, 204, 0);
        gdi::TPoint tri[] = {{x + 16, y + 1}, {x + 31, y + 30}, {x + 1, y + 30}};
        c.Polygon(tri);
        glyph = "!";
        glyphColor = gdi::clBlack;
    } else {
        c.Pen.Color = icon == MessageIcon::miError ? gdi::RGB(128, 0, 0) : gdi::RGB(0, 0, 128);
        c.Brush.Color = icon == MessageIcon::miError ? gdi::RGB(220, 30, 30) : gdi::RGB(40, 90, 210);
        c.Ellipse(x, y, x + kIcon, y + kIcon);
        glyph = icon == MessageIcon::miError ? "X" : icon == MessageIcon::miQuestion ? "?" : "i";
    }
    gdi::TFont saved = c.Font;
    c.Font.Height = -18;
    c.Font.Style = gdi::fsBold;
    c.Font.Color = glyphColor;
    c.Brush.Style = gdi::BrushStyle::bsClear;
    const gdi::TSize s = c.TextExtent(glyph);
    c.TextOut(x + (kIcon - s.cx) / 2, y + (kIcon - s.cy) / 2 + (icon == MessageIcon::miWarning ? 3 : 0), glyph);
    c.Font = saved;
}

MessageBoxForm::MessageBoxForm(Form* owner, const std::string& text, const std::string& caption, MessageIcon icon,
                               const std::vector<MessageButton>& buttons, int escapeResult, size_t defaultIndex)
    : icon_(icon)
{
    Owner = owner;
    Border = BorderStyle::bsDialog;
    Position = FormPosition::poOwnerCenter;
    SetCaption(caption);

    gdi::Canvas measure(1, 1);
    measure.Font = Font;
    const int textLeft = icon == MessageIcon::miNone ? kMargin : kMargin + kIcon + kMargin;
    // The text wraps, so every word of it is shown; a text too tall for the
    // screen gets wider lines, up to two thirds of the screen's width.
    const TSize screen = ScreenSize();
    const int maxWidth = std::max(kMinWidth, screen.cx * 2 / 3);
    const int widest = std::max(kTextWidth, maxWidth - textLeft - kMargin - 8);
    TSize textSize = MeasureTextBlock(measure, text, kTextWidth);
    if (textSize.cy > screen.cy * 2 / 3 && widest > kTextWidth) textSize = MeasureTextBlock(measure, text, widest);
    const int textTop = kMargin + std::max(0, (kIcon - textSize.cy) / 2);
    const int rowWidth = static_cast<int>(buttons.size()) * (kButtonW + kButtonGap) - kButtonGap;
    const int captionWidth = std::min(measure.TextWidth(caption) * 5 / 4 + kTitleBarExtra, maxWidth);
    const int width = std::max({textLeft + textSize.cx + kMargin + 8, rowWidth + 2 * kMargin, captionWidth, kMinWidth});
    const int buttonsTop = std::max(textTop + textSize.cy, kMargin + (icon == MessageIcon::miNone ? 0 : kIcon)) + 18;
    SetBounds(0, 0, width, buttonsTop + kButtonH + kMargin);

    text_ = Add<StaticText>(text);
    text_->SetBounds(textLeft, textTop, textSize.cx + 8, textSize.cy);

    int x = (width - rowWidth) / 2;
    int order = 0;
    for (const MessageButton& mb : buttons) {
        Button* b = Add<Button>(mb.caption);
        b->SetBounds(x, buttonsTop, kButtonW, kButtonH);
        b->ModalResult = mb.result;
        b->TabOrder = order++;
        b->Default = static_cast<size_t>(order - 1) == defaultIndex;
        b->Cancel = mb.result == escapeResult;
        buttons_.push_back(b);
        x += kButtonW + kButtonGap;
    }
    if (defaultIndex < buttons_.size()) SetFocusedControl(buttons_[defaultIndex]);
    EscapeCancels = false;
    if (escapeResult == mrNone)
        OnCloseQuery = [](Form&) { return false; };
    else
        OnCloseQuery = [escapeResult](Form& f) {
            f.ModalResult = escapeResult;
            return true;
        };
}

std::string MessageBoxForm::AsText() const
{
    const std::string rule = "---------------------------\r\n";
    std::string buttons;
    for (Button* b : buttons_) {
        std::string caption;
        for (char ch : b->Text())
            if (ch != '&') caption += ch;
        buttons += caption + "   ";
    }
    return rule + Caption() + "\r\n" + rule + text_->Text() + "\r\n" + rule + buttons + "\r\n" + rule;
}

bool MessageBoxForm::PreviewKey(unsigned vk, unsigned modifiers)
{
    if ((vk == 'C' || vk == VK_INSERT) && (modifiers & kmCtrl)) {
        Clipboard().SetText(AsText());
        return true;
    }
    return Form::PreviewKey(vk, modifiers);
}

void MessageBoxForm::Paint(gdi::Canvas& c)
{
    Form::Paint(c);
    DrawMessageIcon(c, kMargin, kMargin, icon_);
}

namespace {
int RunBox(Form* owner, const std::string& text, const std::string& caption, MessageIcon icon,
           const std::vector<MessageButton>& buttons, int escapeResult, size_t defaultIndex = 0)
{
    if (!owner) owner = ActiveForm();
    MessageBoxForm box(owner, text, caption, icon, buttons, escapeResult, defaultIndex);
    if (icon == MessageIcon::miError || icon == MessageIcon::miWarning) Beep();
    if (OnMessageBoxShown) OnMessageBoxShown(box);
    return box.ShowModal();
}
} // namespace

int ShowMessageBox(Form* owner, const std::string& text, const std::string& caption, unsigned flags)
{
    MessageIcon icon = MessageIcon::miNone;
    switch (flags & 0xF0) {
    case MB_ICONERROR: icon = MessageIcon::miError; break;
    case MB_ICONQUESTION: icon = MessageIcon::miQuestion; break;
    case MB_ICONWARNING: icon = MessageIcon::miWarning; break;
    case MB_ICONINFORMATION: icon = MessageIcon::miInformation; break;
    default: break;
    }
    const size_t defaultIndex = (flags & MB_DEFBUTTON2) ? 1 : 0;
    switch (flags & 0x0F) {
    case MB_OKCANCEL:
        return RunBox(owner, text, caption, icon, {{"OK", mrOk}, {"Cancel", mrCancel}}, mrCancel, defaultIndex);
    case MB_YESNO:
        // As on the original platform, a Yes/No box has no cancel answer.
        return RunBox(owner, text, caption, icon, {{"&Yes", mrYes}, {"&No", mrNo}}, mrNone, defaultIndex);
    default: return RunBox(owner, text, caption, icon, {{"OK", mrOk}}, mrOk);
    }
}

int ShowMessageDialog(Form* owner, const std::string& text, MsgDlgType type, unsigned buttons)
{
    MessageIcon icon = MessageIcon::miNone;
    std::string caption;
    switch (type) {
    case MsgDlgType::mtWarning: icon = MessageIcon::miWarning, caption = "Warning"; break;
    case MsgDlgType::mtError: icon = MessageIcon::miError, caption = "Error"; break;
    case MsgDlgType::mtInformation: icon = MessageIcon::miInformation, caption = "Information"; break;
    case MsgDlgType::mtConfirmation: icon = MessageIcon::miQuestion, caption = "Confirm"; break;
    case MsgDlgType::mtCustom: break;
    }
    std::vector<MessageButton> list;
    if (buttons & mbYes) list.push_back({"&Yes", mrYes});
    if (buttons & mbNo) list.push_back({"&No", mrNo});
    if (buttons & mbOK) list.push_back({"OK", mrOk});
    if (buttons & mbCancel) list.push_back({"Cancel", mrCancel});
    if (list.empty()) list.push_back({"OK", mrOk});
    // The framework's dialog cancels with Cancel, else No, else OK.
    const int escape = (buttons & mbCancel) ? mrCancel : (buttons & mbNo) ? mrNo : (buttons & mbOK) ? mrOk : mrNone;
    return RunBox(owner, text, caption, icon, list, escape);
}

} // namespace ui
