#pragma once
// A logical font as the framework describes it: a face name, a height in
// pixels, a colour and a style. Face names of the original platform are
// mapped onto this system's fonts: "MS Sans Serif" and its relatives to the
// system sans font, "Courier New" and "Lucida Console" to monospace; text in
// scripts the face lacks (Chinese, for one) comes from fontconfig's fallback.
#include <string>

#include "platform/gdi/color.h"

namespace gdi {

enum FontStyle : unsigned { fsBold = 1u << 0, fsItalic = 1u << 1, fsUnderline = 1u << 2, fsStrikeOut = 1u << 3 };

enum class FontQuality { fqDefault, fqAntialiased, fqNonAntialiased };

struct TFont {
    std::string Name = "MS Sans Serif";
    // Negative: the character height (em size) in pixels. Positive: the
    // cell height including internal leading. Zero: the default height.
    // Text is drawn at most 2048 pixels high.
    int Height = -11;
    TColor Color = clWindowText;
    unsigned Style = 0; // FontStyle bits
    FontQuality Quality = FontQuality::fqDefault;
    int PixelsPerInch = 96;

    // Size in points, derived from Height at PixelsPerInch, and back.
    int Size() const;
    void SetSize(int points);

    friend bool operator==(const TFont&, const TFont&) = default;
};

// The fontconfig family that stands in for a face name of the original platform.
std::string MapFontFamily(const std::string& faceName);

} // namespace gdi
