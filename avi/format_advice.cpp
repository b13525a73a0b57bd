#include "avi/format_advice.h"

#include "platform/rtl/format.h"

namespace avi {

bool TakesFrameSize(const avifile::CompressorInfo& compressor, int width, int height)
{
    if (width < 1 || height < 1 || width > kMaxFrameSide || height > kMaxFrameSide) return false;
    const int wm = compressor.widthMultiple > 0 ? compressor.widthMultiple : 1;
    const int hm = compressor.heightMultiple > 0 ? compressor.heightMultiple : 1;
    return width % wm == 0 && height % hm == 0;
}

std::vector<avifile::CompressorInfo> CompressorsForSize(int width, int height)
{
    std::vector<avifile::CompressorInfo> fitting;
    for (const auto& c : avifile::InstalledCompressors())
        if (TakesFrameSize(c, width, height)) fitting.push_back(c);
    return fitting;
}

std::string ShownFourCC(avifile::FOURCC code)
{
    std::string text = avifile::FourCCToString(code);
    while (!text.empty() && (text.back() == ' ' || text.back() == '\0')) text.pop_back();
    return text;
}

std::string FrameSizeAdvice(avifile::FOURCC fourcc, int width, int height)
{
    avifile::CompressorInfo info{};
    const bool known = avifile::FindCompressor(fourcc, &info);
    std::string reason;
    if (width < 1 || height < 1 || width > kMaxFrameSide || height > kMaxFrameSide) {
        reason = rtl::Format("An AVI file holds frames of 1 to %d pixels in width and height; the frames are %d x %d",
                             kMaxFrameSide, width, height);
    } else if (known && !TakesFrameSize(info, width, height)) {
        const int wm = info.widthMultiple, hm = info.heightMultiple;
        const std::string rule = wm == hm
            ? rtl::Format("a width and height that are multiples of %d", wm)
            : rtl::Format("a width that is a multiple of %d and a height that is a multiple of %d", wm, hm);
        reason = info.name + " needs " + rule + rtl::Format("; the frames are %d x %d", width, height);
    } else {
        return {};
    }
    const auto fitting = CompressorsForSize(width, height);
    if (fitting.empty()) return reason + ". No installed compressor can take them";
    std::string list;
    for (const auto& c : fitting) list += (list.empty() ? "" : ", ") + ShownFourCC(c.fourcc);
    return reason + ". Compressors that can take them: " + list;
}

} // namespace avi
