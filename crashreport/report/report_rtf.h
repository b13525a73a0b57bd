#pragma once
// The coloured rich-text views of the report's general part and CPU
// section, as the exception dialog's text panes load them. Every text of
// the report is escaped: "\", "{" and "}" cannot start RTF markup, and
// characters beyond ASCII are written as Unicode escapes. Not signal-safe.
#include <string>

namespace crashreport {

// The dialog's text-pane font.
struct TRtfFont {
    int Charset = 0;
    std::string Face = "Lucida Console";
    int PointSize = 8;
    int CharPixelWidth = 7; // width of one "-" in pixels
};

// "\" -> "\\", "{" -> "\{", "}" -> "\}", CR LF -> "\par" CR LF; a valid
// UTF-8 character beyond ASCII -> "\uN?", another byte beyond ASCII -> "\'hh",
// a tab -> "\tab ", other control characters -> "?".
std::string EscapeRTF(const std::string& text);

// The document frame around coloured lines.
std::string RtfDocument(const std::string& body, const TRtfFont& font = {});

// The banner and general part (GeneralPart of the report).
std::string BuildGeneralRTF(const std::string& generalPart, const TRtfFont& font = {});
// The CPU section in its full layout.
std::string BuildCPURTF(const std::string& cpuPart, const TRtfFont& font = {});

} // namespace crashreport
