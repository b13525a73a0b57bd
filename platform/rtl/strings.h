#pragma once
// The runtime's small string routines, as the reporter's texts use them.
// Not signal-safe (they allocate).
#include <string>

namespace rtl {

// Without the leading and trailing characters at or below the space (the
// runtime's Trim: control characters count as blanks).
std::string Trim(const std::string& text);
// True when every character is at or below the space (an empty text too).
bool IsBlank(const std::string& text);
// Every occurrence of `from` replaced by `to`, left to right, the replaced
// text not searched again; an empty `from` changes nothing.
std::string ReplaceAll(std::string text, const std::string& from, const std::string& to);
// Every run of characters below 32 (line ends, tabs, control characters)
// becomes one space: a value that must stay on one line.
std::string FlattenControlChars(const std::string& text);

} // namespace rtl
