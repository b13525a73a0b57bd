#include "platform/ui/backend.h"

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <mutex>

namespace ui {
namespace {
std::mutex g_mutex;
bool g_decided = false;
bool g_used = false;
BackendKind g_kind = BackendKind::bkHeadless;

BackendKind Decide()
{
    if (const char* env = std::getenv("VEK_UI_BACKEND")) {
        if (std::strcmp(env, "headless") == 0) return BackendKind::bkHeadless;
        if (std::strcmp(env, "x11") == 0 && X11DisplayReachable()) return BackendKind::bkX11;
    }
    return X11DisplayReachable() ? BackendKind::bkX11 : BackendKind::bkHeadless;
}

// Closes the thread's connection before its queue goes. The queue is made
// while the holder is made, so it is there until the holder has gone
// (thread storage is destroyed in the reverse order of its making).
struct ThreadConnectionHolder {
    std::unique_ptr<Connection> connection;
    ThreadConnectionHolder() { CurrentQueue(); }
    ~ThreadConnectionHolder()
    {
        if (connection)
            if (auto* q = CurrentQueueIfAny(); q && q->Source() == connection.get()) q->SetEventSource(nullptr);
    }
};
thread_local ThreadConnectionHolder t_connection;
} // namespace

BackendKind CurrentBackend()
{
    std::lock_guard lock(g_mutex);
    if (!g_decided) {
        g_kind = Decide();
        g_decided = true;
    }
    return g_kind;
}

bool SelectBackend(BackendKind kind)
{
    std::lock_guard lock(g_mutex);
    if (g_used && (!g_decided || g_kind != kind)) return false;
    if (kind == BackendKind::bkX11 && !X11DisplayReachable()) return false;
    g_kind = kind;
    g_decided = true;
    return true;
}

Connection& ThreadConnection()
{
    if (!t_connection.connection) {
        const BackendKind kind = CurrentBackend();
        {
            std::lock_guard lock(g_mutex);
            g_used = true;
        }
        if (kind == BackendKind::bkX11) t_connection.connection = CreateX11Connection();
        if (!t_connection.connection) t_connection.connection = CreateHeadlessConnection();
        CurrentQueue()->SetEventSource(t_connection.connection.get());
    }
    return *t_connection.connection;
}

bool ThreadDisplayLost() { return t_connection.connection && t_connection.connection->Lost(); }

void Beep() { ThreadConnection().Beep(); }

} // namespace ui
