#pragma once
// Helpers of the tool tests: running commands, copying modules, loading a
// module file's stored data into a record, and the function symbols of an
// unstripped module.
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "crashreport/modules/module_info.h"

namespace tooltest {

// Runs a shell command; its standard output, and the exit status through `status`.
std::string Run(const std::string& command, int* status = nullptr);
std::string TempPath(const std::string& name);
void CopyFile(const std::string& from, const std::string& to);

// A record for a module file that is not loaded: its handle is the
// address the file's first segment would have, so file addresses resolve.
// A handle other than 0 is given to the record instead.
std::unique_ptr<crashreport::TTavrelModuleInfo> LoadRecord(const std::string& file, const std::string& password,
                                                           bool* loaded = nullptr, std::uintptr_t handle = 0);

struct TFunctionSymbol {
    std::string Name;
    std::uint64_t Address = 0;
    std::uint64_t Size = 0;
};
// Defined functions of .symtab with a size.
std::vector<TFunctionSymbol> FunctionSymbols(const std::string& file);

} // namespace tooltest
