#pragma once
// Facts about the operating system: its release as uname and os-release
// give it, and the language and decimal separator of the user's locale (the
// locale the environment names, whatever the program itself has set).
// Not signal-safe (files, allocation, locale objects).
#include <string>

namespace kernel {

struct TOsRelease {
    std::string SystemName;    // uname: "Linux"
    std::string KernelRelease; // uname: "6.1.0-13-amd64"
    std::string KernelVersion; // uname: "#1 SMP PREEMPT_DYNAMIC Debian 6.1.55-1 (2023-09-29)"
    std::string Machine;       // uname: "x86_64"
    std::string PrettyName;    // os-release PRETTY_NAME, or NAME and VERSION
};
TOsRelease ReadOsRelease();

// The value of `key` in the text of an os-release file (quotes and escapes
// undone), or empty.
std::string OsReleaseValue(const std::string& text, const std::string& key);

// The English name of the language of the user's locale ("English",
// "German"); empty for the C and POSIX locales, which name none.
std::string LocaleLanguageName();

// The decimal separator of the user's locale ("." when it cannot be read).
std::string LocaleDecimalSeparator();

} // namespace kernel
