#pragma once
// printf-style formatting into a std::string, as the runtime's Format does.
#include <string>

namespace rtl {

std::string Format(const char* fmt, ...) __attribute__((format(printf, 1, 2)));

// Replaces each "%s" of pattern, in order, by the given strings; other text
// is copied unchanged. Safe for message patterns that come from data.
std::string FormatStrings(const std::string& pattern, std::initializer_list<std::string> args);

} // namespace rtl
