#pragma once
// RunInHandlingThread: event steps run on the thread that handles the
// current exception. While an exception is handled, another thread posts
// its step and polls every 10 milliseconds until the handling thread (in
// its waiting loop, RunPostedStep) has run it and cleared the posting. With
// no exception being handled, or on the handling thread itself, the step
// runs at once. A failure inside a step is swallowed. Afterwards the log
// file's duplicate check runs (a hook the log file manager fills).
//
// The exception capture marks the handling thread with BeginHandling and
// EndHandling; until it does, every step runs on the calling thread.
// Not signal-safe: steps run arbitrary code and the poster sleeps.
#include <functional>

namespace crashreport {

using THandlingStep = std::function<void()>;

void RunInHandlingThread(const THandlingStep& step);

// Called by the exception capture around the handling of one exception.
void BeginHandling(int handlingThreadId);
void EndHandling();
bool IsHandlingException();

// Called by the handling thread while it waits: runs a posted step, if any.
// Returns whether one ran.
bool RunPostedStep();

// The duplicate check of the log file that runs after every step.
void SetDuplicateCheck(std::function<void()> check);

} // namespace crashreport
