#include "crashreport/options/log_file_naming.h"

#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "crashreport/options/module_identity.h"
#include "crashreport/options/module_options.h"
#include "crashreport/options/option_types.h"
#include "platform/kernel/files.h"
#include "platform/kernel/process.h"
#include "platform/rtl/file_names.h"

namespace crashreport {

using rtl::ChangeFileExt;
using rtl::ExtractFileName;
using rtl::ExtractFilePath;

namespace {

constexpr std::size_t kMaxComputerName = 15;
constexpr std::size_t kMaxUserProfile = 1024;

bool EndsWithLowerTlf(const std::string& s)
{
    if (s.size() < 4) return false;
    std::string tail = s.substr(s.size() - 4);
    for (char& c : tail) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return tail == ".tlf";
}

// The fallback folders are this user's own: made owner-only, or found as a
// folder of this user. A symbolic link planted in their place is not
// followed, so no log is written where another account chose.
bool EnsureFolder(const std::string& folder) { return kernel::CreateOwnFolder(folder); }

std::string JoinPath(const std::string& folder, const std::string& name)
{
    if (!folder.empty() && folder.back() == '/') return folder + name;
    return folder + "/" + name;
}

} // namespace

std::string ComputerNameForFileName(const std::string& rawName)
{
    std::string name = rawName.substr(0, kMaxComputerName);
    for (char& c : name)
        if (std::strchr("\"*/:<>?\\|", c) != nullptr && c != '\0') c = '_';
    return name;
}

std::string ComputerNameForFileName() { return ComputerNameForFileName(kernel::GetComputerName()); }

std::string TTavrelModuleOptions::LogFilePath(const std::string& name) const
{
    if (EndsWithLowerTlf(logPath_)) return logPath_;
    std::string folder = logPath_.empty() ? ExtractFilePath(name) : logPath_;
    if (folder.empty() || folder.back() != '/') folder += '/';
    return folder + ExtractFileName(name);
}

std::string TTavrelModuleOptions::LogFileNameFor(const std::string& name, const std::string& computerName) const
{
    const std::string module = name.empty() ? moduleFile_ : name;
    std::string result = LogFilePath(ChangeFileExt(module, ".tlf"));
    if (logFlags_.Contains(lgComputerNameInFileName)) {
        const std::string file = ExtractFileName(result);
        const auto dot = file.rfind('.');
        const std::size_t at = dot == std::string::npos ? result.size() : result.size() - file.size() + dot;
        result.insert(at, ComputerNameForFileName(computerName));
        result.insert(at, 1, '_');
    }
    return result;
}

std::string TTavrelModuleOptions::LogFileName(const std::string& name) const
{
    return LogFileNameFor(name, ComputerNameForFileName());
}

bool IsUsableLogFile(const std::string& path, bool readOnly)
{
    if (path.empty()) return false;
    if (readOnly) return kernel::OpenFile(path, kernel::TFileOpen::foRead).Valid();
    if (kernel::OpenFile(path, kernel::TFileOpen::foReadWrite).Valid()) return true;
    if (errno != ENOENT) return false;
    // No log yet: the folder is probed with a name of the probe's own. Making
    // and removing the log's own name would remove a log that another
    // program renames into place in between.
    std::string probe = path + ".XXXXXX";
    if (!kernel::CreateUniqueFile(probe).Valid()) return false;
    kernel::DeleteFile(probe);
    return true;
}

bool FindWritableLogFile(std::string& path, bool withProgramFolder, bool readOnly)
{
    if (IsUsableLogFile(path, readOnly)) return true;
    std::string profile = kernel::GetEnvironmentVariable("HOME").value_or("");
    if (profile.size() > kMaxUserProfile) profile.clear(); // too long for the reporter's buffer: as if unset
    std::string folder = JoinPath(profile.empty() ? "/" : profile, "TavrelLog");
    if (!EnsureFolder(folder)) return false;
    if (withProgramFolder) {
        const std::string program = ChangeFileExt(ExtractFileName(ProgramFileName()), "");
        if (!program.empty()) {
            folder = JoinPath(folder, program);
            if (!EnsureFolder(folder)) return false;
        }
    }
    const std::string candidate = JoinPath(folder, ExtractFileName(path));
    if (!IsUsableLogFile(candidate, readOnly)) return false;
    path = candidate;
    return true;
}

} // namespace crashreport
