#include "converter/gui/command_line.h"

#include <cctype>

namespace converter::gui {

namespace {
int HexValue(char c)
{
    if (c >= '0' && c <= '9') return c - '0';
    c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
}
} // namespace

std::string PathFromArgument(const std::string& argument)
{
    const std::string scheme = "file://";
    if (argument.compare(0, scheme.size(), scheme) != 0) {
        if (argument.find("://") != std::string::npos) return {};
        return argument;
    }
    std::string rest = argument.substr(scheme.size());
    // file:///path or file://localhost/path
    if (rest.compare(0, 9, "localhost") == 0) rest.erase(0, 9);
    if (rest.empty() || rest[0] != '/') return {};
    std::string out;
    for (size_t i = 0; i < rest.size(); ++i) {
        if (rest[i] == '%' && i + 2 < rest.size() && HexValue(rest[i + 1]) >= 0 && HexValue(rest[i + 2]) >= 0) {
            out += static_cast<char>(HexValue(rest[i + 1]) * 16 + HexValue(rest[i + 2]));
            i += 2;
        } else {
            out += rest[i];
        }
    }
    return out;
}

} // namespace converter::gui
