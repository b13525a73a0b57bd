#include "converter/texts.h"

#include <cstdlib>

#include "avi/recorder_decisions.h"
#include "platform/rtl/codepage.h"
#include "platform/rtl/format.h"

namespace converter {
namespace {
// "AVI文件转换" and "AVI文件转换成功" in code page 936, as stored.
const char kCompletionCaption936[] = "AVI\xCE\xC4\xBC\xFE\xD7\xAA\xBB\xBB";
const char kCompletionText936[] = "AVI\xCE\xC4\xBC\xFE\xD7\xAA\xBB\xBB\xB3\xC9\xB9\xA6";
} // namespace

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

std::string CompletionCaption(bool chinese)
{
    return chinese ? rtl::CP936ToUtf8(kCompletionCaption936) : "AVI file conversion";
}

std::string CompletionText(const std::string& path, bool chinese)
{
    return (chinese ? rtl::CP936ToUtf8(kCompletionText936) : std::string("The AVI file was written:")) + "\n" + path;
}

std::string DataRateNotKeptText(unsigned long bytesPerSecond, int framesOver, int frames, bool chinese)
{
    const unsigned long kb = (bytesPerSecond + 512) / 1024;
    if (chinese)
        return rtl::Format("未能保持 %lu KB/秒 的数据速率：即使以压缩程序的最低质量，%d 帧中仍有 %d 帧超出其份额。"
                           "请选择更高的数据速率或更小的画面。",
                           kb, frames, framesOver);
    return rtl::Format("The data rate of %lu KB/sec was not kept: %d of %d frames are larger than their share "
                       "even at the compressor's lowest quality. Choose a higher data rate or a smaller frame.",
                       kb, framesOver, frames);
}

} // namespace converter
