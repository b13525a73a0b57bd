#pragma once
// The log file of recent error reports (".tlf"): plain text, the reports
// oldest first, each followed by three blank lines, CR LF line ends, no
// header. `TLogFile` loads it whole, keeps at most MaxSavedErrors reports,
// answers whether an equal error was logged already, extracts fields and
// sections of a stored report, and writes the file back.
//
// Safety: a writer holds an exclusive lock on "<log>.lock" (owner-only,
// never opened through a symbolic link) from loading to the end of its
// task, so two processes appending at once both end up in the log; the
// write-back goes to a temporary file in the same folder, flushed to the
// disk, that is renamed over the log, so a crash or a full disk leaves the
// previous log whole. Text of the file that is not a report (a
// damaged or hand-edited piece, a foreign file, the part of an oversized
// file not read) is never lost: before the first write-back the previous
// file gets a second name "<log>.<yyyymmddhhnnss>.unread". A log made here
// is readable by its owner only; an existing one keeps its mode.
// Nothing here is signal-safe: it allocates and works on files.
#include <cstddef>
#include <string>
#include <vector>

#include "platform/kernel/file_lock.h"
#include "platform/rtl/exception.h"

namespace crashreport {

class ELogFileError : public rtl::Exception {
public:
    using Exception::Exception;
};

// At most this much of a log file is read (its end); more is set aside.
inline constexpr std::size_t kMaxLoadedLogBytes = 64u << 20;
// A writer waits this long for another process's write-back.
inline constexpr int kLogLockTimeoutMs = 20000;

// The stored reports of a log's text, oldest first, each ending in three
// CR LF; `unread` (may be null) receives the pieces that are not reports.
std::vector<std::string> ParseLogText(std::string text, std::vector<std::string>* unread = nullptr);
// The file's text for the stored reports.
std::string ComposeLogText(const std::vector<std::string>& reports);

class TLogFile {
public:
    // Checks the path (moved under $HOME/TavrelLog/<program> when it cannot
    // be used where it is), locks the log unless `readOnly`, and loads it.
    // A missing file gives an empty log. Raises ELogFileError when the log
    // cannot be locked or read, or when its path is a symbolic link made by
    // another user (which could point it at any file of this user).
    TLogFile(const std::string& fileName, bool readOnly);
    // A log without a file holding one text as its single report.
    static TLogFile FromText(const std::string& text);

    TLogFile(TLogFile&&) = default;
    TLogFile& operator=(TLogFile&&) = default;

    const std::string& FileName() const { return fileName_; }
    int Count() const { return static_cast<int>(reports_.size()); }
    const std::vector<std::string>& Reports() const { return reports_; }
    // True when loading met text that is not a report (kept aside at Save).
    bool HasUnreadText() const { return hasUnreadText_; }
    // The name the previous file was kept under by the last Save, or empty.
    const std::string& SetAsideName() const { return setAsideName_; }

    // Appends one report, first dropping the oldest until maxReports - 1
    // remain (maxReports is at least 1).
    void AddReport(const std::string& text, int maxReports);
    // Writes all reports back (see above). Raises ELogFileError.
    void Save();
    // Every stored report followed by CR LF.
    std::string GetAllReports() const;

    // Whether a stored report matches all given general-part fields with
    // the given values (as a new report would write them).
    bool IsDuplicate(const std::vector<std::string>& fieldNumbers, const std::vector<std::string>& values) const;
    // The value of general-part item `fieldNumber` ("1.3") of report
    // `index`, continuation lines joined with CR LF; empty when absent.
    std::string GetFieldValue(const std::string& fieldNumber, int index) const;

    // Sections of stored report `index` (empty for an index out of range).
    std::string GetGeneralPart(int index) const;
    std::string GetCallStackPart(int index) const;
    std::string GetModulesPart(int index) const;
    std::string GetCPUPart(int index) const;
    std::string GetCustomPart(int index) const;
    std::string GetReportVersion(int index) const;

private:
    TLogFile() = default;
    const std::string* Report(int index) const;

    std::string fileName_;
    bool readOnly_ = true;
    bool hasFile_ = false;
    bool hasUnreadText_ = false;
    std::string setAsideName_;
    std::vector<std::string> reports_;
    kernel::TFileLock lock_;
};

// Replaces the file's contents in one step: the text goes to a temporary
// file in the same folder, flushed to the disk, renamed over `path`. With
// `keepPreviousAs` the previous file also keeps that second name. The
// permission bits of the previous file are kept. Raises ELogFileError; on
// failure the previous file is untouched.
void ReplaceFileContents(const std::string& path, const std::string& text, const std::string* keepPreviousAs = nullptr);

// Section extraction on one stored report's text.
std::string ExtractGeneralPart(const std::string& report);
std::string ExtractCallStackPart(const std::string& report);
std::string ExtractModulesPart(const std::string& report);
std::string ExtractCPUPart(const std::string& report);
std::string ExtractCustomPart(const std::string& report);
std::string ExtractReportVersion(const std::string& report);
std::string ExtractFieldValue(const std::string& report, const std::string& fieldNumber);

} // namespace crashreport
