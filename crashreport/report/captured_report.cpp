#include "crashreport/report/captured_report.h"

#include <time.h>

#include <cmath>
#include <cstring>
#include <optional>
#include <typeinfo>

#include "crashreport/capture/capture_state.h"
#include "crashreport/errorlog/mail_date.h"
#include "crashreport/threads/thread_tracking.h"
#include "crashreport/codecs/day_count.h"
#include "crashreport/modules/modules_list.h"
#include "crashreport/modules/readable_memory.h"
#include "crashreport/sysinfo/system_information.h"
#include "crashreport/stack/frame_walk.h"
#include "crashreport/stack/stack_scan.h"
#include "crashreport/threads/thread_classification.h"
#include "platform/kernel/modules.h"
#include "platform/kernel/process.h"
#include "platform/kernel/process_facts.h"
#include "platform/rtl/external_exception.h"
#include "platform/rtl/file_names.h"
#include "platform/rtl/thread.h"
#include "platform/rtl/strings.h"

namespace crashreport {

namespace {

long WholeHourOffsetSeconds()
{
    const time_t now = ::time(nullptr);
    struct tm local {};
    tzset();
    ::localtime_r(&now, &local);
    return local.tm_gmtoff / 3600 * 3600;
}

std::string JoinParameters(const std::vector<std::string>& parameters)
{
    std::string out;
    for (const std::string& p : parameters) {
        if (!out.empty()) out += ' ';
        out += '"' + p + '"';
    }
    return out;
}

const std::exception* LiveStdException(const TCapturedException& exception)
{
    return exception.Exception.Valid() ? AsStdException(exception.Exception) : nullptr;
}

std::string ThreadClassName(const std::type_info* type)
{
    if (!type) return {};
    char name[128];
    ShortClassName(*type, name, sizeof name);
    return name;
}

// What walking the report's stacks needs, made before any thread is paused
// (the module list takes the loader's lock; the room is allocated).
struct TWalkTools {
    TUnwindModules Modules;
    TCodeRanges Code;
    TStackAddresses Addresses;
};

// One stack, walked (or scanned where the walk cannot go) and resolved.
void AddWalkedEntries(TTavrelStackList& list, const TThreadStack& stack, TWalkTools& tools,
                      const TStackScanOptions& scan)
{
    tools.Addresses.Clear();
    WalkStackAddresses(stack, tools.Modules, tools.Code, tools.Addresses);
    AddResolvedEntries(list, tools.Addresses, scan);
}

// The stack of the thread that started `record`'s thread, as copied when it
// started it: walked from the starter's registers at that moment, below
// the thread's own rows (marked as not running).
void AddStarterEntries(TTavrelStackList& list, const TTavrelThreadRecord& record, TWalkTools& tools,
                       TStackScanOptions scan)
{
    if (!record.StarterStack || !record.StarterStackSize) return;
    TThreadStack stack;
    stack.Copy = record.StarterStack;
    stack.CopyLength = record.StarterStackSize;
    stack.CopyOnly = true;
    if (record.HasStarterContext) {
        stack.Context = &record.StarterContext;
        stack.CopyStart = record.StarterStackStart;
        stack.FramesFrom = record.StarterFramesFrom;
    } else {
        // A copy made by another module: its bytes alone, scanned.
        stack.CopyStart = reinterpret_cast<std::uintptr_t>(record.StarterStack);
        stack.ScanStart = stack.CopyStart;
    }
    stack.Top = stack.CopyStart + stack.CopyLength;
    scan.ThreadID = static_cast<std::int32_t>(record.ThreadID);
    scan.RunningThread = 0;
    AddWalkedEntries(list, stack, tools, scan);
}

// The stacks of the other tracked threads that the stack flags show, after
// the exception thread's, each followed by its starter's. Each thread is
// paused only while its stack is walked, which reads memory and allocates
// nothing; names are resolved after it runs again.
void AddRunningThreads(TTavrelStackList& list, TStackScanOptions scan, std::uint32_t exceptionThread,
                       const TTavrelThreadsList& threads, TStackFlags flags, TWalkTools& tools)
{
    const std::uint32_t self = kernel::GetCurrentThreadId();
    for (int i = 0; i < threads.Count(); ++i) {
        const TTavrelThreadRecord* record = threads.Get(i);
        if (record->ThreadID == exceptionThread || record->ThreadID == self || !record->StackTop) continue;
        if (!ShowThreadInReport(*record, flags)) continue;
        kernel::THandleOwner handle(kernel::OpenThread(record->ThreadID));
        if (!handle.Get()) continue;
        tools.Addresses.Clear();
        kernel::TThreadContext context{};
        if (kernel::SuspendThread(handle.Get()) == kernel::kSuspendFailed) continue;
        if (kernel::GetThreadContext(handle.Get(), context)) {
            TThreadStack stack;
            stack.Context = &context;
            stack.Top = record->StackTop;
            WalkStackAddresses(stack, tools.Modules, tools.Code, tools.Addresses);
        }
        kernel::ResumeThread(handle.Get());
        scan.ThreadID = static_cast<std::int32_t>(record->ThreadID);
        scan.RunningThread = 1;
        AddResolvedEntries(list, tools.Addresses, scan);
        AddStarterEntries(list, *record, tools, scan);
    }
}

} // namespace

std::string GetExceptionAddress(const void* address)
{
    return address ? HexAddress(reinterpret_cast<std::uintptr_t>(address)) : std::string();
}

std::string GetExceptionModule(const void* address)
{
    kernel::TModuleImage image;
    if (!address || !kernel::FindModuleByAddress(address, image)) return {};
    return rtl::ExtractFileName(image.Path);
}

std::string GetExceptionType(const TCapturedException& exception)
{
    if (exception.ClassName[0]) return exception.ClassName;
    if (!exception.Exception.Valid()) return "Unknown exception type.";
    char name[128];
    ShortClassName(*exception.Exception.Type, name, sizeof name);
    return name;
}

std::string GetExceptionMessage(const TCapturedException& exception)
{
    std::string message;
    const std::exception* object = LiveStdException(exception);
    if (object)
        message = object->what();
    else if (exception.Message[0] || exception.ClassName[0])
        message = exception.Message;
    else
        message = "Unknown error message.";
    if (const auto* av = dynamic_cast<const rtl::EAccessViolation*>(object)) {
        const void* at = exception.Address ? exception.Address : av->ExceptionRecord.ExceptionAddress;
        const std::string operation = rtl::AccessOperationName(av->ExceptionRecord.ExceptionInformation[0]);
        const std::string accessed = HexAddress(av->Address());
        kernel::TModuleImage image;
        const bool inModule = IsReadableMemory(at, 1) && kernel::FindModuleByAddress(at, image) && !image.Path.empty();
        auto rebuild = [&](const std::string& moduleName) {
            if (!moduleName.empty())
                return "Access violation at address " + HexAddress(reinterpret_cast<std::uintptr_t>(at)) +
                    " in module '" + moduleName + "'. " + operation + " of address " + accessed;
            return "Access violation at address " + HexAddress(reinterpret_cast<std::uintptr_t>(at)) + ". " +
                operation + " of address " + accessed;
        };
        std::string rebuilt = rebuild(inModule ? rtl::ExtractFileName(image.Path) : std::string());
        if (rebuilt == message && inModule) rebuilt = rebuild(image.Path);
        message = rebuilt;
    }
    if (message.empty() || message.back() != '.') message += '.';
    return message;
}

TReportSources GatherReportSources(const TCapturedException& exception, const TTavrelModuleOptions& options,
                                   const TGatherOptions& gather, std::unique_ptr<TTavrelStackList>& ownedStack)
{
    TReportSources s;
    const auto& p = exception.NotifyParams;
    std::optional<kernel::TThreadContext> raiseContext;
    s.RaiseStack = CopyRaiseSnapshot(exception, &raiseContext);
    if (!s.RaiseStack.empty()) s.RaiseStackStart = exception.Snapshot.Start;

    // Application.
    LoadModulesForReport();
    TTavrelModuleInfo* mainModule = nullptr;
    {
        kernel::TModuleImage image;
        if (kernel::FindModuleByName("", image)) mainModule = FindModuleInfo(image.Handle);
    }
    if (const auto start = kernel::GetProcessStartSeconds())
        s.Items[riStartDate] = FormatMailDate(codecs::UnixSecondsToLocalDayCount(*start));
    if (mainModule) {
        s.Items[riNameDescription] =
            mainModule->Description.empty() ? rtl::ExtractFileName(mainModule->FileName) : mainModule->Description;
        s.Items[riVersionNumber] = mainModule->Version;
        if (mainModule->CompilationDate != 0)
            s.Items[riCompilationDate] =
                FormatMailDate(mainModule->CompilationDate + static_cast<double>(WholeHourOffsetSeconds()) / 86400.0);
    } else {
        s.Items[riNameDescription] = rtl::ExtractFileName(kernel::MainExecutablePath());
    }
    s.Items[riParameters] = JoinParameters(kernel::GetCommandLineParameters());

    // Exception.
    s.Items[riExceptionDate] = FormatMailDate(LocalNow());
    s.Items[riExceptionAddress] = GetExceptionAddress(exception.Address);
    s.Items[riExceptionModule] = GetExceptionModule(exception.Address);
    s.Items[riExceptionType] = GetExceptionType(exception);
    s.Items[riExceptionMessage] = NormalizeLineEnds(CleanMessage(GetExceptionMessage(exception)));

    // Active controls.
    s.Items[riFormClass] = rtl::FlattenControlChars(gather.FormClass);
    s.Items[riFormText] = rtl::FlattenControlChars(gather.FormText);
    s.Items[riControlClass] = rtl::FlattenControlChars(p.FocusClass);
    s.Items[riControlText] = rtl::FlattenControlChars(p.FocusText);
    s.HideActiveControls =
        exception.RaiserKind == rkWebApplication || kernel::GetEnvironmentVariable("REQUEST_METHOD").has_value();

    if (gather.ReadSystemInformation) {
        s.Items[riComputerName] = ReadComputerName();
        s.Items[riUser] = ReadUserName();
        s.Items[riTotalMemory] = GetTotalMemory();
        s.Items[riFreeMemory] = GetFreeMemory();
        s.Items[riTotalDisk] = GetTotalDisk();
        s.Items[riFreeDisk] = GetFreeDisk();
        s.Items[riUpTime] = GetUpTime();
        s.Items[riProcessor] = GetProcessorName();
        s.Items[riDisplayMode] = GetDisplayMode();
        s.Items[riOSType] = GetWindowsName();
        s.Items[riOSBuild] = GetWindowsBuild();
        s.Items[riOSUpdate] = GetWindowsUpdate();
        s.Items[riOSLanguage] = GetSystemLanguage();
        const TNetworkInfo net = GetNetworkInfo();
        s.Items[riIPAddress] = net.IPAddress;
        s.Items[riSubmask] = net.Submask;
        s.Items[riGateway] = net.Gateway;
        s.Items[riDNS1] = net.DNS1;
        s.Items[riDNS2] = net.DNS2;
        s.Items[riDHCP] = net.DHCP;
    }

    // Call stacks.
    const TTavrelStackList* stack = nullptr;
    if (gather.CallStack) {
        stack = gather.CallStack;
    } else if (p.StackTop && (p.StackStart || p.Context || raiseContext)) {
        TStackScanOptions scan;
        scan.Kinds = ShownDetailKinds(options.StackFlags());
        scan.ThreadID = static_cast<std::int32_t>(p.ThreadID);
        scan.RunningThread = 1;
        ownedStack = std::make_unique<TTavrelStackList>();
        auto tools = std::make_unique<TWalkTools>();
        // The exception thread: from the registers of the raise over the
        // stack as it was then (an exception caught by a handler and
        // reported after its frames unwound has no other record of them),
        // else from its registers over the live stack, else scanned from
        // the raise frame.
        TThreadStack own;
        own.FirstAddress = exception.Address;
        own.Top = p.StackTop;
        // Registers are used only when they stand at the reported address:
        // those of an earlier raise would walk a stack that is gone.
        const auto standsAtAddress = [&exception](const kernel::TThreadContext& c) {
            return !exception.Address ||
                kernel::InstructionPointer(c) == reinterpret_cast<std::uintptr_t>(exception.Address);
        };
        if (raiseContext && !s.RaiseStack.empty() && standsAtAddress(*raiseContext)) {
            own.Context = &*raiseContext;
            own.Copy = s.RaiseStack.data();
            own.CopyStart = s.RaiseStackStart;
            own.CopyLength = s.RaiseStack.size();
        } else if (p.Context && standsAtAddress(*p.Context)) {
            own.Context = p.Context;
        } else {
            own.ScanStart = p.StackStart;
        }
        AddWalkedEntries(*ownedStack, own, *tools, scan);
        TTavrelThreadsList* tracked = TrackedThreads();
        const std::unique_ptr<TTavrelThreadsList> threads =
            tracked ? TTavrelThreadsList::PrivateCopy(*tracked) : nullptr;
        if (threads) {
            if (const int i = threads->FindByID(p.ThreadID); i >= 0)
                AddStarterEntries(*ownedStack, *threads->Get(i), *tools, scan);
            if (gather.RunningThreads)
                AddRunningThreads(*ownedStack, scan, p.ThreadID, *threads, options.StackFlags(), *tools);
        }
        stack = ownedStack.get();
    }
    if (stack) {
        s.CallStack.emplace();
        for (const auto& entry : stack->Items())
            if (entry) s.CallStack->push_back(ReportStackRowOf(*entry));
        TTavrelThreadsList* tracked = TrackedThreads();
        for (const auto& entry : stack->Items()) {
            if (!entry) continue;
            const auto id = static_cast<std::uint32_t>(entry->ThreadID);
            if (s.Threads.count(id)) continue;
            TReportThread thread;
            thread.Main = id == kernel::MainThreadId();
            if (tracked) {
                TThreadsListReadLock lock(*tracked);
                const int index = tracked->FindByID(id);
                if (index >= 0) {
                    const TTavrelThreadRecord* record = tracked->Get(index);
                    std::int32_t priority = record->Priority;
                    if (priority == kPriorityNotRead) priority = kernel::GetThreadPriority(record->Handle);
                    thread.Priority = std::to_string(priority);
                    thread.ClassName = ThreadClassName(record->ThreadObjectType);
                }
            }
            s.Threads[id] = thread;
        }
    }

    // Modules, by ascending handle.
    {
        TModulesListLock lock;
        RefreshModulesList();
        for (const auto& module : ModulesList().Items())
            if (module) s.Modules.push_back(ReportModuleRowOf(*module));
    }

    // CPU.
    if (p.Context) {
        s.Context = *p.Context;
        s.StackPointer = kernel::StackPointer(*p.Context);
    }
    s.ExceptionAddress = reinterpret_cast<std::uintptr_t>(exception.Address);
    s.CustomData = gather.CustomData;
    return s;
}

TErrorReport BuildCapturedReport(const TCapturedException& exception, const TTavrelModuleOptions& options,
                                 const TGatherOptions& gather)
{
    std::unique_ptr<TTavrelStackList> ownedStack;
    const TReportSources sources = GatherReportSources(exception, options, gather, ownedStack);
    TModulesListLock lock; // the sources point into the modules' records
    return BuildReportText(sources, options);
}

} // namespace crashreport
