#include "converter/cli/cli_texts.h"

#include <cstdlib>

namespace converter {

bool LocaleWantsChinese()
{
    // The first of these that is set decides, as for the C library's messages.
    for (const char* name : {"LC_ALL", "LC_MESSAGES", "LANG"}) {
        const char* value = std::getenv(name);
        if (value && *value) return std::string(value).rfind("zh", 0) == 0;
    }
    return false;
}

std::string OverwriteQuestion(const std::string& path, bool chinese)
{
    // "是否覆盖 %s?"
    if (chinese) return "\xE6\x98\xAF\xE5\x90\xA6\xE8\xA6\x86\xE7\x9B\x96 " + path + "?";
    return "Replace \"" + path + "\"?";
}

} // namespace converter
