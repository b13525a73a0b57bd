#include "platform/gdi/font.h"

#include <algorithm>
#include <cctype>
#include <cmath>

namespace gdi {

namespace {

int MulDiv(int a, int b, int c)
{
    if (c == 0) return -1;
    return static_cast<int>(std::lround(static_cast<double>(a) * b / c));
}

std::string Lower(std::string s)
{
    std::transform(s.begin(), s.end(), s.begin(), [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return s;
}

} // namespace

int TFont::Size() const
{
    int ppi = PixelsPerInch > 0 ? PixelsPerInch : 96;
    return -MulDiv(Height, 72, ppi);
}

void TFont::SetSize(int points)
{
    int ppi = PixelsPerInch > 0 ? PixelsPerInch : 96;
    Height = -MulDiv(points, ppi, 72);
}

std::string MapFontFamily(const std::string& faceName)
{
    static const char* const kSans[] = {"",
                                        "ms sans serif",
                                        "microsoft sans serif",
                                        "ms shell dlg",
                                        "ms shell dlg 2",
                                        "system",
                                        "tahoma",
                                        "arial",
                                        "segoe ui",
                                        "verdana",
                                        "default"};
    static const char* const kMono[] = {"courier new", "courier", "lucida console", "fixedsys", "terminal", "consolas"};
    static const char* const kSerif[] = {"times new roman", "ms serif", "georgia"};
    // Chinese faces: the sans family carries Han through fontconfig's fallback.
    static const char* const kCjk[] = {
        "simsun", "nsimsun", "\xe5\xae\x8b\xe4\xbd\x93", "simhei", "\xe9\xbb\x91\xe4\xbd\x93", "microsoft yahei"};
    std::string name = Lower(faceName);
    for (const char* face : kSans)
        if (name == face) return "Sans";
    for (const char* face : kCjk)
        if (name == face) return "Sans";
    for (const char* face : kMono)
        if (name == face) return "Monospace";
    for (const char* face : kSerif)
        if (name == face) return "Serif";
    return faceName;
}

} // namespace gdi
