#pragma once
// The fonts of the reporter's dialogs. The user's language picks the
// column: western languages get the first faces, others the fixed faces
// that carry every script.
#include "platform/gdi/font.h"

namespace crashreport::ui {

struct TDialogFonts {
    gdi::TFont Dialog;   // labels, buttons, check boxes, tabs, headers
    gdi::TFont Link;     // the support link: bold, underlined
    gdi::TFont TextPane; // General and CPU panes, the Other page, the request box
    gdi::TFont List;     // call stack and modules lists
    gdi::TFont Caption;  // the painted caption of the own look
};

// Western when the locale's language is one of the Latin-script ones (or unset).
bool WesternCharset();
TDialogFonts MakeDialogFonts(bool western = WesternCharset());

} // namespace crashreport::ui
