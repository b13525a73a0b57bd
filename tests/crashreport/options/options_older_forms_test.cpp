// Stored options of older format versions, written here byte by byte from
// the documented layout (docs/options.md).
#include <gtest/gtest.h>

#include <set>

#include "crashreport/options/module_options.h"

using namespace crashreport;

namespace {

class TBytes {
public:
    TBytes& U8(std::uint8_t v)
    {
        bytes_ += static_cast<char>(v);
        return *this;
    }
    TBytes& U16(std::uint16_t v) { return U8(v & 0xFF).U8(v >> 8); }
    TBytes& I32(std::int32_t v)
    {
        const auto u = static_cast<std::uint32_t>(v);
        return U8(u & 0xFF).U8((u >> 8) & 0xFF).U8((u >> 16) & 0xFF).U8(u >> 24);
    }
    TBytes& Str(const std::string& s)
    {
        I32(static_cast<std::int32_t>(s.size()));
        for (char c : s) U8(static_cast<std::uint8_t>(c) ^ 0xA5);
        return *this;
    }
    const std::string& Data() const { return bytes_; }

private:
    std::string bytes_;
};

std::string TextFor(std::size_t i) { return "old text " + std::to_string(i); }

// Indexes a form of the version holds, as the documented lists give them.
std::set<std::size_t> HeldTexts(std::uint16_t v)
{
    std::set<std::size_t> missing;
    auto add = [&](std::size_t lo, std::size_t hi) {
        for (std::size_t i = lo; i <= hi; ++i) missing.insert(i);
    };
    if (v < 420) add(17, 17);
    if (v < 421) add(16, 16);
    if (v < 450) {
        add(8, 11), add(18, 20), add(75, 95);
        for (std::size_t i : {26, 41, 52, 47, 48}) missing.insert(i);
    }
    if (v < 500) {
        add(54, 61), add(68, 74);
        for (std::size_t i : {12, 13, 21, 27, 46, 47, 48, 89, 94, 95}) missing.insert(i);
    }
    std::set<std::size_t> held;
    for (std::size_t i = 0; i < CustomizedTextCount; ++i)
        if (!missing.count(i)) held.insert(i);
    return held;
}

void AddTexts(TBytes& b, std::uint16_t v)
{
    for (std::size_t i : HeldTexts(v)) b.Str(TextFor(i));
}

void ExpectTexts(const TTavrelModuleOptions& o, std::uint16_t v)
{
    const std::set<std::size_t> held = HeldTexts(v);
    const auto& defaults = DefaultCustomizedTexts();
    for (std::size_t i = 0; i < CustomizedTextCount; ++i) {
        if (held.count(i))
            EXPECT_EQ(o.GetText(i), TextFor(i)) << i;
        else
            EXPECT_EQ(o.GetText(i), defaults[i]) << i;
    }
}

// Old report items: of 40 bits, bits 4, 20..22 and 27..31 are dropped and
// the 31 others move down in order.
std::uint64_t RepackedByHand(std::uint64_t old)
{
    const std::set<unsigned> dropped = {4, 20, 21, 22, 27, 28, 29, 30, 31};
    std::uint64_t out = 0;
    unsigned to = 0;
    for (unsigned from = 0; from < 40; ++from) {
        if (dropped.count(from)) continue;
        if ((old >> from) & 1) out |= 1ull << to;
        ++to;
    }
    EXPECT_EQ(to, 31u);
    return out;
}

constexpr std::uint32_t kOldItems = 0x9E17A5C3u;

} // namespace

TEST(OptionsOlderForms, Version410)
{
    TBytes b;
    b.U8(1).U8(0).U8(0x09); // LogActivation, FilterActive, LogFlags
    b.U8(1);                // show-dialog byte, inverted before 450: dialog off
    b.U8(1);                // AppendLogToMail
    b.U8(0).U8(3);          // SaveLog, FirstTab (v > 400)
    b.U8(1);                // dfOwnLook (402 < v < 500)
    b.U8(0).I32(0).I32(7);  // ShowTerminateButton, MaxSavedErrors, TerminateButtonAfter
    b.Str("dev@example.org").Str("crash");
    b.U8(1); // MailMethod "mail": no SmtpServer in this form, so the mail client
    b.I32(static_cast<std::int32_t>(kOldItems));
    b.U8(0x5A);             // unused byte (v < 450)
    b.Str("/var/log/tool"); // LogPath
    b.I32(2).Str("EFoo").Str("foo message").Str("EBar").Str("");
    b.Str("mail body");
    AddTexts(b, 410);

    TTavrelModuleOptions o("", false), fresh("", false);
    TByteViewStream in(b.Data());
    o.LoadFromStream(in, 410);
    EXPECT_EQ(in.Position(), in.Size());

    EXPECT_TRUE(o.LogActivation());
    EXPECT_FALSE(o.FilterActive());
    EXPECT_EQ(o.LogFlags().ToBits(), 0x09u);
    EXPECT_EQ(o.DialogFlags().ToBits(),
              (fresh.DialogFlags() - TDialogFlags{dfShowDialog} + TDialogFlags{dfOwnLook}).ToBits());
    EXPECT_TRUE(o.AppendLogToMail());
    EXPECT_FALSE(o.SaveLog());
    EXPECT_EQ(o.FirstTab(), tabCPU);
    EXPECT_FALSE(o.ShowTerminateButton());
    EXPECT_EQ(o.MaxSavedErrors(), 1);
    EXPECT_EQ(o.TerminateButtonAfter(), 7);
    EXPECT_EQ(o.MailRecipients(), "dev@example.org");
    EXPECT_EQ(o.MailSubject(), "crash");
    EXPECT_EQ(o.MailMethod(), mmMailClient);
    EXPECT_EQ(o.ReportItems().ToBits(), RepackedByHand(0xFF00000000ull | kOldItems));
    EXPECT_EQ(o.LogPath(), "/var/log/tool");
    EXPECT_EQ(o.FilterClassNames().Items(), (std::vector<std::string>{"EFoo", "EBar"}));
    EXPECT_EQ(o.FilterMessages().Items(), (std::vector<std::string>{"foo message", ""}));
    EXPECT_EQ(o.MailBody(), "mail body");
    ExpectTexts(o, 410);

    // Not in this form: they keep their defaults.
    EXPECT_EQ(o.FreezeWatch(), fresh.FreezeWatch());
    EXPECT_EQ(o.FreezeSeconds(), 60);
    EXPECT_EQ(o.FreezeText(), fresh.FreezeText());
    EXPECT_EQ(o.SmtpSender(), fresh.SmtpSender());
    EXPECT_EQ(o.SmtpServerPort(), 25);
    EXPECT_EQ(o.TerminateAction(), taRestart);
    EXPECT_EQ(o.SendFlags().ToBits(), 81u);
    EXPECT_EQ(o.WebMethod(), wmNone);
    EXPECT_EQ(o.HtmlTemplate(), fresh.HtmlTemplate());
    EXPECT_EQ(o.StackFlags().ToBits(), 15u);
    EXPECT_EQ(o.BehaviourFlags().ToBits(), 48u);
    EXPECT_EQ(o.CrashCount(), 10);

    // The documented list of texts a 410 form leaves at their defaults.
    std::set<std::size_t> kept;
    for (std::size_t i = 0; i < CustomizedTextCount; ++i)
        if (!HeldTexts(410).count(i)) kept.insert(i);
    std::set<std::size_t> listed = {26, 27, 41, 46, 47, 48, 52};
    for (std::size_t i = 8; i <= 13; ++i) listed.insert(i);
    for (std::size_t i = 16; i <= 21; ++i) listed.insert(i);
    for (std::size_t i = 54; i <= 61; ++i) listed.insert(i);
    for (std::size_t i = 68; i <= 95; ++i) listed.insert(i);
    EXPECT_EQ(kept, listed);
}

TEST(OptionsOlderForms, Version450)
{
    TBytes b;
    b.U8(0).U8(1).U8(0x30); // LogActivation, FilterActive, LogFlags
    b.U8(0);                // show-dialog byte, not inverted from 450: dialog off
    b.U8(0);                // AppendLogToMail
    b.U8(1).U8(0).U8(0);    // sfLoadWholeLog, sfAttachScreenshot, sfShowSendDialogs
    b.U8(1).U8(2);          // SaveLog, FirstTab
    b.U8(0);                // dfOwnLook
    b.U8(1).I32(30);        // FreezeWatch, FreezeSeconds (seconds from 422)
    b.Str("Frozen!").Str("me@example.net").Str("smtp.example.net");
    b.U16(2525);                       // SmtpServerPort
    b.Str("user").Str("secret").U8(0); // SmtpUser, SmtpUserPassword, TerminateAction
    b.U8(1).I32(64).I32(2);            // ShowTerminateButton, MaxSavedErrors, TerminateButtonAfter
    b.Str("ops@example.net").Str("report");
    b.U8(3); // MailMethod, kept as it is from 450
    b.I32(static_cast<std::int32_t>(kOldItems));
    b.Str("/srv/logs/all.tlf");
    b.I32(1).Str("EOnly").Str("only");
    b.Str("");
    AddTexts(b, 450);

    TTavrelModuleOptions o("", false), fresh("", false);
    TByteViewStream in(b.Data());
    o.LoadFromStream(in, 450);
    EXPECT_EQ(in.Position(), in.Size());

    EXPECT_FALSE(o.LogActivation());
    EXPECT_TRUE(o.FilterActive());
    EXPECT_FALSE(o.DialogFlags().Contains(dfShowDialog));
    EXPECT_FALSE(o.DialogFlags().Contains(dfOwnLook));
    EXPECT_TRUE(o.DialogFlags().Contains(dfShowDetailsButton));
    EXPECT_EQ(o.SendFlags().ToBits(), (TSendFlags{sfLoadWholeLog, sfAttachLastHtmlPage}).ToBits());
    EXPECT_TRUE(o.SaveLog());
    EXPECT_EQ(o.FirstTab(), tabModules);
    EXPECT_TRUE(o.FreezeWatch());
    EXPECT_EQ(o.FreezeSeconds(), 30);
    EXPECT_EQ(o.FreezeText(), "Frozen!");
    EXPECT_EQ(o.SmtpSender(), "me@example.net");
    EXPECT_EQ(o.SmtpServer(), "smtp.example.net");
    EXPECT_EQ(o.SmtpServerPort(), 2525);
    EXPECT_EQ(o.SmtpUser(), "user");
    EXPECT_EQ(o.SmtpUserPassword(), "secret");
    EXPECT_EQ(o.TerminateAction(), taTerminate);
    EXPECT_EQ(o.MaxSavedErrors(), 64);
    EXPECT_EQ(o.MailMethod(), mmSmtpServer);
    EXPECT_EQ(o.ReportItems().ToBits(), RepackedByHand(0xFF00000000ull | kOldItems));
    EXPECT_EQ(o.LogPath(), "/srv/logs/all.tlf");
    EXPECT_EQ(o.FilterClassNames().Items(), std::vector<std::string>{"EOnly"});
    ExpectTexts(o, 450);
    EXPECT_EQ(o.WebMethod(), wmNone);
    EXPECT_EQ(o.HtmlTemplate(), fresh.HtmlTemplate());
    EXPECT_EQ(o.CrashMinutes(), 1);
}

TEST(OptionsOlderForms, Version420HeldFreezeMillisecondsAndChoosesSmtpByServer)
{
    TBytes b;
    b.U8(0).U8(1).U8(0).U8(0).U8(0);                 // fields 1..3, dialog byte (inverted: on), field 4
    b.U8(1).U8(0).U8(0);                             // SaveLog, FirstTab, dfOwnLook
    b.U8(1).I32(5000).Str("frozen").Str("mx.local"); // FreezeWatch, ms, FreezeText, SmtpServer
    b.U8(1).I32(10).I32(3).Str("").Str("").U8(1);
    b.I32(-1).U8(0).Str("");
    b.I32(0).Str("");
    AddTexts(b, 420);

    TTavrelModuleOptions o("", false);
    TByteViewStream in(b.Data());
    o.LoadFromStream(in, 420);
    EXPECT_EQ(in.Position(), in.Size());
    EXPECT_TRUE(o.DialogFlags().Contains(dfShowDialog));
    EXPECT_EQ(o.FreezeSeconds(), 5);
    EXPECT_EQ(o.SmtpServer(), "mx.local");
    EXPECT_EQ(o.MailMethod(), mmSmtpClient);
    EXPECT_EQ(o.GetText(17), TextFor(17));
    EXPECT_EQ(o.GetText(16), "&Restart");
    ExpectTexts(o, 420);
}

TEST(OptionsOlderForms, ShortOldFormFails)
{
    TBytes b;
    b.U8(1).U8(1).U8(0).U8(0).U8(0);
    TTavrelModuleOptions o("", false);
    TByteViewStream in(b.Data());
    EXPECT_THROW(o.LoadFromStream(in, 410), rtl::EReadError);
    EXPECT_EQ(o.UpdateDepth(), 0);
}
