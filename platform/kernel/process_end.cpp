#include "platform/kernel/process_end.h"

#include "platform/kernel/modules.h"
#include "platform/kernel/process_facts.h"

#include <signal.h>
#include <spawn.h>
#include <unistd.h>

#include <cstring>

extern char** environ;

namespace kernel {
namespace {

char g_startupDirectory[4096];

// Before the program's own static objects: a program may change its
// directory in its initialisation.
__attribute__((constructor(101))) void RememberStartupDirectory()
{
    if (!getcwd(g_startupDirectory, sizeof g_startupDirectory)) g_startupDirectory[0] = 0;
}

} // namespace

const char* StartupDirectory() { return g_startupDirectory; }

int SpawnProgram(const std::string& program, const std::vector<std::string>& arguments, const std::string& directory)
{
    std::vector<char*> argv;
    for (const auto& a : arguments) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawnattr_t attributes;
    if (posix_spawn_file_actions_init(&actions) != 0) return 0;
    if (posix_spawnattr_init(&attributes) != 0) {
        posix_spawn_file_actions_destroy(&actions);
        return 0;
    }
    int result = 0;
    bool ready = posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSID | POSIX_SPAWN_SETSIGMASK) == 0;
    // The new program starts with no signal blocked, whatever thread asks.
    sigset_t none;
    sigemptyset(&none);
    ready = ready && posix_spawnattr_setsigmask(&attributes, &none) == 0;
    if (!directory.empty()) ready = ready && posix_spawn_file_actions_addchdir_np(&actions, directory.c_str()) == 0;
    pid_t pid = 0;
    if (ready && posix_spawn(&pid, program.c_str(), &actions, &attributes, argv.data(), environ) == 0)
        result = static_cast<int>(pid);
    posix_spawnattr_destroy(&attributes);
    posix_spawn_file_actions_destroy(&actions);
    return result;
}

int SpawnSameProgram()
{
    std::vector<std::string> arguments;
    std::string program = MainExecutablePath();
    arguments.push_back(program);
    for (auto& p : GetCommandLineParameters()) arguments.push_back(std::move(p));
    return SpawnProgram(program, arguments, StartupDirectory());
}

void TerminateProcess(int exitCode) { _exit(exitCode); }

} // namespace kernel
