#include "crashreport/options/customized_texts.h"

#include <iterator>

namespace crashreport {

namespace {

const char* const kDefaultTexts[] = {
    // 0..3: message box captions and the dialog's message
    "Information.",
    "Question.",
    "Error.",
    ("An error has occurred during program execution.\r\n"
     "Please read the following information for further details."),
    // 4..13: tabs and their headings
    "General",
    "General Information",
    "Call Stack",
    "Call Stack Information",
    "Modules",
    "Modules Information",
    "CPU",
    "CPU Information",
    "Other",
    "Other Information",
    // 14..21: dialog buttons and choices
    "&OK",
    "&Terminate",
    "&Restart",
    "&Details",
    "&Send this error via Internet",
    "&Attach a Screenshot image",
    "&Copy to Clipboard",
    "Go to the Support Page",
    // 22..61: general section
    "Application",
    "Start Date",
    "Name/Description",
    "Version Number",
    "Parameters",
    "Compilation Date",
    "Exception",
    "Date",
    "Address",
    "Module",
    "Type",
    "Message",
    "Active Controls",
    "Form Class",
    "Form Text",
    "Control Class",
    "Control Text",
    "Computer",
    "Name",
    "User",
    "Total Memory",
    "Free Memory",
    "Total Disk",
    "Free Disk",
    "System Up Time",
    "Processor",
    "Display Mode",
    "Operating System",
    "Type",
    "Build #",
    "Update",
    "Language",
    "Network",
    "IP Address",
    "Submask",
    "Gateway",
    "DNS 1",
    "DNS 2",
    "DHCP",
    "Custom Information",
    // 62..74: call stack and threads columns
    "Address",
    "Module",
    "Unit",
    "Class",
    "Procedure/Method",
    "Line",
    "Main",
    "Exception Thread",
    "Running Thread",
    "Calling Thread",
    "ID",
    "Priority",
    "Class",
    // 75..80: sending
    "Send.",
    "Message",
    "Resolving DNS...",
    "Connecting with server...",
    "Connected with server.",
    "Sending message...",
    // 81..83: request dialog
    "Request",
    "Please describe the steps to reproduce the error:",
    "&OK",
    // 84..90: modules columns
    "Handle",
    "Name",
    "Description",
    "Version",
    "Size",
    "Modified",
    "Path",
    // 91..93: CPU section
    "Registers",
    "Stack",
    "Memory Dump",
    // 94..95: results
    "The message was sent successfully.",
    "Sorry, sending the message didn't work.",
};
static_assert(std::size(kDefaultTexts) == CustomizedTextCount, "one default per text index");

} // namespace

const TCustomizedTexts& DefaultCustomizedTexts()
{
    static const TCustomizedTexts texts = [] {
        TCustomizedTexts t;
        for (std::size_t i = 0; i < CustomizedTextCount; ++i) t[i] = kDefaultTexts[i];
        return t;
    }();
    return texts;
}

const std::string& DefaultHtmlTemplate()
{
    static const std::string page = "<html>\r\n"
                                    "  <head>\r\n"
                                    "  </head>\r\n"
                                    "  <body TopMargin=10 LeftMargin=10>\r\n"
                                    "    <table width=\"100%\" border=\"0\">\r\n"
                                    "      <tr>\r\n"
                                    "        <td nowrap>\r\n"
                                    "          <font face=\"Lucida Console, Courier\" size=\"2\">\r\n"
                                    "            <%HTML_TAG%>\r\n"
                                    "          </font>\r\n"
                                    "        </td>\r\n"
                                    "      </tr>\r\n"
                                    "    </table>\r\n"
                                    "  </body>\r\n"
                                    "</html>";
    return page;
}

} // namespace crashreport
