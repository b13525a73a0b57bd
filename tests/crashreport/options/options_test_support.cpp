#include "options_test_support.h"

#include <gtest/gtest.h>

#include "crashreport/options/module_identity.h"
#include "crashreport/options/options_stream_io.h"

using namespace crashreport;

namespace optiontest {

std::string RandomString(std::mt19937& rng, std::size_t maxLength)
{
    std::uniform_int_distribution<std::size_t> len(0, maxLength);
    std::uniform_int_distribution<int> byte(0, 255);
    std::uniform_int_distribution<int> pick(0, 9);
    std::string s;
    const std::size_t n = len(rng);
    while (s.size() < n) {
        if (pick(rng) == 0)
            s += "\r\n";
        else
            s += static_cast<char>(byte(rng));
    }
    return s;
}

namespace {

std::size_t StoredSize(const std::string& s) { return 4 + StripSingleTrailingCrLf(s).size(); }

template <typename Set> Set RandomSet(std::mt19937& rng)
{
    return Set::FromBits(std::uniform_int_distribution<std::uint64_t>(0, Set::Mask)(rng));
}

} // namespace

void Randomize(TTavrelModuleOptions& o, std::mt19937& rng, std::size_t classes, std::size_t messages)
{
    // Values as the stream form keeps them (see the CR LF rule).
    auto str = [&] { return StripSingleTrailingCrLf(RandomString(rng)); };
    auto i32 = [&] { return std::uniform_int_distribution<std::int32_t>(INT32_MIN, INT32_MAX)(rng); };
    auto flag = [&] { return std::uniform_int_distribution<int>(0, 1)(rng) == 1; };
    auto below = [&](unsigned n) { return std::uniform_int_distribution<unsigned>(0, n - 1)(rng); };

    o.SetSmtpSender(str());
    o.SetSmtpServer(str());
    o.SetSmtpUser(str());
    o.SetSmtpUserPassword(str());
    o.SetSmtpServerPort(static_cast<std::uint16_t>(below(65536)));
    o.SetTerminateAction(static_cast<TTerminateAction>(below(TerminateActionCount)));
    o.SetFreezeWatch(flag());
    o.SetFreezeSeconds(i32());
    o.SetFreezeText(str());
    o.SetReportItems(RandomSet<TReportItems>(rng));
    o.SetLogActivation(flag());
    o.SetFilterActive(flag());
    o.SetAppendLogToMail(flag());
    o.SetShowTerminateButton(flag());
    o.SetSaveLog(flag());
    o.SetLogFlags(RandomSet<TLogFlags>(rng));
    o.SetSendFlags(RandomSet<TSendFlags>(rng));
    o.SetFirstTab(static_cast<TDialogTab>(below(DialogTabCount)));
    o.SetMaxSavedErrors(std::uniform_int_distribution<std::int32_t>(1, INT32_MAX)(rng));
    o.SetTerminateButtonAfter(i32());
    o.SetLogPath(str());
    o.SetMailRecipients(str());
    o.SetMailSubject(str());
    o.SetMailBody(str());
    o.SetMailMethod(static_cast<TMailMethod>(below(MailMethodCount)));
    o.SetWebMethod(static_cast<TWebMethod>(below(WebMethodCount)));
    o.SetExtraFiles(str());
    o.SetDialogFlags(RandomSet<TDialogFlags>(rng));
    o.SetDialogCloseSeconds(i32());
    o.SetSupportPage(str());
    o.SetHtmlTemplate(StripSingleTrailingCrLf(RandomString(rng, 300)));
    o.SetCrashAction(static_cast<TTerminateAction>(below(TerminateActionCount)));
    o.SetCrashCount(i32());
    o.SetCrashMinutes(i32());
    o.SetStackFlags(RandomSet<TStackFlags>(rng));
    o.SetBehaviourFlags(RandomSet<TBehaviourFlags>(rng));
    o.SetWebAddress(str());
    o.SetWebServerPort(std::uniform_int_distribution<std::uint32_t>()(rng));
    o.SetWebUserPassword(str());
    o.SetWebUser(str());

    o.FilterClassNames().Clear();
    o.FilterMessages().Clear();
    for (std::size_t i = 0; i < classes; ++i) o.FilterClassNames().Add(str());
    for (std::size_t i = 0; i < messages; ++i) o.FilterMessages().Add(str());

    // Texts can only be written through a stream: replace the 96 strings at
    // the end of the record's stream form by random ones and load it back.
    const bool filtersEven = classes == messages;
    TMemoryStream stream;
    o.SaveToStream(stream);
    std::size_t textBytes = 0;
    for (const std::string& t : o.Texts()) textBytes += StoredSize(t);
    stream.SetSize(static_cast<std::size_t>(stream.Size()) - textBytes);
    stream.Seek(0, TSeekOrigin::soEnd);
    TOptionsWriter w(stream);
    for (std::size_t i = 0; i < CustomizedTextCount; ++i) w.String(StripSingleTrailingCrLf(RandomString(rng, 60)));
    stream.SetPosition(0);
    if (filtersEven) {
        o.LoadFromStream(stream);
    } else {
        // Loading evens the lists out; keep them uneven as asked.
        std::vector<std::string> names = o.FilterClassNames().Items(), msgs = o.FilterMessages().Items();
        o.LoadFromStream(stream);
        o.FilterClassNames().Assign(names);
        o.FilterMessages().Assign(msgs);
    }
}

void ExpectSameOptions(const TTavrelModuleOptions& e, const TTavrelModuleOptions& a, bool withTexts, bool withFilters)
{
    EXPECT_EQ(e.SmtpSender(), a.SmtpSender());
    EXPECT_EQ(e.SmtpServer(), a.SmtpServer());
    EXPECT_EQ(e.SmtpUser(), a.SmtpUser());
    EXPECT_EQ(e.SmtpUserPassword(), a.SmtpUserPassword());
    EXPECT_EQ(e.SmtpServerPort(), a.SmtpServerPort());
    EXPECT_EQ(e.TerminateAction(), a.TerminateAction());
    EXPECT_EQ(e.FreezeWatch(), a.FreezeWatch());
    EXPECT_EQ(e.FreezeSeconds(), a.FreezeSeconds());
    EXPECT_EQ(e.FreezeText(), a.FreezeText());
    EXPECT_EQ(e.ReportItems().ToBits(), a.ReportItems().ToBits());
    EXPECT_EQ(e.LogActivation(), a.LogActivation());
    EXPECT_EQ(e.FilterActive(), a.FilterActive());
    EXPECT_EQ(e.AppendLogToMail(), a.AppendLogToMail());
    EXPECT_EQ(e.ShowTerminateButton(), a.ShowTerminateButton());
    EXPECT_EQ(e.SaveLog(), a.SaveLog());
    EXPECT_EQ(e.LogFlags().ToBits(), a.LogFlags().ToBits());
    EXPECT_EQ(e.SendFlags().ToBits(), a.SendFlags().ToBits());
    EXPECT_EQ(e.FirstTab(), a.FirstTab());
    EXPECT_EQ(e.MaxSavedErrors(), a.MaxSavedErrors());
    EXPECT_EQ(e.TerminateButtonAfter(), a.TerminateButtonAfter());
    EXPECT_EQ(e.LogPath(), a.LogPath());
    EXPECT_EQ(e.MailRecipients(), a.MailRecipients());
    EXPECT_EQ(e.MailSubject(), a.MailSubject());
    EXPECT_EQ(e.MailBody(), a.MailBody());
    EXPECT_EQ(e.MailMethod(), a.MailMethod());
    EXPECT_EQ(e.WebMethod(), a.WebMethod());
    EXPECT_EQ(e.ExtraFiles(), a.ExtraFiles());
    EXPECT_EQ(e.DialogFlags().ToBits(), a.DialogFlags().ToBits());
    EXPECT_EQ(e.DialogCloseSeconds(), a.DialogCloseSeconds());
    EXPECT_EQ(e.SupportPage(), a.SupportPage());
    EXPECT_EQ(e.HtmlTemplate(), a.HtmlTemplate());
    EXPECT_EQ(e.CrashAction(), a.CrashAction());
    EXPECT_EQ(e.CrashCount(), a.CrashCount());
    EXPECT_EQ(e.CrashMinutes(), a.CrashMinutes());
    EXPECT_EQ(e.StackFlags().ToBits(), a.StackFlags().ToBits());
    EXPECT_EQ(e.BehaviourFlags().ToBits(), a.BehaviourFlags().ToBits());
    EXPECT_EQ(e.WebAddress(), a.WebAddress());
    EXPECT_EQ(e.WebServerPort(), a.WebServerPort());
    EXPECT_EQ(e.WebUserPassword(), a.WebUserPassword());
    EXPECT_EQ(e.WebUser(), a.WebUser());
    if (withFilters) {
        EXPECT_EQ(e.FilterClassNames().Items(), a.FilterClassNames().Items());
        EXPECT_EQ(e.FilterMessages().Items(), a.FilterMessages().Items());
    }
    if (withTexts) {
        for (std::size_t i = 0; i < CustomizedTextCount; ++i) EXPECT_EQ(e.GetText(i), a.GetText(i)) << "text " << i;
    }
}

std::string OwnProgramFile() { return ProgramFileName(); }

std::string Saved(const crashreport::TTavrelModuleOptions& o)
{
    crashreport::TMemoryStream s;
    o.SaveToStream(s);
    return s.Bytes();
}

} // namespace optiontest
