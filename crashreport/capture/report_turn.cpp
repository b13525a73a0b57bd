#include "crashreport/capture/report_turn.h"

namespace crashreport {
namespace {

std::atomic<int> g_holds{0};

} // namespace

TDeliveryHold::TDeliveryHold() : held_(true) { g_holds.fetch_add(1); }

TDeliveryHold::~TDeliveryHold() { Release(); }

TDeliveryHold& TDeliveryHold::operator=(TDeliveryHold&& other) noexcept
{
    if (this != &other) {
        Release();
        held_ = other.held_;
        other.held_ = false;
    }
    return *this;
}

void TDeliveryHold::Release()
{
    if (!held_) return;
    held_ = false;
    g_holds.fetch_sub(1);
    g_holds.notify_all();
}

// Signal-safe: an atomic load and the futex wait of std::atomic::wait.
void AwaitDeliveries()
{
    for (int held = g_holds.load(); held != 0; held = g_holds.load()) g_holds.wait(held);
}

} // namespace crashreport
