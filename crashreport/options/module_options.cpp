#include "crashreport/options/module_options.h"

#include "crashreport/options/module_identity.h"
#include "crashreport/options/options_errors.h"

namespace crashreport {

namespace {

constexpr const char* kDefaultSmtpSender = "reports@example.com";

} // namespace

TTavrelModuleOptions::TTavrelModuleOptions(const std::string& moduleFile, bool publishChanges)
    : publishChanges_(publishChanges),
      moduleFile_(moduleFile),
      filterClassNames_([this] { CheckChanged(); }),
      filterMessages_([this] { CheckChanged(); })
{
    // Virtual calls reach this class only while it is being built, so the
    // defaults are set without publishing; a derived record that publishes
    // runs the change check at the end of its own constructor.
    TTavrelModuleOptions::SetDefaults();
    updateDepth_ = 0;
}

TTavrelModuleOptions::~TTavrelModuleOptions() = default;

void TTavrelModuleOptions::EndUpdate()
{
    if (updateDepth_ > 0) --updateDepth_;
}

void TTavrelModuleOptions::CheckChanged()
{
    if (updateDepth_ > 0 || !publishChanges_) return;
    const TModuleHandle own = ReporterModuleHandle();
    if (own != 0 && ModuleHandleOfFile(moduleFile_) == own) Changed();
}

const std::string& TTavrelModuleOptions::GetText(std::size_t index) const
{
    if (index >= CustomizedTextCount)
        throw ETextIndexError("Text index " + std::to_string(index) + " is out of range (0..95)");
    return texts_[index];
}

void TTavrelModuleOptions::SetText(std::size_t index, const std::string& text)
{
    GetText(index); // the same range check
    Store(texts_[index], text);
}

void TTavrelModuleOptions::SetReporterActive(bool value) { StoreReporterActive(value); }

void TTavrelModuleOptions::SetFreezeWatch(bool value) { StoreFreezeWatch(value); }

void TTavrelModuleOptions::SetDefaults()
{
    BeginUpdate();
    texts_ = DefaultCustomizedTexts();
    smtpSender_ = kDefaultSmtpSender;
    smtpServer_.clear();
    smtpUser_.clear();
    smtpUserPassword_.clear();
    smtpServerPort_ = 25;
    terminateAction_ = taRestart;
    freezeWatch_ = false;
    freezeSeconds_ = 60;
    freezeText_ = kDefaultFreezeText;
    reportItems_ = TReportItems::All();
    logActivation_ = false;
    filterActive_ = true;
    appendLogToMail_ = false;
    showTerminateButton_ = true;
    saveLog_ = true;
    logFlags_ = {lgModulesSection, lgCpuSection};
    sendFlags_ = {sfShowSendDialogs, sfAttachScreenshot, sfAttachLastHtmlPage};
    firstTab_ = tabGeneral;
    maxSavedErrors_ = 32;
    terminateButtonAfter_ = 3;
    logPath_.clear();
    mailRecipients_.clear();
    mailSubject_.clear();
    mailBody_.clear();
    mailMethod_ = mmNone;
    webMethod_ = wmNone;
    extraFiles_.clear();
    dialogFlags_ = {dfShowDialog, dfSendChecked, dfScreenshotChecked, dfShowCopyButton, dfShowDetailsButton};
    dialogCloseSeconds_ = 0;
    supportPage_.clear();
    htmlTemplate_ = DefaultHtmlTemplate();
    crashAction_ = taRestart;
    crashCount_ = 10;
    crashMinutes_ = 1;
    stackFlags_ = {stDllFrames, stPackageFrames, stRuntimeThreads, stSystemThreads};
    behaviourFlags_ = {bhMainModuleOptions, bhClipboardOnSendFailure};
    webAddress_.clear();
    webServerPort_ = 0;
    webUserPassword_.clear();
    webUser_.clear();
    reporterActive_ = true;
    EndUpdate();
    CheckChanged();
}

void TTavrelModuleOptions::Assign(const TTavrelModuleOptions* source)
{
    if (source == nullptr) throw EConvertError("Impossible to assign nil as TTavrelModuleOptions.");
    if (source == this) return;
    BeginUpdate();
    try {
        filterClassNames_.Assign(source->filterClassNames_);
        filterMessages_.Assign(source->filterMessages_);
        texts_ = source->texts_;
        SetLogActivation(source->logActivation_);
        SetSaveLog(source->saveLog_);
        SetFreezeWatch(source->freezeWatch_);
        SetFreezeSeconds(source->freezeSeconds_);
        SetFreezeText(source->freezeText_);
        SetSmtpSender(source->smtpSender_);
        SetSmtpServer(source->smtpServer_);
        SetSmtpServerPort(source->smtpServerPort_);
        SetSmtpUser(source->smtpUser_);
        SetSmtpUserPassword(source->smtpUserPassword_);
        SetFirstTab(source->firstTab_);
        SetFilterActive(source->filterActive_);
        SetAppendLogToMail(source->appendLogToMail_);
        SetShowTerminateButton(source->showTerminateButton_);
        SetTerminateAction(source->terminateAction_);
        SetLogFlags(source->logFlags_);
        SetMaxSavedErrors(source->maxSavedErrors_);
        SetTerminateButtonAfter(source->terminateButtonAfter_);
        SetLogPath(source->logPath_);
        SetMailRecipients(source->mailRecipients_);
        SetMailSubject(source->mailSubject_);
        SetMailBody(source->mailBody_);
        SetMailMethod(source->mailMethod_);
        SetReportItems(source->reportItems_);
        SetWebMethod(source->webMethod_);
        SetWebAddress(source->webAddress_);
        SetWebUser(source->webUser_);
        SetWebUserPassword(source->webUserPassword_);
        SetWebServerPort(source->webServerPort_);
        SetSendFlags(source->sendFlags_);
        SetExtraFiles(source->extraFiles_);
        SetDialogFlags(source->dialogFlags_);
        SetDialogCloseSeconds(source->dialogCloseSeconds_);
        SetSupportPage(source->supportPage_);
        SetHtmlTemplate(source->htmlTemplate_);
        SetStackFlags(source->stackFlags_);
        SetBehaviourFlags(source->behaviourFlags_);
        SetCrashAction(source->crashAction_);
        SetCrashCount(source->crashCount_);
        SetCrashMinutes(source->crashMinutes_);
    } catch (...) {
        EndUpdate();
        CheckChanged();
        throw;
    }
    EndUpdate();
    CheckChanged();
}

} // namespace crashreport
