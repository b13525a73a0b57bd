// The child runners themselves: a child that writes far more than a pipe
// holds, traced and untraced, reaches its end with every byte collected.
#include <gtest/gtest.h>

#include <unistd.h>

#include <string>

#include "tests/support/child_process.h"

namespace {

constexpr std::size_t kBig = 1 << 20; // sixteen times what a pipe holds

int WriteBig()
{
    const std::string out(kBig, 'o'), err(kBig, 'e');
    for (int i = 0; i < 2; ++i) {
        const std::string& text = i == 0 ? out : err;
        for (std::size_t done = 0; done < text.size();) {
            const ssize_t n = write(i == 0 ? 1 : 2, text.data() + done, text.size() - done);
            if (n <= 0) return 2;
            done += static_cast<std::size_t>(n);
        }
    }
    return 5;
}

} // namespace

TEST(TracedChild, OutputLargerThanAPipeIsReadWhileTheChildRuns)
{
    for (bool traced : {true, false}) {
        const vektest::TTracedChildResult r = vektest::RunTracedChild(traced, &WriteBig);
        ASSERT_TRUE(r.Exited) << "traced " << traced << ", signal " << r.Signal;
        EXPECT_EQ(r.ExitCode, 5);
        EXPECT_EQ(r.Stdout, std::string(kBig, 'o'));
        EXPECT_EQ(r.Stderr, std::string(kBig, 'e'));
    }
}

TEST(TracedChild, SignalsOtherThanTheTracingsOwnReachTheChild)
{
    const vektest::TTracedChildResult r = vektest::RunTracedChild(true, [] {
        raise(SIGUSR1);
        return 0;
    });
    EXPECT_TRUE(r.Signaled);
    EXPECT_EQ(r.Signal, SIGUSR1);
}
