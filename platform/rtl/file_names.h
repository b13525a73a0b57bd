#pragma once
// The runtime's file-name helpers: splitting a "/"-separated path into its
// folder and file name, and replacing a file name's extension.
#include <string>

namespace rtl {

// The folder part of a path, with its final "/" ("" when there is none).
std::string ExtractFilePath(const std::string& path);
// The file-name part of a path (after the last "/").
std::string ExtractFileName(const std::string& path);
// The path with the extension of its file-name part replaced by `ext`
// (which carries its dot); a name without extension gets `ext` appended.
std::string ChangeFileExt(const std::string& path, const std::string& ext);

} // namespace rtl
