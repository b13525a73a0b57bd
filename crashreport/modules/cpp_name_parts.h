#pragma once
// Splitting a demangled C++ name such as "ns::Class::method(int) const" into
// its scopes ("ns", "Class", "method(int) const"). Template arguments,
// argument lists, lambda and ABI-tag brackets and operator names are kept
// whole; a return type that the demangler puts in front of a function
// template's name is dropped. Used by the build-time tool to name classes
// and procedures and by the export-name fallback of the address lookup.
// Not signal-safe: allocates.
#include <string>
#include <string_view>
#include <vector>

namespace crashreport {

std::vector<std::string> SplitCppScopes(std::string_view demangled);

// Class = every scope but the last, joined by "::"; procedure = the last.
void SplitCppClassAndProcedure(std::string_view demangled, std::string& className, std::string& procedure);

// The demangled form of a mangled name, or the name itself when it is not
// a C++ mangled name.
std::string DemangleCppName(const char* name);

} // namespace crashreport
