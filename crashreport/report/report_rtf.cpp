#include "crashreport/report/utf8_sequence.h"
#include "crashreport/report/report_rtf.h"

#include <vector>

#include "platform/rtl/format.h"

namespace crashreport {

namespace {

struct TLine {
    std::string Text;
    bool Ended; // followed by CR LF
};

std::vector<TLine> RawLines(const std::string& text)
{
    std::vector<TLine> lines;
    std::size_t start = 0;
    while (start < text.size()) {
        const std::size_t end = text.find("\r\n", start);
        if (end == std::string::npos) {
            lines.push_back({text.substr(start), false});
            break;
        }
        lines.push_back({text.substr(start, end - start), true});
        start = end + 2;
    }
    return lines;
}

std::string Join(const std::vector<std::string>& lines, const std::vector<TLine>& raw)
{
    std::string out;
    for (std::size_t i = 0; i < lines.size(); ++i) out += lines[i] + (raw[i].Ended ? "\\par\r\n" : "");
    return out;
}

std::string UnicodeEscape(unsigned code)
{
    // RTF's \u takes a signed 16-bit number; beyond the basic plane a
    // surrogate pair.
    auto one = [](unsigned unit) {
        return "\\u" + std::to_string(static_cast<int>(static_cast<std::int16_t>(unit))) + "?";
    };
    if (code < 0x10000) return one(code);
    code -= 0x10000;
    return one(0xD800 + (code >> 10)) + one(0xDC00 + (code & 0x3FF));
}

// Escapes one line (no line ends in it).
std::string EscapeLine(const std::string& line)
{
    std::string out;
    for (std::size_t i = 0; i < line.size();) {
        const unsigned char c = static_cast<unsigned char>(line[i]);
        if (c == '\\' || c == '{' || c == '}') {
            out += '\\';
            out += static_cast<char>(c);
            ++i;
        } else if (c == '\t') {
            out += "\\tab ";
            ++i;
        } else if (c < 32) {
            out += '?';
            ++i;
        } else if (c < 128) {
            out += static_cast<char>(c);
            ++i;
        } else {
            unsigned code = 0;
            const std::size_t length = Utf8Sequence(line, i, code);
            if (length) {
                out += UnicodeEscape(code);
                i += length;
            } else {
                out += rtl::Format("\\'%02x", c);
                ++i;
            }
        }
    }
    return out;
}

} // namespace

std::string EscapeRTF(const std::string& text)
{
    const std::vector<TLine> raw = RawLines(text);
    std::vector<std::string> lines;
    for (const TLine& line : raw) lines.push_back(EscapeLine(line.Text));
    return Join(lines, raw);
}

std::string RtfDocument(const std::string& body, const TRtfFont& font)
{
    return rtl::Format("{\\rtf1\\ansi\\ansicpg1252\\deff0\\deflang1040{\\fonttbl{\\f0\\fmodern\\fprq1\\fcharset%d ",
                       font.Charset) +
        EscapeLine(font.Face) +
        ";}}\r\n{\\colortbl "
        ";\\red0\\green100\\blue100;\\red0\\green0\\blue0;\\red40\\green40\\blue40;\\red0\\green0\\blue160;}\r\n" +
        "\\f0\\fs" + std::to_string(font.PointSize * 2) + "\r\n" + body + "}";
}

std::string BuildGeneralRTF(const std::string& generalPart, const TRtfFont& font)
{
    const std::vector<TLine> raw = RawLines(generalPart);
    std::vector<std::string> lines;
    for (std::size_t i = 0; i < raw.size(); ++i) {
        const std::string& line = raw[i].Text;
        const std::size_t colon = line.find(':');
        const std::size_t pair = line.find(": ");
        if (i == 0)
            lines.push_back("\\cf1\\b " + EscapeLine(line) + "\\b0");
        else if (colon != std::string::npos && colon + 1 == line.size())
            lines.push_back("\\cf3\\b " + EscapeLine(line) + "\\b0");
        else if (!line.empty() && line[0] == '-')
            lines.push_back("\\cf3 " + EscapeLine(line));
        else if (pair != std::string::npos)
            lines.push_back("\\cf2 " + EscapeLine(line.substr(0, pair + 1)) + "\\cf4 " +
                            EscapeLine(line.substr(pair + 1)));
        else
            lines.push_back(EscapeLine(line));
    }
    return RtfDocument(Join(lines, raw), font);
}

std::string BuildCPURTF(const std::string& cpuPart, const TRtfFont& font)
{
    const std::vector<TLine> raw = RawLines(cpuPart);
    std::vector<std::string> lines;
    std::size_t i = 0;
    auto wrapValue = [](const std::string& half) {
        // "NAME: VALUE" -> "NAME: \cf4 VALUE\cf2 "
        const std::size_t colon = half.find(": ");
        if (colon == std::string::npos) return EscapeLine(half);
        std::size_t valueEnd = half.size();
        while (valueEnd > colon + 2 && half[valueEnd - 1] == ' ') --valueEnd;
        if (half.compare(colon + 2, 4, "????") == 0) valueEnd = half.size();
        return EscapeLine(half.substr(0, colon + 2)) + "\\cf4 " +
            EscapeLine(half.substr(colon + 2, valueEnd - colon - 2)) + "\\cf2 " + EscapeLine(half.substr(valueEnd));
    };
    for (; i < raw.size() && i < 2; ++i)
        lines.push_back(i == 0 ? "\\cf3\\b " + EscapeLine(raw[i].Text) + "\\cf2\\b0"
                               : "\\cf3 " + EscapeLine(raw[i].Text) + "\\cf2");
    // Register rows up to the blank line.
    for (; i < raw.size() && !raw[i].Text.empty(); ++i) {
        const std::string& row = raw[i].Text;
        const std::size_t colon = row.find(": ");
        std::size_t split = colon == std::string::npos ? std::string::npos : row.find("   ", colon + 6);
        // Past a "????" placeholder's padding.
        while (split != std::string::npos && split + 3 < row.size() && row[split + 3] == ' ') ++split;
        if (split == std::string::npos)
            lines.push_back(EscapeLine(row));
        else
            lines.push_back(wrapValue(row.substr(0, split)) + "   " + wrapValue(row.substr(split + 3)));
    }
    if (i < raw.size()) lines.push_back(EscapeLine(raw[i++].Text)); // the blank line
    // Titles of the stack and the memory dump, at the dash line's columns.
    std::size_t stackWidth = 0;
    if (i + 1 < raw.size()) stackWidth = raw[i + 1].Text.find("   ");
    if (i < raw.size()) {
        const std::string& titles = raw[i].Text;
        const std::size_t cut =
            stackWidth == std::string::npos ? titles.size() : std::min(titles.size(), stackWidth + 3);
        auto trim = [](std::string s) {
            while (!s.empty() && s.back() == ' ') s.pop_back();
            while (!s.empty() && s.front() == ' ') s.erase(0, 1);
            return s;
        };
        const std::size_t tabStop = (stackWidth == std::string::npos ? 0 : stackWidth + 3) * font.CharPixelWidth * 15;
        lines.push_back("\\pard\\tx" + std::to_string(tabStop) + "\\cf3\\b " + EscapeLine(trim(titles.substr(0, cut))) +
                        "\\tab " + EscapeLine(trim(titles.substr(cut))) + "\\cf2\\b0");
        ++i;
    }
    if (i < raw.size()) {
        const std::string& dashes = raw[i].Text;
        lines.push_back(stackWidth == std::string::npos
                            ? "\\cf3 " + EscapeLine(dashes) + "\\cf2"
                            : "\\cf3 " + EscapeLine(dashes.substr(0, stackWidth)) + "\\tab " +
                                EscapeLine(dashes.substr(std::min(dashes.size(), stackWidth + 3))) + "\\cf2");
        ++i;
    }
    for (; i < raw.size(); ++i) {
        // "ADDR: VALUE   ADDR: BYTES  CHARS"
        const std::string& row = raw[i].Text;
        const std::size_t c1 = row.find(": ");
        const std::size_t gap = c1 == std::string::npos ? std::string::npos : row.find("   ", c1);
        const std::size_t c2 = gap == std::string::npos ? std::string::npos : row.find(": ", gap);
        if (c2 == std::string::npos || c2 + 2 + 47 > row.size()) {
            lines.push_back(EscapeLine(row));
            continue;
        }
        lines.push_back(EscapeLine(row.substr(0, c1 + 2)) + "\\cf4 " + EscapeLine(row.substr(c1 + 2, gap - c1 - 2)) +
                        "\\cf2 \\tab " + EscapeLine(row.substr(gap + 3, c2 + 2 - gap - 3)) + "\\cf4 " +
                        EscapeLine(row.substr(c2 + 2, 47)) + "\\cf2 " + EscapeLine(row.substr(c2 + 2 + 47)));
    }
    return RtfDocument(Join(lines, raw), font);
}

} // namespace crashreport
