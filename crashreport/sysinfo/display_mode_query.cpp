#include "crashreport/sysinfo/display_mode_query.h"

#include "crashreport/sysinfo/system_information.h"
#include "platform/ui/display_mode.h"

namespace crashreport {
namespace {

bool QueryToolkitDisplayMode(int& width, int& height, int& bitsPerPixel)
{
    ui::TDisplayMode mode;
    if (!ui::QueryDisplayMode(mode)) return false;
    width = mode.Width;
    height = mode.Height;
    bitsPerPixel = mode.BitsPerPixel;
    return true;
}

} // namespace

void InstallDisplayModeQuery() { SetDisplayModeQuery(&QueryToolkitDisplayMode); }

} // namespace crashreport
