#pragma once
// What the log needs to know of the exception being handled when it is
// called: whether it is a language exception (any std::exception), its
// message and class name, and whether its class is one whose failures the
// log leaves alone. Not signal-safe (demangling allocates).
#include <string>
#include <typeinfo>

namespace crashreport {

struct THandledException {
    bool Present = false;  // an exception is being handled at all
    bool Language = false; // a std::exception
    std::string Message;   // what(); empty for other exceptions
    std::string ClassName; // the demangled class name; empty for non-class values
    bool Ignored = false;  // an EAbort or the socket client's error, or a class derived from one
};

THandledException CurrentHandledException();

// Whether the class `type` (a std::type_info) is named `name` (without
// namespaces) or derives from a class of that name.
bool ClassIsOrDerivesFrom(const std::type_info& type, const std::string& name);

} // namespace crashreport
