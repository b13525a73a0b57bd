#pragma once
// The crash reporter's options record: one per module that carries the
// reporter. It steers whether the reporter is active, what a report holds,
// how the exception dialog behaves, where the log file goes, how reports are
// sent, and the 96 texts the reporter shows or writes.
//
// Every option has a setter that stores the value and runs the change
// check; outside an update bracket a record that publishes its changes then
// calls Changed (see TTavrelModuleOptionsEx). Batch changes are bracketed by
// BeginUpdate/EndUpdate.
#include <cstddef>
#include <cstdint>
#include <string>

#include "crashreport/options/customized_texts.h"
#include "crashreport/options/notify_string_list.h"
#include "crashreport/options/option_types.h"
#include "crashreport/codecs/stream.h"

namespace crashreport {

// FreezeText's default, also the watchdog's text when the option is empty.
inline constexpr char kDefaultFreezeText[] = "The application seems to be frozen.";

// The format version of the stream form this reporter writes (version
// 5.1.5); LoadFromStream reads this and every older form.
inline constexpr std::uint16_t CurrentOptionsVersion = 515;

class TTavrelModuleOptions {
public:
    TTavrelModuleOptions(const std::string& moduleFile, bool publishChanges);
    virtual ~TTavrelModuleOptions();
    TTavrelModuleOptions(const TTavrelModuleOptions&) = delete;
    TTavrelModuleOptions& operator=(const TTavrelModuleOptions&) = delete;

    // Called after every change outside an update bracket (when the change
    // check passes); nothing in the base record.
    virtual void Changed() {}
    virtual void SetReporterActive(bool value);
    virtual void SetFreezeWatch(bool value);
    // Copies every option of `source` but ModuleFile, PublishChanges and
    // ReporterActive. No source raises EConvertError.
    virtual void Assign(const TTavrelModuleOptions* source);
    // Every option to its default; the filter lists, ModuleFile and
    // PublishChanges stay.
    virtual void SetDefaults();
    // Writes the stream form of CurrentOptionsVersion.
    virtual void SaveToStream(TStream& stream) const;
    // Reads the stream form of format version `version`. A short or damaged
    // stream raises EOptionsStreamError; the fields read before it keep their
    // new values. Never reads past the end of the stream.
    virtual void LoadFromStream(TStream& stream, std::uint16_t version = CurrentOptionsVersion);

    void BeginUpdate() { ++updateDepth_; }
    void EndUpdate();
    // Calls Changed when outside an update bracket, publishing is on, and
    // ModuleFile names the module that contains the reporter.
    void CheckChanged();

    // The getters and Texts() only read and are signal-safe; the setters are
    // not (the change check enumerates modules and publishes).

    // Texts[index]; an index outside 0..95 raises ETextIndexError.
    const std::string& GetText(std::size_t index) const;
    void SetText(std::size_t index, const std::string& text);
    const TCustomizedTexts& Texts() const { return texts_; }

    // The log file of module file `name` (ModuleFile when empty), see
    // docs/options.md. Not signal-safe (allocates).
    std::string LogFileName(const std::string& name = {}) const;
    // Same, with the computer name given instead of the system's.
    std::string LogFileNameFor(const std::string& name, const std::string& computerName) const;
    std::string LogFilePath(const std::string& name) const;

    // -- state
    bool PublishChanges() const { return publishChanges_; }
    std::int32_t UpdateDepth() const { return updateDepth_; }
    TNotifyStringList& FilterClassNames() { return filterClassNames_; }
    const TNotifyStringList& FilterClassNames() const { return filterClassNames_; }
    TNotifyStringList& FilterMessages() { return filterMessages_; }
    const TNotifyStringList& FilterMessages() const { return filterMessages_; }

    // -- options, in declaration order
    const std::string& SmtpSender() const { return smtpSender_; }
    void SetSmtpSender(const std::string& v) { Store(smtpSender_, v); }
    const std::string& SmtpServer() const { return smtpServer_; }
    void SetSmtpServer(const std::string& v) { Store(smtpServer_, v); }
    const std::string& SmtpUser() const { return smtpUser_; }
    void SetSmtpUser(const std::string& v) { Store(smtpUser_, v); }
    const std::string& SmtpUserPassword() const { return smtpUserPassword_; }
    void SetSmtpUserPassword(const std::string& v) { Store(smtpUserPassword_, v); }
    std::uint16_t SmtpServerPort() const { return smtpServerPort_; }
    void SetSmtpServerPort(std::uint16_t v) { Store(smtpServerPort_, v); }
    TTerminateAction TerminateAction() const { return terminateAction_; }
    void SetTerminateAction(TTerminateAction v) { Store(terminateAction_, v); }
    bool FreezeWatch() const { return freezeWatch_; }
    std::int32_t FreezeSeconds() const { return freezeSeconds_; }
    void SetFreezeSeconds(std::int32_t v) { Store(freezeSeconds_, v); }
    const std::string& FreezeText() const { return freezeText_; }
    void SetFreezeText(const std::string& v) { Store(freezeText_, v); }
    const std::string& ModuleFile() const { return moduleFile_; }
    void SetModuleFile(const std::string& v) { Store(moduleFile_, v); }
    TReportItems ReportItems() const { return reportItems_; }
    void SetReportItems(TReportItems v) { Store(reportItems_, v); }
    bool LogActivation() const { return logActivation_; }
    void SetLogActivation(bool v) { Store(logActivation_, v); }
    bool FilterActive() const { return filterActive_; }
    void SetFilterActive(bool v) { Store(filterActive_, v); }
    bool AppendLogToMail() const { return appendLogToMail_; }
    void SetAppendLogToMail(bool v) { Store(appendLogToMail_, v); }
    bool ShowTerminateButton() const { return showTerminateButton_; }
    void SetShowTerminateButton(bool v) { Store(showTerminateButton_, v); }
    bool SaveLog() const { return saveLog_; }
    void SetSaveLog(bool v) { Store(saveLog_, v); }
    TLogFlags LogFlags() const { return logFlags_; }
    void SetLogFlags(TLogFlags v) { Store(logFlags_, v); }
    TSendFlags SendFlags() const { return sendFlags_; }
    void SetSendFlags(TSendFlags v) { Store(sendFlags_, v); }
    TDialogTab FirstTab() const { return firstTab_; }
    void SetFirstTab(TDialogTab v) { Store(firstTab_, v); }
    std::int32_t MaxSavedErrors() const { return maxSavedErrors_; }
    // Stores 1 for 0 or less: a log file keeps at least one report.
    void SetMaxSavedErrors(std::int32_t v) { Store(maxSavedErrors_, v < 1 ? 1 : v); }
    std::int32_t TerminateButtonAfter() const { return terminateButtonAfter_; }
    void SetTerminateButtonAfter(std::int32_t v) { Store(terminateButtonAfter_, v); }
    const std::string& LogPath() const { return logPath_; }
    void SetLogPath(const std::string& v) { Store(logPath_, v); }
    const std::string& MailRecipients() const { return mailRecipients_; }
    void SetMailRecipients(const std::string& v) { Store(mailRecipients_, v); }
    const std::string& MailSubject() const { return mailSubject_; }
    void SetMailSubject(const std::string& v) { Store(mailSubject_, v); }
    const std::string& MailBody() const { return mailBody_; }
    void SetMailBody(const std::string& v) { Store(mailBody_, v); }
    TMailMethod MailMethod() const { return mailMethod_; }
    void SetMailMethod(TMailMethod v) { Store(mailMethod_, v); }
    TWebMethod WebMethod() const { return webMethod_; }
    void SetWebMethod(TWebMethod v) { Store(webMethod_, v); }
    const std::string& ExtraFiles() const { return extraFiles_; }
    void SetExtraFiles(const std::string& v) { Store(extraFiles_, v); }
    TDialogFlags DialogFlags() const { return dialogFlags_; }
    void SetDialogFlags(TDialogFlags v) { Store(dialogFlags_, v); }
    std::int32_t DialogCloseSeconds() const { return dialogCloseSeconds_; }
    void SetDialogCloseSeconds(std::int32_t v) { Store(dialogCloseSeconds_, v); }
    const std::string& SupportPage() const { return supportPage_; }
    void SetSupportPage(const std::string& v) { Store(supportPage_, v); }
    const std::string& HtmlTemplate() const { return htmlTemplate_; }
    void SetHtmlTemplate(const std::string& v) { Store(htmlTemplate_, v); }
    TTerminateAction CrashAction() const { return crashAction_; }
    void SetCrashAction(TTerminateAction v) { Store(crashAction_, v); }
    std::int32_t CrashCount() const { return crashCount_; }
    void SetCrashCount(std::int32_t v) { Store(crashCount_, v); }
    std::int32_t CrashMinutes() const { return crashMinutes_; }
    void SetCrashMinutes(std::int32_t v) { Store(crashMinutes_, v); }
    TStackFlags StackFlags() const { return stackFlags_; }
    void SetStackFlags(TStackFlags v) { Store(stackFlags_, v); }
    TBehaviourFlags BehaviourFlags() const { return behaviourFlags_; }
    void SetBehaviourFlags(TBehaviourFlags v) { Store(behaviourFlags_, v); }
    const std::string& WebAddress() const { return webAddress_; }
    void SetWebAddress(const std::string& v) { Store(webAddress_, v); }
    std::uint32_t WebServerPort() const { return webServerPort_; }
    void SetWebServerPort(std::uint32_t v) { Store(webServerPort_, v); }
    const std::string& WebUserPassword() const { return webUserPassword_; }
    void SetWebUserPassword(const std::string& v) { Store(webUserPassword_, v); }
    const std::string& WebUser() const { return webUser_; }
    void SetWebUser(const std::string& v) { Store(webUser_, v); }
    bool ReporterActive() const { return reporterActive_; }

protected:
    // The stored values behind SetReporterActive/SetFreezeWatch, for
    // overrides that decide themselves when to store them.
    void StoreReporterActive(bool v) { Store(reporterActive_, v); }
    void StoreFreezeWatch(bool v) { Store(freezeWatch_, v); }

private:
    template <typename T, typename V> void Store(T& field, const V& value)
    {
        field = value;
        CheckChanged();
    }
    void LoadFields(TStream& stream, std::uint16_t version);

    bool publishChanges_;
    std::int32_t updateDepth_ = 0;
    std::string smtpSender_;
    std::string smtpServer_;
    std::string smtpUser_;
    std::string smtpUserPassword_;
    std::uint16_t smtpServerPort_ = 25;
    TTerminateAction terminateAction_ = taRestart;
    bool freezeWatch_ = false;
    std::int32_t freezeSeconds_ = 60;
    std::string freezeText_;
    std::string moduleFile_;
    TReportItems reportItems_ = TReportItems::All();
    TNotifyStringList filterClassNames_;
    TNotifyStringList filterMessages_;
    TCustomizedTexts texts_;
    bool logActivation_ = false;
    bool filterActive_ = true;
    bool appendLogToMail_ = false;
    bool showTerminateButton_ = true;
    bool saveLog_ = true;
    TLogFlags logFlags_;
    TSendFlags sendFlags_;
    TDialogTab firstTab_ = tabGeneral;
    std::int32_t maxSavedErrors_ = 32;
    std::int32_t terminateButtonAfter_ = 3;
    std::string logPath_;
    std::string mailRecipients_;
    std::string mailSubject_;
    std::string mailBody_;
    TMailMethod mailMethod_ = mmNone;
    TWebMethod webMethod_ = wmNone;
    std::string extraFiles_;
    TDialogFlags dialogFlags_;
    std::int32_t dialogCloseSeconds_ = 0;
    std::string supportPage_;
    std::string htmlTemplate_;
    TTerminateAction crashAction_ = taRestart;
    std::int32_t crashCount_ = 10;
    std::int32_t crashMinutes_ = 1;
    TStackFlags stackFlags_;
    TBehaviourFlags behaviourFlags_;
    std::string webAddress_;
    std::uint32_t webServerPort_ = 0;
    std::string webUserPassword_;
    std::string webUser_;
    bool reporterActive_ = true;
};

} // namespace crashreport
