#include "crashreport/capture/waiting_pump.h"

#include "crashreport/capture/dispatcher.h"
#include "crashreport/capture/exception_class.h"
#include "platform/ui/backend.h"
#include "platform/ui/edit.h"
#include "platform/ui/form.h"
#include "platform/ui/message_queue.h"

#include <string>
#include <typeinfo>

namespace crashreport {

bool IsDroppedWhileWaiting(std::uint32_t message)
{
    return (message >= 0x00A1 && message <= 0x00A9) || (message >= 0x0100 && message <= 0x0102) ||
        (message >= 0x0104 && message <= 0x0106) || (message >= 0x0201 && message <= 0x0209);
}

bool WaitingPumpRound()
{
    if (!ui::CurrentQueueIfAny()) return true; // a thread without windows has nothing to pump
    for (int i = 0; i < kPumpMessagesPerRound; ++i) {
        ui::Msg msg;
        if (!ui::PeekMessage(msg, 0, 0, 0, ui::PM_REMOVE)) break;
        if (msg.message == ui::WM_QUIT) continue;
        if (IsDroppedWhileWaiting(msg.message)) {
            ui::Beep();
            continue;
        }
        try {
            ui::DispatchMessage(msg);
        } catch (...) {
            return false;
        }
    }
    return true;
}

namespace {

constexpr std::size_t kMaxFocusTextCharacters = 255;

// The window's text as the report takes it: at most 255 characters, cut on
// a character boundary, and for a password edit one '*' per character, so
// the password itself never reaches the report, log, XML or mail.
std::string FocusTextOf(const ui::Window& window)
{
    const std::string& text = window.Text();
    const auto* edit = dynamic_cast<const ui::Edit*>(&window);
    const bool password = edit != nullptr && edit->Password;
    std::string result;
    std::size_t characters = 0;
    for (std::size_t at = 0; at < text.size() && characters < kMaxFocusTextCharacters; ++characters) {
        const std::size_t next = ui::NextCharOffset(text, at);
        result += password ? std::string("*") : text.substr(at, next - at);
        at = next;
    }
    return result;
}

} // namespace

void FillFocusOfThisThread(TExceptNotifyParams& params)
{
    if (!ui::CurrentQueueIfAny()) return;
    ui::Form* form = ui::ActiveForm();
    if (!form) return;
    ui::Window* focused = form->FocusedControl();
    if (!focused) focused = form;
    char name[256];
    ShortClassName(typeid(*focused), name, sizeof name);
    params.FocusClass = name;
    params.FocusText = FocusTextOf(*focused);
}

} // namespace crashreport
