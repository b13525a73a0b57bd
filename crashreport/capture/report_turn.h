#pragma once
// The turn of reports: a further exception is reported only after every
// delivery of an earlier report has ended. A delivery owns a TDeliveryHold
// from the moment it is handed over until it is sent or kept; the dispatcher
// waits in AwaitDeliveries, under the capture lock, until no hold is left. One atomic counter with a
// futex wait: no lock is shared with a delivery, nothing is allocated, and
// the wait works from the fault handler.
#include <atomic>

namespace crashreport {

class TDeliveryHold {
public:
    TDeliveryHold();
    ~TDeliveryHold();
    TDeliveryHold(TDeliveryHold&& other) noexcept : held_(other.held_) { other.held_ = false; }
    TDeliveryHold& operator=(TDeliveryHold&& other) noexcept;
    TDeliveryHold(const TDeliveryHold&) = delete;
    TDeliveryHold& operator=(const TDeliveryHold&) = delete;
    void Release();

private:
    bool held_;
};

// Waits until no delivery hold is left. Signal-safe (futex wait).
void AwaitDeliveries();

} // namespace crashreport
