// Many failures at once, in several programs at once: two programs whose
// twelve threads each end in an uncaught throw at the same moment, with the
// reports logged and mailed in the background to aiosmtpd on loopback,
// round after round (VEK_SOAK_ROUNDS, 3 by default). Every program ends by
// itself with exit code 0, its log holds every report, the server received
// every mail, and no copy of an unsent report is left behind.
#include <gtest/gtest.h>

#include "pipeline_test_support.h"
#include "platform/kernel/folder_files.h"
#include "tests/support/run_command.h"
#include "tests/support/child_process.h"
#include "tests/support/peer_process.h"
#include "tests/support/temp_dir.h"

#include <unistd.h>

#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

namespace {

constexpr int kPrograms = 2;
constexpr int kThreads = 12;

int Rounds()
{
    const char* rounds = std::getenv("VEK_SOAK_ROUNDS");
    return rounds && std::atoi(rounds) > 0 ? std::atoi(rounds) : 3;
}

// The server stores each message in a numbered folder of its own.
int CountMail(const std::string& store)
{
    return std::atoi(testing_support::ShellLine("ls " + testing_support::ShellQuote(store) + " | grep -cx '[0-9]*'").c_str());
}

TEST(PipelineSoak, ManyThreadsFailingTogetherInTwoProgramsAreAllLoggedAndMailed)
{
    testing_support::TempDir store;
    net_testing::TPeerProcess peer(net_testing::kPython, {net_testing::PeerScript("smtp_peer.py"), "store", store.path()});
    ASSERT_NE(peer.Port(), 0) << peer.Output();
    const std::string port = std::to_string(peer.Port());
    const int rounds = Rounds();
    for (int round = 0; round < rounds; ++round) {
        std::vector<testing_support::TempDir> folders(kPrograms);
        std::vector<vektest::TChildResult> results(kPrograms);
        std::vector<std::thread> runners;
        for (int p = 0; p < kPrograms; ++p)
            runners.emplace_back([&, p] {
                results[p] = vektest::RunInChild(
                    [&] {
                        const std::string threads = std::to_string(kThreads);
                        execl(VEK_SOAK_PROGRAM, VEK_SOAK_PROGRAM, folders[p].path().c_str(), port.c_str(),
                              threads.c_str(), static_cast<char*>(nullptr));
                        return 127;
                    },
                    90);
            });
        for (auto& r : runners) r.join();
        for (int p = 0; p < kPrograms; ++p) {
            const auto& r = results[p];
            ASSERT_TRUE(r.Exited && r.ExitCode == 0) << "round " << round << ", program " << p << ":\n" << r.Output;
            EXPECT_NE(r.Output.find("all 12 threads ended"), std::string::npos) << r.Output;
            EXPECT_EQ(pipelinetest::StoredReports(folders[p].path()), kThreads) << "round " << round;
            for (const auto& name : kernel::ListFolderFiles(folders[p].path()))
                EXPECT_TRUE(name == "report.tlf" || name == "report.tlf.lock") << "left behind: " << name;
        }
        ASSERT_EQ(CountMail(store.path()), (round + 1) * kPrograms * kThreads)
            << "round " << round;
    }
}

} // namespace
