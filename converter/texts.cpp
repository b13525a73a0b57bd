#include "converter/cli/cli_texts.h"

#include <cstdlib>

#include "avi/recorder_decisions.h"
#include "platform/rtl/codepage.h"
#include "platform/rtl/format.h"

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
    if (chinese) return rtl::FormatStrings(rtl::CP936ToUtf8(avi::kOverwriteQuestion936), {path});
    return "Replace \"" + path + "\"?";
}

} // namespace converter
