#pragma once
// The sending sequence of one finished report: the attachment files in the
// temporary folder (log copy, XML copy, last HTML page, the screenshot, the
// extra files), the attached-files event, the optional "CompressFiles.tgz",
// e-mail and web delivery, the result message, the failure copy with its
// pruning, and the clean-up of the temporary files. SendReportInBackground
// hands it to the delivery worker (delivery_worker.h); a further exception
// is reported after the delivery has finished.
// Nothing here is signal-safe: it runs on the report or the worker thread.
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "crashreport/options/module_options.h"

namespace crashreport {

// Everything one delivery needs, owned by it (the report thread may have
// finished when a background delivery runs).
struct TSendJob {
    std::unique_ptr<TTavrelModuleOptions> Options; // a copy of the working options
    std::string LogText;                           // this report, or the whole log (sfLoadWholeLog)
    std::string ReportText;                        // the full report text
    std::string LastPage;                          // the last web page, when there is one
    std::string ScreenshotFile;                    // when the screenshot was ticked and saved
    double ExceptionTime = 0;                      // day count
    bool CGI = false;                              // "LastHTMLPage.html" stays for a CGI program
    bool KeepUntilSent = false;                    // a copy beside the log until the job is sent
    // Run after the delivery on the thread that sent: the screenshot file's
    // removal, the crash rule and the end of the process.
    std::function<void()> AfterSend;
};

// The folder of the sequence's temporary files: "TavrelLog.XXXXXX/" in the
// temporary folder, made by this process alone (random name, owner only),
// so that another program, another user or a log file kept in the temporary
// folder itself can neither overwrite nor receive these files. Made when
// first needed; ReleaseSendFolder removes it when it is empty.
std::string SendFolder();
void ReleaseSendFolder();
std::string ArchivePath();
std::string LogCopyPath(const TTavrelModuleOptions& options);
std::string XmlCopyPath(const TTavrelModuleOptions& options);
std::string LastPagePath();

// The XML copy: the log copy read as a log file when there is one, else the
// log text to send as a log of one report, written as XML to `xmlPath`.
// False (and no file) when it cannot be written.
bool BuildXMLAttachment(const std::string& logCopy, const std::string& logText, const std::string& xmlPath);

// Splits ExtraFiles at ";", trims the entries and drops empty ones.
std::vector<std::string> SplitExtraFiles(const std::string& extraFiles);

// Keeps the `keep` greatest names among the "*.tgz" files of `folder`,
// deleting the others; answers the deleted names.
std::vector<std::string> PruneFailureCopies(const std::string& folder, std::size_t keep = 10);

// The delivery; answers whether the report was sent.
bool SendReport(TSendJob& job);

// Keeps the job as a failure copy beside the log without sending it (the
// end of the process).
void KeepUnsentReport(TSendJob& job);

// With sfSendInBackground, hands the job to the delivery worker, which
// sends it and runs AfterSend; answers true then. Otherwise (or when no
// worker thread can start) sends on the calling thread, leaves AfterSend to
// the caller and answers false.
bool SendReportInBackground(std::unique_ptr<TSendJob> job);

// Waits until no background delivery is queued or running (tests, and the
// end of the program). Not for the worker thread itself.
void WaitForBackgroundSends();

} // namespace crashreport
