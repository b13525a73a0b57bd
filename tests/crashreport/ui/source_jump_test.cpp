// The source-jump request: the record's layout, and its delivery to the
// request sockets that exist (the others are skipped).
#include <gtest/gtest.h>

#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstring>
#include <fstream>

#include "crashreport/ui/exception_dialog.h"
#include "crashreport/ui/source_jump.h"
#include "platform/ui/backend.h"
#include "platform/ui/headless.h"
#include "tests/crashreport/ui/ui_test_support.h"

namespace {

using namespace crashreport::ui;

std::int32_t Int32At(const TSourceJumpRecord& r, std::size_t offset)
{
    std::uint32_t u = 0;
    for (int i = 3; i >= 0; --i) u = (u << 8) | r[offset + static_cast<std::size_t>(i)];
    return static_cast<std::int32_t>(u);
}

TEST(SourceJump, RecordLayout)
{
    const TSourceJumpRecord r =
        BuildSourceJumpRecord("vek2avi", "converter.cpp", "TConverter", std::string(200, 'p'), "118[3]", 46000.25);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(r.data())), "vek2avi");
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(r.data() + 90)), "converter.cpp");
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(r.data() + 180)), "TConverter");
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(r.data() + 270)), std::string(89, 'p'))
        << "cut, zero-terminated";
    EXPECT_EQ(r[359], 0);
    EXPECT_EQ(Int32At(r, 360), 118);
    EXPECT_EQ(Int32At(r, 364), 3);
    double date;
    std::memcpy(&date, r.data() + 368, 8);
    EXPECT_EQ(date, 46000.25);
    const TSourceJumpRecord plain = BuildSourceJumpRecord("a", "", "", "", "31", 0);
    EXPECT_EQ(Int32At(plain, 360), 31);
    EXPECT_EQ(Int32At(plain, 364), -1) << "no number in brackets";
}

TEST(SourceJump, GoesToEverySocketThatListens)
{
    testing_support::TempDir dir;
    ::setenv("XDG_RUNTIME_DIR", dir.path().c_str(), 1);
    const int s = ::socket(AF_UNIX, SOCK_DGRAM, 0);
    ASSERT_GE(s, 0);
    sockaddr_un a{};
    a.sun_family = AF_UNIX;
    const std::string path = dir / "TavrelLog2";
    std::strncpy(a.sun_path, path.c_str(), sizeof a.sun_path - 1);
    ASSERT_EQ(::bind(s, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
    const TSourceJumpRecord r = BuildSourceJumpRecord("prog", "u.cpp", "C", "P", "7", 1.5);
    EXPECT_EQ(SendSourceJump(r), 1);
    TSourceJumpRecord got{};
    EXPECT_EQ(::recv(s, got.data(), got.size() + 1, MSG_DONTWAIT), static_cast<ssize_t>(SourceJumpRecordSize));
    EXPECT_EQ(got, r);
    ::close(s);
}

TEST(SourceJump, ActivatingALineRowSendsItsRequestAndAGroupRowFolds)
{
    ASSERT_TRUE(::ui::SelectBackend(::ui::BackendKind::bkHeadless));
    testing_support::TempDir dir;
    ::setenv("XDG_RUNTIME_DIR", dir.path().c_str(), 1);
    const int s = ::socket(AF_UNIX, SOCK_DGRAM, 0);
    sockaddr_un a{};
    a.sun_family = AF_UNIX;
    const std::string path = dir / "TavrelLog0";
    std::strncpy(a.sun_path, path.c_str(), sizeof a.sun_path - 1);
    ASSERT_EQ(::bind(s, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);

    dialogtest::TDialogFixture f;
    f.Sample->Modules[0]->CompilationDate = 46001.5;
    reporttest::CopyRowsIntoSources(*f.Sample);
    f.Options.SetFirstTab(crashreport::tabCallStack);
    f.Options.SetDialogFlags(crashreport::TDialogFlags({crashreport::dfShowDialog, crashreport::dfStartDetailed}));
    TStateFile state;
    TExceptionDialog dialog(f.Dialog, f.Choices, state);
    dialog.Show();
    dialog.PaintNow();
    ::ui::ListView* list = dialog.Page()->List();
    ASSERT_NE(list, nullptr);
    const ::ui::TRect row1 = list->ItemRect(1); // ReadFrame(int), line 118
    ::ui::SimulateDoubleClick(*list, row1.Left + 40, row1.Top + 3);
    ::ui::PumpPending(false);
    TSourceJumpRecord got{};
    ASSERT_EQ(::recv(s, got.data(), got.size(), MSG_DONTWAIT), static_cast<ssize_t>(SourceJumpRecordSize));
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(got.data() + 270)), "ReadFrame(int)");
    EXPECT_EQ(Int32At(got, 360), 118);
    double date;
    std::memcpy(&date, got.data() + 368, 8);
    EXPECT_EQ(date, 46001.5);
    const int before = list->ItemCount();
    const ::ui::TRect row0 = list->ItemRect(0);
    ::ui::SimulateDoubleClick(*list, row0.Left + 200, row0.Top + 3);
    ::ui::PumpPending(false);
    EXPECT_LT(list->ItemCount(), before) << "a group row folds on activation";
    EXPECT_LT(::recv(s, got.data(), got.size(), MSG_DONTWAIT), 0) << "and sends nothing";
    ::close(s);
}

TEST(SupportLink, AClickOpensThePageWithTheDesktopsOpener)
{
    ASSERT_TRUE(::ui::SelectBackend(::ui::BackendKind::bkHeadless));
    testing_support::TempDir bin;
    const std::string log = bin / "opened.txt";
    {
        std::ofstream script(bin / "xdg-open");
        // Written whole, then renamed: the file appears only with its text.
        script << "#!/bin/sh\nprintf '%s' \"$1\" > '" << log << ".part' && mv '" << log << ".part' '" << log << "'\n";
    }
    ::chmod((bin / "xdg-open").c_str(), 0755);
    const std::string path = std::getenv("PATH") ? std::getenv("PATH") : "";
    ::setenv("PATH", (bin.path() + ":" + path).c_str(), 1);
    dialogtest::TDialogFixture f;
    f.Options.SetSupportPage("https://example.invalid/help?id=1");
    f.Options.SetDialogFlags(crashreport::TDialogFlags({crashreport::dfShowDialog, crashreport::dfStayOnTop}));
    TStateFile state;
    TExceptionDialog dialog(f.Dialog, f.Choices, state);
    dialog.Show();
    dialog.SetStayOnTop(true);
    ASSERT_TRUE(dialog.SupportLinkShown());
    EXPECT_EQ(dialog.ExtraHeight(), 20);
    const ::ui::TRect link = dialog.SupportLinkRect();
    ::ui::SimulateClick(dialog, link.Left + 2, link.Top + 2);
    ::ui::PumpPending(false);
    for (int i = 0; i < 200 && !testing_support::FileExists(log); ++i) ::usleep(10000);
    ::setenv("PATH", path.c_str(), 1);
    EXPECT_EQ(testing_support::ReadFile(log), "https://example.invalid/help?id=1");
    EXPECT_FALSE(dialog.StayOnTop());
}

} // namespace
