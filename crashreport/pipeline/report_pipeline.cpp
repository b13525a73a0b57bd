#include "crashreport/pipeline/report_pipeline.h"

#include "crashreport/binding/events.h"
#include "crashreport/binding/handling_thread.h"
#include "crashreport/capture/capture_state.h"
#include "crashreport/capture/errorlog/mail_date.h"
#include "crashreport/capture/errorlog/warnings.h"
#include "crashreport/capture/exception_capture.h"
#include "crashreport/capture/thread_classes.h"
#include "crashreport/capture/thread_tracking.h"
#include "crashreport/modules/modules_list.h"
#include "crashreport/modules/stored_data_loader.h"
#include "crashreport/options/internal_error_sink.h"
#include "crashreport/options/safe_run.h"
#include "crashreport/pipeline/crash_rule.h"
#include "crashreport/pipeline/framework_interceptors.h"
#include "crashreport/pipeline/last_page.h"
#include "crashreport/pipeline/pipeline_desktop.h"
#include "crashreport/pipeline/report_pause.h"
#include "crashreport/pipeline/report_screenshot.h"
#include "crashreport/pipeline/send_report.h"
#include "crashreport/report/captured_report.h"
#include "crashreport/report/log_file.h"
#include "crashreport/report/report_dialogs.h"
#include "crashreport/report/web_page.h"
#include "platform/kernel/files.h"
#include "platform/kernel/folder_files.h"
#include "platform/kernel/modules.h"
#include "platform/kernel/process_end.h"
#include "platform/rtl/external_exception.h"
#include "platform/rtl/file_names.h"

#include <unistd.h>

#include <atomic>
#include <memory>
#include <mutex>

namespace crashreport {
namespace {

constexpr int kMaxLogSaveAttempts = 10;

// Kept between reports; the pipeline runs under the capture lock, one
// report at a time, so only the readers from other threads need the lock.
struct TPipelineState {
    std::mutex Lock;
    unsigned Counter = 0;
    std::string LastMessage;
    TCrashRule CrashRule;
    bool CopyChoice = false;
};

TPipelineState& State()
{
    static TPipelineState* state = new TPipelineState; // outlives every report thread
    return *state;
}

std::atomic<int> g_section{0};

void DefaultProcessEnd(bool restart)
{
    if (restart) kernel::SpawnSameProgram();
    kernel::TerminateProcess(1);
}
std::atomic<TProcessEnd> g_processEnd{&DefaultProcessEnd};

void SetSection(int section) { g_section.store(section); }

// Writes all of the text to standard output; false when it could not.
bool WriteToStandardOutput(const std::string& text)
{
    std::size_t done = 0;
    while (done < text.size()) {
        const ssize_t n = ::write(1, text.data() + done, text.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        done += static_cast<std::size_t>(n);
    }
    return true;
}

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

// One run of the pipeline.
class TPipelineRun {
public:
    explicit TPipelineRun(const TCapturedException& captured) : exception_(captured) {}

    bool Run()
    {
        SetSection(scStart);
        exceptionTime_ = LocalNow();
        if (TTavrelThreadsList* tracked = TrackedThreads()) threads_ = TTavrelThreadsList::PrivateCopy(*tracked);

        DropChangedModules();
        RefreshModulesList();
        PublishRecord();

        ChooseOptions();
        const TTavrelModuleOptions& o = *options_;
        choices_.Send = SendConfigured();
        choices_.Screenshot = o.SendFlags().Contains(sfAttachScreenshot);
        choices_.Copy = state_.CopyChoice;
        const bool gui = DesktopIsGUIProcess();
        if ((exception_.RaiserKind == rkApplication || (exception_.RaiserKind == rkRuntime && gui)) &&
            ((WillSend() && (o.SendFlags().Contains(sfShowSendDialogs) || o.SendFlags().Contains(sfAttachScreenshot))) ||
             o.DialogFlags().Contains(dfShowDialog)))
            DesktopBringApplicationToFront();

        if (exception_.CaptureMode != cmThreadBody && Filtered()) return false;

        SetSection(scNotifyParams);
        SetSection(scCallStack);
        TGatherOptions gather;
        DesktopActiveForm(exception_.NotifyParams.ThreadID, gather.FormClass, gather.FormText);
        gather.RunningThreads =
            o.StackFlags().Contains(stRuntimeThreads) || o.StackFlags().Contains(stSystemThreads);
        sources_ = GatherReportSources(exception_, o, gather, stack_);

        SetSection(scPauseThreads);
        if (exception_.CaptureMode == cmThreadBody) return false;
        if (threads_) pause_.Pause(*threads_, o.BehaviourFlags(), exception_.NotifyParams.ThreadID);

        const bool goOn = Report(gui);
        pause_.ResumeAll();
        SetSection(scReleaseStack);
        if (!background_) stack_.reset();
        SetSection(scTerminate);
        if (!background_ && choices_.Terminate) EndProcessAfterReport(terminateAction_ == taRestart);
        return goOn;
    }

    // Keeps the copy choice for the next report whatever happened.
    ~TPipelineRun() { state_.CopyChoice = choices_.Copy; }

    int Section() const { return g_section.load(); }

private:
    void PublishRecord()
    {
        TTavrelExceptionRecord& record = CurrentExceptionRecord();
        record.ExceptionObject = exception_.Exception.Object;
        record.ExceptionAddress = exception_.Address;
        record.ThreadID = static_cast<std::int32_t>(exception_.NotifyParams.ThreadID);
        record.Text = exception_.Message;
    }

    void ChooseOptions()
    {
        SetSection(scOptionsOfAddressModule);
        std::uintptr_t module = ModuleOfAddress(exception_.Address);
        if (!HasOwnOptions(module)) {
            SetSection(scOptionsOfGivenModule);
            module = exception_.Module;
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
        options_ = std::make_unique<TTavrelModuleOptions>(chosen->ModuleFile(), false);
        options_->Assign(chosen);
        SetSection(scDesignTimeLook);
        if (IsDesignTimeHost()) options_->SetDialogFlags(options_->DialogFlags() - TDialogFlags{dfOwnLook});
        options_->SetModuleFile(chosen->ModuleFile());
    }

    bool SendConfigured() const { return options_->MailMethod() != mmNone || options_->WebMethod() != wmNone; }

    bool WillSend() const
    {
        return SendConfigured() && !repeat_ && (choices_.Send || !options_->DialogFlags().Contains(dfShowDialog));
    }

    // The exception filters; true when the report is skipped.
    bool Filtered()
    {
        SetSection(scFilters);
        const TTavrelModuleOptions& o = *options_;
        if (!o.FilterActive() || !exception_.Exception.Valid()) return false;
        const auto& names = o.FilterClassNames();
        for (std::size_t i = 0; i < names.Count(); ++i) {
            SetSection(scFilterMatch);
            if (names[i].empty() || !ClassDescendsFrom(*exception_.Exception.Type, names[i])) continue;
            const auto& messages = o.FilterMessages();
            if (i < messages.Count() && !messages[i].empty())
                DesktopMessageBox(messages[i], o.GetText(0), bkInformation);
            return true;
        }
        return false;
    }

    // Steps from the report text to the sending; answers the pipeline's answer.
    bool Report(bool gui)
    {
        const TTavrelModuleOptions& o = *options_;
        SetSection(scReportGoesOn);
        if (o.LogFlags().Contains(lgModulesSection)) RefreshModulesList();
        SetSection(scPublish);
        SetSection(scReportText);
        report_ = BuildReportText(sources_, o);
        SetSection(scExceptionRecord);
        PublishRecord();
        if (o.LogFlags().Contains(lgSkipRepeatedErrors)) repeat_ = IsRepeat();
        SetSection(scClearWarning);
        ClearWarning();
        SetSection(scScreenshot);
        TReportScreenshotScope screenshot(o);
        if (IsCGI()) SetLastPage(BuildErrorPage(report_.Text, true, o).Html);
        bool handle = true;
        RunInHandlingThread([&] { DispatchExceptionNotify(CurrentExceptionRecord(), handle); });
        if (!handle) return true; // cancelled: the caller's default handling runs

        SetSection(scCrashRule);
        if (o.BehaviourFlags().Contains(bhCrashRule)) state_.CrashRule.Add(exceptionTime_, o.CrashCount());
        std::string custom;
        DispatchCustomDataRequest(CurrentExceptionRecord(), custom);
        if (!custom.empty()) {
            sources_.CustomData = custom;
            report_ = BuildReportText(sources_, o);
        }
        SetSection(scCounter);
        {
            std::lock_guard<std::mutex> lock(state_.Lock);
            ++state_.Counter;
        }
        SetSection(scMessage);
        {
            std::lock_guard<std::mutex> lock(state_.Lock);
            state_.LastMessage = CleanMessage(report_.LastMessage);
        }

        ShowDialog(gui);

        // The log file.
        if (WillSend()) screenshot.Save();
        screenshot.Release();
        SetSection(scLog);
        if (o.LogFlags().Contains(lgResetOnNewVersion)) ResetLogOnNewVersion();
        if (o.SaveLog() && !repeat_) SaveToLog();
        if (choices_.Copy) DesktopCopyToClipboard(report_.Text);

        SetSection(scSend);
        terminateAction_ = o.TerminateAction();
        if (WillSend()) {
            auto job = MakeSendJob(screenshot.FileName());
            if (o.SendFlags().Contains(sfSendInBackground)) {
                const bool terminate = choices_.Terminate;
                const TTerminateAction action = terminateAction_;
                const bool crashRule = o.BehaviourFlags().Contains(bhCrashRule);
                const std::int32_t count = o.CrashCount(), minutes = o.CrashMinutes();
                const TTerminateAction crashAction = o.CrashAction();
                const std::string shot = screenshot.FileName();
                job->AfterSend = [=] {
                    if (!shot.empty()) kernel::DeleteFile(shot);
                    ReleaseSendFolder();
                    if (crashRule && TriggeredCrashRule(count, minutes)) {
                        EndProcessAfterReport(crashAction == taRestart);
                    } else if (terminate) {
                        EndProcessAfterReport(action == taRestart);
                    }
                };
                background_ = SendReportInBackground(std::move(job));
            } else {
                SendReport(*job);
            }
        }
        if (!background_) {
            screenshot.DeleteFile();
            if (o.BehaviourFlags().Contains(bhCrashRule) && TriggeredCrashRule(o.CrashCount(), o.CrashMinutes())) {
                choices_.Terminate = true;
                terminateAction_ = o.CrashAction();
            }
        }
        return false;
    }

    static bool TriggeredCrashRule(std::int32_t count, std::int32_t minutes)
    {
        return State().CrashRule.Triggered(count, minutes);
    }

    bool IsRepeat() const
    {
        try {
            const TLogFile log(options_->LogFileName(), true);
            return log.IsDuplicate({"2.2", "2.3", "2.4", "2.5"},
                                   {sources_.Items[riExceptionAddress], sources_.Items[riExceptionModule],
                                    sources_.Items[riExceptionType], sources_.Items[riExceptionMessage]});
        } catch (...) {
            return false; // a log that cannot be read holds no repeat
        }
    }

    void ShowDialog(bool gui)
    {
        const TTavrelModuleOptions& o = *options_;
        SetSection(scDialog);
        TDialogReport dialogReport;
        dialogReport.Report = &report_;
        dialogReport.Sources = &sources_;
        dialogReport.Options = options_.get();
        dialogReport.ExceptionMessage = state_.LastMessage;
        dialogReport.CustomData = sources_.CustomData;
        dialogReport.ErrorsHandled = state_.Counter;
        dialogReport.SendConfigured = SendConfigured();
        dialogReport.SendSuppressed = repeat_;
        // The terminate button asks the handlers first (action 8); clearing
        // the flag keeps the program running and shows the report again.
        dialogReport.TerminateNotify = [](bool& terminate) {
            ClearWarning();
            int value = terminate ? 1 : 0;
            DispatchExceptionActionNotify(CurrentExceptionRecord(), 8, &value);
            terminate = value != 0;
        };
        const bool web = IsWebApplication();
        if (o.DialogFlags().Contains(dfShowDialog)) {
            SetSection(scBeforeDialog);
            ClearWarning();
            int value = 1;
            DispatchExceptionActionNotify(CurrentExceptionRecord(), 0, &value);
            if (value) {
                SetSection(scDialogKind);
                if (exception_.RaiserKind == rkWebApplication || (exception_.RaiserKind == rkRuntime && web)) {
                    TReporterWritesScope own;
                    ShowWebError(report_.Text, o);
                } else if (exception_.RaiserKind <= rkApplication && !gui) {
                    TReporterWritesScope own;
                    if (!WriteToStandardOutput(report_.Text + "\r\n")) Warning(eeShowError, "Console");
                } else {
                    const auto show = ReportDialogs().ShowExceptionDialog;
                    bool shown = false;
                    try {
                        shown = show && show(dialogReport, choices_);
                    } catch (...) {
                        Warning(eeShowError, "GUI");
                        shown = true;
                    }
                    if (!shown) Warning(eeShowError, "GUI");
                }
                SetSection(scAfterDialog);
                DispatchExceptionActionNotify(CurrentExceptionRecord(), 1, &value);
            }
        } else if (web) {
            TReporterWritesScope own;
            ShowWebError(state_.LastMessage, o);
        }
        if (o.LogFlags().Contains(lgAddReproduceText) && gui && !repeat_ && (choices_.Send || o.SaveLog()))
            if (const auto request = ReportDialogs().ShowReproduceRequest) request(dialogReport);
    }

    void ResetLogOnNewVersion()
    {
        try {
            const std::string name = options_->LogFileName();
            std::string stored;
            {
                const TLogFile log(name, true);
                if (log.Count() == 0) return;
                stored = log.GetFieldValue("1.3", log.Count() - 1);
            }
            if (LogOfOtherVersion(stored, sources_.Items[riVersionNumber])) kernel::DeleteFile(name);
        } catch (...) {
            Warning(eeLogError, "Log");
        }
    }

    void SaveToLog()
    {
        for (int attempt = 0; attempt < kMaxLogSaveAttempts; ++attempt) {
            int value = 1;
            DispatchExceptionActionNotify(CurrentExceptionRecord(), 2, &value);
            bool saved = false;
            if (value) {
                try {
                    TLogFile log(options_->LogFileName(), false);
                    log.AddReport(report_.Text, options_->MaxSavedErrors());
                    log.Save();
                    saved = true;
                } catch (...) {
                    Warning(eeLogError, "Log");
                }
            }
            if (saved) return;
            int again = 0;
            DispatchExceptionErrorNotify(CurrentExceptionRecord(), eeLogError, &again);
            if (!again) return;
        }
    }

    std::unique_ptr<TSendJob> MakeSendJob(const std::string& screenshotFile)
    {
        auto job = std::make_unique<TSendJob>();
        job->Options = std::make_unique<TTavrelModuleOptions>(options_->ModuleFile(), false);
        job->Options->Assign(options_.get());
        job->Options->SetModuleFile(options_->ModuleFile());
        job->LogText = report_.Text;
        if (options_->SendFlags().Contains(sfLoadWholeLog)) {
            try {
                const TLogFile log(options_->LogFileName(), true);
                if (log.Count() > 0) job->LogText = log.GetAllReports();
            } catch (...) {
            }
        }
        job->ReportText = report_.Text;
        job->LastPage = LastPage();
        if (choices_.Screenshot) job->ScreenshotFile = screenshotFile;
        job->ExceptionTime = exceptionTime_;
        job->CGI = IsCGI();
        return job;
    }

    TCapturedException exception_; // the reported copy (its address adjusted)
    TPipelineState& state_ = State();
    double exceptionTime_ = 0;
    std::unique_ptr<TTavrelThreadsList> threads_;
    std::unique_ptr<TTavrelModuleOptions> options_;
    std::unique_ptr<TTavrelStackList> stack_;
    TReportSources sources_;
    TErrorReport report_;
    TReportChoices choices_;
    TReportPause pause_;
    TTerminateAction terminateAction_ = taTerminate;
    bool repeat_ = false;
    bool background_ = false;
};

} // namespace

bool RunReportPipeline(TCapturedException& exception)
{
    bool answer = false;
    try {
        TPipelineRun run(exception);
        answer = run.Run();
    } catch (...) {
        ReportInternalError(std::to_string(g_section.load()));
        answer = false;
    }
    g_section.store(0);
    return answer;
}

bool LogOfOtherVersion(const std::string& stored, const std::string& running)
{
    return !stored.empty() && stored != running;
}

unsigned ExceptionCounter()
{
    std::lock_guard<std::mutex> lock(State().Lock);
    return State().Counter;
}

std::string LastExceptionMessage()
{
    std::lock_guard<std::mutex> lock(State().Lock);
    return State().LastMessage;
}

int CurrentReportSection() { return g_section.load(); }

void ResetPipelineState()
{
    std::lock_guard<std::mutex> lock(State().Lock);
    State().Counter = 0;
    State().LastMessage.clear();
    State().CrashRule.Clear();
    State().CopyChoice = false;
}

TProcessEnd SetProcessEnd(TProcessEnd end) { return g_processEnd.exchange(end ? end : &DefaultProcessEnd); }

void EndProcessAfterReport(bool restart) { g_processEnd.load()(restart); }

} // namespace crashreport
