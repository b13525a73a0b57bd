// An exception in a shared library's initialisation is reported on the
// thread that loads the library, without a report thread. The program
// itself carries no reporter, so the library does not delegate.
#include <gtest/gtest.h>

#include <dlfcn.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cstdint>

TEST(ModuleInitialisation, ExceptionInALibrarysInitialisationIsReportedOnTheLoadingThread)
{
    void* library = dlopen(VEK_INIT_MODULE_PATH, RTLD_NOW);
    ASSERT_NE(library, nullptr) << dlerror();
    using TInitReport = void (*)(bool*, bool*, std::uint32_t*, std::uint32_t*);
    auto report = reinterpret_cast<TInitReport>(dlsym(library, "TavrelLog_TestInitReport"));
    ASSERT_NE(report, nullptr);
    bool started = false, answer = true;
    std::uint32_t initThread = 0, pipelineThread = 0;
    report(&started, &answer, &initThread, &pipelineThread);
    EXPECT_TRUE(started);
    EXPECT_FALSE(answer); // the recording pipeline answers "dealt with"
    EXPECT_EQ(initThread, static_cast<std::uint32_t>(syscall(SYS_gettid)));
    EXPECT_EQ(pipelineThread, initThread);
}
