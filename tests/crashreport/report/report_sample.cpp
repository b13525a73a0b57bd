// Writes the sample report of the report tests in its three forms for the
// documentation: report_sample <folder> makes sample.txt (the report),
// sample.tlf (a log of it), sample.xml (the log's XML) and sample.html (the
// error page with the default template and page number 0x2A).
#include <cstdio>
#include <string>

#include "crashreport/report/log_file.h"
#include "crashreport/report/report_xml.h"
#include "crashreport/report/web_page.h"
#include "tests/crashreport/report/report_test_support.h"

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: report_sample <folder>\n");
        return 2;
    }
    const std::string folder = argv[1];
    auto sample = reporttest::MakeSample("Cannot read frame 5 of \"in.vek\".\r\nThe file ends early.");
    // Fixed addresses, so that the dumps do not change from run to run.
    sample->Sources.Context->Rsp = 0x7FFC1E2D3000;
    sample->Sources.Context->Rip = 0x55D0C0001234;
    sample->Sources.StackPointer = 0; // the dump is read from memory: left out here
    crashreport::TTavrelModuleOptions options("", false);
    options.SetStackFlags({crashreport::stDllFrames, crashreport::stPackageFrames, crashreport::stLineOffsets});
    const crashreport::TErrorReport report = crashreport::BuildReportText(sample->Sources, options);
    crashreport::ReplaceFileContents(folder + "/sample.txt", report.Text);
    crashreport::TLogFile log(folder + "/sample.tlf", false);
    log.AddReport(report.Text, options.MaxSavedErrors());
    log.Save();
    crashreport::SaveLogAsXML(log, folder + "/sample.xml");
    crashreport::ReplaceFileContents(
        folder + "/sample.html",
        crashreport::ApplyHTMLTemplate(crashreport::EscapeHTML(report.Text) + crashreport::BackButtonHTML(), options,
                                       0x2A)
            .Html);
    return 0;
}
