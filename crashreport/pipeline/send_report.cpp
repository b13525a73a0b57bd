#include "crashreport/pipeline/send_report.h"

#include "crashreport/binding/events.h"
#include "crashreport/capture/capture_state.h"
#include "crashreport/capture/dispatcher.h"
#include "crashreport/capture/errorlog/warnings.h"
#include "crashreport/codecs/attachment_archive.h"
#include "crashreport/delivery/mail_delivery.h"
#include "crashreport/delivery/web_delivery.h"
#include "crashreport/pipeline/pipeline_desktop.h"
#include "crashreport/report/log_file.h"
#include "crashreport/report/report_dialogs.h"
#include "crashreport/report/report_xml.h"
#include "platform/kernel/files.h"
#include "platform/kernel/folder_files.h"
#include "platform/kernel/modules.h"
#include "platform/kernel/process.h"
#include "platform/rtl/file_names.h"
#include "platform/rtl/thread.h"

#include <time.h>

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <fstream>
#include <mutex>

namespace crashreport {
namespace {

constexpr int kHighestPriority = 2;

// Deliveries started that do not hold the capture lock yet.
std::atomic<int> g_sendsStarting{0};
thread_local bool t_sendThread = false;

std::mutex g_sendsLock;
std::mutex g_folderLock;
std::string g_folder;
std::condition_variable g_sendsDone;
int g_sendsRunning = 0;

std::string Trim(const std::string& s)
{
    const auto first = s.find_first_not_of(" \t\r\n");
    if (first == std::string::npos) return {};
    const auto last = s.find_last_not_of(" \t\r\n");
    return s.substr(first, last - first + 1);
}

// Writes a temporary file (owner-only when new) whole or not at all; errors
// are ignored by the sequence, so only the answer tells.
bool WriteWholeFile(const std::string& path, const std::string& text)
{
    kernel::TUniqueFd out = kernel::OpenFile(path, kernel::TFileOpen::foCreate);
    if (out.Valid() && kernel::WriteAll(out.Get(), text.data(), text.size()) && out.Close()) return true;
    kernel::DeleteFile(path);
    return false;
}

std::string WithLogEnding(std::string text)
{
    static const std::string ending = "\r\n\r\n\r\n";
    if (text.size() < ending.size() || text.compare(text.size() - ending.size(), ending.size(), ending) != 0)
        text += ending;
    return text;
}

// Deletes the sequence's temporary files, also when the sequence leaves
// part-way through an exception.
class TTemporaryFiles {
public:
    ~TTemporaryFiles()
    {
        for (const auto& f : files_) kernel::DeleteFile(f);
        ReleaseSendFolder();
    }
    void Add(const std::string& file) { files_.push_back(file); }

private:
    std::vector<std::string> files_;
};

delivery::TDeliveryEvents DeliveryEvents()
{
    delivery::TDeliveryEvents events;
    events.ActionNotify = [](int action) {
        int value = 1;
        DispatchExceptionActionNotify(CurrentExceptionRecord(), action, &value);
        return value != 0;
    };
    events.ErrorNotify = [](int error) {
        int value = 0;
        DispatchExceptionErrorNotify(CurrentExceptionRecord(), TTavrelLogErrorCode(error), &value);
        return value != 0;
    };
    events.CustomFields = [](std::vector<std::string>& names, std::vector<std::string>& values) {
        DispatchCustomFieldsRequest(CurrentExceptionRecord(), names, values);
    };
    return events;
}

// The sending-progress dialog of the installed dialogs, when asked for.
struct TSendDialogScope {
    delivery::TSendDialog dialog;
    bool active = false;

    explicit TSendDialogScope(const TTavrelModuleOptions& options)
    {
        const TReportDialogs& d = ReportDialogs();
        if (!options.SendFlags().Contains(sfShowSendDialogs) || !d.StartSendDialog) return;
        active = true;
        const TTavrelModuleOptions* o = &options;
        dialog.Start = [d, o] { d.StartSendDialog(*o); };
        dialog.Close = [d] {
            if (d.CloseSendDialog) d.CloseSendDialog();
        };
        dialog.Status = [d](const std::string& text) {
            if (d.SetSendStatus) d.SetSendStatus(text);
        };
        dialog.Progress = [d](int percent) {
            if (d.SetSendProgress) d.SetSendProgress(percent);
        };
        dialog.Recipient = [d](int number, int count) {
            if (d.SetSendRecipient) d.SetSendRecipient(number, count);
        };
    }
    delivery::TSendDialog* Get() { return active ? &dialog : nullptr; }
};

// The failure copy: beside the log file of the program's main module.
void StoreFailureCopy(const TTavrelModuleOptions& options, const std::vector<std::string>& attachments,
                      bool compressed, double exceptionTime)
{
    const std::string folder = rtl::ExtractFilePath(options.LogFileName(kernel::MainExecutablePath()));
    if (folder.empty()) return;
    kernel::CreateFolder(folder);
    const bool stamp = options.SendFlags().Contains(sfTimestampFileNames);
    const std::string copy =
        folder + codecs::AttachmentName(codecs::AttachmentArchivePath(), stamp, exceptionTime);
    try {
        if (compressed && !attachments.empty()) {
            const std::string& archive = attachments.front();
            if (kernel::FileExists(archive) && !kernel::FileExists(copy) &&
                !kernel::MoveFileNoReplace(archive, copy)) {
                // Another file system: the archive is copied instead.
                std::ifstream in(archive, std::ios::binary);
                const std::string bytes((std::istreambuf_iterator<char>(in)), {});
                const std::string part = copy + ".part";
                if (!in.bad() && WriteWholeFile(part, bytes) && !kernel::MoveFileNoReplace(part, copy))
                    kernel::DeleteFile(part);
            }
        } else if (!compressed && !attachments.empty() && !kernel::FileExists(copy)) {
            const std::string part = copy + ".part";
            if (codecs::WriteAttachmentArchive(part, attachments, stamp, exceptionTime) &&
                !kernel::MoveFileNoReplace(part, copy))
                kernel::DeleteFile(part);
            kernel::DeleteFile(part);
        }
    } catch (...) {
        // An unreadable attachment: no copy.
    }
    PruneFailureCopies(folder);
}

class TSendThread : public rtl::TThread {
public:
    explicit TSendThread(std::unique_ptr<TSendJob> job) : rtl::TThread(true), job_(std::move(job))
    {
        FreeOnTerminate = true;
    }

protected:
    void Execute() override
    {
        t_sendThread = true;
        {
            std::lock_guard<std::recursive_mutex> lock(Capture().CaptureLock);
            g_sendsStarting.fetch_sub(1);
            try {
                SendReport(*job_);
            } catch (...) {
            }
            if (job_->AfterSend) job_->AfterSend();
        }
        job_.reset();
        std::lock_guard<std::mutex> lock(g_sendsLock);
        --g_sendsRunning;
        g_sendsDone.notify_all();
    }

private:
    std::unique_ptr<TSendJob> job_;
};

} // namespace

std::string SendFolder()
{
    std::lock_guard<std::mutex> lock(g_folderLock);
    if (g_folder.empty() || !kernel::FileExists(g_folder)) {
        const std::string made = kernel::CreateUniqueFolder(codecs::TemporaryFolder() + "TavrelLog.");
        // Without a folder of its own the files cannot be written: the
        // sequence then sends what exists (the extra files).
        g_folder = made.empty() ? std::string() : made + "/";
    }
    return g_folder.empty() ? codecs::TemporaryFolder() + "TavrelLog.unavailable/" : g_folder;
}

void ReleaseSendFolder()
{
    std::lock_guard<std::mutex> lock(g_folderLock);
    if (!g_folder.empty() && kernel::RemoveEmptyFolder(g_folder)) g_folder.clear();
}

std::string ArchivePath() { return SendFolder() + codecs::kAttachmentArchiveName; }

std::string LogCopyPath(const TTavrelModuleOptions& options)
{
    return SendFolder() + rtl::ExtractFileName(options.LogFileName());
}

std::string XmlCopyPath(const TTavrelModuleOptions& options)
{
    return rtl::ChangeFileExt(LogCopyPath(options), ".xml");
}

std::string LastPagePath() { return SendFolder() + "LastHTMLPage.html"; }

bool BuildXMLAttachment(const std::string& logCopy, const std::string& logText, const std::string& xmlPath)
{
    try {
        if (!logCopy.empty())
            SaveLogAsXML(TLogFile(logCopy, true), xmlPath);
        else
            SaveLogAsXML(TLogFile::FromText(logText), xmlPath);
        return true;
    } catch (...) {
        kernel::DeleteFile(xmlPath);
        return false;
    }
}

std::vector<std::string> SplitExtraFiles(const std::string& extraFiles)
{
    std::vector<std::string> files;
    std::size_t start = 0;
    while (start <= extraFiles.size()) {
        std::size_t end = extraFiles.find(';', start);
        if (end == std::string::npos) end = extraFiles.size();
        const std::string entry = Trim(extraFiles.substr(start, end - start));
        if (!entry.empty()) files.push_back(entry);
        start = end + 1;
    }
    return files;
}

std::vector<std::string> PruneFailureCopies(const std::string& folder, std::size_t keep)
{
    std::vector<std::string> copies;
    for (const auto& name : kernel::ListFolderFiles(folder))
        if (name.size() > 4 && name.compare(name.size() - 4, 4, ".tgz") == 0) copies.push_back(name);
    std::sort(copies.begin(), copies.end());
    std::vector<std::string> deleted;
    std::string base = folder;
    if (!base.empty() && base.back() != '/') base += '/';
    for (std::size_t i = 0; copies.size() > keep && i < copies.size() - keep; ++i)
        if (kernel::DeleteFile(base + copies[i])) deleted.push_back(copies[i]);
    return deleted;
}

bool SendReport(TSendJob& job)
{
    const TTavrelModuleOptions& options = *job.Options;
    const TSendFlags flags = options.SendFlags();
    ClearWarning();
    TTemporaryFiles temporary;

    // The log copy.
    std::string logCopy;
    if (!options.AppendLogToMail()) {
        const std::string path = LogCopyPath(options);
        temporary.Add(path);
        if (WriteWholeFile(path, WithLogEnding(job.LogText))) logCopy = path;
    }
    // The last web page (a CGI program keeps the file it answered with).
    std::string pageFile;
    if (flags.Contains(sfAttachLastHtmlPage) && !job.LastPage.empty()) {
        const std::string path = LastPagePath();
        if (!job.CGI) temporary.Add(path);
        if (WriteWholeFile(path, job.LastPage)) pageFile = path;
    }
    // The XML copy of the log text.
    std::string xmlCopy;
    if (flags.Contains(sfAttachXmlCopy)) {
        xmlCopy = XmlCopyPath(options);
        temporary.Add(xmlCopy);
        BuildXMLAttachment(logCopy, job.LogText, xmlCopy);
    }

    // The attachment list, in its fixed order.
    TTavrelStrings files = SplitExtraFiles(options.ExtraFiles());
    if (!logCopy.empty()) files.push_back(logCopy);
    if (!job.ScreenshotFile.empty() && flags.Contains(sfAttachScreenshot)) files.push_back(job.ScreenshotFile);
    if (!pageFile.empty()) files.push_back(pageFile);
    if (!xmlCopy.empty()) files.push_back(xmlCopy);
    DispatchAttachedFilesRequest(CurrentExceptionRecord(), files);
    files.erase(std::remove_if(files.begin(), files.end(), [](const std::string& f) { return !kernel::FileExists(f); }),
                files.end());

    const bool compress = flags.Contains(sfCompressAttachments);
    if (compress) {
        const std::string archive = ArchivePath();
        temporary.Add(archive);
        kernel::DeleteFile(archive);
        try {
            codecs::WriteAttachmentArchive(archive, files, flags.Contains(sfTimestampFileNames), job.ExceptionTime);
        } catch (...) {
            kernel::DeleteFile(archive);
        }
        files = {archive};
    }

    delivery::TDeliveryReport report;
    report.LogText = job.LogText;
    report.ReportText = job.ReportText;
    report.Attachments = files;
    report.ExceptionTime = job.ExceptionTime;
    TSendDialogScope dialog(options);
    const delivery::TDeliveryEvents events = DeliveryEvents();
    bool sent = true;
    if (options.MailMethod() != mmNone) sent = delivery::SendByEmail(options, report, dialog.Get(), events);
    if (options.WebMethod() != wmNone) sent = delivery::SendByWeb(options, report, dialog.Get(), events) && sent;

    if (!sent && options.BehaviourFlags().Contains(bhClipboardOnSendFailure)) DesktopCopyToClipboard(job.ReportText);
    if (flags.Contains(sfShowResultMessage)) {
        if (sent)
            DesktopMessageBox(options.GetText(94), options.GetText(0), bkInformation);
        else
            DesktopMessageBox(options.GetText(95), options.GetText(0), bkError);
    }
    if (!sent && options.BehaviourFlags().Contains(bhStoreFailedReports))
        StoreFailureCopy(options, files, compress, job.ExceptionTime);
    return sent;
}

bool SendReportInBackground(std::unique_ptr<TSendJob> job)
{
    if (!job->Options->SendFlags().Contains(sfSendInBackground)) {
        SendReport(*job);
        return false;
    }
    {
        std::lock_guard<std::mutex> lock(g_sendsLock);
        ++g_sendsRunning;
    }
    g_sendsStarting.fetch_add(1);
    TSendThread* thread = nullptr;
    try {
        thread = rtl::TThread::Create<TSendThread>(std::move(job));
    } catch (...) {
        thread = nullptr;
    }
    if (!thread) {
        // No thread: the delivery runs here, as without sfSendInBackground
        // (when the job is still ours: a thread object that was made but
        // could not start its thread took it along).
        g_sendsStarting.fetch_sub(1);
        {
            std::lock_guard<std::mutex> lock(g_sendsLock);
            --g_sendsRunning;
        }
        if (job) SendReport(*job);
        return false;
    }
    thread->SetPriority(kHighestPriority);
    thread->Resume();
    return true;
}

void WaitForStartedSends()
{
    // A thread being reported (an exception in a handler the report runs)
    // holds the capture lock the delivery waits for: it does not wait.
    if (t_sendThread || InsideDispatch()) return;
    while (g_sendsStarting.load() > 0) {
        timespec t{0, 1000000};
        nanosleep(&t, nullptr);
    }
}

void WaitForBackgroundSends()
{
    std::unique_lock<std::mutex> lock(g_sendsLock);
    g_sendsDone.wait(lock, [] { return g_sendsRunning == 0; });
}

int BackgroundSendsRunning()
{
    std::lock_guard<std::mutex> lock(g_sendsLock);
    return g_sendsRunning;
}

} // namespace crashreport
