#include "tests/crashreport/errorlog/warning_collector.h"

#include <atomic>
#include <mutex>

#include "crashreport/errorlog/warnings.h"

namespace errorlog_testing {
namespace {

// The hooks are plain functions, so what they record lives here. Warnings
// may come from other threads (a delivery's sending thread).
std::mutex g_lock;
std::atomic<bool> g_debugged{true};
std::vector<std::string> g_lines;
std::vector<std::string> g_boxes;
std::uintptr_t g_address = 0;

bool Debugged() { return g_debugged; }

void Output(std::string_view line)
{
    std::lock_guard<std::mutex> lock(g_lock);
    g_lines.emplace_back(line);
}

int Box(const std::string& text, const std::string& caption, unsigned flags)
{
    std::lock_guard<std::mutex> lock(g_lock);
    g_boxes.push_back(caption + "|" + text + "|" + std::to_string(flags));
    return 1;
}

const void* Address() { return reinterpret_cast<const void*>(g_address); }

} // namespace

TWarningCollector::TWarningCollector(const TOptions& options)
{
    {
        std::lock_guard<std::mutex> lock(g_lock);
        g_lines.clear();
        g_boxes.clear();
    }
    g_debugged = true;
    crashreport::TErrorLogHooks hooks;
    hooks.DebuggerPresent = &Debugged;
    hooks.DebugOutput = &Output;
    if (options.MessageBoxes) hooks.MessageBox = &Box;
    if (options.ExceptionAddress) {
        g_address = *options.ExceptionAddress;
        hooks.ExceptionAddress = &Address;
    }
    previous_ = crashreport::SetErrorLogHooks(hooks);
    crashreport::ClearWarning();
}

TWarningCollector::~TWarningCollector()
{
    crashreport::SetErrorLogHooks(previous_);
    crashreport::ClearWarning();
}

void TWarningCollector::SetDebugged(bool debugged) { g_debugged = debugged; }

const std::vector<std::string>& TWarningCollector::Lines() const { return g_lines; }

std::string TWarningCollector::All() const
{
    std::lock_guard<std::mutex> lock(g_lock);
    std::string all;
    for (const std::string& line : g_lines) all += line + "\n";
    return all;
}

const std::vector<std::string>& TWarningCollector::Boxes() const { return g_boxes; }

} // namespace errorlog_testing
