#include "crashreport/ui/dialog_fonts.h"

#include <string>

#include "platform/kernel/process.h"

namespace crashreport::ui {

bool WesternCharset()
{
    std::string locale;
    for (const char* name : {"LC_ALL", "LC_CTYPE", "LANG"})
        if (auto v = kernel::GetEnvironmentVariable(name); v && !v->empty()) {
            locale = *v;
            break;
        }
    const std::string lang = locale.substr(0, 2);
    for (const char* other :
         {"zh", "ja", "ko", "ru", "uk", "bg", "be", "sr", "mk", "el", "he", "ar", "fa", "th", "vi", "hi"})
        if (lang == other) return false;
    return true;
}

TDialogFonts MakeDialogFonts(bool western)
{
    TDialogFonts f;
    f.Dialog.Name = "MS Sans Serif";
    f.Dialog.SetSize(8);
    f.Link = f.Dialog;
    f.Link.Style = gdi::fsBold | gdi::fsUnderline;
    f.TextPane.Name = western ? "Lucida Console" : "Courier New";
    f.TextPane.SetSize(western ? 8 : 10);
    f.List.Name = western ? "Tahoma" : "Courier New";
    f.List.SetSize(western ? 8 : 10);
    f.Caption.Name = western ? "Verdana" : "MS Sans Serif";
    f.Caption.SetSize(9);
    f.Caption.Style = gdi::fsBold;
    return f;
}

} // namespace crashreport::ui
