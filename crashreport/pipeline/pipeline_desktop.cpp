#include "crashreport/pipeline/pipeline_desktop.h"

#include "crashreport/pipeline/reporter.h"

#include <cstdio>

namespace crashreport {
namespace {

TPipelineDesktop Current()
{
    const TReporter* reporter = CurrentReporter();
    return reporter ? reporter->Parts().Desktop : TPipelineDesktop{};
}

} // namespace

TPipelineDesktop PipelineDesktop() { return Current(); }

bool DesktopIsGUIProcess()
{
    const auto query = Current().IsGUIProcess;
    return query && query();
}

void DesktopMessageBox(const std::string& text, const std::string& caption, TReporterBoxKind kind)
{
    if (const auto box = Current().MessageBox) {
        box(text, caption, kind);
        return;
    }
    // No desktop: the user of a console program still reads the message.
    std::fprintf(stderr, "%s: %s\n", caption.c_str(), text.c_str());
}

bool DesktopAskYesNo(const std::string& text, const std::string& caption, TReporterBoxKind kind)
{
    const auto ask = Current().AskYesNo;
    return ask && ask(text, caption, kind);
}

bool DesktopCopyToClipboard(const std::string& text)
{
    const auto copy = Current().CopyToClipboard;
    return copy && copy(text);
}

void DesktopBringApplicationToFront()
{
    if (const auto bring = Current().BringApplicationToFront) bring();
}

void DesktopActiveForm(std::uint32_t threadId, std::string& className, std::string& caption)
{
    if (const auto query = Current().ActiveForm)
        if (query(threadId, className, caption)) return;
    className.clear();
    caption.clear();
}

} // namespace crashreport
