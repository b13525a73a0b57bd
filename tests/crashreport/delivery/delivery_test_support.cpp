#include "delivery_test_support.h"

#include <mutex>

#include "crashreport/capture/errorlog/warnings.h"
#include "crashreport/codecs/base64.h"

namespace delivery_testing {
namespace {

std::mutex g_lock;
std::vector<std::string> g_lines;

bool Present() { return true; }
void Output(std::string_view line)
{
    std::lock_guard<std::mutex> lock(g_lock);
    g_lines.emplace_back(line);
}

} // namespace

TWarningCollector::TWarningCollector()
{
    {
        std::lock_guard<std::mutex> lock(g_lock);
        g_lines.clear();
    }
    crashreport::TErrorLogHooks hooks;
    hooks.DebuggerPresent = &Present;
    hooks.DebugOutput = &Output;
    previous_ = crashreport::SetErrorLogHooks(hooks);
    crashreport::ClearWarning();
}

TWarningCollector::~TWarningCollector()
{
    crashreport::SetErrorLogHooks(previous_);
    crashreport::ClearWarning();
}

const std::vector<std::string>& TWarningCollector::Lines() const { return g_lines; }

std::string TWarningCollector::All() const
{
    std::string all;
    for (const std::string& line : g_lines) all += line + "\n";
    return all;
}

std::string PatternBytes(std::size_t length, unsigned seed)
{
    std::string bytes(length, '\0');
    unsigned state = seed * 2654435761u + 1;
    for (std::size_t i = 0; i < length; ++i) {
        state = state * 1664525u + 1013904223u;
        bytes[i] = static_cast<char>(state >> 24);
    }
    return bytes;
}

bool ShowsSecret(const std::string& text, const std::string& secret)
{
    return text.find(secret) != std::string::npos ||
        text.find(crashreport::codecs::EncodeBase64(secret)) != std::string::npos;
}

} // namespace delivery_testing
