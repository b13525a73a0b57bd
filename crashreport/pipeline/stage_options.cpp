// The first stage: the options that apply to the report (those of the
// module holding the address, else the given module's, else the main
// program's), the application's window brought to the front, and the
// exception filters.
#include "crashreport/capture/exception_capture.h"
#include "crashreport/threads/thread_classes.h"
#include "crashreport/modules/modules_list.h"
#include "crashreport/modules/stored_data_loader.h"
#include "crashreport/options/safe_run.h"
#include "crashreport/pipeline/pipeline_desktop.h"
#include "crashreport/pipeline/pipeline_run.h"
#include "crashreport/pipeline/report_pipeline.h"
#include "crashreport/report/captured_report.h"
#include "platform/rtl/strings.h"
#include "platform/kernel/modules.h"

namespace crashreport {
namespace {

// The options the capture was started with; null when it was forced to
// start without any.
const TTavrelModuleOptions* CaptureOptions()
{
    if (!ExceptionCaptureStarted()) return nullptr;
    try {
        return &CurrentTavrelLogOptions();
    } catch (...) {
        return nullptr;
    }
}

// The defaults, for a capture started without options.
const TTavrelModuleOptions& DefaultOptions()
{
    static auto* options = new TTavrelModuleOptions(kernel::MainExecutablePath(), false);
    return *options;
}

bool HasOwnOptions(std::uintptr_t module)
{
    if (!module) return false;
    if (module == CaptureModule()) return CaptureOptions() != nullptr;
    return HasStoredData(module);
}

const TTavrelModuleOptions* OptionsOf(std::uintptr_t module)
{
    if (module == CaptureModule()) return CaptureOptions();
    TTavrelModuleInfo* info = FindModuleInfo(module);
    return info && info->Options ? info->Options.get() : nullptr;
}

std::uintptr_t ModuleOfAddress(const void* address)
{
    kernel::TModuleImage image;
    return address && kernel::FindModuleByAddress(address, image) ? image.Handle : 0;
}

std::uintptr_t MainModule()
{
    kernel::TModuleImage image;
    return kernel::FindModuleByName("", image) ? image.Handle : 0;
}

void ChooseOptions(TReportRun& run)
{
    SetSection(scOptionsOfAddressModule);
    std::uintptr_t module = ModuleOfAddress(run.Exception.Address);
    if (!HasOwnOptions(module)) {
        SetSection(scOptionsOfGivenModule);
        module = run.Exception.Module;
    }
    if (!HasOwnOptions(module)) {
        SetSection(scOptionsOfMainModule);
        module = MainModule();
    }
    const TTavrelModuleOptions* chosen = HasOwnOptions(module) ? OptionsOf(module) : nullptr;
    if (!chosen) chosen = CaptureOptions();
    if (!chosen) chosen = &DefaultOptions();
    if (chosen->BehaviourFlags().Contains(bhMainModuleOptions) && HasOwnOptions(MainModule()))
        if (const TTavrelModuleOptions* main = OptionsOf(MainModule())) chosen = main;
    run.Options = std::make_unique<TTavrelModuleOptions>(chosen->ModuleFile(), false);
    run.Options->Assign(chosen);
    SetSection(scDesignTimeLook);
    if (IsDesignTimeHost()) run.Options->SetDialogFlags(run.Options->DialogFlags() - TDialogFlags{dfOwnLook});
    run.Options->SetModuleFile(chosen->ModuleFile());
}

} // namespace

std::string FilterMessageText(const std::string& text, const TCapturedException& exception)
{
    if (text.find(kFilterMessagePlaceholder) == std::string::npos) return text;
    return rtl::ReplaceAll(text, kFilterMessagePlaceholder, GetExceptionMessage(exception));
}

namespace {

// The exception filters; true when the report is skipped.
bool Filtered(const TReportRun& run)
{
    SetSection(scFilters);
    const TTavrelModuleOptions& o = *run.Options;
    if (!o.FilterActive() || !run.Exception.Exception.Valid()) return false;
    const auto& names = o.FilterClassNames();
    for (std::size_t i = 0; i < names.Count(); ++i) {
        SetSection(scFilterMatch);
        if (names[i].empty() || !ClassDescendsFrom(*run.Exception.Exception.Type, names[i])) continue;
        const auto& messages = o.FilterMessages();
        if (i < messages.Count() && !messages[i].empty())
            DesktopMessageBox(FilterMessageText(messages[i], run.Exception), o.GetText(0), bkInformation);
        return true;
    }
    return false;
}

} // namespace

bool ChooseOptionsAndFilter(TReportRun& run)
{
    ChooseOptions(run);
    const TTavrelModuleOptions& o = *run.Options;
    run.Choices.Send = run.SendConfigured();
    run.Choices.Screenshot = o.SendFlags().Contains(sfAttachScreenshot);
    run.Choices.Copy = run.State.CopyChoice;
    run.Gui = DesktopIsGUIProcess();
    const TSendFlags send = o.SendFlags();
    if ((run.Exception.RaiserKind == rkApplication || (run.Exception.RaiserKind == rkRuntime && run.Gui)) &&
        ((run.WillSend() && (send.Contains(sfShowSendDialogs) || send.Contains(sfAttachScreenshot))) ||
         o.DialogFlags().Contains(dfShowDialog)))
        DesktopBringApplicationToFront();
    return run.Exception.CaptureMode == cmThreadBody || !Filtered(run);
}

} // namespace crashreport
