#pragma once
// The sending-progress dialog: a status line and a progress bar on a thread
// of its own (TSendDialogThread), so that it stays drawn while the sending
// code blocks. The sending code reaches it only through window messages to
// the published handle; every call is a no-op while no dialog exists.
#include <string>

#include "crashreport/options/module_options.h"
#include "platform/ui/types.h"

namespace crashreport::ui {

enum : ::ui::UINT {
    kSendDialogClose = ::ui::WM_USER + 1234,     // ends the dialog
    kSendDialogStatus = ::ui::WM_USER + 1235,    // lParam: const std::string*
    kSendDialogGetStatus = ::ui::WM_USER + 1236, // lParam: std::string* that receives the status line
};

// Starts the dialog when sfShowSendDialogs is set and a send method is
// configured, and waits until it shows.
void StartSendDialog(const TTavrelModuleOptions& options);
// The status line, with the "Message n/m: " prefix of the current recipient.
void SetSendStatus(const std::string& text);
// The status line as it is (the web progress callback's texts).
void SetSendStatusText(const std::string& text);
void SetSendRecipient(int number, int count);
void SetSendProgress(int percent);
void CloseSendDialog();
// The web layer's progress: stage 0 connecting, 1 connected, 2 sending.
void WebSendProgress(int stage, long long total, long long done);

// The dialog's window (0: none), and what it shows, asked of its thread.
::ui::HWND SendDialogHandle();
std::string SendDialogStatus();
int SendDialogProgress(); // -1: no dialog

} // namespace crashreport::ui
