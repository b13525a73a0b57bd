#pragma once
// Installs the dialogs of this library as the report's user interface
// (report_dialogs.h). The pipeline's desktop side calls it.
namespace crashreport::ui {

void InstallReportDialogs();

} // namespace crashreport::ui
