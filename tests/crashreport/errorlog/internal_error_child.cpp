// A program that has one internal error and ends. The tests run copies of
// it, traced and untraced, so that the diagnostic file lands next to the
// copy. Its hooks print what the log asks of them on stdout.
//   internal_error_child <scenario> [yes|no] [mail-ok|mail-fails]
// scenario: pipeline, saferun, hook, abort, plain-value, empty-message.
#include <cstdio>
#include <cstring>
#include <string>

#include "crashreport/errorlog/errorlog_hooks.h"
#include "crashreport/errorlog/internal_error.h"
#include "crashreport/hook/hook_engine.h"
#include "crashreport/options/safe_run.h"
#include "platform/rtl/exception.h"

namespace {

// Stands for the exception classes the log leaves alone.
class EAbort : public rtl::Exception {
public:
    using Exception::Exception;
};

// The bytes at the "exception address".
const unsigned char kCode[32] = {0x55, 0x48, 0x89, 0xE5, 0xC3, 0x90, 0x90, 0x90, 0,  1,  2,  3,  4,  5,  6,  7,
                                 8,    9,    10,   11,   12,   13,   14,   15,   16, 17, 18, 19, 20, 21, 22, 0xFF};

bool g_answerYes = false;
bool g_mailWorks = false;

std::vector<crashreport::TInternalErrorFrame> CallStack(bool fromCurrentPosition)
{
    std::printf("STACK %s\n", fromCurrentPosition ? "current" : "raise");
    crashreport::TInternalErrorFrame first;
    first.Address = 0x401234;
    first.ModuleBase = 0x400000;
    first.ModuleFileName = "internal_error_child";
    first.UnitName = "Pipeline";
    first.ClassName = "TExceptionThread";
    first.ProcedureName = "Execute";
    first.Line = 706;
    crashreport::TInternalErrorFrame second;
    second.Address = 0x7F0000001000;
    second.ModuleBase = 0x7F0000000000;
    second.ModuleFileName = "libc.so.6";
    return {first, second};
}

int MessageBox(const std::string& text, const std::string& caption, unsigned flags)
{
    std::printf("BOX %s|%s|%X\n", caption.c_str(), text.c_str(), flags);
    return g_answerYes ? crashreport::kBoxAnswerYes : 7;
}

bool SendMail(const std::string& address, const std::string& subject, const std::string& body,
              const std::string& attachment)
{
    std::printf("MAIL %s|%s|%s|%s\n", address.c_str(), subject.c_str(), body.c_str(), attachment.c_str());
    return g_mailWorks;
}

const void* ExceptionAddress() { return kCode; }

std::string LastExceptionClass() { return "EAccessViolation"; }

void FailingStep() { throw rtl::Exception("start-up step failed"); }

} // namespace

int main(int argc, char** argv)
{
    if (argc < 2) return 2;
    const std::string scenario = argv[1];
    g_answerYes = argc > 2 && std::strcmp(argv[2], "yes") == 0;
    g_mailWorks = argc > 3 && std::strcmp(argv[3], "mail-ok") == 0;
    crashreport::TavrelCoreInit(); // recognises the development environment by the file name
    crashreport::TErrorLogHooks hooks;
    hooks.CallStack = &CallStack;
    hooks.MessageBox = &MessageBox;
    hooks.SendMail = &SendMail;
    hooks.ExceptionAddress = &ExceptionAddress;
    hooks.LastExceptionClass = &LastExceptionClass;
    crashreport::SetErrorLogHooks(hooks);
    crashreport::StartInternalErrorLog();
    std::fflush(stdout);

    if (scenario == "saferun") return crashreport::SafeRun(&FailingStep, "TCore.Init") ? 1 : 0;
    try {
        if (scenario == "abort") throw EAbort("silent");
        if (scenario == "plain-value") throw 42;
        if (scenario == "empty-message") throw rtl::Exception("");
        throw rtl::Exception("pipeline step failed");
    } catch (...) {
        if (scenario == "hook")
            crashreport::hook::ReportInternalError("Hook engine start (Address: 0000000000401000)");
        else
            crashreport::ReportInternalError("706");
    }
    std::fflush(stdout);
    return 0;
}
