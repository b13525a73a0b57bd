// A GTK 3 program with the reporter, on the X server in $DISPLAY, in a child
// process: a button's "clicked" handler that throws, one that writes
// through a null pointer (both clicked for real with xdotool) and an idle
// callback that throws are each reported once, as the application object's
// handler reports (raiser kind 1: the reporter brings the application to
// the front), with the handler's name and line in the stored report; the
// main loop goes on, answers a later timeout and the program ends with 0.
// With the reporter switched off the same failures only reach standard
// error. Guarded handlers are still found by their function (also by many
// threads at once), as GTK programs block and disconnect them.
#include <gtest/gtest.h>
#include <gtk/gtk.h>

#include "crashreport/pipeline/gtk_closures.h"
#include "crashreport/pipeline/gtk_interceptors.h"
#include "crashreport/pipeline/pipeline_desktop.h"
#include "pipeline_test_support.h"
#include "platform/rtl/exception.h"
#include "tests/platform/ui/x11_input_lock.h"
#include "tests/support/child_process.h"
#include "tests/support/temp_dir.h"

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

using pipelinetest::Occurrences;
using pipelinetest::StoredReport;
using pipelinetest::StoredReports;

// The failing places: each k...Line is the line of the failing statement
// three lines below it, the line the report must name.
int g_throwCalls = 0, g_faultCalls = 0, g_idleCalls = 0;
// A page nothing is mapped at, not null: the fault must reach the processor
// also where the sanitizer checks stores through null pointers.
int* volatile g_nowhere = reinterpret_cast<int*>(0x40);

// GtkButton has no class handler of "clicked": with one handler connected,
// GLib would call it on its fast path, through the signal's va marshaller
// without g_closure_invoke; the guard must catch there too.
constexpr int kThrowLine = __LINE__ + 3;
void ThrowingClicked(GtkButton*, gpointer)
{
    ++g_throwCalls, throw rtl::Exception("clicked handler failed");
}

constexpr int kFaultLine = __LINE__ + 3;
void FaultingClicked(GtkButton*, gpointer)
{
    ++g_faultCalls, *g_nowhere = 7;
}

constexpr int kIdleLine = __LINE__ + 3;
gboolean ThrowingIdle(gpointer)
{
    ++g_idleCalls, throw rtl::Exception("idle callback failed");
}

namespace {

GtkWidget* g_window = nullptr;
GtkWidget* g_throwButton = nullptr;
GtkWidget* g_faultButton = nullptr;
int g_step = 0;
bool g_mapped = false; // the X server has mapped the window

gboolean OnMapped(GtkWidget*, GdkEvent*, gpointer)
{
    g_mapped = true;
    return FALSE;
}
std::chrono::steady_clock::time_point g_deadline;
std::chrono::steady_clock::time_point g_clicked; // of the last click

void PrintFront() { vektest::WriteOut("FRONT\n"); }

// A real click in the middle of the button, through the X server.
void Click(GtkWidget* button)
{
    GtkAllocation at;
    gtk_widget_get_allocation(button, &at);
    int x = 0, y = 0;
    gdk_window_get_origin(gtk_widget_get_window(button), &x, &y);
    g_clicked = std::chrono::steady_clock::now();
    const std::string command = "xdotool mousemove --sync " + std::to_string(x + at.x + at.width / 2) + " " +
        std::to_string(y + at.y + at.height / 2) + " click 1";
    GError* error = nullptr;
    if (!g_spawn_command_line_async(command.c_str(), &error)) {
        std::printf("no xdotool: %s\n", error->message);
        g_error_free(error);
        gtk_main_quit();
    }
}

// A click whose handler has not even begun after this long was lost (the
// X server took it before the window was ready for it): it is made again.
constexpr auto kClickLost = std::chrono::seconds(3);

// Steps through the failures, one after the other finished; quits with
// the marker once the loop answered after all three.
gboolean Drive(gpointer)
{
    if (std::chrono::steady_clock::now() > g_deadline) {
        std::printf("STUCK at step %d\n", g_step);
        gtk_main_quit();
        return FALSE;
    }
    switch (g_step) {
    case 0:
        if (!g_mapped) return TRUE;
        Click(g_throwButton);
        break;
    case 1:
        if (g_throwCalls == 0) {
            if (std::chrono::steady_clock::now() - g_clicked > kClickLost) Click(g_throwButton);
            return TRUE;
        }
        Click(g_faultButton);
        break;
    case 2:
        if (g_faultCalls == 0) {
            if (std::chrono::steady_clock::now() - g_clicked > kClickLost) Click(g_faultButton);
            return TRUE;
        }
        g_idle_add(&ThrowingIdle, nullptr);
        break;
    case 3:
        if (g_idleCalls == 0) return TRUE;
        std::printf("LOOP GOES ON throw=%d fault=%d idle=%d\n", g_throwCalls, g_faultCalls, g_idleCalls);
        gtk_main_quit();
        return FALSE;
    }
    ++g_step;
    return TRUE;
}

int RunGtkProgram(const std::string& folder, bool reporterActive)
{
    crashreport::TReporterParts parts;
    parts.Desktop.BringApplicationToFront = &PrintFront;
    const auto configure = [&](crashreport::TTavrelModuleOptions& o) { o.SetReporterActive(reporterActive); };
    if (!pipelinetest::StartReporter(folder, configure, &parts)) return 9;
    if (!crashreport::GtkInterceptorsInstalled()) return 8;
    if (!gtk_init_check(nullptr, nullptr)) return 77;
    g_window = gtk_window_new(GTK_WINDOW_TOPLEVEL);
    GtkWidget* box = gtk_box_new(GTK_ORIENTATION_VERTICAL, 8);
    g_throwButton = gtk_button_new_with_label("Throw");
    g_faultButton = gtk_button_new_with_label("Fault");
    g_signal_connect(g_throwButton, "clicked", G_CALLBACK(&ThrowingClicked), nullptr);
    g_signal_connect(g_faultButton, "clicked", G_CALLBACK(&FaultingClicked), nullptr);
    gtk_box_pack_start(GTK_BOX(box), g_throwButton, TRUE, TRUE, 0);
    gtk_box_pack_start(GTK_BOX(box), g_faultButton, TRUE, TRUE, 0);
    gtk_container_add(GTK_CONTAINER(g_window), box);
    gtk_window_set_default_size(GTK_WINDOW(g_window), 240, 160);
    g_signal_connect(g_window, "map-event", G_CALLBACK(&OnMapped), nullptr);
    gtk_widget_show_all(g_window);
    g_deadline = std::chrono::steady_clock::now() + std::chrono::seconds(40);
    g_timeout_add(50, &Drive, nullptr);
    gtk_main();
    return 0;
}

// The stored report's row of `procedure`, or empty.
std::string RowOf(const std::string& report, const std::string& procedure)
{
    const std::size_t at = report.find(procedure);
    if (at == std::string::npos) return {};
    const std::size_t begin = report.rfind('\n', at) + 1;
    return report.substr(begin, report.find('\r', at) - begin);
}

// The line cell of a call-stack row ("46  " or "46[3]"): its number.
int LineOf(const std::string& row)
{
    const std::size_t end = row.rfind('|');
    const std::size_t begin = row.rfind('|', end - 1);
    if (end == std::string::npos || begin == std::string::npos) return -1;
    return std::atoi(row.c_str() + begin + 1);
}

TEST(GtkFramework, FailingHandlersAndCallbacksAreReportedOnceAndTheLoopGoesOn)
{
    testing_support::X11InputLock input;
    testing_support::TempDir dir;
    const auto r = vektest::RunInChild([&] { return RunGtkProgram(dir.path(), true); }, 60);
    if (r.Exited && r.ExitCode == 77) GTEST_SKIP() << "no X display for GTK";
    ASSERT_TRUE(r.Exited && r.ExitCode == 0) << r.Output;
    EXPECT_NE(r.Output.find("LOOP GOES ON throw=1 fault=1 idle=1"), std::string::npos) << r.Output;
    EXPECT_EQ(Occurrences(r.Output, "FRONT\n"), 3) << r.Output;
    ASSERT_EQ(StoredReports(dir.path()), 3) << r.Output;

    struct TCase {
        const char* procedure;
        const char* message;
        int line;
    };
    const TCase cases[] = {
        {"ThrowingClicked", "clicked handler failed", kThrowLine},
        {"FaultingClicked", "Access violation", kFaultLine},
        {"ThrowingIdle", "idle callback failed", kIdleLine},
    };
    for (int i = 0; i < 3; ++i) {
        const TCase& c = cases[i];
        const std::string report = StoredReport(dir.path(), i);
        SCOPED_TRACE(c.procedure);
        EXPECT_NE(report.find("2.5 Message: " + std::string(c.message)), std::string::npos) << report;
        const std::string row = RowOf(report, c.procedure);
        ASSERT_FALSE(row.empty()) << report;
        EXPECT_EQ(LineOf(row), c.line) << row;
    }
}

// With the reporter switched off the guards still keep the failures out of
// GTK's frames: each message goes to standard error and the loop goes on.
TEST(GtkFramework, WithTheReporterOffFailuresGoToStandardErrorAndTheLoopGoesOn)
{
    testing_support::X11InputLock input;
    testing_support::TempDir dir;
    const auto r = vektest::RunInChild([&] { return RunGtkProgram(dir.path(), false); }, 60);
    if (r.Exited && r.ExitCode == 77) GTEST_SKIP() << "no X display for GTK";
    ASSERT_TRUE(r.Exited && r.ExitCode == 0) << r.Output;
    EXPECT_NE(r.Output.find("LOOP GOES ON throw=1 fault=1 idle=1"), std::string::npos) << r.Output;
    EXPECT_EQ(Occurrences(r.Output, "Exception in a GTK callback: "), 3) << r.Output;
    EXPECT_NE(r.Output.find("Exception in a GTK callback: clicked handler failed"), std::string::npos) << r.Output;
    EXPECT_NE(r.Output.find("Exception in a GTK callback: Access violation"), std::string::npos) << r.Output;
    EXPECT_EQ(Occurrences(r.Output, "FRONT\n"), 0) << r.Output;
    EXPECT_EQ(StoredReports(dir.path()), 0) << r.Output;
}

int g_counted = 0;
void CountChanged(GtkAdjustment*, gpointer) { ++g_counted; }
void OtherChanged(GtkAdjustment*, gpointer) {}

// A guarded handler is still found by its function, as GTK programs find
// theirs to block, unblock or disconnect them; its data's destroy notifier
// still runs when GLib frees it.
TEST(GtkFramework, GuardedHandlersAreFoundByTheirFunction)
{
    testing_support::TempDir dir;
    const auto r = vektest::RunInChild([&] {
        if (!pipelinetest::StartReporter(dir.path())) return 9;
        if (!crashreport::GtkInterceptorsInstalled()) return 8;
        GtkAdjustment* adjustment = gtk_adjustment_new(0, 0, 1, 1, 1, 0); // needs no display
        g_object_ref_sink(adjustment);
        const auto changed = [&] { g_signal_emit_by_name(adjustment, "value-changed"); };
        const auto func = reinterpret_cast<gpointer>(&CountChanged);
        int data = 0;
        const gulong id = g_signal_connect(adjustment, "value-changed", G_CALLBACK(&CountChanged), &data);
        int destroyed = 0;
        g_signal_connect_data(adjustment, "value-changed", G_CALLBACK(&OtherChanged), &destroyed,
                              [](gpointer d, GClosure*) { ++*static_cast<int*>(d); }, GConnectFlags(0));
        const gulong found = g_signal_handler_find(adjustment, G_SIGNAL_MATCH_FUNC, 0, 0, nullptr, func, nullptr);
        const guint blocked = g_signal_handlers_block_by_func(adjustment, func, &data);
        changed();
        const int whileBlocked = g_counted;
        const guint unblocked = g_signal_handlers_unblock_by_func(adjustment, func, &data);
        changed();
        const int afterUnblock = g_counted;
        const guint disconnected = g_signal_handlers_disconnect_by_func(adjustment, func, &data);
        changed();
        g_object_unref(adjustment);
        std::printf("found=%d blocked=%u counted=%d unblocked=%u counted=%d disconnected=%u counted=%d destroyed=%d\n",
                    found == id ? 1 : 0, blocked, whileBlocked, unblocked, afterUnblock, disconnected, g_counted,
                    destroyed);
        return 0;
    });
    EXPECT_TRUE(r.Exited && r.ExitCode == 0) << r.Output;
    EXPECT_NE(r.Output.find("found=1 blocked=1 counted=0 unblocked=1 counted=1 disconnected=1 counted=1 destroyed=1"),
              std::string::npos)
        << r.Output;
}

void Notified(GObject*, GParamSpec*, gpointer) {}

// Threads that connect handlers and disconnect them by their function at
// once: every disconnection finds both of its object's handlers, and every
// closure is forgotten once GLib frees it.
TEST(GtkFramework, GuardedClosuresAreKeptAndForgottenOnManyThreadsAtOnce)
{
    testing_support::TempDir dir;
    const auto r = vektest::RunInChild([&] {
        if (!pipelinetest::StartReporter(dir.path())) return 9;
        if (!crashreport::GtkInterceptorsInstalled()) return 8;
        const int before = crashreport::gtk::GuardedClosureCount();
        std::atomic<int> wrong{0};
        std::vector<std::thread> threads;
        for (int t = 0; t < 4; ++t)
            threads.emplace_back([&] {
                int data = 0;
                for (int i = 0; i < 5000; ++i) {
                    GObject* object = G_OBJECT(g_object_new(G_TYPE_OBJECT, nullptr));
                    g_signal_connect(object, "notify", G_CALLBACK(&Notified), &data);
                    g_signal_connect(object, "notify", G_CALLBACK(&Notified), &data);
                    if (crashreport::gtk::GuardedClosureCount() - before < 2) ++wrong; // these two are guarded
                    if (g_signal_handlers_disconnect_by_func(object, reinterpret_cast<gpointer>(&Notified), &data) != 2)
                        ++wrong;
                    g_object_unref(object);
                }
            });
        for (std::thread& thread : threads) thread.join();
        std::printf("wrong=%d left=%d\n", wrong.load(), crashreport::gtk::GuardedClosureCount() - before);
        return 0;
    }, 120);
    EXPECT_TRUE(r.Exited && r.ExitCode == 0) << r.Output;
    EXPECT_NE(r.Output.find("wrong=0 left=0"), std::string::npos) << r.Output;
}

} // namespace
