#pragma once
// The command-line converter speaks English unless the locale asks for
// Chinese (LC_ALL, else LC_MESSAGES, else LANG starting with "zh").
#include <string>

namespace converter {

// Whether the environment's locale asks for Chinese messages.
bool LocaleWantsChinese();

// The overwrite question for path, in UTF-8.
std::string OverwriteQuestion(const std::string& path, bool chinese);

} // namespace converter
