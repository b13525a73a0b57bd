#include "crashreport/pipeline/last_page.h"

#include <mutex>

namespace crashreport {
namespace {

constexpr std::size_t kMaxLastPage = 1 << 20;

std::mutex g_lock;
std::string g_page;

bool StartsNewPage(const char* data, std::size_t length)
{
    const std::string head(data, length < 16 ? length : 16);
    return head.rfind("Status:", 0) == 0 || head.rfind("Content-Type:", 0) == 0 ||
        head.rfind("Content-type:", 0) == 0;
}

} // namespace

void AppendLastPage(const char* data, std::size_t length)
{
    if (!data || !length) return;
    std::lock_guard<std::mutex> lock(g_lock);
    if (StartsNewPage(data, length)) g_page.clear();
    g_page.append(data, length);
    if (g_page.size() > kMaxLastPage) g_page.erase(0, g_page.size() - kMaxLastPage);
}

void SetLastPage(const std::string& text)
{
    std::lock_guard<std::mutex> lock(g_lock);
    g_page = text;
}

std::string LastPage()
{
    std::lock_guard<std::mutex> lock(g_lock);
    return g_page;
}

void ClearLastPage()
{
    std::lock_guard<std::mutex> lock(g_lock);
    g_page.clear();
}

} // namespace crashreport
