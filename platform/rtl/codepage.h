#pragma once
// Conversions between the program's stored 8-bit code pages and UTF-8, the
// code page of every text the platform shows.
#include <string>

namespace rtl {

// Converts bytes in code page 936 (GBK) to UTF-8. Bytes that are not valid
// GBK are replaced by U+FFFD so that a damaged text still shows.
std::string CP936ToUtf8(const std::string& gbk);
std::string Utf8ToCP936(const std::string& utf8);

} // namespace rtl
