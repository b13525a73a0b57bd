#include "crashreport/options/options_text.h"

#include <algorithm>
#include <functional>
#include <map>
#include <sstream>

#include "crashreport/options/options_stream_io.h"
#include "crashreport/codecs/stream.h"
#include "platform/rtl/exception.h"

namespace crashreport {
namespace cr = ::crashreport;
namespace {

std::string Trim(const std::string& s)
{
    const auto b = s.find_first_not_of(" \t\r");
    if (b == std::string::npos) return {};
    const auto e = s.find_last_not_of(" \t\r");
    return s.substr(b, e - b + 1);
}

std::string Unescape(const std::string& s)
{
    std::string out;
    for (std::size_t i = 0; i < s.size(); ++i) {
        if (s[i] == '\\' && i + 1 < s.size()) {
            const char c = s[++i];
            out += c == 'r' ? '\r' : c == 'n' ? '\n' : c == 't' ? '\t' : c;
        } else {
            out += s[i];
        }
    }
    return out;
}

struct TLineError {
    std::string What;
};

std::int64_t Integer(const std::string& v, std::int64_t lo, std::int64_t hi)
{
    std::size_t used = 0;
    long long n = 0;
    try {
        n = std::stoll(v, &used, 0);
    } catch (const std::exception&) {
        throw TLineError{"\"" + v + "\" is not a number"};
    }
    if (used != v.size() || n < lo || n > hi)
        throw TLineError{"\"" + v + "\" is not a number from " + std::to_string(lo) + " to " + std::to_string(hi)};
    return n;
}

bool Boolean(const std::string& v)
{
    std::string l = v;
    std::transform(l.begin(), l.end(), l.begin(), ::tolower);
    if (l == "true" || l == "1" || l == "yes") return true;
    if (l == "false" || l == "0" || l == "no") return false;
    throw TLineError{"\"" + v + "\" is not true or false"};
}

unsigned Member(const std::string& v, std::initializer_list<const char*> names)
{
    unsigned i = 0;
    for (const char* n : names) {
        if (v == n) return i;
        ++i;
    }
    throw TLineError{"\"" + v + "\" is not a member of this option"};
}

// "a, b, c" or "[a, b, c]" or "[]".
std::vector<std::string> Members(std::string v)
{
    v = Trim(v);
    if (!v.empty() && v.front() == '[' && v.back() == ']') v = v.substr(1, v.size() - 2);
    std::vector<std::string> out;
    std::stringstream ss(v);
    std::string item;
    while (std::getline(ss, item, ','))
        if (!Trim(item).empty()) out.push_back(Trim(item));
    return out;
}

template <typename TSetType> TSetType SetOf(const std::string& v, std::initializer_list<const char*> names)
{
    TSetType s;
    for (const auto& m : Members(v)) s = s + TSetType::FromBits(1ull << Member(m, names));
    return s;
}

#define LOG_FLAGS                                                                                                      \
    {                                                                                                                  \
        "lgSkipRepeatedErrors", "lgAddReproduceText", "lgResetOnNewVersion", "lgComputerNameInFileName",               \
            "lgModulesSection", "lgCpuSection"                                                                         \
    }
#define SEND_FLAGS                                                                                                     \
    {                                                                                                                  \
        "sfShowSendDialogs", "sfShowResultMessage", "sfLoadWholeLog", "sfAttachXmlCopy", "sfAttachScreenshot",         \
            "sfScreenshotForegroundOnly", "sfAttachLastHtmlPage", "sfSendInBackground", "sfTimestampFileNames",        \
            "sfCompressAttachments"                                                                                    \
    }
#define DIALOG_FLAGS                                                                                                   \
    {                                                                                                                  \
        "dfShowDialog", "dfSendChecked", "dfScreenshotChecked", "dfShowCopyButton", "dfShowDetailsButton",             \
            "dfStartDetailed", "dfStayOnTop", "dfOwnLook"                                                              \
    }
#define STACK_FLAGS                                                                                                    \
    {                                                                                                                  \
        "stDllFrames", "stPackageFrames", "stRuntimeThreads", "stSystemThreads", "stLineOffsets"                       \
    }
#define BEHAVIOUR_FLAGS                                                                                                \
    {                                                                                                                  \
        "bhCrashRule", "bhPauseRuntimeThreads", "bhKeepMainThreadRunning", "bhPauseSystemThreads",                     \
            "bhMainModuleOptions", "bhClipboardOnSendFailure", "bhStoreFailedReports"                                  \
    }
#define TERMINATE_ACTIONS                                                                                              \
    {                                                                                                                  \
        "taTerminate", "taRestart"                                                                                     \
    }

using TSetter = std::function<void(cr::TTavrelModuleOptions&, const std::string&)>;

const std::map<std::string, TSetter>& Setters()
{
    using O = cr::TTavrelModuleOptions;
    static const std::map<std::string, TSetter> setters = {
        {"SmtpSender", [](O& o, const std::string& v) { o.SetSmtpSender(v); }},
        {"SmtpServer", [](O& o, const std::string& v) { o.SetSmtpServer(v); }},
        {"SmtpUser", [](O& o, const std::string& v) { o.SetSmtpUser(v); }},
        {"SmtpUserPassword", [](O& o, const std::string& v) { o.SetSmtpUserPassword(v); }},
        {"SmtpServerPort",
         [](O& o, const std::string& v) { o.SetSmtpServerPort(std::uint16_t(Integer(v, 0, 65535))); }},
        {"TerminateAction",
         [](O& o, const std::string& v) { o.SetTerminateAction(cr::TTerminateAction(Member(v, TERMINATE_ACTIONS))); }},
        {"FreezeWatch", [](O& o, const std::string& v) { o.SetFreezeWatch(Boolean(v)); }},
        {"FreezeSeconds",
         [](O& o, const std::string& v) { o.SetFreezeSeconds(std::int32_t(Integer(v, INT32_MIN, INT32_MAX))); }},
        {"FreezeText", [](O& o, const std::string& v) { o.SetFreezeText(v); }},
        {"ReportItems",
         [](O& o, const std::string& v) {
             cr::TReportItems items;
             for (const auto& m : Members(v)) items.Include(unsigned(Integer(m, 0, 39)));
             o.SetReportItems(items);
         }},
        {"FilterClassNames", [](O& o, const std::string& v) { o.FilterClassNames().Add(v); }},
        {"FilterMessages", [](O& o, const std::string& v) { o.FilterMessages().Add(v); }},
        {"LogActivation", [](O& o, const std::string& v) { o.SetLogActivation(Boolean(v)); }},
        {"FilterActive", [](O& o, const std::string& v) { o.SetFilterActive(Boolean(v)); }},
        {"AppendLogToMail", [](O& o, const std::string& v) { o.SetAppendLogToMail(Boolean(v)); }},
        {"ShowTerminateButton", [](O& o, const std::string& v) { o.SetShowTerminateButton(Boolean(v)); }},
        {"SaveLog", [](O& o, const std::string& v) { o.SetSaveLog(Boolean(v)); }},
        {"LogFlags", [](O& o, const std::string& v) { o.SetLogFlags(SetOf<cr::TLogFlags>(v, LOG_FLAGS)); }},
        {"SendFlags", [](O& o, const std::string& v) { o.SetSendFlags(SetOf<cr::TSendFlags>(v, SEND_FLAGS)); }},
        {"FirstTab",
         [](O& o, const std::string& v) {
             o.SetFirstTab(
                 cr::TDialogTab(Member(v, {"tabGeneral", "tabCallStack", "tabModules", "tabCPU", "tabOther"})));
         }},
        {"MaxSavedErrors",
         [](O& o, const std::string& v) { o.SetMaxSavedErrors(std::int32_t(Integer(v, INT32_MIN, INT32_MAX))); }},
        {"TerminateButtonAfter",
         [](O& o, const std::string& v) { o.SetTerminateButtonAfter(std::int32_t(Integer(v, INT32_MIN, INT32_MAX))); }},
        {"LogPath", [](O& o, const std::string& v) { o.SetLogPath(v); }},
        {"MailRecipients", [](O& o, const std::string& v) { o.SetMailRecipients(v); }},
        {"MailSubject", [](O& o, const std::string& v) { o.SetMailSubject(v); }},
        {"MailBody", [](O& o, const std::string& v) { o.SetMailBody(v); }},
        {"MailMethod",
         [](O& o, const std::string& v) {
             o.SetMailMethod(cr::TMailMethod(Member(v, {"mmNone", "mmMailClient", "mmSmtpClient", "mmSmtpServer"})));
         }},
        {"WebMethod",
         [](O& o, const std::string& v) {
             o.SetWebMethod(cr::TWebMethod(Member(v, {"wmNone", "wmHttp", "wmHttps", "wmFtp"})));
         }},
        {"ExtraFiles", [](O& o, const std::string& v) { o.SetExtraFiles(v); }},
        {"DialogFlags", [](O& o, const std::string& v) { o.SetDialogFlags(SetOf<cr::TDialogFlags>(v, DIALOG_FLAGS)); }},
        {"DialogCloseSeconds",
         [](O& o, const std::string& v) { o.SetDialogCloseSeconds(std::int32_t(Integer(v, INT32_MIN, INT32_MAX))); }},
        {"SupportPage", [](O& o, const std::string& v) { o.SetSupportPage(v); }},
        {"HtmlTemplate", [](O& o, const std::string& v) { o.SetHtmlTemplate(v); }},
        {"CrashAction",
         [](O& o, const std::string& v) { o.SetCrashAction(cr::TTerminateAction(Member(v, TERMINATE_ACTIONS))); }},
        {"CrashCount",
         [](O& o, const std::string& v) { o.SetCrashCount(std::int32_t(Integer(v, INT32_MIN, INT32_MAX))); }},
        {"CrashMinutes",
         [](O& o, const std::string& v) { o.SetCrashMinutes(std::int32_t(Integer(v, INT32_MIN, INT32_MAX))); }},
        {"StackFlags", [](O& o, const std::string& v) { o.SetStackFlags(SetOf<cr::TStackFlags>(v, STACK_FLAGS)); }},
        {"BehaviourFlags",
         [](O& o, const std::string& v) { o.SetBehaviourFlags(SetOf<cr::TBehaviourFlags>(v, BEHAVIOUR_FLAGS)); }},
        {"WebAddress", [](O& o, const std::string& v) { o.SetWebAddress(v); }},
        {"WebServerPort",
         [](O& o, const std::string& v) { o.SetWebServerPort(std::uint32_t(Integer(v, 0, UINT32_MAX))); }},
        {"WebUserPassword", [](O& o, const std::string& v) { o.SetWebUserPassword(v); }},
        {"WebUser", [](O& o, const std::string& v) { o.SetWebUser(v); }},
    };
    return setters;
}

// The four bytes older forms keep the report items in: the inverse of the
// reader's repacking (positions 5, 20..22 and 24..28 of the 40 held items
// that no longer exist).
std::uint32_t OldReportItems(cr::TReportItems items)
{
    std::string s;
    for (unsigned k = 0; k < 31; ++k) s += ((items.ToBits() >> k) & 1) ? '1' : '0';
    s.insert(23, 5, '0');
    s.insert(19, 3, '0');
    s.insert(4, 1, '0');
    std::uint32_t bits = 0;
    for (unsigned k = 0; k < 32; ++k)
        if (s[k] == '1') bits |= 1u << k;
    return bits;
}

std::string Text(const cr::TTavrelModuleOptions& o, const TOptionsText& t, std::size_t i)
{
    return t.Texts[i] ? *t.Texts[i] : o.GetText(i);
}

void WriteOlderForm(const cr::TTavrelModuleOptions& o, const TOptionsText& t, std::uint16_t v, cr::TStream& s)
{
    cr::TOptionsWriter w(s);
    w.Bool(o.LogActivation());
    w.Bool(o.FilterActive());
    w.Set(o.LogFlags());
    const bool showDialog = o.DialogFlags().Contains(cr::dfShowDialog);
    w.Bool(v < 450 ? !showDialog : showDialog);
    w.Bool(o.AppendLogToMail());
    if (v >= 450) {
        w.Bool(o.SendFlags().Contains(cr::sfLoadWholeLog));
        w.Bool(o.SendFlags().Contains(cr::sfAttachScreenshot));
        w.Bool(o.SendFlags().Contains(cr::sfShowSendDialogs));
    }
    if (v > 400) {
        w.Bool(o.SaveLog());
        w.Byte(o.FirstTab());
    }
    if (v > 402) w.Bool(o.DialogFlags().Contains(cr::dfOwnLook));
    if (v >= 420) {
        w.Bool(o.FreezeWatch());
        w.I32(v < 422 ? o.FreezeSeconds() * 1000 : o.FreezeSeconds());
        w.String(o.FreezeText());
        if (v >= 450) w.String(o.SmtpSender());
        w.String(o.SmtpServer());
    }
    if (v >= 450) w.U16(o.SmtpServerPort());
    if (v > 420) {
        w.String(o.SmtpUser());
        w.String(o.SmtpUserPassword());
        w.Byte(o.TerminateAction());
    }
    w.Bool(o.ShowTerminateButton());
    w.I32(o.MaxSavedErrors());
    w.I32(o.TerminateButtonAfter());
    w.String(o.MailRecipients());
    w.String(o.MailSubject());
    w.Byte(o.MailMethod());
    w.U32(OldReportItems(o.ReportItems()));
    if (v < 450) w.Byte(0);
    w.String(o.LogPath());
    const std::size_t pairs = std::max(o.FilterClassNames().Count(), o.FilterMessages().Count());
    w.I32(std::int32_t(pairs));
    for (std::size_t i = 0; i < pairs; ++i) {
        w.String(i < o.FilterClassNames().Count() ? o.FilterClassNames()[i] : std::string());
        w.String(i < o.FilterMessages().Count() ? o.FilterMessages()[i] : std::string());
    }
    w.String(o.MailBody());
    for (std::size_t i = 0; i < cr::CustomizedTextCount; ++i)
        if (cr::StreamFormHoldsText(v, i)) w.String(Text(o, t, i));
}

} // namespace

TOptionsText ApplyOptionsText(const std::string& text, const std::string& source, cr::TTavrelModuleOptions& options)
{
    TOptionsText result;
    std::stringstream lines(text);
    std::string line;
    int number = 0;
    while (std::getline(lines, line)) {
        ++number;
        const std::string trimmed = Trim(line);
        if (trimmed.empty() || trimmed[0] == '#' || trimmed[0] == ';') continue;
        const auto eq = trimmed.find('=');
        const std::string where = source + ":" + std::to_string(number) + ": ";
        if (eq == std::string::npos) throw rtl::Exception(where + "expected \"Name = value\"");
        const std::string name = Trim(trimmed.substr(0, eq));
        const std::string value = Unescape(Trim(trimmed.substr(eq + 1)));
        try {
            if (name.rfind("Texts[", 0) == 0 && name.back() == ']') {
                const auto index = Integer(name.substr(6, name.size() - 7), 0, cr::CustomizedTextCount - 1);
                result.Texts[std::size_t(index)] = value;
                continue;
            }
            const auto it = Setters().find(name);
            if (it == Setters().end()) throw TLineError{"unknown option \"" + name + "\""};
            it->second(options, value);
        } catch (const TLineError& e) {
            throw rtl::Exception(where + e.What);
        }
    }
    return result;
}

std::vector<std::uint8_t> WriteOptionsForm(const cr::TTavrelModuleOptions& options, const TOptionsText& texts,
                                           std::uint16_t version)
{
    cr::TMemoryStream stream;
    if (version < 500) {
        WriteOlderForm(options, texts, version, stream);
    } else {
        options.SaveToStream(stream);
        // The texts close the form: put the file's texts in place of the record's.
        std::int64_t textBytes = 0;
        for (const auto& t : options.Texts()) textBytes += 4 + std::int64_t(cr::StripSingleTrailingCrLf(t).size());
        stream.SetSize(std::size_t(stream.Size() - textBytes));
        stream.Seek(0, cr::TSeekOrigin::soEnd);
        cr::TOptionsWriter w(stream);
        for (std::size_t i = 0; i < cr::CustomizedTextCount; ++i) w.String(Text(options, texts, i));
    }
    const std::string bytes = stream.Bytes();
    return std::vector<std::uint8_t>(bytes.begin(), bytes.end());
}

} // namespace crashreport

#undef LOG_FLAGS
#undef SEND_FLAGS
#undef DIALOG_FLAGS
#undef STACK_FLAGS
#undef BEHAVIOUR_FLAGS
#undef TERMINATE_ACTIONS
