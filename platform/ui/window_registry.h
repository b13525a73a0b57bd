#pragma once
// Internal: the live windows by handle, and which thread's queue each one
// belongs to. Handles make cross-thread calls safe against windows that are
// destroyed meanwhile: a message to a dead handle is simply not delivered.
#include "platform/ui/message_queue.h"

namespace ui {
struct Window;
namespace detail {

HWND RegisterWindow(Window* window, MessageQueuePtr queue);
void UnregisterWindow(HWND hwnd);
MessageQueuePtr QueueOf(HWND hwnd);
// The window, when it exists and belongs to the calling thread.
Window* LocalWindow(HWND hwnd);
// Hands a message to its window on the calling thread; 0 when it is gone.
LRESULT Deliver(const Msg& msg);

} // namespace detail
} // namespace ui
