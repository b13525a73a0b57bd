#include "crashreport/options/module_options_ex.h"

#include "crashreport/options/freeze_watch_hook.h"
#include "crashreport/options/published_options.h"

namespace crashreport {

TTavrelModuleOptionsEx::TTavrelModuleOptionsEx(const std::string& moduleFile, bool publishChanges)
    : TTavrelModuleOptions(moduleFile, publishChanges)
{
    CheckChanged();
}

TTavrelModuleOptionsEx::~TTavrelModuleOptionsEx() = default;

void TTavrelModuleOptionsEx::Changed()
{
    try {
        PublishOptions(*this, published_);
    } catch (...) {
        // Publication is best effort: the record stays unpublished.
    }
}

bool TTavrelModuleOptionsEx::IsReporterOptions() const
{
    try {
        return QueryCurrentOptions() == this;
    } catch (...) {
        return false;
    }
}

void TTavrelModuleOptionsEx::StartOrStopFreezeWatch()
{
    TFreezeWatchControl* control = FreezeWatchControl();
    if (control == nullptr) return;
    try {
        if (ReporterActive() && FreezeWatch())
            control->StartFreezeWatch();
        else
            control->StopFreezeWatch();
    } catch (...) {
        // A watchdog that cannot start or stop must not break the setter.
    }
}

void TTavrelModuleOptionsEx::SetReporterActive(bool value)
{
    if (!IsReporterOptions()) {
        TTavrelModuleOptions::SetReporterActive(value);
        return;
    }
    if (value == ReporterActive()) return;
    TTavrelModuleOptions::SetReporterActive(value);
    StartOrStopFreezeWatch();
}

void TTavrelModuleOptionsEx::SetFreezeWatch(bool value)
{
    if (!IsReporterOptions()) {
        TTavrelModuleOptions::SetFreezeWatch(value);
        return;
    }
    if (value == FreezeWatch()) return;
    TTavrelModuleOptions::SetFreezeWatch(value);
    StartOrStopFreezeWatch();
}

} // namespace crashreport
