#include "platform/ui/app_windows.h"

#include "platform/ui/message_queue.h"

#include <algorithm>
#include <map>
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
HWND g_foreground = 0;
} // namespace

std::vector<HWND> ShownTopLevels()
{
    std::lock_guard lock(g_mutex);
    std::vector<HWND> handles;
    for (const Shown& s : g_shown) handles.push_back(s.Handle);
    return handles;
}

HWND ForegroundWindow()
{
    std::lock_guard lock(g_mutex);
    return g_foreground;
}

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
            g_foreground = hwnd;
            return;
        }
    g_shown.push_back(Shown{hwnd, owned});
    g_foreground = hwnd;
}

void NoteTopLevelActivated(HWND hwnd)
{
    std::lock_guard lock(g_mutex);
    g_foreground = hwnd;
}

void NoteTopLevelHidden(HWND hwnd)
{
    std::lock_guard lock(g_mutex);
    g_shown.erase(std::remove_if(g_shown.begin(), g_shown.end(), [hwnd](const Shown& s) { return s.Handle == hwnd; }),
                  g_shown.end());
    if (g_foreground == hwnd) g_foreground = 0;
}

} // namespace detail
namespace {
// Placement questions in flight, by number: an answer that comes after its
// question gave up finds nothing to fill.
std::mutex g_placementMutex;
std::map<WPARAM, WindowPlacement> g_placements;
WPARAM g_lastPlacementQuestion = 0;
} // namespace

bool QueryWindowPlacement(HWND hwnd, unsigned timeoutMs, WindowPlacement& placement)
{
    WPARAM question;
    {
        std::lock_guard lock(g_placementMutex);
        question = ++g_lastPlacementQuestion;
        g_placements[question] = WindowPlacement{};
    }
    LRESULT answered = 0;
    const bool delivered = SendMessageTimeout(hwnd, WM_QUERYPLACEMENT, question, 0, timeoutMs, &answered);
    std::lock_guard lock(g_placementMutex);
    const auto it = g_placements.find(question);
    if (delivered && answered == 1) placement = it->second;
    g_placements.erase(it);
    return delivered && answered == 1;
}

namespace detail {
bool AnswerPlacementQuestion(WPARAM question, const WindowPlacement& placement)
{
    std::lock_guard lock(g_placementMutex);
    const auto it = g_placements.find(question);
    if (it == g_placements.end()) return false;
    it->second = placement;
    return true;
}
} // namespace detail

} // namespace ui
