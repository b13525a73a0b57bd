#pragma once
// The dialogs of this library as the report's user interface
// (report_dialogs.h); the pipeline's desktop side makes its reporter with them.
#include "crashreport/report/report_dialogs.h"

namespace crashreport::ui {

TReportDialogs ToolkitReportDialogs();

} // namespace crashreport::ui
