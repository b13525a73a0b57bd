#pragma once
// Which threads a report shows and pauses: the main thread, runtime threads
// (the main thread and threads that run a framework thread object) and
// system threads (all others), tested against StackFlags and BehaviourFlags.
#include "crashreport/threads/thread_record.h"
#include "crashreport/options/option_types.h"

namespace crashreport {

class TTavrelModuleOptions;

bool IsMainThread(const TTavrelThreadRecord& record);
bool IsRuntimeThread(const TTavrelThreadRecord& record);
bool IsSystemThread(const TTavrelThreadRecord& record);

bool ShowThreadInReport(const TTavrelThreadRecord& record, TStackFlags stackFlags);
bool PauseThreadDuringReport(const TTavrelThreadRecord& record, TBehaviourFlags behaviourFlags);
bool ShowThreadInReport(const TTavrelThreadRecord& record, const TTavrelModuleOptions& options);
bool PauseThreadDuringReport(const TTavrelThreadRecord& record, const TTavrelModuleOptions& options);

} // namespace crashreport
