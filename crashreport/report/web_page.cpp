#include "crashreport/report/web_page.h"

#include <algorithm>
#include <cctype>
#include <random>

#include "crashreport/errorlog/warnings.h"
#include "crashreport/options/customized_texts.h"
#include "crashreport/report/report_text.h"
#include "platform/kernel/files.h"
#include "platform/kernel/process.h"
#include "platform/rtl/format.h"
#include "platform/rtl/strings.h"

namespace crashreport {

namespace {

std::string Lower(std::string text)
{
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return text;
}

constexpr const char* kTag = "<%HTML_TAG%>";

} // namespace

std::string EscapeHTML(const std::string& text)
{
    std::string out = rtl::ReplaceAll(text, "&", "&amp;");
    out = rtl::ReplaceAll(out, "\"", "&quot;");
    out = rtl::ReplaceAll(out, "'", "&#039;");
    out = rtl::ReplaceAll(out, "<", "&lt;");
    out = rtl::ReplaceAll(out, ">", "&gt;");
    out = rtl::ReplaceAll(out, "  ", "&nbsp;&nbsp;");
    out = rtl::ReplaceAll(out, "\r\n", "<br>\r\n");
    return out;
}

TWebPage ApplyHTMLTemplate(const std::string& content, const TTavrelModuleOptions& options)
{
    std::random_device device;
    return ApplyHTMLTemplate(content, options, static_cast<std::uint32_t>(device()));
}

TWebPage ApplyHTMLTemplate(const std::string& content, const TTavrelModuleOptions& options, std::uint32_t pageId)
{
    std::string page = options.HtmlTemplate();
    if (rtl::Trim(rtl::FlattenControlChars(page)).empty()) page = DefaultHtmlTemplate();
    // The placeholder in any case is written in its own case.
    const std::string lowerTag = Lower(kTag);
    std::string lower = Lower(page);
    for (std::size_t at = lower.find(lowerTag); at != std::string::npos; at = lower.find(lowerTag, at + 1))
        page.replace(at, lowerTag.size(), kTag);
    lower = Lower(page);
    const std::size_t titleStart = lower.find("<title>");
    const std::size_t titleEnd = lower.find("</title>");
    if (titleStart == std::string::npos || titleEnd == std::string::npos || titleEnd < titleStart)
        page = "<title>" + EscapeHTML(options.GetText(2)) + "</title>" + page;
    TWebPage result;
    result.PageId = rtl::Format("<!-- TavrelLog ID: %08X -->", pageId);
    // Replaced in one pass, so a placeholder inside the content stays text.
    std::string out;
    std::size_t from = 0;
    for (std::size_t at = page.find(kTag); at != std::string::npos; at = page.find(kTag, from)) {
        out += page.substr(from, at - from) + content;
        from = at + std::char_traits<char>::length(kTag);
    }
    out += page.substr(from);
    result.Html = out + result.PageId;
    return result;
}

std::string BackButtonHTML()
{
    return "<br><input type=button value=\"Ok\" OnClick=\"history.go(-1)\" "
           "style=\"width:75;height:25;z-index:100;font-style:normal;font-size:10pt;text-decoration:none;\">";
}

TWebPage BuildErrorPage(const std::string& text, bool withBackButton, const TTavrelModuleOptions& options)
{
    std::string content = EscapeHTML(NormalizeLineEnds(text));
    if (withBackButton) content += BackButtonHTML();
    return ApplyHTMLTemplate(content, options);
}

bool IsISAPI() { return false; }
bool IsWinCGI() { return false; }
bool IsCGI() { return kernel::GetEnvironmentVariable("REQUEST_METHOD").has_value(); }
bool IsWebApplication() { return IsISAPI() || IsCGI() || IsWinCGI(); }

std::string WebErrorResponse(const std::string& page)
{
    return "Status: 200 Error\r\nContent-Type: text/html\r\n" + rtl::Format("Content-Length: %zu\r\n", page.size()) +
        "Content:\r\n\r\n" + page;
}

bool SendWebErrorPage(const std::string& page)
{
    if (!IsCGI()) return false;
    const std::string answer = WebErrorResponse(page);
    if (kernel::WriteAll(1, answer.data(), answer.size())) return true;
    RecordWarning(eeShowError, "CGI: Cannot write in the ouput file.");
    return false;
}

bool ShowWebError(const std::string& text, const TTavrelModuleOptions& options)
{
    std::string page = BuildErrorPage(text, true, options).Html;
    if (Lower(page).find(Lower(BackButtonHTML())) == std::string::npos) page += BackButtonHTML();
    return SendWebErrorPage(page);
}

} // namespace crashreport
