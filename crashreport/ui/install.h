#pragma once
// Installs the dialogs of this library as the report's user interface
// (report_dialogs.h), and the clipboard copy of a report that the pipeline
// makes when the copy box was ticked.
#include <string>

namespace crashreport::ui {

void InstallReportDialogs();
// The report text on the clipboard as plain text; false when it failed.
bool CopyReportToClipboard(const std::string& text);

} // namespace crashreport::ui
