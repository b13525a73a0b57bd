#pragma once
// The display mode of the report's "Computer" section, read through the
// toolkit: installed by programs that show windows (the reporter's desktop
// side does it), so that a console program does not link the toolkit.
// Not signal-safe.
namespace crashreport {

void InstallDisplayModeQuery();

} // namespace crashreport
