// A second user-interface thread with its own windows and loop, as the
// crash reporter's dialog thread is, while the first thread waits and keeps
// its own windows alive without taking input.
#include <gtest/gtest.h>

#include <atomic>
#include <future>
#include <thread>

#include "platform/ui/backend.h"
#include "platform/ui/edit.h"
#include "platform/ui/headless.h"
#include "platform/ui/message_box.h"
#include "tests/platform/ui/x11_input_lock.h"

using namespace ui;

namespace {
struct Backend : ::testing::TestWithParam<BackendKind> {
    testing_support::X11InputLock lock;
    void SetUp() override
    {
        if (!SelectBackend(GetParam())) GTEST_SKIP() << "backend not available";
    }
};
} // namespace

TEST_P(Backend, DialogOnAnotherThreadWhileThisOneWaits)
{
    Form main;
    main.SetBounds(100, 100, 300, 80);
    Edit* edit = main.Add<Edit>();
    edit->SetBounds(5, 5, 200, 21);
    main.Show();
    PumpPending(false);

    std::atomic<std::thread::id> boxThread;
    OnMessageBoxShown = [&](MessageBoxForm& box) {
        boxThread = std::this_thread::get_id();
        SimulateKey(box, VK_TAB);
        SimulateKey(box, VK_RETURN); // "No"
    };
    std::uint64_t mainNative = main.NativeHandle();
    std::promise<std::uint64_t> otherNative;
    auto result = std::async(std::launch::async, [&] {
        Form probe;
        probe.SetBounds(0, 0, 50, 50);
        probe.Show();
        otherNative.set_value(probe.NativeHandle());
        return ShowMessageBox(nullptr, "Report?", "Error.", MB_YESNO | MB_ICONERROR);
    });
    // Typing meant for this thread's form while it waits is dropped; what
    // the other thread sends it is still answered.
    SimulateText(main, "lost");
    const auto native = otherNative.get_future().get();
    while (result.wait_for(std::chrono::milliseconds(5)) != std::future_status::ready) {
        WaitMessage(5);
        PumpPending(true);
    }
    OnMessageBoxShown = nullptr;
    EXPECT_EQ(result.get(), mrNo);
    EXPECT_NE(boxThread.load(), std::this_thread::get_id());
    EXPECT_EQ(edit->Text(), "");
    if (GetParam() == BackendKind::bkX11) {
        // Each thread has its own connection and windows.
        EXPECT_NE(native, 0u);
        EXPECT_NE(native, mainNative);
    }
}

INSTANTIATE_TEST_SUITE_P(UiThreads, Backend, ::testing::Values(BackendKind::bkHeadless, BackendKind::bkX11),
                         [](const auto& info) { return info.param == BackendKind::bkX11 ? "X11" : "Headless"; });
