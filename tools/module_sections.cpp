#include "tools/module_sections.h"

#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>

#include "platform/rtl/exception.h"

extern char** environ;

namespace tools {
namespace {

void WriteFile(const std::string& path, const std::vector<std::uint8_t>& bytes)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
    if (!out) throw rtl::Exception("Cannot write \"" + path + "\".");
}

void Run(const std::vector<std::string>& args)
{
    std::vector<char*> argv;
    for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    pid_t pid = 0;
    const int rc = posix_spawnp(&pid, argv[0], nullptr, nullptr, argv.data(), environ);
    if (rc != 0) throw rtl::Exception("Cannot start " + args[0] + ": " + std::strerror(rc));
    int status = 0;
    while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {}
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0)
        throw rtl::Exception(args[0] + " failed on \"" + args.back() + "\".");
}

// Temporary files next to the module, removed whatever happens.
struct TTempFile {
    explicit TTempFile(std::string p) : path(std::move(p)) {}
    ~TTempFile() { std::remove(path.c_str()); }
    std::string path;
};

} // namespace

void WriteSections(const std::string& module, const std::vector<std::uint8_t>& data,
                   const std::vector<std::uint8_t>& version, const std::string& objcopy)
{
    const std::string stem = module + "." + std::to_string(getpid());
    TTempFile dataFile(stem + ".tldata"), versionFile(stem + ".tlversion"), output(stem + ".out");
    WriteFile(dataFile.path, data);
    WriteFile(versionFile.path, version);
    Run({objcopy, "--remove-section=.tldata", "--remove-section=.tlversion", "--add-section",
         ".tldata=" + dataFile.path, "--set-section-flags", ".tldata=noload,readonly", "--add-section",
         ".tlversion=" + versionFile.path, "--set-section-flags", ".tlversion=noload,readonly", module, output.path});
    if (std::rename(output.path.c_str(), module.c_str()) != 0)
        throw rtl::Exception("Cannot replace \"" + module + "\": " + std::strerror(errno));
}

void AppendFileEndBlock(const std::string& module, const std::vector<std::uint8_t>& block)
{
    std::ofstream out(module, std::ios::binary | std::ios::app);
    out.write(reinterpret_cast<const char*>(block.data()), std::streamsize(block.size()));
    if (!out) throw rtl::Exception("Cannot append to \"" + module + "\".");
}

} // namespace tools
