#pragma once
// Where the log file goes: the computer name rule and the fallback folder
// used when the log file cannot be used where it is.
#include <string>

namespace crashreport {

// The computer name as it goes into file names: at most 15 characters, with
// each of  " * / : < > ? \ |  replaced by "_".
std::string ComputerNameForFileName(const std::string& rawName);

// The system's computer name (the host name) for file names.
std::string ComputerNameForFileName();

// Whether `path` can be used: with `readOnly` the existing file is opened for
// reading; otherwise it is opened for reading and writing, or, when it is
// missing, a file of another name can be made beside it. The log's own name
// is never made or removed here.
bool IsUsableLogFile(const std::string& path, bool readOnly);

// Keeps `path` when it is usable; otherwise tries $HOME/TavrelLog (with
// `withProgramFolder`, a subfolder named after the program file without
// extension), creating the folders owner-only, and on success sets `path`
// to the file of the same name there. A fallback folder that is a symbolic
// link or belongs to another user is not used. False when no usable place
// was found.
bool FindWritableLogFile(std::string& path, bool withProgramFolder, bool readOnly);

} // namespace crashreport
