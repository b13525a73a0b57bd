// The log file: bound and order, the repeat test, field and section
// extraction, damaged and foreign files, links planted by another account,
// failed write-backs and two processes appending at once.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <set>

#include "crashreport/report/log_file.h"
#include "crashreport/report/report_text.h"
#include "platform/rtl/format.h"
#include "tests/crashreport/report/report_test_support.h"
#include "tests/support/child_process.h"
#include "tests/support/env_scope.h"
#include "tests/support/faults.h"
#include "tests/support/temp_dir.h"

namespace {

using namespace crashreport;
using testing_support::Contains;
using testing_support::TempDir;

std::string Sample(int number)
{
    static TTavrelModuleOptions options("", false);
    return reporttest::SampleReportText(number, options);
}

// A small report: banner, one item, a call-stack table.
std::string Small(const std::string& tag)
{
    return "TavrelLog 5.1.5\r\n\r\nException:\r\n----------\r\n  2.5 Message: " + tag +
        "\r\n\r\nCall Stack Information:\r\n------\r\n|Addr|\r\n------\r\n\r\n";
}

std::vector<std::string> Messages(const TLogFile& log)
{
    std::vector<std::string> out;
    for (int i = 0; i < log.Count(); ++i) out.push_back(log.GetFieldValue("2.5", i));
    return out;
}

TEST(LogFile, KeepsTheNewestReportsInOrderAcrossSaveAndLoad)
{
    TempDir dir;
    const std::string path = dir / "vek2avi.tlf";
    {
        TLogFile log(path, false);
        EXPECT_EQ(log.Count(), 0);
        for (int i = 1; i <= 5; ++i) log.AddReport(Sample(i), 3);
        EXPECT_EQ(log.Count(), 3);
        log.Save();
    }
    TLogFile log(path, true);
    ASSERT_EQ(log.Count(), 3);
    EXPECT_EQ(Messages(log), (std::vector<std::string>{"Report number 3.", "Report number 4.", "Report number 5."}));
    // The stored text is the report as it was built.
    std::string expected = Sample(5);
    while (expected.back() == '\r' || expected.back() == '\n') expected.pop_back();
    EXPECT_EQ(log.Reports()[2], expected + "\r\n\r\n\r\n");
    // The file's layout: reports followed by three blank lines, one more
    // line end between two.
    const std::string file = testing_support::ReadFile(path);
    EXPECT_EQ(file.substr(file.size() - 8), "\r\n\r\n\r\n\r\n");
    std::string fourth = Sample(4);
    while (fourth.back() == '\r' || fourth.back() == '\n') fourth.pop_back();
    EXPECT_NE(file.find(fourth + "\r\n\r\n\r\n\r\n\r\nTavrelLog 5.1.5"), std::string::npos);

    TLogFile one(path, false);
    one.AddReport(Sample(6), 1);
    one.Save();
    EXPECT_EQ(Messages(TLogFile(path, true)), std::vector<std::string>{"Report number 6."});
}

TEST(LogFile, ReadsLineFeedFilesAndALastReportWithoutItsBlankLines)
{
    TempDir dir;
    std::string lf = Small("one") + "\r\n\r\n\r\n" + Small("two");
    for (std::size_t at = lf.find("\r\n"); at != std::string::npos; at = lf.find("\r\n", at)) lf.erase(at, 1);
    lf += "\n"; // the second report lacks its closing blank lines
    testing_support::WriteFile(dir / "lf.tlf", lf);
    TLogFile log(dir / "lf.tlf", true);
    EXPECT_EQ(Messages(log), (std::vector<std::string>{"one", "two"}));
}

TEST(LogFile, RepeatedErrorsAreFoundByAddressModuleTypeAndMessage)
{
    TLogFile log = TLogFile::FromText(reporttest::SampleReportText(7, TTavrelModuleOptions("", false)));
    const std::vector<std::string> fields = {"2.2", "2.3", "2.4", "2.5"};
    EXPECT_TRUE(log.IsDuplicate(fields, {"0000000000000007", "vek2avi", "EListError", "Report number 7."}));
    EXPECT_FALSE(log.IsDuplicate(fields, {"0000000000000007", "vek2avi", "EListError", "Report number 8."}));
    EXPECT_FALSE(log.IsDuplicate(fields, {"0000000000000008", "vek2avi", "EListError", "Report number 7."}));
    // A stored multi-line message also matches its first line, and the
    // new value is compared as the renderer writes it.
    auto multi = reporttest::MakeSample("First: line\r\n\r\nsecond line.");
    TTavrelModuleOptions options("", false);
    TLogFile stored = TLogFile::FromText(BuildReportText(multi->Sources, options).Text);
    EXPECT_TRUE(stored.IsDuplicate({"2.5"}, {"First: line\r\n\r\nsecond line."}));
    EXPECT_TRUE(stored.IsDuplicate({"2.5"}, {"First: line"}));
    EXPECT_FALSE(stored.IsDuplicate({"2.5"}, {"First: line\r\n\r\nother line."}));
    EXPECT_EQ(stored.GetFieldValue("2.5", 0), "First:_line\r\n.\r\nsecond line.");
    // Hidden Exception items never match.
    TReportItems items = TReportItems::All();
    for (unsigned i = riExceptionDate; i <= riExceptionMessage; ++i) items.Exclude(i);
    options.SetReportItems(items);
    TLogFile hidden = TLogFile::FromText(BuildReportText(multi->Sources, options).Text);
    EXPECT_FALSE(hidden.IsDuplicate({"2.5"}, {"First: line"}));
    EXPECT_FALSE(hidden.IsDuplicate({"2.2", "2.3", "2.4", "2.5"}, {"", "", "", ""}));
}

TEST(LogFile, FieldsAndSectionsOfAStoredReport)
{
    auto sample = reporttest::MakeSample();
    sample->Sources.CustomData = "Steps: open, start";
    TTavrelModuleOptions options("", false);
    const TErrorReport report = BuildReportText(sample->Sources, options);
    TLogFile log = TLogFile::FromText(report.Text);
    EXPECT_EQ(log.GetFieldValue("1.3", 0), "1.2.0.7");
    EXPECT_EQ(log.GetFieldValue("6.5", 0), "");
    EXPECT_EQ(log.GetFieldValue("9.9", 0), "");
    EXPECT_EQ(log.GetFieldValue("1.3", 5), "");
    EXPECT_EQ(log.GetReportVersion(0), "5.1.5");
    std::string general = report.GeneralPart;
    while (general.back() == '\r' || general.back() == '\n') general.pop_back();
    EXPECT_EQ(log.GetGeneralPart(0), general);
    const std::string stack = log.GetCallStackPart(0);
    EXPECT_EQ(stack.front(), '-');
    EXPECT_EQ(stack.back(), '-');
    EXPECT_TRUE(Contains(stack, "| Exception Thread: ID=4242")) << stack;
    const std::string modules = log.GetModulesPart(0);
    EXPECT_TRUE(Contains(modules, "|Handle          |Name")) << modules;
    EXPECT_TRUE(Contains(modules, "libc.so.6")) << modules;
    EXPECT_EQ(modules.back(), '-');
    const std::string cpu = log.GetCPUPart(0);
    EXPECT_EQ(cpu.rfind("Registers:\r\n", 0), 0u) << cpu;
    EXPECT_EQ(cpu, report.CPUPart);
    EXPECT_EQ(log.GetCustomPart(0), "Steps: open, start");

    options.SetLogFlags({});
    TLogFile bare = TLogFile::FromText(BuildReportText(sample->Sources, options).Text);
    EXPECT_EQ(bare.GetModulesPart(0), "");
    EXPECT_EQ(bare.GetCPUPart(0), "");
}

TEST(LogFile, TextThatIsNotAReportIsKeptAsideNotDestroyed)
{
    TempDir dir;
    const std::string path = dir / "damaged.tlf";
    // A report, a hand-edited piece without a table, non-UTF-8 bytes in a
    // report, then a report cut short in its table.
    const std::string foreign = "notes typed by hand\r\nabout the crash\r\n\r\n\r\n\r\n";
    std::string odd = Small("caf\xe9 \xff\xfe");
    const std::string cut = Small("cut").substr(0, Small("cut").size() - 12);
    const std::string original = Small("first") + "\r\n\r\n\r\n" + foreign + odd + "\r\n\r\n\r\n" + cut;
    testing_support::WriteFile(path, original);
    {
        TLogFile log(path, false);
        EXPECT_EQ(Messages(log), (std::vector<std::string>{"first", "caf\xe9 \xff\xfe", "cut"}));
        EXPECT_TRUE(log.HasUnreadText());
        log.AddReport(Small("new"), 10);
        log.Save();
        ASSERT_FALSE(log.SetAsideName().empty());
        EXPECT_EQ(testing_support::ReadFile(log.SetAsideName()), original);
    }
    TLogFile again(path, false);
    EXPECT_EQ(Messages(again), (std::vector<std::string>{"first", "caf\xe9 \xff\xfe", "cut", "new"}));
    EXPECT_FALSE(again.HasUnreadText());
}

TEST(LogFile, AForeignFileIsNotEmptiedByAnAppend)
{
    TempDir dir;
    const std::string path = dir / "foreign.tlf";
    std::string binary;
    for (int i = 0; i < 4096; ++i) binary += static_cast<char>(i * 31 + 7);
    testing_support::WriteFile(path, binary);
    TLogFile log(path, false);
    EXPECT_EQ(log.Count(), 0);
    log.AddReport(Small("after"), 5);
    log.Save();
    EXPECT_EQ(testing_support::ReadFile(log.SetAsideName()), binary);
    EXPECT_EQ(Messages(TLogFile(path, true)), std::vector<std::string>{"after"});
}

TEST(LogFile, AnOversizedFileLoadsItsNewestReportsAndKeepsTheRest)
{
    TempDir dir;
    const std::string path = dir / "big.tlf";
    {
        const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        ASSERT_GE(fd, 0);
        const std::string chunk = Small("old") + "\r\n\r\n\r\n";
        std::string block;
        while (block.size() < (1u << 20)) block += chunk;
        for (std::size_t written = 0; written <= kMaxLoadedLogBytes; written += block.size())
            ASSERT_EQ(::write(fd, block.data(), block.size()), static_cast<ssize_t>(block.size()));
        const std::string tail = Small("newest") + "\r\n\r\n\r\n";
        ASSERT_EQ(::write(fd, tail.data(), tail.size()), static_cast<ssize_t>(tail.size()));
        ::close(fd);
    }
    const auto size = testing_support::ReadFile(path).size();
    TLogFile log(path, false);
    EXPECT_TRUE(log.HasUnreadText());
    ASSERT_GT(log.Count(), 1000);
    EXPECT_EQ(log.GetFieldValue("2.5", 0), "old");
    EXPECT_EQ(log.GetFieldValue("2.5", log.Count() - 1), "newest");
    log.AddReport(Small("added"), 3);
    log.Save();
    struct stat kept {};
    ASSERT_EQ(::stat(log.SetAsideName().c_str(), &kept), 0);
    EXPECT_EQ(static_cast<std::size_t>(kept.st_size), size);
    EXPECT_EQ(Messages(TLogFile(path, true)), (std::vector<std::string>{"old", "newest", "added"}));
}

TEST(LogFile, AFolderAtThePathMovesTheLogUnderTheHomeFolder)
{
    TempDir dir;
    const std::string path = dir / "taken.tlf";
    ASSERT_EQ(::mkdir(path.c_str(), 0755), 0);
    const char* oldHome = std::getenv("HOME");
    const std::string savedHome = oldHome ? oldHome : "";
    ::setenv("HOME", dir.path().c_str(), 1);
    {
        TLogFile log(path, false);
        EXPECT_EQ(log.FileName().rfind(dir.path() + "/TavrelLog/", 0), 0u) << log.FileName();
        log.AddReport(Small("moved"), 5);
        log.Save();
        EXPECT_EQ(Messages(TLogFile(log.FileName(), true)), std::vector<std::string>{"moved"});
    }
    if (oldHome) ::setenv("HOME", savedHome.c_str(), 1);
    struct stat info {};
    ASSERT_EQ(::stat(path.c_str(), &info), 0);
    EXPECT_TRUE(S_ISDIR(info.st_mode));
}

// Links another account could plant where the log goes: none of them makes
// the log create, empty or write a file anywhere else.
TEST(LogFile, PlantedLinksSendNoWriteElsewhere)
{
    struct TPlant {
        const char* Where;
        const char* LinkName; // under the log's folder, or "HOME" for the fallback folder
        bool TargetExists;
    };
    const TPlant plants[] = {
        {"lock path, to a file", "report.tlf.lock", true},
        {"lock path, dangling", "report.tlf.lock", false},
        {"fallback folder", "HOME", true},
    };
    for (const TPlant& plant : plants) {
        TempDir dir, home, elsewhere;
        const std::string target = elsewhere / "victim";
        if (plant.TargetExists) testing_support::WriteFile(target, "precious");
        std::string path = dir / "report.tlf";
        if (std::string(plant.LinkName) == "HOME") {
            // The log cannot go where it is asked (a folder is in the way),
            // and $HOME/TavrelLog is a link to another folder.
            ASSERT_EQ(::mkdir(path.c_str(), 0700), 0);
            ASSERT_EQ(::symlink(elsewhere.path().c_str(), (home / "TavrelLog").c_str()), 0);
        } else {
            ASSERT_EQ(::symlink(target.c_str(), (dir / plant.LinkName).c_str()), 0);
        }
        const testing_support::TEnvScope homeScope("HOME", home.path());
        try {
            TLogFile log(path, false);
            log.AddReport(Small("secret"), 5);
            log.Save();
            ADD_FAILURE() << plant.Where << ": the log was written to " << log.FileName();
        } catch (const ELogFileError&) {
        }
        EXPECT_EQ(testing_support::ListDir(elsewhere.path()),
                  plant.TargetExists ? std::vector<std::string>{"victim"} : std::vector<std::string>{})
            << plant.Where;
        if (plant.TargetExists) {
            EXPECT_EQ(testing_support::ReadFile(target), "precious") << plant.Where;
        }
    }
}

TEST(LogFile, AnotherUsersLinkAtTheLogPathIsRefusedAndOnesOwnIsFollowed)
{
    TempDir dir, elsewhere;
    const std::string target = elsewhere / "kept.tlf";
    testing_support::WriteFile(target, Small("stored"));
    const std::string own = dir / "own.tlf";
    ASSERT_EQ(::symlink(target.c_str(), own.c_str()), 0);
    EXPECT_EQ(Messages(TLogFile(own, true)), std::vector<std::string>{"stored"});
    if (::geteuid() != 0) GTEST_SKIP() << "making another user's link needs root";
    const std::string theirs = dir / "theirs.tlf";
    ASSERT_EQ(::symlink(target.c_str(), theirs.c_str()), 0);
    ASSERT_EQ(::lchown(theirs.c_str(), 65534, 65534), 0);
    for (const bool readOnly : {true, false}) {
        try {
            TLogFile log(theirs, readOnly);
            ADD_FAILURE() << "another user's link was used";
        } catch (const ELogFileError& e) {
            EXPECT_TRUE(Contains(e.Message, "symbolic link of another user")) << e.Message;
        }
    }
    EXPECT_EQ(testing_support::ReadFile(target), Small("stored"));
    EXPECT_FALSE(testing_support::FileExists(theirs + ".lock"));
}

TEST(LogFile, AFifoAtThePathIsNeitherWaitedForNorReplaced)
{
    TempDir dir;
    const std::string path = dir / "pipe.tlf";
    ASSERT_EQ(::mkfifo(path.c_str(), 0644), 0);
    const auto r = vektest::RunInChild(
        [&] {
            TLogFile log(path, false);
            if (log.Count() != 0) return 2;
            log.AddReport(Small("x"), 5);
            try {
                log.Save();
            } catch (const ELogFileError& e) {
                std::printf("refused: %s\n", e.what());
                return 0;
            }
            return 3;
        },
        20);
    EXPECT_TRUE(r.Exited && r.ExitCode == 0) << r.Output;
    EXPECT_TRUE(Contains(r.Output, "not a regular file")) << r.Output;
    struct stat info {};
    ASSERT_EQ(::stat(path.c_str(), &info), 0);
    EXPECT_TRUE(S_ISFIFO(info.st_mode));
}

TEST(LogFile, AFailedWriteBackLeavesThePreviousLogWhole)
{
    TempDir dir;
    const std::string path = dir / "full.tlf";
    {
        TLogFile log(path, false);
        log.AddReport(Sample(1), 10);
        log.Save();
    }
    const std::string before = testing_support::ReadFile(path);
    // A file size limit below the new log's size stands in for a full disk.
    const auto r = vektest::RunInChild([&] {
        ::signal(SIGXFSZ, SIG_IGN);
        TLogFile log(path, false);
        log.AddReport(Sample(2), 10);
        const rlimit limit{static_cast<rlim_t>(before.size() + 100), static_cast<rlim_t>(before.size() + 100)};
        ::setrlimit(RLIMIT_FSIZE, &limit);
        try {
            log.Save();
        } catch (const ELogFileError& e) {
            std::printf("failed: %s\n", e.what());
            return 0;
        }
        return 3;
    });
    EXPECT_TRUE(r.Exited && r.ExitCode == 0) << r.Output;
    EXPECT_TRUE(Contains(r.Output, "Cannot write")) << r.Output;
    EXPECT_EQ(testing_support::ReadFile(path), before);
    // No temporary file is left behind.
    for (const std::string& name : testing_support::ListDir(dir.path()))
        EXPECT_TRUE(name == "full.tlf" || name == "full.tlf.lock") << name;
}

// Programs that start together find no log yet: none of them may remove
// the log another has just written while it looks for a usable place.
TEST(LogFile, ProgramsWritingTheFirstLogAtOnceLoseNothing)
{
    TempDir dir;
    constexpr int kPrograms = 4;
    constexpr int kRounds = 100;
    for (int round = 0; round < kRounds; ++round) {
        const std::string path = dir / rtl::Format("first%d.tlf", round);
        int gate[2];
        ASSERT_EQ(::pipe(gate), 0);
        pid_t children[kPrograms];
        for (int c = 0; c < kPrograms; ++c) {
            children[c] = ::fork();
            ASSERT_GE(children[c], 0);
            if (children[c] == 0) {
                ::alarm(60);
                ::close(gate[1]);
                char go;
                if (::read(gate[0], &go, 1) != 0) ::_exit(2); // all start when the gate closes
                try {
                    TLogFile log(path, false);
                    log.AddReport(Small(rtl::Format("p%d", c)), 1000);
                    log.Save();
                } catch (const std::exception& e) {
                    std::fprintf(stderr, "%s\n", e.what());
                    ::_exit(1);
                }
                ::_exit(0);
            }
        }
        ::close(gate[0]);
        ::close(gate[1]);
        for (pid_t child : children) {
            int status = 0;
            ASSERT_EQ(::waitpid(child, &status, 0), child);
            ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
        }
        ASSERT_EQ(TLogFile(path, true).Count(), kPrograms) << "round " << round;
    }
}

TEST(LogFile, TwoProcessesAppendingAtOnceLoseNothing)
{
    TempDir dir;
    const std::string path = dir / "shared.tlf";
    constexpr int kEach = 200;
    pid_t children[2];
    for (int c = 0; c < 2; ++c) {
        children[c] = ::fork();
        ASSERT_GE(children[c], 0);
        if (children[c] == 0) {
            ::alarm(120);
            try {
                for (int i = 0; i < kEach; ++i) {
                    TLogFile log(path, false);
                    log.AddReport(Small(rtl::Format("p%d-%d", c, i)), 1000);
                    log.Save();
                }
            } catch (const std::exception& e) {
                std::fprintf(stderr, "%s\n", e.what());
                ::_exit(1);
            }
            ::_exit(0);
        }
    }
    for (pid_t child : children) {
        int status = 0;
        ASSERT_EQ(::waitpid(child, &status, 0), child);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
    }
    TLogFile log(path, true);
    ASSERT_EQ(log.Count(), 2 * kEach);
    std::set<std::string> seen;
    int next[2] = {0, 0};
    for (const std::string& message : Messages(log)) {
        seen.insert(message);
        // Each process's reports stay in its own order.
        const int c = message[1] - '0';
        EXPECT_EQ(message, rtl::Format("p%d-%d", c, next[c]));
        ++next[c];
    }
    EXPECT_EQ(seen.size(), static_cast<std::size_t>(2 * kEach));
}

} // namespace
