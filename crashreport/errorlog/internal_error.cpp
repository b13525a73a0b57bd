#include "crashreport/errorlog/internal_error.h"

#include "crashreport/errorlog/diagnostic.h"
#include "crashreport/errorlog/errorlog_hooks.h"
#include "crashreport/errorlog/handled_exception.h"
#include "crashreport/errorlog/mail_date.h"
#include "crashreport/errorlog/warnings.h"
#include "crashreport/codecs/codec_error.h"
#include "crashreport/codecs/file_io.h"
#include "crashreport/options/internal_error_sink.h"
#include "crashreport/options/log_file_naming.h"
#include "crashreport/options/module_identity.h"
#include "crashreport/options/safe_run.h"
#include "crashreport/sysinfo/system_information.h"
#include "platform/kernel/files.h"
#include "platform/rtl/file_names.h"
#include "platform/rtl/format.h"

namespace crashreport {
namespace {

constexpr const char* kNoMessage = "General internal error.";
// The development environment of this build: its compiler.
constexpr const char* kRadName = "GCC " __VERSION__;

// Writes the whole text or, on failure, nothing.
bool SaveText(const std::string& path, const std::string& text)
{
    try {
        codecs::WriteFileReplacing(path, text);
        return true;
    } catch (const codecs::EFWriteError&) {
        return false;
    }
}

// The offer to send the saved diagnostic to the reporter's maker.
void OfferToSend(const TErrorLogHooks& hooks, const std::string& message, const std::string& path)
{
    if (hooks.MessageBox == nullptr) return; // no message box: no offer
    const int answer = hooks.MessageBox(
        rtl::FormatStrings("Error: '%s'\r\n\r\nThis is an internal TavrelLog bug.\r\n"
                           "Do you want to send the bug information to TavrelLog author?",
                           {message}),
        "Probably internal bug", kBoxYesNo | kBoxIconStop | kBoxTaskModal | kBoxTopMost | kBoxServiceNotification);
    if (answer != kBoxAnswerYes) return;
    if (hooks.SendMail != nullptr &&
        hooks.SendMail(kTavrelLogSupportAddress, kTavrelLogBugSubject, kTavrelLogBugSubject, path))
        return;
    hooks.MessageBox(rtl::FormatStrings("The mail program cannot be used. After closing this box, please send "
                                        "the file \"%s\" to %s by hand.",
                                        {path, kTavrelLogSupportAddress}),
                     "Information", kBoxOk | kBoxIconExclamation);
}

} // namespace

std::string InternalErrorLogPath() { return rtl::ChangeFileExt(ProgramFileName(), ".log"); }

void InternalError(const std::string& sectionText)
{
    const THandledException failure = CurrentHandledException();
    if (failure.Ignored) return;
    const TErrorLogHooks hooks = ErrorLogHooks();
    const bool debugged = hooks.DebuggerPresent();
    const bool designTime = IsDesignTimeHost();
    if (!debugged && !designTime) return;

    const std::string message = failure.Language && !failure.Message.empty() ? failure.Message : kNoMessage;
    const void* address = hooks.ExceptionAddress ? hooks.ExceptionAddress() : nullptr;
    if (debugged)
        hooks.DebugOutput(rtl::FormatStrings("[ERROR] - Section: %s - Address: %s - Message: \"%s\"",
                                             {sectionText, FormatLogAddress(address), message}));

    TDiagnosticFacts facts;
    facts.Version = kTavrelLogVersion;
    facts.Date = FormatMailDate(LocalNow());
    facts.OS = GetWindowsName();
    facts.RAD = kRadName;
    facts.Dump = FormatCodeDump(address);
    facts.Section = sectionText;
    facts.LastExcept = hooks.LastExceptionClass ? hooks.LastExceptionClass() : "";
    facts.Address = FormatLogAddress(address);
    facts.ExceptionClass = failure.ClassName;
    facts.Message = message;
    if (hooks.CallStack != nullptr) facts.Stack = hooks.CallStack(designTime);

    // Next to the program, or in the log file's fallback folder.
    std::string path = InternalErrorLogPath();
    if (!FindWritableLogFile(path, true, false) || !SaveText(path, BuildDiagnosticText(facts))) return;
    OfferToSend(hooks, message, path);
}

void StartInternalErrorLog() { SetInternalErrorHandler(&InternalError); }

void StopInternalErrorLog()
{
    if (InternalErrorHandler() == &InternalError) SetInternalErrorHandler(nullptr);
}

} // namespace crashreport
