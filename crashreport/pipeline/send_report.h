#pragma once
// The sending sequence of one finished report: the attachment files in the
// temporary folder (log copy, XML copy, last HTML page, the screenshot, the
// extra files), the attached-files event, the optional "CompressFiles.tgz",
// e-mail and web delivery, the result message, the failure copy with its
// pruning, and the clean-up of the temporary files. SendReportInBackground
// runs it on a TSendThread that holds the capture lock, so a further
// exception waits until the delivery has finished.
// Nothing here is signal-safe: it runs on the report or the send thread.
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

// With sfSendInBackground, starts a TSendThread at the highest priority that
// takes the capture lock, sends, runs AfterSend and frees itself; answers
// true then. Otherwise sends on the calling thread (AfterSend is left to the
// caller) and answers false.
bool SendReportInBackground(std::unique_ptr<TSendJob> job);

// The dispatch gate: waits until every background delivery started so far
// holds the capture lock (or has ended), so that a further exception is
// reported after the delivery; returns at once on a delivery's own thread
// and on a thread inside a dispatch (it holds the lock the delivery waits
// for). Signal-safe (spins with nanosleep on an atomic).
void WaitForStartedSends();

// Waits until no background delivery runs (tests, and the end of the
// program). Not for the report thread itself.
void WaitForBackgroundSends();
int BackgroundSendsRunning();

} // namespace crashreport
