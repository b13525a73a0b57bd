#include "crashreport/report/report_dialogs.h"

namespace crashreport {

namespace {
TReportDialogs installedDialogs;
}

const TReportDialogs& ReportDialogs() { return installedDialogs; }

TReportDialogs SetReportDialogs(const TReportDialogs& dialogs) {
    TReportDialogs previous = installedDialogs;
    installedDialogs = dialogs;
    return previous;
}

} // namespace crashreport
