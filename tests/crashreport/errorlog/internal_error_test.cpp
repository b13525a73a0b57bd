// Internal errors end to end: copies of a small program have one, run by a
// parent that traces them (a debugger) or not. Under a debugger the error
// line goes to the debugger output and the diagnostic file lands next to
// the copy; without one nothing at all happens. Also the diagnostic's
// layout on its own.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <regex>
#include <string>
#include <vector>

#include "crashreport/errorlog/diagnostic.h"
#include "crashreport/errorlog/internal_error.h"
#include "crashreport/sysinfo/system_information.h"
#include "tests/support/child_process.h"
#include "tests/support/temp_dir.h"

using namespace crashreport;
using testing_support::FileExists;
using testing_support::ListDir;
using testing_support::ReadFile;
using testing_support::TempDir;

namespace {

using TRun = vektest::TTracedChildResult;

unsigned ModeOf(const std::string& path)
{
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 ? static_cast<unsigned>(st.st_mode & 07777) : 0u;
}

// Copies the program into `folder` under `name` and runs it with `args`,
// traced by this process when `traced`. `home` replaces $HOME when given.
TRun RunCopy(const std::string& folder, const std::string& name, const std::vector<std::string>& args, bool traced,
             const std::string& home = "")
{
    const std::string program = folder + "/" + name;
    std::filesystem::copy_file(INTERNAL_ERROR_CHILD, program, std::filesystem::copy_options::overwrite_existing);
    chmod(program.c_str(), 0755);
    return vektest::RunTracedChild(traced, [&] {
        if (!home.empty()) setenv("HOME", home.c_str(), 1);
        // The leak checker cannot work in a process that is traced already.
        const char* asan = getenv("ASAN_OPTIONS");
        setenv("ASAN_OPTIONS", (std::string(asan ? asan : "") + ":detect_leaks=0").c_str(), 1);
        std::vector<char*> argv{const_cast<char*>(program.c_str())};
        for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
        argv.push_back(nullptr);
        execv(program.c_str(), argv.data());
        return 127;
    });
}

const char* kProgram = "internal_error_child";

std::string Line(const std::string& text, const std::string& label)
{
    const auto at = text.find(label);
    if (at == std::string::npos) return "<missing " + label + ">";
    return text.substr(at + label.size(), text.find("\r\n", at) - at - label.size());
}

} // namespace

TEST(InternalError, UnderADebuggerTheErrorLineAndTheDiagnosticFileAppear)
{
    TempDir dir;
    const TRun run = RunCopy(dir.path(), kProgram, {"pipeline"}, true);
    ASSERT_EQ(run.ExitCode, 0) << run.Stderr;

    std::smatch match;
    ASSERT_TRUE(std::regex_match(run.Stderr, match,
                                 std::regex("\\[ERROR\\] - Section: 706 - Address: ([0-9A-F]{16}) - Message: "
                                            "\"pipeline step failed\"\n")))
        << run.Stderr;
    const std::string address = match[1];

    const std::string logPath = dir / "internal_error_child.log";
    ASSERT_TRUE(FileExists(logPath));
    EXPECT_EQ(ModeOf(logPath), 0600u) << "the diagnostic is its owner's only";
    const std::string text = ReadFile(logPath);
    EXPECT_EQ(text.substr(0, 22), "Version   : 5.1.5\r\nDat");
    EXPECT_TRUE(std::regex_match(Line(text, "Date      : "),
                                 std::regex("(Sun|Mon|Tue|Wed|Thu|Fri|Sat), [1-9][0-9]? [A-Z][a-z]{2} [0-9]{4} "
                                            "[0-9]{2}:[0-9]{2}:[0-9]{2} [+-][0-9]{4}")))
        << text;
    EXPECT_EQ(Line(text, "OS        : "), GetWindowsName());
    EXPECT_EQ(Line(text, "RAD       : ").substr(0, 4), "GCC ");
    EXPECT_EQ(Line(text, "Dump      : "),
              "$55 $48 $89 $E5 $C3 $90 $90 $90 $00 $01 $02 $03 $04 $05 $06 $07 "
              "$08 $09 $0A $0B $0C $0D $0E $0F $10 $11 $12 $13 $14 $15 $16 $FF ");
    EXPECT_EQ(Line(text, "Section   : "), "706");
    EXPECT_EQ(Line(text, "LastExcept: "), "EAccessViolation");
    EXPECT_EQ(Line(text, "Address   : "), "$" + address);
    EXPECT_EQ(Line(text, "Exception : "), "rtl::Exception");
    EXPECT_EQ(Line(text, "Message   : "), "pipeline step failed");
    const std::string stack = text.substr(text.find("Call Stack: "));
    EXPECT_EQ(stack,
              "Call Stack: 00 $0000000000401234 - [0000000000400000] internal_error_child "
              " - Pipeline - TExceptionThread - Execute - 706\r\n"
              "            01 $00007F0000001000 - [00007F0000000000] libc.so.6 \r\n");

    // The stack comes from the raise; the offer follows the saved file.
    EXPECT_EQ(run.Stdout,
              "STACK raise\n"
              "BOX Probably internal bug|Error: 'pipeline step failed'\r\n\r\n"
              "This is an internal TavrelLog bug.\r\n"
              "Do you want to send the bug information to TavrelLog author?|242014\n");
}

TEST(InternalError, WithoutADebuggerItLeavesNoTrace)
{
    TempDir dir, home;
    for (const char* scenario : {"pipeline", "saferun", "hook"}) {
        SCOPED_TRACE(scenario);
        const TRun run = RunCopy(dir.path(), kProgram, {scenario}, false, home.path());
        EXPECT_EQ(run.ExitCode, 0);
        EXPECT_EQ(run.Stdout, ""); // no call stack asked for, no box
        EXPECT_EQ(run.Stderr, "");
        EXPECT_EQ(ListDir(dir.path()), std::vector<std::string>{kProgram});
        EXPECT_TRUE(ListDir(home.path()).empty()); // nor in the fallback folder
    }
}

TEST(InternalError, StartUpStepsAndTheHookingEngineReachTheSameLog)
{
    TempDir dir;
    const TRun guarded = RunCopy(dir.path(), kProgram, {"saferun"}, true);
    EXPECT_EQ(guarded.ExitCode, 0);
    EXPECT_TRUE(std::regex_match(guarded.Stderr,
                                 std::regex("\\[ERROR\\] - Section: TCore\\.Init \\(Address: [0-9A-F]{16}\\) - "
                                            "Address: [0-9A-F]{16} - Message: \"start-up step failed\"\n")))
        << guarded.Stderr;
    EXPECT_NE(ReadFile(dir / "internal_error_child.log").find("Section   : TCore.Init (Address: "), std::string::npos);

    const TRun hooking = RunCopy(dir.path(), kProgram, {"hook"}, true);
    EXPECT_NE(hooking.Stderr.find("[ERROR] - Section: Hook engine start (Address: 0000000000401000) - "),
              std::string::npos)
        << hooking.Stderr;
    EXPECT_EQ(Line(ReadFile(dir / "internal_error_child.log"), "Section   : "),
              "Hook engine start (Address: 0000000000401000)");
}

TEST(InternalError, SilentAbortsAreIgnoredAndFailuresWithoutMessageGetTheGeneralText)
{
    TempDir dir;
    const TRun abort = RunCopy(dir.path(), kProgram, {"abort"}, true);
    EXPECT_EQ(abort.Stderr + abort.Stdout, "");
    EXPECT_FALSE(FileExists(dir / "internal_error_child.log"));

    const TRun value = RunCopy(dir.path(), kProgram, {"plain-value"}, true);
    EXPECT_NE(value.Stderr.find("Message: \"General internal error.\""), std::string::npos) << value.Stderr;
    std::string text = ReadFile(dir / "internal_error_child.log");
    EXPECT_EQ(Line(text, "Exception : "), ""); // a plain value has no class
    EXPECT_EQ(Line(text, "Message   : "), "General internal error.");

    const TRun empty = RunCopy(dir.path(), kProgram, {"empty-message"}, true);
    text = ReadFile(dir / "internal_error_child.log");
    EXPECT_EQ(Line(text, "Exception : "), "rtl::Exception");
    EXPECT_EQ(Line(text, "Message   : "), "General internal error.");
}

TEST(InternalError, TheOfferToSendFallsBackToTellingTheUser)
{
    TempDir dir;
    const std::string logPath = dir / "internal_error_child.log";
    const TRun failing = RunCopy(dir.path(), kProgram, {"pipeline", "yes", "mail-fails"}, true);
    const std::string mail = "MAIL support@tavrellog.invalid|TavrelLog 5.1.5 critical bug.|"
                             "TavrelLog 5.1.5 critical bug.|" +
        logPath + "\n";
    EXPECT_NE(failing.Stdout.find(mail), std::string::npos) << failing.Stdout;
    EXPECT_NE(failing.Stdout.find("BOX Information|"), std::string::npos);
    EXPECT_NE(failing.Stdout.find(logPath), std::string::npos);

    const TRun working = RunCopy(dir.path(), kProgram, {"pipeline", "yes", "mail-ok"}, true);
    EXPECT_NE(working.Stdout.find(mail), std::string::npos);
    EXPECT_EQ(working.Stdout.find("BOX Information|"), std::string::npos);

    const TRun declined = RunCopy(dir.path(), kProgram, {"pipeline", "no"}, true);
    EXPECT_EQ(declined.Stdout.find("MAIL "), std::string::npos);
}

TEST(InternalError, InTheDevelopmentEnvironmentTheFileIsWrittenWithoutADebugger)
{
    TempDir dir;
    const TRun run = RunCopy(dir.path(), "TavrelIDE", {"pipeline"}, false);
    EXPECT_EQ(run.Stderr, ""); // no debugger, no debugger output
    EXPECT_EQ(run.Stdout.substr(0, 14), "STACK current\n");
    EXPECT_EQ(Line(ReadFile(dir / "TavrelIDE.log"), "Section   : "), "706");
}

TEST(InternalError, AnUnusablePlaceNextToTheProgramFallsBackToTheHomeFolder)
{
    TempDir dir, home;
    // A folder where the file should be: it cannot be opened for writing.
    std::filesystem::create_directory(dir / "internal_error_child.log");
    const TRun run = RunCopy(dir.path(), kProgram, {"pipeline"}, true, home.path());
    EXPECT_EQ(run.ExitCode, 0);
    const std::string moved = home / "TavrelLog/internal_error_child/internal_error_child.log";
    ASSERT_TRUE(FileExists(moved));
    EXPECT_EQ(Line(ReadFile(moved), "Section   : "), "706");
    EXPECT_EQ(ModeOf(moved), 0600u);
    EXPECT_EQ(ModeOf(home / "TavrelLog"), 0700u);
    EXPECT_EQ(ModeOf(home / "TavrelLog/internal_error_child"), 0700u);
    EXPECT_NE(run.Stdout.find("BOX Probably internal bug|"), std::string::npos);
}

TEST(InternalErrorDiagnostic, CodeDumpOnlyOfReadableBytes)
{
    unsigned char bytes[32];
    for (int i = 0; i < 32; ++i) bytes[i] = static_cast<unsigned char>(0xE0 + i);
    const std::string dump = FormatCodeDump(bytes);
    EXPECT_EQ(dump.substr(0, 12), "$E0 $E1 $E2 ");
    EXPECT_EQ(dump.size(), 32u * 4);
    EXPECT_EQ(dump.substr(dump.size() - 4), "$FF ");
    EXPECT_EQ(FormatCodeDump(nullptr), "");
    EXPECT_EQ(FormatCodeDump(reinterpret_cast<const void*>(16)), "");
}
