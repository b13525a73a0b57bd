// A program that uses the reporter only through tavrellog/tavrellog.h. The
// reporter starts before this program's own static objects are made, from
// the stored options alone; reports go to standard output.
//
//   autostart_app          says whether the reporter ran before its statics
//   autostart_app crash    writes through a null pointer in Store()
//   autostart_app caught   has exceptions it caught reported: with custom
//                          data, cancelled by its handler, after options
//                          that show nothing; and gives bad options
//   autostart_app restart  stops the reporter, then starts it again
#include <dlfcn.h>

#include <cstdio>
#include <cstring>
#include <stdexcept>
#include <string>

#include "tavrellog/tavrellog.h"

namespace {

struct TProgramStatic {
    TProgramStatic() : Running(tavrellog::Running()) {}
    bool Running;
};
TProgramStatic g_static;

void Say(const std::string& text)
{
    std::printf("%s\n", text.c_str());
    std::fflush(stdout);
}

} // namespace

namespace app {

volatile int* g_slots = nullptr;

__attribute__((noinline, noclone)) int Store(int value)
{
    g_slots[value] = value; // the fault
    return value;
}

__attribute__((noinline, noclone)) int Parse(const char* text)
{
    if (std::strlen(text) < 64) throw std::runtime_error(std::string("short input: ") + text); // the throw
    return 0;
}

// Reports the exception Parse raises for `text`; the program goes on.
bool ParseAndReport(const char* text)
{
    try {
        return app::Parse(text) != 0;
    } catch (const std::exception& e) {
        return tavrellog::ReportException(e);
    }
}

} // namespace app

int main(int argc, char** argv)
{
    const char* ask = argc > 1 ? argv[1] : "";
    Say(std::string("reporter before statics: ") + (g_static.Running ? "on" : "off"));
    if (std::strcmp(ask, "crash") == 0) return app::Store(5);
    if (std::strcmp(ask, "caught") == 0) {
        tavrellog::SetCustomDataHandler([](const tavrellog::ExceptionInfo& e) {
            return "order 4711 for [" + e.Message + "]";
        });
        tavrellog::SetExceptionHandler(
            [](const tavrellog::ExceptionInfo& e) { return e.Message.find("quiet") == std::string::npos; });
        Say(std::string("first reported: ") + (app::ParseAndReport("first") ? "yes" : "no"));
        Say(std::string("quiet reported: ") + (app::ParseAndReport("quiet") ? "yes" : "no"));
        std::string error;
        const bool bad = tavrellog::SetOptions("SaveLog = false\nNoSuchOption = 1\n", &error);
        Say(std::string("bad options: ") + (bad ? "taken" : "refused, " + error));
        Say(std::string("no dialog: ") + (tavrellog::SetOptions("# nothing shown\nDialogFlags =\n") ? "taken" : "refused"));
        Say(std::string("unshown reported: ") + (app::ParseAndReport("unshown") ? "yes" : "no"));
        return 0;
    }
    if (std::strcmp(ask, "plugin") == 0 && argc > 2) {
        // A library loaded after the reporter started, whose throw nothing catches.
        void* plugin = ::dlopen(argv[2], RTLD_NOW);
        auto* run = plugin ? reinterpret_cast<int (*)(int)>(::dlsym(plugin, "PluginRun")) : nullptr;
        if (!run) {
            Say(std::string("no plugin: ") + ::dlerror());
            return 3;
        }
        return run(3);
    }
    if (std::strcmp(ask, "restart") == 0) {
        tavrellog::Stop();
        Say(std::string("stopped: running ") + (tavrellog::Running() ? "yes" : "no") + ", reported " +
            (app::ParseAndReport("stopped") ? "yes" : "no"));
        Say(std::string("started: ") + (tavrellog::Start() ? "yes" : "no"));
        Say(std::string("restarted reported: ") + (app::ParseAndReport("restarted") ? "yes" : "no"));
        return 0;
    }
    return 0;
}
