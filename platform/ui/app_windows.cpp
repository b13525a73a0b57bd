#include "platform/ui/app_windows.h"

#include <algorithm>
#include <mutex>
#include <vector>

namespace ui {
namespace {
struct Shown {
    HWND Handle;
    bool Owned;
};
std::mutex g_mutex;
std::vector<Shown> g_shown;
} // namespace

HWND FindApplicationWindow()
{
    std::lock_guard lock(g_mutex);
    for (const Shown& s : g_shown)
        if (!s.Owned) return s.Handle;
    return 0;
}

namespace detail {

void NoteTopLevelShown(HWND hwnd, bool owned)
{
    std::lock_guard lock(g_mutex);
    for (Shown& s : g_shown)
        if (s.Handle == hwnd) {
            s.Owned = owned;
            return;
        }
    g_shown.push_back(Shown{hwnd, owned});
}

void NoteTopLevelHidden(HWND hwnd)
{
    std::lock_guard lock(g_mutex);
    g_shown.erase(std::remove_if(g_shown.begin(), g_shown.end(), [hwnd](const Shown& s) { return s.Handle == hwnd; }),
                  g_shown.end());
}

} // namespace detail
} // namespace ui
