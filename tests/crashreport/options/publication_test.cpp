// Publication of a changed record into the module's shared block, read back
// in this process and by a second process.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <memory>
#include <random>
#include <sys/wait.h>
#include <unistd.h>

#include "crashreport/options/module_options_ex.h"
#include "crashreport/options/options_errors.h"
#include "crashreport/options/published_options.h"
#include "options_test_support.h"
#include "platform/kernel/shared_memory.h"

using namespace crashreport;
using optiontest::Saved;

namespace {

std::uint32_t Pid() { return static_cast<std::uint32_t>(getpid()); }

std::string OwnBlockName() { return PublishedOptionsBlockName(Pid(), ReporterModuleHandle()); }

std::string Hex(const std::string& bytes)
{
    std::string out;
    char b[3];
    for (unsigned char c : bytes) {
        std::snprintf(b, sizeof b, "%02X", c);
        out += b;
    }
    return out;
}

struct TReaderResult {
    int exitCode = -1;
    std::string output;
};

// Starts the reader program as a second process on this process's block.
TReaderResult RunReader(std::uint32_t pid, TModuleHandle handle)
{
    char command[1024];
    std::snprintf(command, sizeof command, "'%s' %u %llx", OPTIONS_BLOCK_READER, pid,
                  static_cast<unsigned long long>(handle));
    TReaderResult r;
    FILE* pipe = popen(command, "r");
    if (pipe == nullptr) return r;
    char buffer[4096];
    size_t n;
    while ((n = fread(buffer, 1, sizeof buffer, pipe)) > 0) r.output.append(buffer, n);
    const int status = pclose(pipe);
    r.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return r;
}

} // namespace

TEST(OptionsPublication, BlockNameIsProcessModuleAndMarker)
{
    EXPECT_EQ(PublishedOptionsBlockName(0x1A2B, 0x7F00DEAD0000ull), "00001A2B00007F00DEAD0000MODULE");
}

TEST(OptionsPublication, AChangeIsPublishedWithSizeMarkerAndStreamForm)
{
    TTavrelModuleOptionsEx o(optiontest::OwnProgramFile(), true);
    ASSERT_TRUE(o.PublishedBlock().IsOpen()) << "a fresh record publishes its defaults";
    o.SetMailRecipients("ops@example.com");
    o.FilterClassNames().Add("EZeroDivide");
    o.FilterMessages().Add("Division by zero");

    auto block = kernel::TSharedMemory::OpenExisting(OwnBlockName());
    ASSERT_TRUE(block);
    const std::string form = Saved(o);
    const std::uint8_t* p = block->Data();
    const std::uint32_t size = p[0] | p[1] << 8 | p[2] << 16 | static_cast<std::uint32_t>(p[3]) << 24;
    EXPECT_EQ(size, form.size() + 5);
    EXPECT_EQ(p[4], 1);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(p) + 5, form.size()), form);

    TTavrelModuleOptions copy("", false);
    ASSERT_TRUE(LoadPublishedOptions(copy, Pid(), ReporterModuleHandle()));
    optiontest::ExpectSameOptions(o, copy);
}

TEST(OptionsPublication, ASecondProcessReadsThePublishedRecord)
{
    std::mt19937 rng(99);
    auto o = std::make_unique<TTavrelModuleOptionsEx>(optiontest::OwnProgramFile(), true);
    optiontest::Randomize(*o, rng, 2, 2);
    o->SetHtmlTemplate(std::string(200000, 'h')); // the block grows past its first size

    const TReaderResult r = RunReader(Pid(), ReporterModuleHandle());
    ASSERT_EQ(r.exitCode, 0) << r.output;
    EXPECT_EQ(r.output, "loaded\n" + Hex(Saved(*o)) + "\n");

    o.reset(); // the last owner in this process removes the block
    const TReaderResult gone = RunReader(Pid(), ReporterModuleHandle());
    EXPECT_EQ(gone.exitCode, 1) << gone.output;
    EXPECT_EQ(gone.output, "none\n");
}

TEST(OptionsPublication, RecordsThatDoNotPublishLeaveNoBlock)
{
    {
        TTavrelModuleOptionsEx quiet(optiontest::OwnProgramFile(), false);
        quiet.SetMailSubject("x");
        TTavrelModuleOptionsEx other("/nonexistent/libother.so", true);
        other.SetMailSubject("y");
        EXPECT_FALSE(quiet.PublishedBlock().IsOpen());
        EXPECT_FALSE(other.PublishedBlock().IsOpen());
    }
    EXPECT_FALSE(ReadPublishedBlock(Pid(), ReporterModuleHandle()));
}

TEST(OptionsPublication, TheBlockLivesWhileAnyRecordHoldsIt)
{
    auto first = std::make_unique<TTavrelModuleOptionsEx>(optiontest::OwnProgramFile(), true);
    TTavrelModuleOptionsEx second(optiontest::OwnProgramFile(), true);
    second.SetMailSubject("second");
    first.reset();
    TTavrelModuleOptions copy("", false);
    ASSERT_TRUE(LoadPublishedOptions(copy, Pid(), ReporterModuleHandle()));
    EXPECT_EQ(copy.MailSubject(), "second");
}

TEST(OptionsPublication, AnExistingBlockIsReusedWhateverItsSizeField)
{
    // A block left by someone else, larger than needed and with a size
    // field that does not fit it.
    auto stale = kernel::TSharedMemory::CreateOrOpen(OwnBlockName(), 1 << 20);
    ASSERT_TRUE(stale);
    std::memset(stale->Data(), 0xEE, stale->Size());
    EXPECT_FALSE(ReadPublishedBlock(Pid(), ReporterModuleHandle()));

    TTavrelModuleOptionsEx o(optiontest::OwnProgramFile(), true);
    o.SetSupportPage("https://support.example.com");
    TTavrelModuleOptions copy("", false);
    ASSERT_TRUE(LoadPublishedOptions(copy, Pid(), ReporterModuleHandle()));
    EXPECT_EQ(copy.SupportPage(), "https://support.example.com");
}

TEST(OptionsPublication, UnpublishedAndDamagedCopies)
{
    auto block = kernel::TSharedMemory::CreateOrOpen(OwnBlockName(), 64);
    ASSERT_TRUE(block);
    std::uint8_t* p = block->Data();
    p[0] = 10, p[1] = p[2] = p[3] = 0;
    p[4] = 0; // first data byte 0: not published
    TTavrelModuleOptions o("", false);
    EXPECT_FALSE(LoadPublishedOptions(o, Pid(), ReporterModuleHandle()));

    p[4] = 1;
    p[5] = 1, p[6] = 0, p[7] = 0, p[8] = 0; // a stream form cut after 4 bytes
    p[0] = 9;
    EXPECT_THROW(LoadPublishedOptions(o, Pid(), ReporterModuleHandle()), EOptionsStreamError);
    EXPECT_FALSE(ReadPublishedBlock(Pid(), ReporterModuleHandle() + 1)); // no such module's block
}

namespace {

// The JSON the independent decoder prints: numbers, and strings as lists of
// byte values, in the order of the documented layout.
class TExpectedJson {
public:
    TExpectedJson& Num(const char* name, long long v) { return Key(name) << std::to_string(v); }
    TExpectedJson& Str(const char* name, const std::string& s) { return Key(name) << Bytes(s); }
    TExpectedJson& Raw(const char* name, const std::string& json) { return Key(name) << json; }
    static std::string Bytes(const std::string& s)
    {
        std::string out = "[";
        for (std::size_t i = 0; i < s.size(); ++i)
            out += (i ? ", " : "") + std::to_string(static_cast<unsigned char>(s[i]));
        return out + "]";
    }
    std::string Done() const { return text_ + "}"; }

private:
    TExpectedJson& Key(const char* name)
    {
        text_ += (text_.size() > 1 ? ", \"" : "\"") + std::string(name) + "\": ";
        return *this;
    }
    TExpectedJson& operator<<(const std::string& s)
    {
        text_ += s;
        return *this;
    }
    std::string text_ = "{";
};

std::string RunPython(const std::string& blockName)
{
    const std::string command =
        "python3 '" VEK_SOURCE_DIR "/tests/crashreport/options/decode_options_block.py' " + blockName + " 2>&1";
    std::string out;
    FILE* pipe = popen(command.c_str(), "r");
    if (pipe == nullptr) return "popen failed";
    char buffer[4096];
    size_t n;
    while ((n = fread(buffer, 1, sizeof buffer, pipe)) > 0) out.append(buffer, n);
    pclose(pipe);
    return out;
}

} // namespace

TEST(OptionsPublication, AnIndependentDecoderReadsTheDocumentedLayout)
{
    std::mt19937 rng(2024);
    TTavrelModuleOptionsEx o(optiontest::OwnProgramFile(), true);
    optiontest::Randomize(o, rng, 3, 1);

    TExpectedJson j;
    j.Num("LogActivation", o.LogActivation()).Num("FilterActive", o.FilterActive());
    j.Num("LogFlags", o.LogFlags().ToBits()).Num("AppendLogToMail", o.AppendLogToMail());
    j.Num("SaveLog", o.SaveLog()).Num("FirstTab", o.FirstTab()).Num("FreezeWatch", o.FreezeWatch());
    j.Num("FreezeSeconds", o.FreezeSeconds()).Str("FreezeText", o.FreezeText());
    j.Str("SmtpSender", o.SmtpSender()).Str("SmtpServer", o.SmtpServer());
    j.Num("SmtpServerPort", o.SmtpServerPort()).Str("SmtpUser", o.SmtpUser());
    j.Str("SmtpUserPassword", o.SmtpUserPassword()).Num("TerminateAction", o.TerminateAction());
    j.Num("ShowTerminateButton", o.ShowTerminateButton()).Num("MaxSavedErrors", o.MaxSavedErrors());
    j.Num("TerminateButtonAfter", o.TerminateButtonAfter()).Str("MailRecipients", o.MailRecipients());
    j.Str("MailSubject", o.MailSubject()).Num("MailMethod", o.MailMethod());
    j.Num("ReportItems", static_cast<long long>(o.ReportItems().ToBits())).Str("LogPath", o.LogPath());
    j.Num("WebMethod", o.WebMethod()).Str("WebAddress", o.WebAddress()).Str("WebUser", o.WebUser());
    j.Str("WebUserPassword", o.WebUserPassword()).Num("WebServerPort", o.WebServerPort());
    j.Str("ExtraFiles", o.ExtraFiles()).Num("SendFlags", o.SendFlags().ToBits());
    j.Num("DialogFlags", o.DialogFlags().ToBits()).Num("DialogCloseSeconds", o.DialogCloseSeconds());
    j.Str("SupportPage", o.SupportPage()).Str("HtmlTemplate", o.HtmlTemplate());
    j.Num("StackFlags", o.StackFlags().ToBits()).Num("BehaviourFlags", o.BehaviourFlags().ToBits());
    j.Num("CrashAction", o.CrashAction()).Num("CrashCount", o.CrashCount()).Num("CrashMinutes", o.CrashMinutes());
    std::string filters = "[";
    for (std::size_t i = 0; i < 3; ++i) {
        const std::string message = i < o.FilterMessages().Count() ? o.FilterMessages()[i] : "";
        filters += (i ? ", [" : "[") + TExpectedJson::Bytes(o.FilterClassNames()[i]) + ", " +
            TExpectedJson::Bytes(message) + "]";
    }
    j.Raw("Filters", filters + "]").Str("MailBody", o.MailBody());
    std::string texts = "[";
    for (std::size_t i = 0; i < CustomizedTextCount; ++i) texts += (i ? ", " : "") + TExpectedJson::Bytes(o.GetText(i));
    j.Raw("Texts", texts + "]");

    EXPECT_EQ(RunPython(OwnBlockName()), j.Done());
}
