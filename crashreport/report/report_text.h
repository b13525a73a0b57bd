#pragma once
// The plain-text error report: the sectioned key/value renderer `TLogItem`
// of the general part, the call-stack, modules, CPU and custom-data
// sections, and the cleaning of texts that go into it. Lines end in CR LF.
// Nothing here is signal-safe: everything builds strings.
#include <array>
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "crashreport/modules/module_info.h"
#include "crashreport/options/module_options.h"
#include "crashreport/stack/debug_info.h"
#include "platform/kernel/threads.h"

namespace crashreport {

// The line end of every report text and of the log file.
inline constexpr const char* kCRLF = "\r\n";

inline constexpr const char* kReportBanner = "TavrelLog 5.1.5";

// Every character below 32 other than CR and LF becomes one space.
std::string CleanMessage(const std::string& text);
// A lone CR or a lone LF becomes CR LF.
std::string NormalizeLineEnds(const std::string& text);

// The section renderer of the general part.
class TLogItem {
public:
    explicit TLogItem(std::int32_t firstHeader = 0) : FirstHeader(firstHeader), HeaderNo(firstHeader) {}

    void AddHeader(const std::string& title);
    // Counts the item also when it is hidden, so numbers stay stable.
    void AddItem(const std::string& label, const std::string& value, bool visible = true);
    // Aligns every section's ": " in one column, sizes its dash line and
    // leaves out sections without a visible item.
    std::string Render() const;

    std::int32_t FirstHeader;
    std::int32_t HeaderNo;
    std::int32_t ItemNo = 0;
    std::string Text;
};

// How a value with line breaks is written into an item: ": " becomes ":_",
// blank lines ".", continuation lines get one leading space.
std::string FormatItemValue(const std::string& value);

// What a thread row says about one thread.
struct TReportThread {
    std::string Priority = "??"; // "??" when the thread is not tracked
    std::string ClassName;       // the class of the thread's object
    bool Main = false;
};

// Everything the report text is made of, gathered beforehand.
// One call-stack row as the report keeps it: a copy, so the report and its
// renderings never read the live stack list or module records.
struct TReportStackRow {
    void* Addr = nullptr;
    std::int32_t ThreadID = 0;
    std::uint8_t RunningThread = 0;
    std::uint8_t DebugDetail = dkUnknown;
    std::uint8_t Inlined = 0;
    std::uint8_t Scanned = 0; // found by the raw scan, not by the exact walk
    std::string ModuleFileName; // empty when the row names no module
    std::uint8_t ModuleKind = 0;
    double ModuleCompilationDate = 0;
    std::string UnitName, ClassName, ProcedureName;
    std::int32_t Line = 0, ProcOffsetLine = 0;
};
TReportStackRow ReportStackRowOf(const TTavrelDebugInfo& entry);
// The procedure as shown: an inlined row and a scanned row are marked.
std::string ShownProcedureName(const TReportStackRow& row);

// One loaded module as the report keeps it.
struct TReportModuleRow {
    std::uintptr_t Handle = 0;
    std::string FileName, Description, Version;
    std::uint32_t FileSize = 0;
    double LastModified = 0; // local time
};
TReportModuleRow ReportModuleRowOf(const TTavrelModuleInfo& module);

struct TReportSources {
    // The general part's 33 values, in item order (0 Start Date .. 32 DHCP).
    std::array<std::string, ReportItemCount> Items;
    // A web application or console program hides the Active Controls items.
    bool HideActiveControls = false;
    // The call stacks of all reported threads (none: no list at all).
    std::optional<std::vector<TReportStackRow>> CallStack;
    std::map<std::uint32_t, TReportThread> Threads;
    // Modules in ascending handle order.
    std::vector<TReportModuleRow> Modules;
    // The exception thread's registers; none when no context was captured.
    std::optional<kernel::TThreadContext> Context;
    std::uintptr_t StackPointer = 0;     // where the stack dump starts
    std::uintptr_t ExceptionAddress = 0; // where the memory dump starts
    std::string CustomData;              // the custom-data section's text
    // The faulting thread's stack as it was when the exception was raised
    // (before any unwinding), from RaiseStackStart up; empty when none was kept.
    std::vector<std::uint8_t> RaiseStack;
    std::uintptr_t RaiseStackStart = 0;
};

// Item indexes of the general part (bit numbers of ReportItems).
enum TReportItemIndex : unsigned {
    riStartDate = 0,
    riNameDescription,
    riVersionNumber,
    riParameters,
    riCompilationDate,
    riExceptionDate,
    riExceptionAddress,
    riExceptionModule,
    riExceptionType,
    riExceptionMessage,
    riFormClass,
    riFormText,
    riControlClass,
    riControlText,
    riComputerName,
    riUser,
    riTotalMemory,
    riFreeMemory,
    riTotalDisk,
    riFreeDisk,
    riUpTime,
    riProcessor,
    riDisplayMode,
    riOSType,
    riOSBuild,
    riOSUpdate,
    riOSLanguage,
    riIPAddress,
    riSubmask,
    riGateway,
    riDNS1,
    riDNS2,
    riDHCP,
};

// Upper-case hexadecimal padded to the pointer width.
std::string HexAddress(std::uintptr_t value);

// The parts of the report.
std::string BuildGeneralPart(const TReportSources& sources, const TTavrelModuleOptions& options);
std::string BuildCallStackSection(const TReportSources& sources, const TTavrelModuleOptions& options);
std::string BuildModulesSection(const TReportSources& sources, const TTavrelModuleOptions& options);
std::string BuildCPUSection(const TReportSources& sources, const TTavrelModuleOptions& options);
std::string BuildCustomSection(const TReportSources& sources, const TTavrelModuleOptions& options);

// The complete report: banner, general part, call stacks, modules, CPU and,
// when there is custom data, its section.
struct TErrorReport {
    std::string Text;        // the complete report
    std::string GeneralPart; // banner and general part
    std::string CPUPart;     // the CPU section
    std::string LastMessage; // the exception message, cleaned
};
TErrorReport BuildReportText(const TReportSources& sources, const TTavrelModuleOptions& options);

// "yyyy-mm-dd hh:nn:ss" of a runtime date-time; empty for an invalid one.
std::string FormatFileDate(double dateTime);

} // namespace crashreport
