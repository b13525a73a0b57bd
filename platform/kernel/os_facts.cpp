#include "platform/kernel/os_facts.h"

#include <langinfo.h>
#include <locale.h>
#include <sys/utsname.h>

#include <sstream>

#include "platform/kernel/machine_facts.h"

namespace kernel {
namespace {

// A locale object made from the environment (LC_ALL, LC_*, LANG), freed
// when it goes out of scope.
class TUserLocale {
public:
    TUserLocale() : locale_(::newlocale(LC_ALL_MASK, "", static_cast<locale_t>(nullptr))) {}
    ~TUserLocale()
    {
        if (locale_ != static_cast<locale_t>(nullptr)) ::freelocale(locale_);
    }
    TUserLocale(const TUserLocale&) = delete;
    TUserLocale& operator=(const TUserLocale&) = delete;
    bool Valid() const { return locale_ != static_cast<locale_t>(nullptr); }
    std::string Item(nl_item item) const
    {
        const char* value = Valid() ? ::nl_langinfo_l(item, locale_) : nullptr;
        return value != nullptr ? value : "";
    }

private:
    locale_t locale_;
};

} // namespace

std::string OsReleaseValue(const std::string& text, const std::string& key)
{
    std::istringstream lines(text);
    for (std::string line; std::getline(lines, line);) {
        if (line.compare(0, key.size() + 1, key + "=") != 0) continue;
        std::string value = line.substr(key.size() + 1);
        if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') && value.back() == value.front()) {
            const char quote = value.front();
            std::string plain;
            for (std::size_t i = 1; i + 1 < value.size(); ++i) {
                if (quote == '"' && value[i] == '\\' && i + 2 < value.size()) ++i;
                plain += value[i];
            }
            value = plain;
        }
        return value;
    }
    return {};
}

TOsRelease ReadOsRelease()
{
    TOsRelease release;
    struct utsname names {};
    if (::uname(&names) == 0) {
        release.SystemName = names.sysname;
        release.KernelRelease = names.release;
        release.KernelVersion = names.version;
        release.Machine = names.machine;
    }
    std::string text;
    if (ReadTextFile("/etc/os-release", text) || ReadTextFile("/usr/lib/os-release", text)) {
        release.PrettyName = OsReleaseValue(text, "PRETTY_NAME");
        if (release.PrettyName.empty()) {
            release.PrettyName = OsReleaseValue(text, "NAME");
            const std::string version = OsReleaseValue(text, "VERSION");
            if (!release.PrettyName.empty() && !version.empty()) release.PrettyName += " " + version;
        }
    }
    return release;
}

std::string LocaleLanguageName()
{
    // The locale's identification carries the language's English name; the
    // C and POSIX locales leave it empty.
    return TUserLocale().Item(_NL_IDENTIFICATION_LANGUAGE);
}

std::string LocaleDecimalSeparator()
{
    TUserLocale locale;
    const std::string separator = locale.Item(RADIXCHAR);
    return separator.empty() ? "." : separator;
}

} // namespace kernel
