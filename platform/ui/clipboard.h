#pragma once
// The clipboard. Under X11 it is the CLIPBOARD selection, served by a
// background owner thread with its own display connection, so copied text
// stays available after the window (or thread) that copied it is gone. In
// the headless backend it is a process-wide store.
#include <memory>
#include <optional>
#include <string>

namespace ui {

class ClipboardService {
public:
    virtual ~ClipboardService() = default;
    virtual bool SetText(const std::string& utf8) = 0;
    // The current text; nothing when the clipboard holds no text or its owner
    // does not answer in time.
    virtual std::optional<std::string> GetText() = 0;
};

ClipboardService& Clipboard();
std::unique_ptr<ClipboardService> CreateHeadlessClipboard();
std::unique_ptr<ClipboardService> CreateX11Clipboard(); // nullptr without a display

} // namespace ui
