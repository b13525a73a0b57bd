#include "crashreport/ui/state_file.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <vector>

#include "crashreport/options/log_file_naming.h"
#include "platform/kernel/file_lock.h"
#include "platform/kernel/files.h"
#include "platform/kernel/process.h"

namespace crashreport::ui {

namespace {

// A state file is a few hundred bytes: anything far larger is not ours.
constexpr std::uint64_t kMaxStateFileSize = 64 * 1024;
// Values are read as the original reader did, into a 2048-byte buffer.
constexpr std::size_t kValueBuffer = 2048;

std::string Trim(const std::string& s)
{
    std::size_t b = 0, e = s.size();
    while (b < e && (s[b] == ' ' || s[b] == '\t')) ++b;
    while (e > b && (s[e - 1] == ' ' || s[e - 1] == '\t' || s[e - 1] == '\r')) --e;
    return s.substr(b, e - b);
}

std::string Lower(std::string s)
{
    for (char& c : s)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return s;
}

std::vector<std::string> Lines(const std::string& text)
{
    std::vector<std::string> lines;
    std::size_t start = 0;
    while (start < text.size()) {
        std::size_t end = text.find('\n', start);
        if (end == std::string::npos) end = text.size();
        lines.push_back(text.substr(start, end - start));
        start = end + 1;
    }
    return lines;
}

// "[name]" -> name; none for any other line.
std::optional<std::string> SectionOf(const std::string& line)
{
    const std::string t = Trim(line);
    if (t.size() < 2 || t.front() != '[' || t.back() != ']') return std::nullopt;
    return Trim(t.substr(1, t.size() - 2));
}

std::optional<int> ParseInteger(std::string value)
{
    if (value.size() >= kValueBuffer) value.resize(kValueBuffer - 1);
    value = Trim(value);
    if (value.empty() || value.size() > 12) return std::nullopt;
    std::size_t i = 0;
    if (value[0] == '-' || value[0] == '+') ++i;
    if (i == value.size()) return std::nullopt;
    for (std::size_t k = i; k < value.size(); ++k)
        if (value[k] < '0' || value[k] > '9') return std::nullopt;
    const long long n = std::strtoll(value.c_str(), nullptr, 10);
    if (n < INT_MIN || n > INT_MAX) return std::nullopt;
    return static_cast<int>(n);
}

std::string ReadWhole(const std::string& path)
{
    kernel::TUniqueFd fd = kernel::OpenRegularFileForReading(path);
    if (!fd.Valid()) return {};
    const auto size = kernel::GetFileSize(fd.Get());
    if (!size || *size > kMaxStateFileSize) return {};
    std::string text(static_cast<std::size_t>(*size), '\0');
    const std::ptrdiff_t got = kernel::ReadFile(fd.Get(), text.data(), text.size());
    if (got < 0) return {};
    text.resize(static_cast<std::size_t>(got));
    // Text with NUL bytes is not an ini file.
    if (text.find('\0') != std::string::npos) return {};
    return text;
}

} // namespace

std::string DefaultStateFilePath()
{
    std::string folder;
    if (auto config = kernel::GetEnvironmentVariable("XDG_CONFIG_HOME");
        config && !config->empty() && (*config)[0] == '/')
        folder = *config;
    else if (auto home = kernel::GetEnvironmentVariable("HOME"); home && !home->empty())
        folder = *home + "/.config";
    else
        folder = "/tmp";
    if (folder.back() != '/') folder += '/';
    return folder + kStateFileName;
}

TStateFile::TStateFile(std::string path) : path_(std::move(path)) {}

std::string TStateFile::ReadText() const
{
    if (kernel::FileExists(path_)) return ReadWhole(path_);
    // Written to the fallback folder before, when this place was not writable.
    std::string fallback = path_;
    if (FindWritableLogFile(fallback, false, true) && fallback != path_) return ReadWhole(fallback);
    return {};
}

std::optional<int> TStateFile::Find(const std::string& key) const
{
    bool inSection = false;
    std::optional<int> found;
    for (const std::string& line : Lines(ReadText())) {
        if (auto section = SectionOf(line)) {
            inSection = Lower(*section) == Lower(kStateSection);
            continue;
        }
        if (!inSection) continue;
        const std::size_t eq = line.find('=');
        if (eq == std::string::npos || Lower(Trim(line.substr(0, eq))) != Lower(key)) continue;
        // The first occurrence counts, as the system's ini reader does.
        return ParseInteger(line.substr(eq + 1));
    }
    return found;
}

int TStateFile::ReadInteger(const std::string& key, int defaultValue) const { return Find(key).value_or(defaultValue); }

bool TStateFile::WriteIntegers(const std::map<std::string, int>& values)
{
    std::string target = path_;
    const std::size_t slash = target.rfind('/');
    if (slash != std::string::npos && slash > 0) kernel::CreateFolder(target.substr(0, slash));
    if (!FindWritableLogFile(target, false, false)) return false;
    const std::string old = ReadWhole(target);
    std::vector<std::string> lines = Lines(old);
    std::map<std::string, int> pending = values;
    std::vector<std::string> out;
    bool inSection = false, sawSection = false;
    auto flushPending = [&]() {
        for (const auto& [key, value] : pending) out.push_back(key + "=" + std::to_string(value));
        pending.clear();
    };
    for (std::string line : lines) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (auto section = SectionOf(line)) {
            if (inSection) flushPending();
            inSection = Lower(*section) == Lower(kStateSection);
            sawSection = sawSection || inSection;
            out.push_back(line);
            continue;
        }
        if (inSection) {
            const std::size_t eq = line.find('=');
            if (eq != std::string::npos) {
                const std::string key = Trim(line.substr(0, eq));
                auto it = std::find_if(pending.begin(), pending.end(),
                                       [&](const auto& kv) { return Lower(kv.first) == Lower(key); });
                if (it != pending.end()) {
                    out.push_back(it->first + "=" + std::to_string(it->second));
                    pending.erase(it);
                    continue;
                }
            }
        }
        out.push_back(line);
    }
    if (inSection) flushPending();
    if (!pending.empty()) {
        if (!out.empty() && !out.back().empty()) out.emplace_back();
        out.push_back(std::string("[") + kStateSection + "]");
        flushPending();
    }
    (void)sawSection;
    std::string text;
    for (const std::string& line : out) text += line + "\n";

    // Written beside the target and renamed over it in one step; a new file
    // is owner-only, one being replaced keeps the mode its owner gave it.
    std::string temp = target + ".XXXXXX";
    kernel::TUniqueFd fd = kernel::CreateUniqueFile(temp);
    if (!fd.Valid()) return false;
    const auto previousMode = kernel::GetFileMode(target);
    const bool written =
        kernel::WriteFile(fd.Get(), text.data(), text.size()) == static_cast<std::ptrdiff_t>(text.size()) &&
        (!previousMode || kernel::SetFileMode(fd.Get(), *previousMode));
    if (!fd.Close() || !written || !kernel::MoveFile(temp, target)) {
        kernel::DeleteFile(temp);
        return false;
    }
    return true;
}

} // namespace crashreport::ui
