#include "platform/rtl/strings.h"

#include <algorithm>

namespace rtl {
namespace {
bool Blank(char c) { return static_cast<unsigned char>(c) <= ' '; }
} // namespace

std::string Trim(const std::string& text)
{
    std::size_t first = 0, last = text.size();
    while (first < last && Blank(text[first])) ++first;
    while (last > first && Blank(text[last - 1])) --last;
    return text.substr(first, last - first);
}

bool IsBlank(const std::string& text) { return std::all_of(text.begin(), text.end(), Blank); }

std::string ReplaceAll(std::string text, const std::string& from, const std::string& to)
{
    if (from.empty()) return text;
    for (std::size_t at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size()))
        text.replace(at, from.size(), to);
    return text;
}

} // namespace rtl
