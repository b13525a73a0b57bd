#include "crashreport/pipeline/send_report.h"

#include "crashreport/binding/events.h"
#include "crashreport/errorlog/warnings.h"
#include "crashreport/codecs/attachment_archive.h"
#include "crashreport/delivery/mail_delivery.h"
#include "crashreport/delivery/web_delivery.h"
#include "crashreport/pipeline/delivery_worker.h"
#include "crashreport/pipeline/pipeline_desktop.h"
#include "crashreport/report/log_file.h"
#include "crashreport/pipeline/reporter.h"
#include "crashreport/report/report_xml.h"
#include "platform/kernel/files.h"
#include "platform/kernel/folder_files.h"
#include "platform/kernel/modules.h"
#include "platform/kernel/process.h"
#include "platform/rtl/file_names.h"

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <fstream>
#include <mutex>

namespace crashreport {
namespace {

// The folder of the temporary files; never destroyed, so a delivery that
// runs on while the process ends does not meet a destroyed string.
struct TSendFolder {
    std::mutex Lock;
    std::string Path;
};
TSendFolder& Folder()
{
    static TSendFolder* folder = new TSendFolder;
    return *folder;
}

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
        const TReportDialogs& d = ReporterDialogs();
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
// Answers the copy's path when this call made it.
std::string StoreFailureCopy(const TTavrelModuleOptions& options, const std::vector<std::string>& attachments,
                             bool compressed, double exceptionTime)
{
    const std::string folder = rtl::ExtractFilePath(options.LogFileName(kernel::MainExecutablePath()));
    if (folder.empty()) return {};
    kernel::CreateFolder(folder);
    const bool stamp = options.SendFlags().Contains(sfTimestampFileNames);
    const std::string copy =
        folder + codecs::AttachmentName(codecs::AttachmentArchivePath(), stamp, exceptionTime);
    if (attachments.empty() || kernel::FileExists(copy)) return {};
    bool made = false;
    const std::string part = copy + ".part";
    try {
        // The archive is copied, not moved: the delivery may still send it.
        if (compressed) {
            const std::string& archive = attachments.front();
            std::ifstream in(archive, std::ios::binary);
            const std::string bytes((std::istreambuf_iterator<char>(in)), {});
            made = in.good() || in.eof() ? WriteWholeFile(part, bytes) : false;
        } else {
            made = codecs::WriteAttachmentArchive(part, attachments, stamp, exceptionTime);
        }
        made = made && kernel::MoveFileNoReplace(part, copy);
    } catch (...) {
        made = false; // an unreadable attachment: no copy
    }
    kernel::DeleteFile(part);
    PruneFailureCopies(folder);
    return made ? copy : std::string();
}

// The attachment files of a job, made in the sending folder and removed by
// `temporary`; answers the list to send (steps up to the packing).
TTavrelStrings PrepareAttachments(const TSendJob& job, TTemporaryFiles& temporary)
{
    const TTavrelModuleOptions& options = *job.Options;
    const TSendFlags flags = options.SendFlags();
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

    if (flags.Contains(sfCompressAttachments)) {
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
    return files;
}

} // namespace

std::string SendFolder()
{
    TSendFolder& f = Folder();
    std::lock_guard<std::mutex> lock(f.Lock);
    if (f.Path.empty() || !kernel::FileExists(f.Path)) {
        const std::string made = kernel::CreateUniqueFolder(codecs::TemporaryFolder() + "TavrelLog.");
        // Without a folder of its own the files cannot be written: the
        // sequence then sends what exists (the extra files).
        f.Path = made.empty() ? std::string() : made + "/";
    }
    return f.Path.empty() ? codecs::TemporaryFolder() + "TavrelLog.unavailable/" : f.Path;
}

void ReleaseSendFolder()
{
    TSendFolder& f = Folder();
    std::lock_guard<std::mutex> lock(f.Lock);
    if (!f.Path.empty() && kernel::RemoveEmptyFolder(f.Path)) f.Path.clear();
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
    const TTavrelStrings files = PrepareAttachments(job, temporary);
    const bool compress = flags.Contains(sfCompressAttachments);
    // A background delivery keeps its copy until it is sent, so a process
    // that ends while the delivery is still under way loses nothing.
    const std::string kept =
        job.KeepUntilSent ? StoreFailureCopy(options, files, compress, job.ExceptionTime) : std::string();

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
    const bool storeFailed = !sent && options.BehaviourFlags().Contains(bhStoreFailedReports);
    if (!kept.empty() && !storeFailed) kernel::DeleteFile(kept);
    if (storeFailed && kept.empty()) StoreFailureCopy(options, files, compress, job.ExceptionTime);
    return sent;
}

void KeepUnsentReport(TSendJob& job)
{
    TTemporaryFiles temporary;
    const TTavrelStrings files = PrepareAttachments(job, temporary);
    StoreFailureCopy(*job.Options, files, job.Options->SendFlags().Contains(sfCompressAttachments), job.ExceptionTime);
}

bool SendReportInBackground(std::unique_ptr<TSendJob> job)
{
    if (job->Options->SendFlags().Contains(sfSendInBackground)) {
        job->KeepUntilSent = true;
        if (TDeliveryWorker::Instance().Submit(job)) return true;
    }
    // Not asked for, or no worker thread: the delivery runs here (AfterSend
    // is left to the caller).
    job->KeepUntilSent = false;
    SendReport(*job);
    return false;
}

void WaitForBackgroundSends() { TDeliveryWorker::Instance().WaitIdle(); }

} // namespace crashreport
