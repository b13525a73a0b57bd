#pragma once
// Class tests by name along the C++ parent chain (first base where there are
// several), so that a class of the same name in another module matches.
#include <string>
#include <typeinfo>

namespace crashreport {

// The demangled name without namespaces or template arguments ("TSendThread").
std::string ShortClassName(const std::type_info& type);

// True when the type, or one of its ancestors, is named className (compared
// upper-cased and trimmed).
bool ClassDescendsFrom(const std::type_info& type, const std::string& className);

// The crash reporter's own thread classes, never tracked, paused or listed:
// TExceptionThread, TFreezeThread, TSendDialogThread, TSendThread and their
// descendants.
bool IsUntrackedThreadClass(const std::type_info& type);

} // namespace crashreport
