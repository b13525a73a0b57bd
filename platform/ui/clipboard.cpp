#include "platform/ui/clipboard.h"

#include <mutex>

#include "platform/ui/backend.h"

namespace ui {
namespace {

class HeadlessClipboard final : public ClipboardService {
public:
    bool SetText(const std::string& utf8) override
    {
        std::lock_guard lock(mutex_);
        text_ = utf8;
        return true;
    }
    std::optional<std::string> GetText() override
    {
        std::lock_guard lock(mutex_);
        return text_;
    }

private:
    std::mutex mutex_;
    std::optional<std::string> text_;
};

} // namespace

std::unique_ptr<ClipboardService> CreateHeadlessClipboard() { return std::make_unique<HeadlessClipboard>(); }

ClipboardService& Clipboard()
{
    // One clipboard for the process, whichever thread uses it first.
    static std::unique_ptr<ClipboardService> service = [] {
        std::unique_ptr<ClipboardService> s;
        if (CurrentBackend() == BackendKind::bkX11) s = CreateX11Clipboard();
        if (!s) s = CreateHeadlessClipboard();
        return s;
    }();
    return *service;
}

} // namespace ui
