#include "crashreport/report/log_file.h"

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "crashreport/errorlog/mail_date.h"
#include "crashreport/codecs/codec_error.h"
#include "crashreport/codecs/day_count.h"
#include "crashreport/codecs/file_io.h"
#include "crashreport/options/log_file_naming.h"
#include "crashreport/report/report_text.h"
#include "platform/kernel/files.h"
#include "platform/rtl/strings.h"

namespace crashreport {

namespace {

constexpr const char* kReportEnd = "\r\n\r\n\r\n\r\n";

std::string TrimRightLineEnds(std::string text)
{
    while (!text.empty() && (text.back() == '\r' || text.back() == '\n' || text.back() == ' ')) text.pop_back();
    return text;
}

// A report text as it is stored: CR LF line ends, no run of three blank
// lines inside (that would end it early in the file), three CR LF at its end.
std::string StoredForm(const std::string& text)
{
    std::string body = TrimRightLineEnds(NormalizeLineEnds(text));
    for (std::size_t at = body.find(kReportEnd); at != std::string::npos; at = body.find(kReportEnd, at))
        body.erase(at, 2);
    return body + "\r\n\r\n\r\n";
}

std::string ErrorText(const char* what, const std::string& path)
{
    return std::string(what) + " \"" + path + "\": " + std::strerror(errno);
}

// The line that holds position `at`.
std::string LineAt(const std::string& text, std::size_t at)
{
    const std::size_t end = text.find(kCRLF, at);
    return text.substr(at, end == std::string::npos ? std::string::npos : end - at);
}

} // namespace

std::vector<std::string> ParseLogText(std::string text, std::vector<std::string>* unread)
{
    std::vector<std::string> reports;
    if (text.size() <= 5) return reports;
    if (text.compare(text.size() - 6, 6, "\r\n\r\n\r\n") != 0) text += "\r\n\r\n\r\n";
    text = NormalizeLineEnds(text);
    std::size_t start = 0;
    for (;;) {
        // Separating line ends in front of a report are not part of it.
        while (start < text.size() && (text[start] == '\r' || text[start] == '\n')) ++start;
        if (start >= text.size()) break;
        std::size_t end = text.find(kReportEnd, start);
        std::string piece;
        if (end == std::string::npos) {
            piece = text.substr(start) + "\r\n";
            end = text.size();
        } else {
            piece = text.substr(start, end + 6 - start);
            end += 8;
        }
        if (piece.find("-\r\n|") != std::string::npos)
            reports.push_back(StoredForm(piece));
        else if (unread && !rtl::IsBlank(piece))
            unread->push_back(piece);
        start = end;
    }
    return reports;
}

std::string ComposeLogText(const std::vector<std::string>& reports)
{
    // Each stored report (ending in three CR LF) is followed by one more, so
    // the file ends in four; one further CR LF separates two reports.
    std::string text;
    for (std::size_t i = 0; i < reports.size(); ++i) {
        if (i > 0) text += kCRLF;
        text += reports[i] + kCRLF;
    }
    return text;
}

void ReplaceFileContents(const std::string& path, const std::string& text, const std::string* keepPreviousAs)
{
    const auto info = kernel::GetFileInfo(path);
    if (info && !info->IsRegular) throw ELogFileError("\"" + path + "\" is not a regular file.");
    try {
        codecs::WriteFileReplacing(path, text, keepPreviousAs);
    } catch (const codecs::EFWriteError& e) {
        throw ELogFileError(e.Message);
    }
}

TLogFile::TLogFile(const std::string& fileName, bool readOnly) : fileName_(fileName), readOnly_(readOnly)
{
    // Another account's link at the log's path would choose which file of
    // this user is read into reports and sent, or whose mode the log gets.
    if (kernel::IsForeignSymbolicLink(fileName_))
        throw ELogFileError("The log file \"" + fileName_ + "\" is a symbolic link of another user; it is not used.");
    // A folder at the path moves the log elsewhere; a FIFO or device is
    // not opened at all (opening one could wait for a writer).
    const auto info = kernel::GetFileInfo(fileName_);
    if (!info || info->IsRegular || info->IsFolder) FindWritableLogFile(fileName_, true, readOnly);
    if (!readOnly && !lock_.Lock(fileName_ + ".lock", kLogLockTimeoutMs))
        throw ELogFileError(ErrorText("Cannot lock the log file", fileName_));
    const auto found = kernel::GetFileInfo(fileName_);
    if (!found) return;
    hasFile_ = true;
    if (!found->IsRegular) return; // a folder, FIFO or device: nothing to read, and Save refuses it
    kernel::TUniqueFd fd = kernel::OpenRegularFileForReading(fileName_);
    if (!fd.Valid()) throw ELogFileError(ErrorText("Cannot open the log file", fileName_));
    const auto size = kernel::GetFileSize(fd.Get());
    if (!size) throw ELogFileError(ErrorText("Cannot read the log file", fileName_));
    std::uint64_t offset = 0;
    if (*size > kMaxLoadedLogBytes) {
        // An oversized log is read from its end; the rest is kept aside.
        offset = *size - kMaxLoadedLogBytes;
        hasUnreadText_ = true;
        if (kernel::SeekFile(fd.Get(), static_cast<std::int64_t>(offset), kernel::TSeekFrom::sfBeginning) < 0)
            throw ELogFileError(ErrorText("Cannot read the log file", fileName_));
    }
    std::string text;
    text.resize(static_cast<std::size_t>(*size - offset));
    std::size_t filled = 0;
    while (filled < text.size()) {
        const std::ptrdiff_t n = kernel::ReadFile(fd.Get(), text.data() + filled, text.size() - filled);
        if (n < 0) throw ELogFileError(ErrorText("Cannot read the log file", fileName_));
        if (n == 0) break; // the file shrank meanwhile
        filled += static_cast<std::size_t>(n);
    }
    text.resize(filled);
    if (offset > 0) {
        // Start at a report's beginning, not inside one.
        const std::size_t at = text.find(kReportEnd);
        text.erase(0, at == std::string::npos ? text.size() : at + 8);
    }
    std::vector<std::string> unread;
    reports_ = ParseLogText(std::move(text), &unread);
    if (!unread.empty()) hasUnreadText_ = true;
}

TLogFile TLogFile::FromText(const std::string& text)
{
    TLogFile log;
    log.reports_.push_back(StoredForm(text));
    return log;
}

void TLogFile::AddReport(const std::string& text, int maxReports)
{
    const std::size_t keep = static_cast<std::size_t>(std::max(maxReports, 1) - 1);
    if (reports_.size() > keep)
        reports_.erase(reports_.begin(), reports_.begin() + static_cast<std::ptrdiff_t>(reports_.size() - keep));
    reports_.push_back(StoredForm(text));
}

void TLogFile::Save()
{
    if (fileName_.empty()) throw ELogFileError("The log has no file.");
    if (readOnly_) throw ELogFileError("The log file \"" + fileName_ + "\" was opened read-only.");
    const auto info = kernel::GetFileInfo(fileName_);
    const std::string* aside = nullptr;
    std::string asideName;
    if (hasUnreadText_ && info) {
        asideName = fileName_ + "." + codecs::FormatCompactTimestamp(LocalNow()) + ".unread";
        aside = &asideName;
    }
    ReplaceFileContents(fileName_, ComposeLogText(reports_), aside);
    if (aside) {
        setAsideName_ = asideName;
        hasUnreadText_ = false;
    }
    hasFile_ = true;
}

std::string TLogFile::GetAllReports() const
{
    std::string text;
    for (const std::string& report : reports_) text += report + kCRLF;
    return text;
}

const std::string* TLogFile::Report(int index) const
{
    return index >= 0 && index < Count() ? &reports_[static_cast<std::size_t>(index)] : nullptr;
}

bool TLogFile::IsDuplicate(const std::vector<std::string>& fieldNumbers, const std::vector<std::string>& values) const
{
    if (fieldNumbers.empty() || fieldNumbers.size() != values.size()) return false;
    for (const std::string& report : reports_) {
        bool all = true;
        for (std::size_t f = 0; f < fieldNumbers.size() && all; ++f) {
            const std::size_t at = report.find("\r\n  " + fieldNumbers[f] + " ");
            if (at == std::string::npos) {
                all = false;
                break;
            }
            const std::size_t lineStart = at + 2;
            const std::size_t colon = report.find(": ", lineStart);
            const std::size_t lineEnd = report.find(kCRLF, lineStart);
            if (colon == std::string::npos || (lineEnd != std::string::npos && colon > lineEnd)) {
                all = false;
                break;
            }
            // The new value as the renderer writes it under this label.
            std::string expected;
            std::size_t lineNo = 0;
            std::string value = NormalizeLineEnds(values[f]);
            std::string rest = value;
            for (std::size_t r = rest.find(": "); r != std::string::npos; r = rest.find(": ", r + 2))
                rest.replace(r, 2, ":_");
            std::size_t start = 0;
            do {
                std::size_t end = rest.find(kCRLF, start);
                std::string line = rest.substr(start, end == std::string::npos ? std::string::npos : end - start);
                if (lineNo > 0) {
                    if (rtl::IsBlank(line)) line.assign(1, '.');
                    expected += kCRLF + std::string(colon - lineStart + 2, ' ');
                }
                expected += line;
                ++lineNo;
                start = end == std::string::npos ? std::string::npos : end + 2;
            } while (start != std::string::npos && start < rest.size());
            expected += kCRLF;
            all = report.compare(colon + 2, expected.size(), expected) == 0;
        }
        if (all) return true;
    }
    return false;
}

std::string ExtractFieldValue(const std::string& report, const std::string& fieldNumber)
{
    std::size_t at = report.find("\r\n  " + fieldNumber + " ");
    if (at == std::string::npos) return {};
    at += 2;
    const std::string line = LineAt(report, at);
    const std::size_t colon = line.find(": ");
    if (colon == std::string::npos) return {};
    std::string value = rtl::Trim(line.substr(colon + 2));
    std::size_t next = report.find(kCRLF, at);
    while (next != std::string::npos) {
        next += 2;
        const std::string more = LineAt(report, next);
        if (rtl::IsBlank(more) || more.find(": ") != std::string::npos) break;
        value += kCRLF + rtl::Trim(more);
        next = report.find(kCRLF, next);
    }
    return value;
}

std::string TLogFile::GetFieldValue(const std::string& fieldNumber, int index) const
{
    const std::string* report = Report(index);
    return report ? ExtractFieldValue(*report, fieldNumber) : std::string();
}

namespace {

// Where the call-stack table's first dash line starts; npos without one.
std::size_t CallStackTableStart(const std::string& report)
{
    const std::size_t mark = report.find("-\r\n|");
    if (mark == std::string::npos) return std::string::npos;
    const std::size_t lineBreak = report.rfind(kCRLF, mark);
    return lineBreak == std::string::npos ? 0 : lineBreak + 2;
}

// One past the last '-' of the call-stack table's closing dash line.
std::size_t CallStackTableEnd(const std::string& report)
{
    const std::size_t mark = report.find("-\r\n|");
    if (mark == std::string::npos) return std::string::npos;
    const std::size_t end = report.find("-\r\n\r\n", mark);
    return end == std::string::npos ? std::string::npos : end + 1;
}

// Where the CPU section's title line starts; npos when there is none.
std::size_t CPUStart(const std::string& report)
{
    const std::size_t tableEnd = CallStackTableEnd(report);
    if (tableEnd == std::string::npos) return std::string::npos;
    const std::size_t first = report.find("\r\n\r\n", tableEnd);
    if (first == std::string::npos) return std::string::npos;
    const std::size_t second = report.find("\r\n\r\n", first + 4);
    return second == std::string::npos ? std::string::npos : second + 4;
}

// One past the CPU section's last line end (two blocks).
std::size_t CPUEnd(const std::string& report, std::size_t start)
{
    std::size_t end = report.find("\r\n\r\n", start);
    if (end != std::string::npos) end = report.find("\r\n\r\n", end + 4);
    return end == std::string::npos ? report.size() : end + 2;
}

} // namespace

std::string ExtractGeneralPart(const std::string& report)
{
    const std::size_t table = CallStackTableStart(report);
    if (table == std::string::npos || table < 2) return {};
    const std::size_t titleBreak = report.rfind(kCRLF, table - 3);
    const std::size_t titleStart = titleBreak == std::string::npos ? 0 : titleBreak + 2;
    return TrimRightLineEnds(report.substr(0, titleStart));
}

std::string ExtractCallStackPart(const std::string& report)
{
    const std::size_t start = CallStackTableStart(report);
    const std::size_t end = CallStackTableEnd(report);
    if (start == std::string::npos || end == std::string::npos) return {};
    return report.substr(start, end - start);
}

std::string ExtractModulesPart(const std::string& report)
{
    const std::size_t tableEnd = CallStackTableEnd(report);
    if (tableEnd == std::string::npos) return {};
    const std::size_t title = report.find(":\r\n-", tableEnd);
    if (title == std::string::npos) return {};
    const std::size_t dashes = title + 3;
    const std::size_t afterDashes = report.find(kCRLF, dashes);
    if (afterDashes == std::string::npos || afterDashes + 2 >= report.size() || report[afterDashes + 2] != '|')
        return {};
    const std::size_t end = report.find("-\r\n\r\n", afterDashes);
    if (end == std::string::npos) return {};
    return report.substr(dashes, end + 1 - dashes);
}

std::string ExtractCPUPart(const std::string& report)
{
    const std::size_t start = CPUStart(report);
    if (start == std::string::npos) return {};
    const std::string part = report.substr(start, CPUEnd(report, start) - start);
    if (part.find("EAX") == std::string::npos && part.find("RAX") == std::string::npos) return {};
    return part;
}

std::string ExtractCustomPart(const std::string& report)
{
    const std::size_t cpu = CPUStart(report);
    if (cpu == std::string::npos) return {};
    const std::size_t after = CPUEnd(report, cpu);
    const std::size_t title = report.find(":\r\n-", after);
    if (title == std::string::npos) return {};
    const std::size_t rows = report.find(kCRLF, title + 3);
    if (rows == std::string::npos) return {};
    std::size_t end = report.find("\r\n\r\n", rows + 2);
    if (end == std::string::npos) end = report.size();
    return TrimRightLineEnds(report.substr(rows + 2, end - (rows + 2)));
}

std::string ExtractReportVersion(const std::string& report)
{
    const std::string first = LineAt(report, 0);
    return first.size() > 10 ? first.substr(10) : std::string();
}

std::string TLogFile::GetGeneralPart(int index) const
{
    const std::string* r = Report(index);
    return r ? ExtractGeneralPart(*r) : std::string();
}
std::string TLogFile::GetCallStackPart(int index) const
{
    const std::string* r = Report(index);
    return r ? ExtractCallStackPart(*r) : std::string();
}
std::string TLogFile::GetModulesPart(int index) const
{
    const std::string* r = Report(index);
    return r ? ExtractModulesPart(*r) : std::string();
}
std::string TLogFile::GetCPUPart(int index) const
{
    const std::string* r = Report(index);
    return r ? ExtractCPUPart(*r) : std::string();
}
std::string TLogFile::GetCustomPart(int index) const
{
    const std::string* r = Report(index);
    return r ? ExtractCustomPart(*r) : std::string();
}
std::string TLogFile::GetReportVersion(int index) const
{
    const std::string* r = Report(index);
    return r ? ExtractReportVersion(*r) : std::string();
}

} // namespace crashreport
