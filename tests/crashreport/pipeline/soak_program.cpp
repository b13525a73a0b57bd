// A program that carries the reporter and fails on many threads at once:
// each thread ends in an uncaught throw, at the same moment; the reports are
// logged and mailed in the background to the SMTP server at <port>. The
// program then ends by itself.
// Usage: pipeline_soak_program <folder> <port> <threads>
#include "pipeline_test_support.h"
#include "platform/rtl/exception.h"

#include <cstdio>
#include <cstdlib>
#include <latch>
#include <string>
#include <thread>
#include <vector>

int main(int argc, char** argv)
{
    if (argc < 4) return 2;
    const std::string folder = argv[1];
    const auto port = static_cast<std::uint16_t>(std::atoi(argv[2]));
    const int count = std::atoi(argv[3]);
    if (!pipelinetest::StartReporter(folder, [&](crashreport::TTavrelModuleOptions& o) {
            o.SetDialogFlags({});
            o.SetMailMethod(crashreport::mmSmtpClient);
            o.SetSmtpServer("127.0.0.1");
            o.SetSmtpServerPort(port);
            o.SetSmtpSender("soak@vek.invalid");
            o.SetMailRecipients("dev@vek.invalid");
            o.SetMailSubject("Soak report");
            o.SetSendFlags({crashreport::sfSendInBackground});
            o.SetMaxSavedErrors(1000);
            // Under ThreadSanitizer the signal that pauses a thread waits
            // until that thread leaves an intercepted lock, and the threads
            // here wait in the capture lock: that run reports without the
            // other threads' stacks (VEK_SOAK_OWN_STACK_ONLY=1).
            if (const char* own = std::getenv("VEK_SOAK_OWN_STACK_ONLY"); own && *own == '1') {
                o.SetStackFlags(o.StackFlags() - crashreport::TStackFlags{crashreport::stRuntimeThreads,
                                                                          crashreport::stSystemThreads});
                o.SetBehaviourFlags(o.BehaviourFlags() - crashreport::TBehaviourFlags{
                                                             crashreport::bhPauseRuntimeThreads,
                                                             crashreport::bhPauseSystemThreads});
            }
        }))
        return 9;
    std::latch start(count);
    std::vector<std::thread> threads;
    for (int i = 0; i < count; ++i)
        threads.emplace_back([&start, i] {
            start.arrive_and_wait();
            throw rtl::Exception("thread " + std::to_string(i) + " failed");
        });
    for (auto& t : threads) t.join();
    std::printf("all %d threads ended\n", count);
    return 0;
}
