#pragma once
// The XML rendering of stored reports: a small element builder
// (`TXMLItem`, `TXMLItems`) and the conversion of report texts into the
// document "<Doc>" with one "<Log>" element per report. Everything that
// comes from a report is written as an attribute value with character
// references, so no text of a report can make markup. Not signal-safe.
#include <memory>
#include <string>
#include <vector>

namespace crashreport {

class TLogFile;
class TXMLItem;

// Owns its elements.
class TXMLItems {
public:
    TXMLItems() = default;
    ~TXMLItems();
    TXMLItems(const TXMLItems&) = delete;
    TXMLItems& operator=(const TXMLItems&) = delete;

    TXMLItem* Add(const std::string& name);
    int Count() const { return static_cast<int>(items_.size()); }
    TXMLItem* Item(int index) const { return items_.at(static_cast<std::size_t>(index)).get(); }

private:
    std::vector<std::unique_ptr<TXMLItem>> items_;
};

class TXMLItem {
public:
    explicit TXMLItem(const std::string& name) : Name(name) {}

    void AddAttribute(const std::string& name, const std::string& value);
    TXMLItem* AddChild(const std::string& name);
    // The element and its subtree, each line ending in CR LF.
    std::string GetXML();

    std::string Name;
    std::string Content;
    std::string Attributes;
    std::string Indent;
    TXMLItems Items;
    TXMLItem* Parent = nullptr;
};

// Character references for the characters that are not written as they
// are: '"', '&', '\'', '<', '>' and bytes from 127 on as "&#" + three or
// more decimal digits + ";". A valid UTF-8 sequence becomes the reference
// of its character; a byte that is not part of one is taken as the
// character of the same number (the 8-bit code page). Control characters
// other than tab, CR and LF, which XML cannot carry at all, become "?".
std::string EscapeXML(const std::string& text);

// The "<Log>" element of one stored report.
std::string BuildReportXML(const std::string& report);
// The document of all reports of the log, oldest first.
std::string BuildLogXML(const TLogFile& log);
// Writes BuildLogXML into the file (replacing it in one step).
void SaveLogAsXML(const TLogFile& log, const std::string& fileName);

// Whether dotted version `a` is below `b` ("4.9.1" < "5.0.0").
bool VersionBelow(const std::string& a, const std::string& b);

} // namespace crashreport
