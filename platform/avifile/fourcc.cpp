#include "platform/avifile/avifile.h"

namespace avifile {

std::string FourCCToString(FOURCC code)
{
    std::string text(4, ' ');
    for (int i = 0; i < 4; ++i) text[static_cast<size_t>(i)] = static_cast<char>((code >> (8 * i)) & 0xFF);
    return text;
}

FOURCC StringToFourCC(const std::string& text)
{
    if (text.size() > 4) return 0;
    std::string padded = text;
    padded.resize(4, ' ');
    return MakeFourCC(padded[0], padded[1], padded[2], padded[3]);
}

} // namespace avifile
