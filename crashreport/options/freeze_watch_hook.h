#pragma once
// How the options reach the freeze watchdog. The watchdog registers a
// control that starts and stops it, and the capture layer tells which record
// is the options record of the reporter's own module; TTavrelModuleOptionsEx
// starts or stops the watchdog when ReporterActive or FreezeWatch of that
// record changes. Both are process-wide and may be left unset; installing
// and reading them is atomic and signal-safe.
namespace crashreport {

class TTavrelModuleOptions;

class TFreezeWatchControl {
public:
    virtual ~TFreezeWatchControl() = default;
    virtual void StartFreezeWatch() = 0;
    virtual void StopFreezeWatch() = 0;
};

// The options record of the reporter's own module, or null.
using TCurrentOptionsQuery = TTavrelModuleOptions* (*)();

// Installs the watchdog control (null removes it); returns the previous one.
TFreezeWatchControl* SetFreezeWatchControl(TFreezeWatchControl* control);
TFreezeWatchControl* FreezeWatchControl();

// Installs the query for the reporter's own options record (null removes
// it); returns the previous one.
TCurrentOptionsQuery SetCurrentOptionsQuery(TCurrentOptionsQuery query);
// The record the query names, or null when no query is installed.
TTavrelModuleOptions* QueryCurrentOptions();

} // namespace crashreport
