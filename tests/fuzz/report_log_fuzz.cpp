// Arbitrary bytes as the text of a log file: loading must never crash, and
// every report it yields must survive the field and section extraction
// and the XML rendering.
#include <cstddef>
#include <cstdint>
#include <string>

#include "crashreport/report/log_file.h"
#include "crashreport/report/report_xml.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    std::vector<std::string> unread;
    const std::vector<std::string> reports =
        crashreport::ParseLogText(std::string(reinterpret_cast<const char*>(data), size), &unread);
    for (const std::string& report : reports) {
        crashreport::ExtractFieldValue(report, "2.5");
        crashreport::ExtractModulesPart(report);
        crashreport::ExtractCustomPart(report);
        crashreport::BuildReportXML(report);
    }
    // What is written back loads as the same reports.
    if (crashreport::ParseLogText(crashreport::ComposeLogText(reports)) != reports) __builtin_trap();
    return 0;
}
