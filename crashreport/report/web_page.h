#pragma once
// The HTML error page a web-server program sends instead of showing a
// dialog: the report escaped into the options' page template, and its
// delivery as the answer of a CGI program. ISAPI, WinCGI and IntraWeb do
// not exist on this platform: their detections answer false. Not
// signal-safe.
#include <cstdint>
#include <string>

#include "crashreport/options/module_options.h"

namespace crashreport {

// "&" "&amp;", '"' "&quot;", "'" "&#039;", "<" "&lt;", ">" "&gt;", two
// spaces "&nbsp;&nbsp;", CR LF "<br>" CR LF.
std::string EscapeHTML(const std::string& text);

// The template (the option's, or the default when it is blank) with every
// "<%HTML_TAG%>" (any case) replaced by `content`, a title in front when it
// has none, and the page identifier comment after it. `pageId` is the
// identifier's number (drawn at random when not given).
struct TWebPage {
    std::string Html;
    std::string PageId; // "<!-- TavrelLog ID: XXXXXXXX -->"
};
TWebPage ApplyHTMLTemplate(const std::string& content, const TTavrelModuleOptions& options);
TWebPage ApplyHTMLTemplate(const std::string& content, const TTavrelModuleOptions& options, std::uint32_t pageId);

std::string BackButtonHTML();
TWebPage BuildErrorPage(const std::string& text, bool withBackButton, const TTavrelModuleOptions& options);

bool IsISAPI();
bool IsWinCGI();
// A program started by a web server's CGI interface ("REQUEST_METHOD" set).
bool IsCGI();
bool IsWebApplication();

// The CGI answer: "Status: 200 Error", the content type and length, then
// the page.
std::string WebErrorResponse(const std::string& page);
// Writes the answer to standard output; false (and a warning) on failure.
bool SendWebErrorPage(const std::string& page);
// The error page of `text`, with the back button, sent.
bool ShowWebError(const std::string& text, const TTavrelModuleOptions& options);

} // namespace crashreport
