// Starts the exception capture from the reporter's module initialisation,
// before the program's own static initialisation: a constructor of the
// highest priority loads this module's stored options (without debug data)
// and starts the capture with them; a module without stored options leaves
// the capture off. Then the reporter the module carries starts
// (reporter_start.h). At exit the capture is only switched off: the static
// objects of the layers below may be gone by then, so nothing is undone. Link the object library crashreport_capture_autostart into
// the module that carries the reporter.
#include "crashreport/capture/exception_capture.h"
#include "crashreport/capture/reporter_start.h"
#include "crashreport/modules/stored_data_loader.h"
#include "crashreport/modules/module_info.h"
#include "platform/kernel/memory.h"
#include "platform/kernel/modules.h"

#include <cstdlib>
#include <memory>

namespace crashreport {
namespace {

// The record whose options the capture uses; lives until the process ends.
TTavrelModuleInfo* g_record = nullptr;

__attribute__((visibility("hidden"), noinline)) void Marker() { asm volatile(""); }

void StopAtExit() { StopExceptionCaptureAtExit(); }

// Priority 101 is the kernel layer's thread tables.
__attribute__((constructor(102))) void StartReporterCapture()
{
    auto record = ModuleRecordWithStoredOptions(reinterpret_cast<const void*>(&Marker), false);
    if (!record) return; // a program without stored options keeps the reporter off
    g_record = record.release();
    // The start patches code and import cells of every module, each patch
    // putting back the protection it changes: one reading of the memory map
    // serves them all.
    kernel::TMemoryMapReading reading;
    TCaptureStartup startup;
    startup.Options = g_record->Options.get();
    if (!StartExceptionCapture(startup)) return;
    std::atexit(&StopAtExit);
    if (TavrelLog_StartReporter) TavrelLog_StartReporter();
}

} // namespace
} // namespace crashreport

// The symbol by which the package's link line takes this object out of its
// archive: nothing calls it, the constructor above is what counts.
extern "C" __attribute__((used)) void TavrelLog_LinkAutostart() {}
