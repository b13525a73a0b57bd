#pragma once
// The 96 texts the crash reporter shows or writes: captions, labels, column
// titles and messages, indexed 0 to 95.
#include <array>
#include <cstddef>
#include <string>

namespace crashreport {

inline constexpr std::size_t CustomizedTextCount = 96;

using TCustomizedTexts = std::array<std::string, CustomizedTextCount>;

// The default of every text, by index.
const TCustomizedTexts& DefaultCustomizedTexts();

// The default page into which the HTML rendering of a report is placed at
// "<%HTML_TAG%>".
const std::string& DefaultHtmlTemplate();

} // namespace crashreport
