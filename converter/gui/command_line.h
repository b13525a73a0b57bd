#pragma once
// The program's one optional argument: a frame file to put into the path
// box, as a desktop launcher passes it (a path, or a file:// URI).
#include <string>

namespace converter::gui {

// The local path an argument names; file:// URIs are decoded. Empty for
// URIs of other schemes or hosts.
std::string PathFromArgument(const std::string& argument);

} // namespace converter::gui
