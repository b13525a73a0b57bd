#include "crashreport/report/utf8_sequence.h"
#include "crashreport/report/report_xml.h"

#include <algorithm>
#include <cstdlib>

#include "crashreport/report/log_file.h"
#include "crashreport/report/report_text.h"
#include "crashreport/stack/debug_info.h"
#include "platform/rtl/strings.h"

namespace crashreport {

namespace {


std::vector<std::string> Lines(const std::string& text)
{
    std::vector<std::string> lines;
    std::size_t start = 0;
    while (start <= text.size()) {
        const std::size_t end = text.find(kCRLF, start);
        if (end == std::string::npos) {
            if (start < text.size()) lines.push_back(text.substr(start));
            break;
        }
        lines.push_back(text.substr(start, end - start));
        start = end + 2;
    }
    return lines;
}

std::string Reference(unsigned code)
{
    std::string digits = std::to_string(code);
    if (digits.size() < 3) digits.insert(0, 3 - digits.size(), '0');
    return "&#" + digits + ";";
}

// The length of the valid UTF-8 sequence at `at` and its character; 0 when
// the bytes there are not one.
void IndentLines(std::string& text, const std::string& indent)
{
    // Every line but the first and the last.
    std::vector<std::string> lines = Lines(text);
    std::string out;
    for (std::size_t i = 0; i < lines.size(); ++i) {
        if (i > 0 && i + 1 < lines.size()) out += indent;
        out += lines[i];
        if (i + 1 < lines.size()) out += kCRLF;
    }
    text = out;
}

std::vector<std::string> SplitFields(const std::string& row)
{
    // "|a|b|c|" -> a, b, c (trimmed).
    std::vector<std::string> fields;
    std::size_t start = row.empty() || row[0] != '|' ? 0 : 1;
    while (start < row.size()) {
        std::size_t end = row.find('|', start);
        if (end == std::string::npos) {
            const std::string rest = rtl::Trim(row.substr(start));
            if (!rest.empty()) fields.push_back(rest);
            break;
        }
        fields.push_back(rtl::Trim(row.substr(start, end - start)));
        start = end + 1;
    }
    return fields;
}

bool IsItemNumber(const std::string& word)
{
    const std::size_t dot = word.find('.');
    if (dot == std::string::npos || dot == 0 || dot + 1 >= word.size()) return false;
    return std::all_of(word.begin(), word.end(), [](char c) { return c == '.' || (c >= '0' && c <= '9'); });
}

void AddGeneral(TXMLItem& log, const std::string& general)
{
    TXMLItem* element = log.AddChild("General");
    std::vector<std::string> lines = Lines(general);
    TXMLItem* group = nullptr;
    TXMLItem* line = nullptr;
    std::string value;
    bool expectTitle = true, groupHasItem = false;
    std::string title;
    auto endItem = [&] {
        if (!line) return;
        std::string v = value;
        if (v.rfind(".\r\n", 0) == 0) v.erase(0, 1);
        if (v.size() >= 3 && v.compare(v.size() - 3, 3, "\r\n.") == 0) v.erase(v.size() - 1);
        v = rtl::ReplaceAll(v, ":_", ": ");
        v = rtl::ReplaceAll(v, "\n.\r", "\n\r");
        line->AddAttribute("Value", v);
        line = nullptr;
        value.clear();
    };
    for (std::size_t i = 2; i < lines.size(); ++i) {
        const std::string& raw = lines[i];
        if (rtl::Trim(raw).empty()) {
            endItem();
            expectTitle = true;
            continue;
        }
        if (expectTitle) {
            title = raw.empty() ? raw : raw.substr(0, raw.size() - 1);
            group = element->AddChild("Group");
            groupHasItem = false;
            expectTitle = false;
            ++i; // the dash line
            continue;
        }
        const std::string text = rtl::Trim(raw);
        const std::size_t space = text.find(' ');
        const std::string number = text.substr(0, space);
        const std::size_t colon = text.find(": ");
        const bool item =
            IsItemNumber(number) && space != std::string::npos && (colon != std::string::npos || text.back() == ':');
        if (item && group) {
            endItem();
            if (!groupHasItem) {
                group->AddAttribute("ID", number.substr(0, number.find('.')));
                group->AddAttribute("Label", title);
                groupHasItem = true;
            }
            const std::size_t labelEnd = colon != std::string::npos ? colon : text.size() - 1;
            line = group->AddChild("Line");
            line->AddAttribute("ID", number);
            line->AddAttribute("Label", rtl::Trim(text.substr(space + 1, labelEnd - space - 1)));
            value = colon != std::string::npos ? text.substr(colon + 2) : std::string();
        } else if (line) {
            value += kCRLF + text;
        }
    }
    endItem();
}

void AddThreadAttributes(TXMLItem& thread, const std::string& row)
{
    const std::size_t colon = row.find(": ");
    std::vector<std::string> parts;
    if (colon != std::string::npos) {
        std::string rest = row.substr(colon + 2);
        std::size_t start = 0;
        for (;;) {
            const std::size_t end = rest.find(';', start);
            parts.push_back(rtl::Trim(rest.substr(start, end == std::string::npos ? std::string::npos : end - start)));
            if (end == std::string::npos) break;
            start = end + 1;
        }
    }
    const char* names[] = {"ID", "Priority", "Class"};
    for (std::size_t p = 0; p < 3 && p < parts.size(); ++p) {
        const std::size_t eq = parts[p].find('=');
        thread.AddAttribute(names[p], eq == std::string::npos ? std::string() : parts[p].substr(eq + 1));
    }
    thread.AddAttribute("MainThread", parts.size() > 3 ? "True" : "False");
}

void AddCallStack(TXMLItem& log, const std::string& part, bool old)
{
    TXMLItem* element = log.AddChild("CallStack");
    std::vector<std::string> lines = Lines(part);
    TXMLItem* current = old ? element->AddChild("ExceptionThread") : nullptr;
    bool sawThread = old, running = false;
    // Lines 0..2 are the dash line, the head row and its dash line; the last
    // is the closing dash line.
    for (std::size_t i = 3; i + 1 < lines.size(); ++i) {
        const std::string& row = lines[i];
        if (row.rfind("|-", 0) == 0) continue;
        std::vector<std::string> fields = SplitFields(row);
        if (fields.size() >= 6) {
            if (!current) current = element->AddChild("ExceptionThread");
            // A "|" inside a procedure name ("operator|") split it: the
            // fields between the class and the line are the procedure.
            std::string procedure = fields[4];
            for (std::size_t f = 5; f + 1 < fields.size(); ++f) procedure += "|" + fields[f];
            // A row of inlined code, and a row the raw scan found, carry
            // their marks after the procedure (inlined first).
            auto cutMark = [&procedure](const std::string& mark) {
                const bool marked = procedure.size() > mark.size() &&
                    procedure.compare(procedure.size() - mark.size(), mark.size(), mark) == 0;
                if (marked) procedure.resize(procedure.size() - mark.size());
                return marked;
            };
            const bool scanned = cutMark(kScannedMark);
            const bool inlined = cutMark(kInlinedMark);
            const std::string lineCell = fields.back();
            const std::size_t bracket = lineCell.find('[');
            TXMLItem* call = current->AddChild("Line");
            call->AddAttribute("Address", fields[0]);
            call->AddAttribute("Module", fields[1]);
            call->AddAttribute("Unit", fields[2]);
            call->AddAttribute("Class", fields[3]);
            call->AddAttribute("Procedure", procedure);
            call->AddAttribute("Number", lineCell.substr(0, bracket));
            std::string offset;
            if (bracket != std::string::npos) {
                const std::size_t close = lineCell.find(']', bracket);
                offset =
                    lineCell.substr(bracket + 1, close == std::string::npos ? std::string::npos : close - bracket - 1);
            }
            call->AddAttribute("Offset", offset);
            if (inlined) call->AddAttribute("Inlined", "True");
            if (scanned) call->AddAttribute("Scanned", "True");
        } else if (fields.empty() || fields[0].empty()) {
            running = true;
        } else {
            TXMLItem* thread;
            if (!sawThread)
                thread = element->AddChild("ExceptionThread");
            else if (running)
                thread = element->AddChild("RunningThread");
            else
                thread = (current ? current : element)->AddChild("CallingThread");
            sawThread = true;
            running = false;
            AddThreadAttributes(*thread, fields[0]);
            current = thread;
        }
    }
}

void AddModules(TXMLItem& log, const std::string& part)
{
    TXMLItem* element = log.AddChild("Modules");
    std::vector<std::string> lines = Lines(part);
    for (std::size_t i = 3; i + 1 < lines.size(); ++i) {
        if (lines[i].rfind("|-", 0) == 0 || lines[i].rfind("|", 0) != 0) continue;
        std::vector<std::string> f = SplitFields(lines[i]);
        if (f.size() < 6) continue;
        TXMLItem* module = element->AddChild("Module");
        module->AddAttribute("Handle", f[0]);
        module->AddAttribute("Name", f[1]);
        module->AddAttribute("Description", f[2]);
        module->AddAttribute("Version", f[3]);
        module->AddAttribute("Size", f[4]);
        if (f.size() >= 7) {
            module->AddAttribute("Modified", f[5]);
            module->AddAttribute("Path", f[6]);
        } else {
            module->AddAttribute("Path", f[5]);
        }
    }
}

bool IsHex(const std::string& text)
{
    return !text.empty() &&
        std::all_of(text.begin(), text.end(), [](char c) { return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F'); });
}

void AddCPU(TXMLItem& log, const std::string& part)
{
    TXMLItem* element = log.AddChild("CPU");
    if (rtl::Trim(part).empty()) return;
    std::vector<std::string> lines = Lines(part);
    // Register rows: "NAME: VALUE   NAME: VALUE", from the third line to the
    // first blank one. The left column is listed first, then the right.
    std::vector<std::pair<std::string, std::string>> left, right;
    std::size_t i = 2;
    for (; i < lines.size() && !rtl::Trim(lines[i]).empty(); ++i) {
        const std::string& row = lines[i];
        const std::size_t split = row.find("   ", row.find(": ") + 2 + 4);
        const std::string halves[2] = {row.substr(0, split),
                                       split == std::string::npos ? std::string() : row.substr(split + 3)};
        for (int h = 0; h < 2; ++h) {
            const std::size_t colon = halves[h].find(": ");
            if (colon == std::string::npos) continue;
            (h == 0 ? left : right).emplace_back(rtl::Trim(halves[h].substr(0, colon)), rtl::Trim(halves[h].substr(colon + 2)));
        }
    }
    TXMLItem* registers = element->AddChild("Registers");
    for (const auto* column : {&left, &right})
        for (const auto& [name, value] : *column)
            if (value != "????" && IsHex(value)) registers->AddAttribute(name, value);
    TXMLItem* stack = element->AddChild("Stack");
    TXMLItem* dump = element->AddChild("MemoryDump");
    for (; i < lines.size(); ++i) {
        const std::string& row = lines[i];
        const std::size_t c1 = row.find(": ");
        const std::size_t gap = row.find("   ", c1 == std::string::npos ? 0 : c1);
        if (c1 == std::string::npos || gap == std::string::npos || !IsHex(row.substr(0, c1))) continue;
        const std::size_t c2 = row.find(": ", gap);
        if (c2 == std::string::npos) continue;
        TXMLItem* slot = stack->AddChild("Line");
        slot->AddAttribute("Address", row.substr(0, c1));
        slot->AddAttribute("Value", row.substr(c1 + 2, gap - c1 - 2));
        TXMLItem* bytes = dump->AddChild("Line");
        bytes->AddAttribute("Address", rtl::Trim(row.substr(gap + 3, c2 - gap - 3)));
        bytes->AddAttribute("Bytes", row.substr(std::min(row.size(), c2 + 2), 47));
        bytes->AddAttribute("Chars", row.substr(std::min(row.size(), c2 + 2 + 49), 16));
    }
}

} // namespace

TXMLItems::~TXMLItems()
{
    while (!items_.empty()) items_.pop_back();
}

TXMLItem* TXMLItems::Add(const std::string& name)
{
    items_.push_back(std::make_unique<TXMLItem>(name));
    return items_.back().get();
}

std::string EscapeXML(const std::string& text)
{
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size();) {
        const unsigned char c = static_cast<unsigned char>(text[i]);
        if (c < 32) {
            out += (c == '\t' || c == '\r' || c == '\n') ? Reference(c) : std::string("?");
            ++i;
        } else if (c == '"' || c == '&' || c == '\'' || c == '<' || c == '>' || c == 127) {
            out += Reference(c);
            ++i;
        } else if (c < 128) {
            out += static_cast<char>(c);
            ++i;
        } else {
            unsigned code = 0;
            // U+FFFE and U+FFFF are no characters of an XML document.
            std::size_t length = Utf8Sequence(text, i, code);
            if (code == 0xFFFE || code == 0xFFFF) length = 0;
            if (length) {
                out += Reference(code);
                i += length;
            } else {
                out += Reference(c);
                ++i;
            }
        }
    }
    return out;
}

void TXMLItem::AddAttribute(const std::string& name, const std::string& value)
{
    Attributes += " " + name + "=\"" + EscapeXML(value) + "\"";
}

TXMLItem* TXMLItem::AddChild(const std::string& name)
{
    TXMLItem* child = Items.Add(name);
    child->Parent = this;
    return child;
}

std::string TXMLItem::GetXML()
{
    std::string out = Indent + "<" + Name + Attributes;
    if (Content.empty() && Items.Count() == 0) return out + "/>\r\n";
    out += ">" + EscapeXML(Content);
    if (Items.Count() > 0) {
        out += kCRLF;
        for (int i = 0; i < Items.Count(); ++i) {
            Items.Item(i)->Indent = Indent + "  ";
            out += Items.Item(i)->GetXML();
        }
        out += Indent;
    }
    return out + "</" + Name + ">\r\n";
}

namespace {

// One dotted part of a version as a number, from `at` to the next dot; a
// part of absurd length (a damaged log) saturates instead of overflowing.
unsigned long long VersionPart(const std::string& text, std::size_t& at)
{
    constexpr unsigned long long kCeiling = 1000000000ULL;
    unsigned long long value = 0;
    for (; at < text.size() && text[at] != '.'; ++at)
        if (std::isdigit(static_cast<unsigned char>(text[at])))
            value = std::min(value * 10 + static_cast<unsigned>(text[at] - '0'), kCeiling);
    return value;
}

} // namespace

bool VersionBelow(const std::string& a, const std::string& b)
{
    std::size_t i = 0, j = 0;
    while (i < a.size() || j < b.size()) {
        const unsigned long long x = VersionPart(a, i), y = VersionPart(b, j);
        if (x != y) return x < y;
        ++i, ++j;
    }
    return false;
}

std::string BuildReportXML(const std::string& report)
{
    const std::string version = ExtractReportVersion(report);
    const bool old = VersionBelow(version, "5.0.0");
    TXMLItem log("Log");
    AddGeneral(log, ExtractGeneralPart(report));
    AddCallStack(log, ExtractCallStackPart(report), old);
    AddModules(log, ExtractModulesPart(report));
    AddCPU(log, ExtractCPUPart(report));
    if (old) log.AddChild("HoToReproduce")->AddAttribute("Text", ExtractCustomPart(report));
    std::string text = "<Log Version=\"" + EscapeXML(version) + "\">\r\n";
    for (int i = 0; i < log.Items.Count(); ++i) text += log.Items.Item(i)->GetXML();
    text += "</Log>";
    IndentLines(text, "  ");
    return text;
}

std::string BuildLogXML(const TLogFile& log)
{
    std::string text = "<Doc>\r\n";
    for (const std::string& report : log.Reports()) text += BuildReportXML(report) + kCRLF;
    text += "</Doc>";
    IndentLines(text, "  ");
    return text + kCRLF;
}

void SaveLogAsXML(const TLogFile& log, const std::string& fileName) { ReplaceFileContents(fileName, BuildLogXML(log)); }

} // namespace crashreport
