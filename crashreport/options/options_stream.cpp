// The stream form of the options record: SaveToStream writes the current
// form; LoadFromStream reads it and every older form. The byte layout and the
// differences of the older forms are in docs/options.md.
#include <algorithm>
#include <string>

#include "crashreport/options/module_options.h"
#include "crashreport/options/options_stream_io.h"

namespace crashreport {

namespace {

// Older forms stored 32 report items in four bytes, with items that no
// longer exist among them. The 40 bits become a string of "0"/"1" (character
// k+1 for bit k), the characters at positions 5, 20..22 and then 24..28 are
// deleted one run after the other, and the remaining 31 are packed back.
TReportItems RepackOldReportItems(std::uint64_t bits)
{
    std::string s;
    for (unsigned k = 0; k < 40; ++k) s += ((bits >> k) & 1) ? '1' : '0';
    s.erase(4, 1);  // position 5
    s.erase(19, 3); // positions 20..22
    s.erase(23, 5); // positions 24..28
    std::uint64_t packed = 0;
    for (unsigned k = 0; k < s.size(); ++k)
        if (s[k] == '1') packed |= 1ull << k;
    return TReportItems::FromBits(packed);
}

} // namespace

void TTavrelModuleOptions::SaveToStream(TStream& stream) const
{
    TOptionsWriter w(stream);
    w.Bool(logActivation_);
    w.Bool(filterActive_);
    w.Set(logFlags_);
    w.Bool(appendLogToMail_);
    w.Bool(saveLog_);
    w.Byte(firstTab_);
    w.Bool(freezeWatch_);
    w.I32(freezeSeconds_);
    w.String(freezeText_);
    w.String(smtpSender_);
    w.String(smtpServer_);
    w.U16(smtpServerPort_);
    w.String(smtpUser_);
    w.String(smtpUserPassword_);
    w.Byte(terminateAction_);
    w.Bool(showTerminateButton_);
    w.I32(maxSavedErrors_);
    w.I32(terminateButtonAfter_);
    w.String(mailRecipients_);
    w.String(mailSubject_);
    w.Byte(mailMethod_);
    w.Set(reportItems_);
    w.String(logPath_);
    w.Byte(webMethod_);
    w.String(webAddress_);
    w.String(webUser_);
    w.String(webUserPassword_);
    w.U32(webServerPort_);
    w.String(extraFiles_);
    w.Set(sendFlags_);
    w.Set(dialogFlags_);
    w.I32(dialogCloseSeconds_);
    w.String(supportPage_);
    w.String(htmlTemplate_);
    w.Set(stackFlags_);
    w.Set(behaviourFlags_);
    w.Byte(crashAction_);
    w.I32(crashCount_);
    w.I32(crashMinutes_);
    const std::size_t pairs = std::max(filterClassNames_.Count(), filterMessages_.Count());
    w.I32(static_cast<std::int32_t>(pairs));
    for (std::size_t i = 0; i < pairs; ++i) {
        w.String(i < filterClassNames_.Count() ? filterClassNames_[i] : std::string());
        w.String(i < filterMessages_.Count() ? filterMessages_[i] : std::string());
    }
    w.String(mailBody_);
    for (const std::string& text : texts_) w.String(text);
}

void TTavrelModuleOptions::LoadFromStream(TStream& stream, std::uint16_t version)
{
    BeginUpdate();
    try {
        LoadFields(stream, version);
    } catch (...) {
        EndUpdate();
        try {
            CheckChanged();
        } catch (...) {
            // The read error is what the caller has to hear about.
        }
        throw;
    }
    EndUpdate();
    CheckChanged();
}

void TTavrelModuleOptions::LoadFields(TStream& stream, std::uint16_t v)
{
    TOptionsReader r(stream);
    logActivation_ = r.Bool("LogActivation");
    filterActive_ = r.Bool("FilterActive");
    logFlags_ = r.Set<TLogFlag, 8>("LogFlags");
    if (v < 500) {
        std::uint8_t b = r.Byte("DialogFlags.dfShowDialog");
        if (v < 450) b ^= 1;
        dialogFlags_.Assign(dfShowDialog, b != 0);
    }
    appendLogToMail_ = r.Bool("AppendLogToMail");
    if (v >= 450 && v < 500) {
        sendFlags_.Assign(sfLoadWholeLog, r.Bool("SendFlags.sfLoadWholeLog"));
        sendFlags_.Assign(sfAttachScreenshot, r.Bool("SendFlags.sfAttachScreenshot"));
        sendFlags_.Assign(sfShowSendDialogs, r.Bool("SendFlags.sfShowSendDialogs"));
    }
    if (v > 400) {
        saveLog_ = r.Bool("SaveLog");
        firstTab_ = static_cast<TDialogTab>(r.Ordinal(DialogTabCount, "FirstTab"));
    }
    if (v > 402 && v < 500) dialogFlags_.Assign(dfOwnLook, r.Bool("DialogFlags.dfOwnLook"));
    if (v >= 420) {
        freezeWatch_ = r.Bool("FreezeWatch");
        freezeSeconds_ = r.I32("FreezeSeconds");
        if (v < 422) freezeSeconds_ /= 1000; // the older form held milliseconds
        freezeText_ = r.String("FreezeText");
        if (v >= 450) smtpSender_ = r.String("SmtpSender");
        smtpServer_ = r.String("SmtpServer");
    }
    if (v >= 450) smtpServerPort_ = r.U16("SmtpServerPort");
    if (v > 420) {
        smtpUser_ = r.String("SmtpUser");
        smtpUserPassword_ = r.String("SmtpUserPassword");
        terminateAction_ = static_cast<TTerminateAction>(r.Ordinal(TerminateActionCount, "TerminateAction"));
    }
    showTerminateButton_ = r.Bool("ShowTerminateButton");
    const std::int32_t maxSaved = r.I32("MaxSavedErrors");
    maxSavedErrors_ = maxSaved < 1 ? 1 : maxSaved;
    terminateButtonAfter_ = r.I32("TerminateButtonAfter");
    mailRecipients_ = r.String("MailRecipients");
    mailSubject_ = r.String("MailSubject");
    if (v < 450) {
        // The older form knew only "mail" or "no mail": the SMTP server
        // decides which way a mail goes.
        if (r.Byte("MailMethod") != 0)
            mailMethod_ = smtpServer_.empty() ? mmMailClient : mmSmtpClient;
        else
            mailMethod_ = mmNone;
    } else {
        mailMethod_ = static_cast<TMailMethod>(r.Ordinal(MailMethodCount, "MailMethod"));
    }
    if (v >= 500) {
        reportItems_ = r.Set<unsigned, 40>("ReportItems");
    } else {
        const std::uint64_t low = r.Bits(4, "ReportItems");
        reportItems_ = RepackOldReportItems((reportItems_.ToBits() & ~0xFFFFFFFFull) | low);
    }
    if (v < 450) r.Byte("(unused byte)");
    logPath_ = r.String("LogPath");
    if (v >= 500) {
        webMethod_ = static_cast<TWebMethod>(r.Ordinal(WebMethodCount, "WebMethod"));
        webAddress_ = r.String("WebAddress");
        webUser_ = r.String("WebUser");
        webUserPassword_ = r.String("WebUserPassword");
        webServerPort_ = r.U32("WebServerPort");
        extraFiles_ = r.String("ExtraFiles");
        sendFlags_ = r.Set<TSendFlag, 16>("SendFlags");
        dialogFlags_ = r.Set<TDialogFlag, 8>("DialogFlags");
        dialogCloseSeconds_ = r.I32("DialogCloseSeconds");
        supportPage_ = r.String("SupportPage");
        htmlTemplate_ = r.String("HtmlTemplate");
        stackFlags_ = r.Set<TStackFlag, 8>("StackFlags");
        behaviourFlags_ = r.Set<TBehaviourFlag, 8>("BehaviourFlags");
        crashAction_ = static_cast<TTerminateAction>(r.Ordinal(TerminateActionCount, "CrashAction"));
        crashCount_ = r.I32("CrashCount");
        crashMinutes_ = r.I32("CrashMinutes");
    }
    filterClassNames_.Clear();
    filterMessages_.Clear();
    const std::int32_t pairs = r.Count(8, "the filter count");
    for (std::int32_t i = 0; i < pairs; ++i) {
        const std::string n = std::to_string(i);
        std::string className = r.String("FilterClassNames[" + n + "]");
        std::string message = r.String("FilterMessages[" + n + "]");
        filterClassNames_.Add(className);
        filterMessages_.Add(message);
    }
    mailBody_ = r.String("MailBody");
    for (std::size_t i = 0; i < CustomizedTextCount; ++i)
        if (StreamFormHoldsText(v, i)) texts_[i] = r.String("Texts[" + std::to_string(i) + "]");
}

} // namespace crashreport
