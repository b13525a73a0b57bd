#pragma once
// A thrown object as the capture sees it, and the name-based class tests
// that work across modules. Everything here is signal-safe: names come from
// the mangled RTTI name without demangling, parents from the RTTI base data.
#include <cstddef>
#include <exception>
#include <typeinfo>

namespace crashreport {

// One thrown C++ object: its address and its dynamic type.
struct TExceptionObject {
    void* Object = nullptr;
    const std::type_info* Type = nullptr;

    bool Valid() const { return Object && Type; }
};

// The object seen through its most derived type (for mapped faults and any
// polymorphic object the capture gets as a base reference).
template <typename T> TExceptionObject ExceptionObjectOf(const T& object)
{
    return TExceptionObject{const_cast<void*>(dynamic_cast<const void*>(&object)), &typeid(object)};
}

// The class name without namespaces and template arguments ("EAbort" for
// rtl::EAbort), cut to fit `capacity` (terminated). False when the name
// cannot be read from the RTTI name (then the raw name is copied).
bool ShortClassName(const std::type_info& type, char* out, std::size_t capacity);

// Whether the class or one of its first bases has the name (compared upper
// case, trimmed), as class tests across modules do.
bool ClassDescendsFromName(const std::type_info* type, const char* className);

// The object as a std::exception, or null when its class is not one.
const std::exception* AsStdException(const TExceptionObject& object);

// Class tests the raise path asks for every exception, cached per type
// (16 types). Signal-safe.
enum : unsigned { cfKnown = 1, cfAbort = 2, cfExternal = 4, cfStackOverflow = 8 };
unsigned ClassFlags(const std::type_info* type);

// A valid object whose class is not "EAbort" and does not descend from it.
bool IsManageable(const TExceptionObject& object);

// The message of a std::exception (its what()), else "".
const char* ExceptionMessage(const TExceptionObject& object);

} // namespace crashreport
