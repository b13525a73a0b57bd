#include "crashreport/report/report_text.h"

#include <algorithm>
#include <cstring>

#include "crashreport/codecs/day_count.h"
#include "crashreport/modules/readable_memory.h"
#include "platform/rtl/file_names.h"
#include "platform/rtl/format.h"
#include "platform/rtl/strings.h"

namespace crashreport {

namespace {

constexpr int kPointerDigits = static_cast<int>(sizeof(void*) * 2);

std::vector<std::string> SplitLines(const std::string& text)
{
    // Splits at CR LF; a final line end gives no extra empty line.
    std::vector<std::string> lines;
    std::size_t start = 0;
    while (start < text.size()) {
        const std::size_t end = text.find(kCRLF, start);
        if (end == std::string::npos) {
            lines.push_back(text.substr(start));
            break;
        }
        lines.push_back(text.substr(start, end - start));
        start = end + 2;
    }
    return lines;
}

std::string PadRight(const std::string& text, std::size_t width)
{
    return text.size() >= width ? text : text + std::string(width - text.size(), ' ');
}

// A header line has its first ':' as its last or second-to-last character;
// an empty line counts as one.
bool IsHeaderLine(const std::string& line)
{
    const std::size_t colon = line.find(':');
    if (line.empty()) return true;
    return colon != std::string::npos && (colon + 1 == line.size() || colon + 2 == line.size());
}

// Copies memory that IsReadableMemory allowed, byte by byte and unchecked
// by the address sanitizer: a thread's stack holds the sanitizer's guard
// zones between locals, which are readable memory all the same.
__attribute__((no_sanitize("address"))) void CopyReadable(void* to, const void* from, std::size_t count)
{
    auto* out = static_cast<unsigned char*>(to);
    const auto* in = static_cast<const volatile unsigned char*>(from);
    for (std::size_t i = 0; i < count; ++i) out[i] = in[i];
}

std::string Text(const TTavrelModuleOptions& options, std::size_t index) { return options.GetText(index); }

// Table cells hold one line: control characters would break the rows.
std::string Cell(const std::string& value) { return rtl::FlattenControlChars(value); }

} // namespace

std::string CleanMessage(const std::string& text)
{
    std::string out = text;
    for (char& c : out)
        if (static_cast<unsigned char>(c) < 32 && c != '\r' && c != '\n') c = ' ';
    return out;
}

std::string NormalizeLineEnds(const std::string& text)
{
    std::string out;
    out.reserve(text.size() + text.size() / 16);
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (c == '\r') {
            out += kCRLF;
            if (i + 1 < text.size() && text[i + 1] == '\n') ++i;
        } else if (c == '\n') {
            out += kCRLF;
        } else {
            out += c;
        }
    }
    return out;
}

std::string FormatItemValue(const std::string& value)
{
    if (value.find(kCRLF) == std::string::npos) return value;
    std::vector<std::string> lines = SplitLines(rtl::ReplaceAll(value, ": ", ":_"));
    std::string out;
    for (std::size_t i = 0; i < lines.size(); ++i) {
        std::string line = rtl::IsBlank(lines[i]) ? std::string(".") : lines[i];
        if (i > 0)
            out += kCRLF + std::string(" ") + line;
        else
            out += line;
    }
    return out;
}

void TLogItem::AddHeader(const std::string& title)
{
    ++HeaderNo;
    ItemNo = 0;
    if (!Text.empty()) Text += "\r\n\r\n";
    Text += title + ":" + kCRLF + "-";
}

void TLogItem::AddItem(const std::string& label, const std::string& value, bool visible)
{
    ++ItemNo;
    if (!visible) return;
    Text += rtl::Format("\r\n  %d.%d ", HeaderNo, ItemNo) + label + ": " + FormatItemValue(value);
}

std::string TLogItem::Render() const
{
    std::vector<std::string> lines = SplitLines(Text);
    lines.emplace_back();
    std::size_t at = 0;
    while (at < lines.size()) {
        while (at < lines.size() && !IsHeaderLine(lines[at])) ++at;
        if (at >= lines.size()) break;
        if (lines[at].empty()) {
            ++at;
            continue;
        }
        std::size_t end = at + 1;
        while (end < lines.size() && !lines[end].empty()) ++end;
        // [at, end) is the group: header, dash line, items.
        if (end - at <= 2) {
            // A section without visible items is left out with its blank line.
            const std::size_t last = std::min(end + 1, lines.size());
            lines.erase(lines.begin() + static_cast<std::ptrdiff_t>(at),
                        lines.begin() + static_cast<std::ptrdiff_t>(last));
            continue;
        }
        std::size_t column = 1, width = 0;
        for (std::size_t i = at; i < end; ++i) {
            width = std::max(width, lines[i].size());
            if (i >= at + 2) {
                const std::size_t pos = lines[i].find(": ");
                if (pos != std::string::npos) column = std::max(column, pos + 1);
            }
        }
        for (std::size_t i = at + 2; i < end; ++i) {
            std::string& line = lines[i];
            const std::size_t pos = line.find(": ");
            if (pos != std::string::npos)
                line.insert(pos, column - (pos + 1), ' ');
            else
                line.insert(0, column, ' ');
            width = std::max(width, line.size());
        }
        if (at + 1 < end) lines[at + 1] = std::string(width, '-');
        at = end + 1;
    }
    // The added empty line, or the blank line before a last section that
    // was left out.
    if (!lines.empty() && lines.back().empty()) lines.pop_back();
    std::string out;
    for (const std::string& line : lines) out += line + kCRLF;
    return out;
}

std::string HexAddress(std::uintptr_t value)
{
    return rtl::Format("%0*llX", kPointerDigits, static_cast<unsigned long long>(value));
}

std::string FormatFileDate(double dateTime)
{
    const auto fields = codecs::DecodeDayCount(dateTime);
    if (!fields) return {};
    return rtl::Format("%04d-%02d-%02d %02d:%02d:%02d", fields->Year, fields->Month, fields->Day, fields->Hour,
                       fields->Minute, fields->Second);
}

std::string BuildGeneralPart(const TReportSources& sources, const TTavrelModuleOptions& options)
{
    const TReportItems visible = options.ReportItems();
    TLogItem item;
    unsigned index = 0;
    auto add = [&](std::size_t label, bool extraVisible = true) {
        item.AddItem(Text(options, label), sources.Items[index], visible.Contains(index) && extraVisible);
        ++index;
    };
    item.AddHeader(Text(options, 22));
    for (std::size_t label = 23; label <= 27; ++label) add(label);
    item.AddHeader(Text(options, 28));
    for (std::size_t label = 29; label <= 33; ++label) add(label);
    item.AddHeader(Text(options, 34));
    for (std::size_t label = 35; label <= 38; ++label) add(label, !sources.HideActiveControls);
    item.AddHeader(Text(options, 39));
    for (std::size_t label = 40; label <= 48; ++label) add(label);
    item.AddHeader(Text(options, 49));
    for (std::size_t label = 50; label <= 53; ++label) add(label);
    item.AddHeader(Text(options, 54));
    for (std::size_t label = 55; label <= 60; ++label) add(label);
    return item.Render();
}

namespace {

std::uint32_t ShownKinds(TStackFlags flags)
{
    std::uint32_t kinds = 1u << dkDebugLine;
    if (flags.Contains(stDllFrames)) kinds |= 1u << dkExportName;
    if (flags.Contains(stPackageFrames)) kinds |= 1u << dkDecoratedName;
    return kinds;
}

std::array<std::string, 6> StackCells(const TReportStackRow& entry, bool lineOffsets)
{
    std::array<std::string, 6> cells;
    cells[0] = HexAddress(reinterpret_cast<std::uintptr_t>(entry.Addr));
    if (entry.DebugDetail != dkUnknown && !entry.ModuleFileName.empty())
        cells[1] = Cell(rtl::ExtractFileName(entry.ModuleFileName));
    cells[2] = Cell(entry.UnitName);
    cells[3] = Cell(entry.ClassName);
    cells[4] = Cell(ShownProcedureName(entry)); // an inlined or scanned row is marked
    if (entry.Line != 0) {
        cells[5] = std::to_string(entry.Line);
        if (lineOffsets) cells[5] += "[" + std::to_string(entry.ProcOffsetLine) + "]";
    }
    return cells;
}

} // namespace

TReportStackRow ReportStackRowOf(const TTavrelDebugInfo& entry)
{
    TReportStackRow row;
    row.Addr = entry.Addr;
    row.ThreadID = entry.ThreadID;
    row.RunningThread = entry.RunningThread;
    row.DebugDetail = entry.DebugDetail;
    row.Inlined = entry.Inlined;
    row.Scanned = entry.Scanned;
    if (entry.ModuleInfo) {
        row.ModuleFileName = entry.ModuleInfo->FileName;
        row.ModuleKind = entry.ModuleInfo->ModuleKind;
        row.ModuleCompilationDate = entry.ModuleInfo->CompilationDate;
    }
    row.UnitName = entry.UnitName;
    row.ClassName = entry.ClassName;
    row.ProcedureName = entry.ProcedureName;
    row.Line = entry.Line;
    row.ProcOffsetLine = entry.ProcOffsetLine;
    return row;
}

std::string ShownProcedureName(const TReportStackRow& row)
{
    TTavrelDebugInfo info;
    info.ProcedureName = row.ProcedureName;
    info.Inlined = row.Inlined;
    info.Scanned = row.Scanned;
    return ShownProcedureName(info);
}

TReportModuleRow ReportModuleRowOf(const TTavrelModuleInfo& module)
{
    return TReportModuleRow{module.Handle, module.FileName, module.Description, module.Version, module.FileSize,
                            module.LastModified};
}

std::string BuildCallStackSection(const TReportSources& sources, const TTavrelModuleOptions& options)
{
    const std::uint32_t kinds = ShownKinds(options.StackFlags());
    const bool lineOffsets = options.StackFlags().Contains(stLineOffsets);
    const std::array<std::string, 6> heads = {Text(options, 62), Text(options, 63), Text(options, 64),
                                              Text(options, 65), Text(options, 66), Text(options, 67)};
    std::array<std::size_t, 6> widths{};
    for (std::size_t c = 0; c < 6; ++c) widths[c] = heads[c].size();
    widths[0] = std::max<std::size_t>(widths[0], kPointerDigits);

    struct TShown {
        const TReportStackRow* Entry;
        bool First; // of the exception thread's group that opens the list
        std::array<std::string, 6> Cells;
    };
    std::vector<TShown> shown;
    if (sources.CallStack) {
        for (const TReportStackRow& row : *sources.CallStack) {
            const TReportStackRow* entry = &row;
            if (entry->DebugDetail > dkDebugLine || !(kinds & (1u << entry->DebugDetail))) continue;
            // The exception thread's group opens the list; its first entry
            // (the exception address) may itself be one that is not shown.
            const TReportStackRow* head = &sources.CallStack->front();
            const bool first =
                shown.empty() && head->ThreadID == entry->ThreadID && head->RunningThread == entry->RunningThread;
            shown.push_back({entry, first, StackCells(*entry, lineOffsets)});
            for (std::size_t c = 0; c < 6; ++c) widths[c] = std::max(widths[c], shown.back().Cells[c].size());
        }
    }
    std::size_t sum = 0;
    for (std::size_t w : widths) sum += w;
    const std::string separator(sum + 7, '-');

    std::string out = Text(options, 7) + ":" + kCRLF + separator + kCRLF + "|";
    for (std::size_t c = 0; c < 6; ++c) out += PadRight(heads[c], widths[c]) + "|";
    out += kCRLF + separator + kCRLF;

    const TReportStackRow* previous = nullptr;
    for (const TShown& row : shown) {
        const TReportStackRow& e = *row.Entry;
        if (!previous || e.ThreadID != previous->ThreadID || e.RunningThread != previous->RunningThread) {
            if (previous) {
                out += "|" + std::string(sum + 5, '-') + "|" + kCRLF;
                if (e.RunningThread == 1) out += "|" + std::string(sum + 5, ' ') + "|" + kCRLF;
            }
            const std::string kindText =
                row.First ? Text(options, 69) : (e.RunningThread == 1 ? Text(options, 70) : Text(options, 71));
            TReportThread thread;
            const auto found = sources.Threads.find(static_cast<std::uint32_t>(e.ThreadID));
            if (found != sources.Threads.end()) thread = found->second;
            std::string text = " " + kindText + ": " + Text(options, 72) + "=" +
                std::to_string(static_cast<std::uint32_t>(e.ThreadID)) + "; " + Text(options, 73) + "=" +
                thread.Priority + "; " + Text(options, 74) + "=" + Cell(thread.ClassName);
            if (thread.Main) text += "; [" + Text(options, 68) + "]";
            out += "|" + PadRight(text, sum + 5) + "|" + kCRLF;
            out += "|" + std::string(sum + 5, '-') + "|" + kCRLF;
        }
        out += "|";
        for (std::size_t c = 0; c < 6; ++c) out += PadRight(row.Cells[c], widths[c]) + "|";
        out += kCRLF;
        previous = &e;
    }
    out += separator + "\r\n\r\n";
    return out;
}

std::string BuildModulesSection(const TReportSources& sources, const TTavrelModuleOptions& options)
{
    const std::string title = Text(options, 9);
    if (!options.LogFlags().Contains(lgModulesSection))
        return title + ":\r\n" + std::string(title.size() + 1, '-') + "\r\n\r\n";
    std::array<std::string, 7> heads;
    for (std::size_t c = 0; c < 7; ++c) heads[c] = Text(options, 84 + c);
    std::array<std::size_t, 7> widths{};
    for (std::size_t c = 0; c < 7; ++c) widths[c] = heads[c].size();
    widths[0] = std::max<std::size_t>(widths[0], kPointerDigits);
    std::vector<std::array<std::string, 7>> rows;
    for (const TReportModuleRow& m : sources.Modules) {
        const TReportModuleRow* module = &m;
        std::array<std::string, 7> row;
        row[0] = rtl::Format("%llX", static_cast<unsigned long long>(module->Handle));
        row[1] = Cell(rtl::ExtractFileName(module->FileName));
        row[2] = Cell(module->Description);
        row[3] = module->Version == "0.0.0.0" ? std::string() : Cell(module->Version);
        row[4] = std::to_string(module->FileSize);
        row[5] = module->LastModified != 0 ? FormatFileDate(module->LastModified) : std::string();
        row[6] = Cell(rtl::ExtractFilePath(module->FileName));
        for (std::size_t c = 0; c < 7; ++c) widths[c] = std::max(widths[c], row[c].size());
        rows.push_back(std::move(row));
    }
    std::size_t sum = 0;
    for (std::size_t w : widths) sum += w;
    const std::string separator(sum + 8, '-');
    std::string out = title + ":" + kCRLF + separator + kCRLF + "|";
    for (std::size_t c = 0; c < 7; ++c) out += PadRight(heads[c], widths[c]) + "|";
    out += kCRLF + separator + kCRLF;
    for (auto& row : rows) {
        row[0] = std::string(widths[0] - row[0].size(), '0') + row[0];
        out += "|";
        for (std::size_t c = 0; c < 7; ++c) out += PadRight(row[c], widths[c]) + "|";
        out += kCRLF;
    }
    out += separator + "\r\n\r\n";
    return out;
}

std::string BuildCPUSection(const TReportSources& sources, const TTavrelModuleOptions& options)
{
    const std::string title = Text(options, 91);
    if (!options.LogFlags().Contains(lgCpuSection))
        return title + ":\r\n" + std::string(title.size() + 1, '-') + "\r\n\r\n";
    const std::string unknown = "????" + std::string(kPointerDigits - 4, ' ');
    auto reg = [&](std::uint64_t value) {
        return sources.Context ? HexAddress(static_cast<std::uintptr_t>(value)) : unknown;
    };
    const kernel::TThreadContext c = sources.Context.value_or(kernel::TThreadContext{});
    const std::size_t registerWidth = 2 * (5 + kPointerDigits) + 3;
    std::string out = title + ":" + kCRLF + std::string(registerWidth, '-') + kCRLF;
#if defined(__x86_64__)
    const struct {
        const char* left;
        std::uint64_t leftValue;
        const char* right;
        std::uint64_t rightValue;
    } rows[] = {{"RAX", c.Rax, "RDI", c.Rdi}, {"RBX", c.Rbx, "RSI", c.Rsi}, {"RCX", c.Rcx, "RSP", c.Rsp},
                {"RDX", c.Rdx, "RIP", c.Rip}, {"R8 ", c.R8, "R12", c.R12},  {"R9 ", c.R9, "R13", c.R13},
                {"R10", c.R10, "R14", c.R14}, {"R11", c.R11, "R15", c.R15}};
#else
    const struct {
        const char* left;
        std::uint64_t leftValue;
        const char* right;
        std::uint64_t rightValue;
    } rows[] = {{"EAX", c.Eax, "EDI", c.Edi},
                {"EBX", c.Ebx, "ESI", c.Esi},
                {"ECX", c.Ecx, "ESP", c.Esp},
                {"EDX", c.Edx, "EIP", c.Eip}};
#endif
    for (const auto& row : rows)
        out +=
            std::string(row.left) + ": " + reg(row.leftValue) + "   " + row.right + ": " + reg(row.rightValue) + kCRLF;
    out += kCRLF;
    // Stack dump: 16 slots of the pointer width; memory dump: 16 lines of
    // 16 bytes from the exception address.
    const std::size_t stackWidth = 2 * kPointerDigits + 2;
    out += PadRight(Text(options, 92) + ":", stackWidth + 3) + Text(options, 93) + ":" + kCRLF;
    out += std::string(stackWidth, '-') + "   " + std::string(kPointerDigits + 2 + 48 + 1 + 16, '-') + kCRLF;
    const void* stack = reinterpret_cast<const void*>(sources.StackPointer);
    const void* memory = reinterpret_cast<const void*>(sources.ExceptionAddress);
    if (sources.StackPointer && sources.ExceptionAddress && IsReadableMemory(stack, 16 * sizeof(void*)) &&
        IsReadableMemory(memory, 256)) {
        for (std::size_t i = 0; i < 16; ++i) {
            std::uintptr_t slot = 0;
            CopyReadable(&slot, static_cast<const char*>(stack) + i * sizeof(void*), sizeof slot);
            unsigned char bytes[16];
            CopyReadable(bytes, static_cast<const char*>(memory) + 16 * i, 16);
            out += HexAddress(sources.StackPointer + i * sizeof(void*)) + ": " + HexAddress(slot) + "   " +
                HexAddress(sources.ExceptionAddress + 16 * i) + ": ";
            for (unsigned char b : bytes) out += rtl::Format("%02X ", b);
            out += ' ';
            for (unsigned char b : bytes) out += (b < 32 || b > 126) ? '.' : static_cast<char>(b);
            out += kCRLF;
        }
    }
    return out;
}

std::string BuildCustomSection(const TReportSources& sources, const TTavrelModuleOptions& options)
{
    if (rtl::IsBlank(sources.CustomData)) return {};
    // Blank lines become "." so that the text can never hold the blank
    // lines that end a report in the log.
    const std::string title = Text(options, 13);
    std::string out = title + ":" + kCRLF + std::string(title.size() + 1, '-') + kCRLF;
    for (const std::string& line : SplitLines(NormalizeLineEnds(CleanMessage(sources.CustomData))))
        out += (rtl::IsBlank(line) ? std::string(".") : line) + kCRLF;
    return out;
}

TErrorReport BuildReportText(const TReportSources& sources, const TTavrelModuleOptions& options)
{
    TErrorReport report;
    report.LastMessage = CleanMessage(sources.Items[riExceptionMessage]);
    report.GeneralPart = std::string(kReportBanner) + "\r\n\r\n" + BuildGeneralPart(sources, options);
    report.CPUPart = BuildCPUSection(sources, options);
    report.Text = report.GeneralPart + kCRLF + BuildCallStackSection(sources, options) +
        BuildModulesSection(sources, options) + report.CPUPart;
    const std::string custom = BuildCustomSection(sources, options);
    if (!custom.empty()) {
        if (report.Text.size() < 4 || report.Text.compare(report.Text.size() - 4, 4, "\r\n\r\n") != 0)
            report.Text += kCRLF;
        report.Text += custom;
    }
    return report;
}

} // namespace crashreport
