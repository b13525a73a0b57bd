#include "crashreport/options/safe_run.h"

#include <atomic>
#include <cctype>
#include <exception>

#include "crashreport/options/log_file_naming.h"
#include "crashreport/options/module_identity.h"
#include "crashreport/options/options_errors.h"
#include "platform/rtl/file_names.h"
#include "platform/rtl/format.h"

namespace crashreport {

using rtl::ExtractFileName;

namespace {

std::atomic<bool> g_designTimeHost{false};

std::string StepAddress(TSafeRunStep step)
{
    return rtl::Format("%0*llX", static_cast<int>(2 * sizeof(void*)),
                       static_cast<unsigned long long>(reinterpret_cast<std::uintptr_t>(step)));
}

void CoreInit() { g_designTimeHost = IsDesignTimeHostFile(ProgramFileName()); }

void CoreDone() { g_designTimeHost = false; }

} // namespace

bool SafeRun(TSafeRunStep step, const std::string& name)
{
    try {
        if (step != nullptr) step();
        return true;
    } catch (...) {
        if (ReportInternalError(rtl::FormatStrings("%s (Address: %s)", {name, StepAddress(step)}))) return false;
        std::string message;
        try {
            throw;
        } catch (const std::exception& e) {
            message = e.what();
        } catch (...) {
        }
        // An empty message says no more than no message at all.
        if (message.empty()) throw ECriticalError("General internal error.");
        throw ECriticalError(rtl::FormatStrings("Critical error at: \"%s\"\r\nError: \"%s\".", {name, message}));
    }
}

bool IsDesignTimeHostFile(const std::string& programFile)
{
    std::string name = ExtractFileName(programFile);
    for (char& c : name) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return name == DesignTimeHostExecutable;
}

bool TavrelCoreInit() { return SafeRun(&CoreInit, "TCore.Init"); }

bool TavrelCoreDone() { return SafeRun(&CoreDone, "TCore.Done"); }

bool IsDesignTimeHost() { return g_designTimeHost.load(); }

} // namespace crashreport
