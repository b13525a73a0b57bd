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

std::string FlattenControlChars(const std::string& text)
{
    std::string out;
    out.reserve(text.size());
    bool inRun = false;
    for (char c : text) {
        const bool control = static_cast<unsigned char>(c) < 32;
        if (!control)
            out += c;
        else if (!inRun)
            out += ' ';
        inRun = control;
    }
    return out;
}

} // namespace rtl
