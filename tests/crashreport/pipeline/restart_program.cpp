// Restarted by its own reporter: the first run fails with a report whose
// crash rule (one report) asks for a restart; the second run, which finds
// the first run's mark, writes down its working directory and arguments.
// Usage: pipeline_restart_program <folder> <more arguments...>
#include "pipeline_test_support.h"
#include "platform/kernel/files.h"
#include "platform/rtl/exception.h"

#include <unistd.h>

#include <fstream>

int main(int argc, char** argv)
{
    if (argc < 2) return 2;
    const std::string folder = argv[1];
    if (kernel::FileExists(folder + "/first-run")) {
        char cwd[4096] = {};
        if (!getcwd(cwd, sizeof cwd)) return 3;
        std::ofstream out(folder + "/restarted.part");
        out << "cwd=" << cwd << "\n";
        for (int i = 1; i < argc; ++i) out << "arg=" << argv[i] << "\n";
        out.close();
        rename((folder + "/restarted.part").c_str(), (folder + "/restarted").c_str());
        return 0;
    }
    std::ofstream(folder + "/first-run") << getpid();
    if (!pipelinetest::StartReporter(folder, [](auto& o) {
            o.SetBehaviourFlags({crashreport::bhCrashRule});
            o.SetCrashCount(1);
            o.SetCrashAction(crashreport::taRestart);
        }))
        return 9;
    // The program changes its directory; the restart still starts where it started.
    if (chdir("/") != 0) return 4;
    throw rtl::Exception("restart me");
}
