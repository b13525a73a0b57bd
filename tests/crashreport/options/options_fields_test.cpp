// The options record itself: defaults, setters and the change check, update
// brackets, Assign, and the freeze watchdog hook.
#include <gtest/gtest.h>

#include <link.h>
#include <random>

#include "crashreport/options/freeze_watch_hook.h"
#include "crashreport/options/module_options.h"
#include "crashreport/options/module_options_ex.h"
#include "crashreport/options/options_errors.h"
#include "options_test_support.h"

using namespace crashreport;
using optiontest::OwnProgramFile;
using optiontest::TCountingOptions;

namespace {

std::string LibcFile()
{
    std::string found;
    dl_iterate_phdr(
        [](dl_phdr_info* info, size_t, void* data) {
            const std::string name = info->dlpi_name ? info->dlpi_name : "";
            if (name.find("libc.so") != std::string::npos) {
                *static_cast<std::string*>(data) = name;
                return 1;
            }
            return 0;
        },
        &found);
    return found;
}

} // namespace

TEST(OptionsDefaults, FreshRecordHasTheDefaults)
{
    TTavrelModuleOptions o("/opt/app/Tool", false);
    EXPECT_EQ(o.ModuleFile(), "/opt/app/Tool");
    EXPECT_FALSE(o.PublishChanges());
    EXPECT_EQ(o.UpdateDepth(), 0);
    EXPECT_TRUE(o.ReporterActive());
    EXPECT_FALSE(o.FreezeWatch());
    EXPECT_EQ(o.FreezeSeconds(), 60);
    EXPECT_EQ(o.FreezeText(), "The application seems to be frozen.");
    EXPECT_FALSE(o.SmtpSender().empty());
    EXPECT_EQ(o.SmtpServerPort(), 25);
    EXPECT_EQ(o.TerminateAction(), taRestart);
    EXPECT_EQ(o.ReportItems().ToBits(), 0xFFFFFFFFFFull);
    EXPECT_TRUE(o.FilterActive());
    EXPECT_TRUE(o.SaveLog());
    EXPECT_TRUE(o.ShowTerminateButton());
    EXPECT_FALSE(o.LogActivation());
    EXPECT_FALSE(o.AppendLogToMail());
    EXPECT_EQ(o.LogFlags().ToBits(), 48u);
    EXPECT_EQ(o.SendFlags().ToBits(), 81u);
    EXPECT_EQ(o.DialogFlags().ToBits(), 31u);
    EXPECT_EQ(o.StackFlags().ToBits(), 15u);
    EXPECT_EQ(o.BehaviourFlags().ToBits(), 48u);
    EXPECT_EQ(o.FirstTab(), tabGeneral);
    EXPECT_EQ(o.MaxSavedErrors(), 32);
    EXPECT_EQ(o.TerminateButtonAfter(), 3);
    EXPECT_EQ(o.MailMethod(), mmNone);
    EXPECT_EQ(o.WebMethod(), wmNone);
    EXPECT_EQ(o.DialogCloseSeconds(), 0);
    EXPECT_EQ(o.CrashAction(), taRestart);
    EXPECT_EQ(o.CrashCount(), 10);
    EXPECT_EQ(o.CrashMinutes(), 1);
    EXPECT_EQ(o.WebServerPort(), 0u);
    EXPECT_TRUE(o.LogPath().empty() && o.MailRecipients().empty() && o.ExtraFiles().empty() &&
                o.SupportPage().empty() && o.WebAddress().empty());
    EXPECT_TRUE(o.FilterClassNames().Empty() && o.FilterMessages().Empty());

    EXPECT_EQ(o.HtmlTemplate().substr(0, 24), "<html>\r\n  <head>\r\n  </he");
    EXPECT_NE(o.HtmlTemplate().find("\r\n            <%HTML_TAG%>\r\n"), std::string::npos);
    EXPECT_EQ(o.HtmlTemplate().substr(o.HtmlTemplate().size() - 18), "  </body>\r\n</html>");

    EXPECT_EQ(o.GetText(0), "Information.");
    EXPECT_EQ(o.GetText(3),
              "An error has occurred during program execution.\r\n"
              "Please read the following information for further details.");
    EXPECT_EQ(o.GetText(22), "Application");
    EXPECT_EQ(o.GetText(61), "Custom Information");
    EXPECT_EQ(o.GetText(74), "Class");
    EXPECT_EQ(o.GetText(83), "&OK");
    EXPECT_EQ(o.GetText(95), "Sorry, sending the message didn't work.");
    for (std::size_t i = 0; i < CustomizedTextCount; ++i) EXPECT_FALSE(o.GetText(i).empty()) << i;
    EXPECT_THROW(o.GetText(96), ETextIndexError);
}

TEST(OptionsDefaults, SetDefaultsRestoresOptionsButKeepsFiltersAndModule)
{
    std::mt19937 rng(7);
    TTavrelModuleOptions fresh("/opt/app/Tool", false), o("/opt/app/Tool", false);
    optiontest::Randomize(o, rng, 2, 2);
    o.SetReporterActive(false);
    const auto names = o.FilterClassNames().Items();
    o.SetDefaults();
    optiontest::ExpectSameOptions(fresh, o, true, false);
    EXPECT_TRUE(o.ReporterActive());
    EXPECT_EQ(o.FilterClassNames().Items(), names);
    EXPECT_EQ(o.ModuleFile(), "/opt/app/Tool");
}

TEST(OptionsSetters, MaxSavedErrorsKeepsAtLeastOne)
{
    TTavrelModuleOptions o("", false);
    o.SetMaxSavedErrors(0);
    EXPECT_EQ(o.MaxSavedErrors(), 1);
    o.SetMaxSavedErrors(-4);
    EXPECT_EQ(o.MaxSavedErrors(), 1);
    o.SetMaxSavedErrors(5);
    EXPECT_EQ(o.MaxSavedErrors(), 5);
}

TEST(OptionsChangeCheck, SettersPublishOutsideBracketsOnly)
{
    TCountingOptions o;
    EXPECT_EQ(o.changes, 0); // building a plain record publishes nothing
    o.SetLogPath("/tmp");
    o.SetReporterActive(false);
    o.SetModuleFile(o.ModuleFile());
    EXPECT_EQ(o.changes, 3);

    o.BeginUpdate();
    o.BeginUpdate();
    o.SetMailSubject("x");
    o.EndUpdate();
    o.SetMailBody("y"); // still inside the outer bracket
    o.EndUpdate();
    EXPECT_EQ(o.changes, 3); // EndUpdate itself does not publish
    EXPECT_EQ(o.UpdateDepth(), 0);
    o.EndUpdate(); // unbalanced: the depth stays at 0
    EXPECT_EQ(o.UpdateDepth(), 0);
    o.SetMailBody("z");
    EXPECT_EQ(o.changes, 4);
}

TEST(OptionsChangeCheck, FilterListsRunTheCheck)
{
    TCountingOptions o;
    o.FilterClassNames().Add("EAccessViolation");
    o.FilterMessages().Add("");
    o.FilterClassNames().Delete(0);
    EXPECT_EQ(o.changes, 3);
    EXPECT_THROW(o.FilterMessages().Delete(5), EListError);
}

TEST(OptionsChangeCheck, OnlyTheReporterModulePublishes)
{
    TCountingOptions silent(OwnProgramFile(), false);
    silent.SetLogPath("/tmp");
    EXPECT_EQ(silent.changes, 0);

    const std::string libc = LibcFile();
    ASSERT_FALSE(libc.empty());
    TCountingOptions other(libc); // loaded, but not the module with the reporter
    other.SetLogPath("/tmp");
    EXPECT_EQ(other.changes, 0);

    TCountingOptions missing("/nonexistent/module.so");
    missing.SetLogPath("/tmp");
    EXPECT_EQ(missing.changes, 0);

    const std::string own = OwnProgramFile();
    TCountingOptions bare(own.substr(own.rfind('/') + 1)); // a bare file name
    bare.SetLogPath("/tmp");
    EXPECT_EQ(bare.changes, 1);
}

TEST(OptionsChangeCheck, BracketedOperationsPublishOnce)
{
    TCountingOptions o, source("", false);
    source.SetMailSubject("subject");
    o.SetDefaults();
    EXPECT_EQ(o.changes, 1);
    o.Assign(&source);
    EXPECT_EQ(o.changes, 2);
    TMemoryStream stream;
    source.SaveToStream(stream);
    stream.SetPosition(0);
    o.LoadFromStream(stream);
    EXPECT_EQ(o.changes, 3);
    EXPECT_EQ(o.UpdateDepth(), 0);
}

TEST(OptionsAssign, CopiesEverythingButModuleFileAndActivation)
{
    std::mt19937 rng(11);
    TTavrelModuleOptions source("/a/source", false), target("/b/target", true);
    optiontest::Randomize(source, rng, 3, 1);
    source.SetReporterActive(false);
    target.Assign(&source);
    optiontest::ExpectSameOptions(source, target);
    EXPECT_EQ(target.ModuleFile(), "/b/target");
    EXPECT_TRUE(target.PublishChanges());
    EXPECT_TRUE(target.ReporterActive());
    EXPECT_EQ(target.FilterClassNames().Count(), 3u);
    EXPECT_EQ(target.FilterMessages().Count(), 1u);
}

TEST(OptionsAssign, NilFailsAndSelfIsANoOp)
{
    TCountingOptions o;
    try {
        o.Assign(nullptr);
        FAIL() << "no error";
    } catch (const EConvertError& e) {
        EXPECT_EQ(e.Message, "Impossible to assign nil as TTavrelModuleOptions.");
    }
    EXPECT_EQ(o.UpdateDepth(), 0);
    o.Assign(&o);
    EXPECT_EQ(o.changes, 0);
}

namespace {

struct TSpyWatchdog : TFreezeWatchControl {
    int starts = 0, stops = 0;
    bool fail = false;
    void StartFreezeWatch() override
    {
        ++starts;
        if (fail) throw std::runtime_error("cannot start");
    }
    void StopFreezeWatch() override { ++stops; }
};

TTavrelModuleOptions* g_current = nullptr;
TTavrelModuleOptions* CurrentForTest() { return g_current; }

// Installs the spy and the current-record query for one test.
struct TWatchdogScope {
    TSpyWatchdog spy;
    explicit TWatchdogScope(TTavrelModuleOptions* current)
    {
        g_current = current;
        SetFreezeWatchControl(&spy);
        SetCurrentOptionsQuery(&CurrentForTest);
    }
    ~TWatchdogScope()
    {
        SetFreezeWatchControl(nullptr);
        SetCurrentOptionsQuery(nullptr);
        g_current = nullptr;
    }
};

} // namespace

TEST(OptionsFreezeWatchHook, TheReporterRecordStartsAndStopsTheWatchdog)
{
    TTavrelModuleOptionsEx own("/x/module", true);
    TWatchdogScope scope(&own);
    own.SetFreezeWatch(true);
    EXPECT_EQ(scope.spy.starts, 1);
    own.SetFreezeWatch(true); // unchanged: nothing happens
    EXPECT_EQ(scope.spy.starts, 1);
    own.SetReporterActive(false);
    EXPECT_EQ(scope.spy.stops, 1);
    own.SetReporterActive(true);
    EXPECT_EQ(scope.spy.starts, 2);
    own.SetFreezeWatch(false);
    EXPECT_EQ(scope.spy.stops, 2);
    EXPECT_FALSE(own.FreezeWatch());

    // Assign goes through the setters, so it turns the watchdog on too.
    TTavrelModuleOptions source("", false);
    source.SetFreezeWatch(true);
    own.Assign(&source);
    EXPECT_EQ(scope.spy.starts, 3);
    EXPECT_TRUE(own.FreezeWatch());
}

TEST(OptionsFreezeWatchHook, OtherRecordsLeaveTheWatchdogAlone)
{
    TTavrelModuleOptionsEx own("/x/module", true), other("/y/module", true);
    TWatchdogScope scope(&own);
    other.SetFreezeWatch(true);
    other.SetReporterActive(false);
    EXPECT_TRUE(other.FreezeWatch());
    EXPECT_EQ(scope.spy.starts + scope.spy.stops, 0);
}

TEST(OptionsFreezeWatchHook, AFailingWatchdogDoesNotBreakTheSetter)
{
    TTavrelModuleOptionsEx own("/x/module", true);
    TWatchdogScope scope(&own);
    scope.spy.fail = true;
    EXPECT_NO_THROW(own.SetFreezeWatch(true));
    EXPECT_TRUE(own.FreezeWatch());
    EXPECT_EQ(scope.spy.starts, 1);
}
