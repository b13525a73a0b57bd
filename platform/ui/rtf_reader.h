#pragma once
// Reads the rich text that the crash reporter writes into lines of runs:
// the font table's first face, the colour table, \cfN, \b and \b0, \fsN,
// \par and \line, \tab, \uN with its fallback character, \'hh and the
// escaped "\", "{" and "}". Other control words and "\*" destinations are
// passed over. Damaged input (unbalanced groups, cut escapes, absurd
// nesting) gives what could be read, never an error.
#include <string>
#include <vector>

#include "platform/gdi/color.h"

namespace ui {

struct RichRun {
    std::string Text; // UTF-8
    gdi::TColor Color = gdi::RGB(0, 0, 0);
    bool Bold = false;
};

struct RichLine {
    std::vector<RichRun> Runs;
    std::string Text() const;
};

struct RichDocument {
    std::string FontFace; // empty: none given
    int PointSize = 0;    // 0: none given
    std::vector<RichLine> Lines;
    // The text, lines joined by "\n".
    std::string PlainText() const;
};

RichDocument ParseRTF(const std::string& rtf);

} // namespace ui
