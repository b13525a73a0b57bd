#pragma once
// The options record the reporter creates at run time, one per module. It
// publishes every change into the module's shared block (see
// published_options.h) and, when it is the record of the reporter's own
// module, starts or stops the freeze watchdog as ReporterActive and
// FreezeWatch change.
#include <string>

#include "crashreport/options/module_options.h"
#include "platform/kernel/shared_memory.h"

namespace crashreport {

class TTavrelModuleOptionsEx : public TTavrelModuleOptions {
public:
    // Runs the change check once built, so a publishing record of the
    // reporter's module publishes its defaults at once.
    TTavrelModuleOptionsEx(const std::string& moduleFile, bool publishChanges);
    ~TTavrelModuleOptionsEx() override;

    // Publishes the record; a block that cannot be created or mapped leaves
    // it unpublished without telling the caller.
    void Changed() override;
    void SetReporterActive(bool value) override;
    void SetFreezeWatch(bool value) override;

    // The block this record published last (not open when none).
    const kernel::TSharedMemory& PublishedBlock() const { return published_; }

private:
    bool IsReporterOptions() const;
    void StartOrStopFreezeWatch();

    kernel::TSharedMemory published_;
};

} // namespace crashreport
