#include "crashreport/threads/thread_classes.h"

#include <cxxabi.h>

#include <algorithm>
#include <cctype>
#include <cstdlib>

namespace crashreport {
namespace {

std::string Normalized(std::string s)
{
    auto notSpace = [](unsigned char c) { return !std::isspace(c); };
    s.erase(s.begin(), std::find_if(s.begin(), s.end(), notSpace));
    s.erase(std::find_if(s.rbegin(), s.rend(), notSpace).base(), s.end());
    for (char& c : s) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return s;
}

// The first base class of a class type, or null.
const std::type_info* FirstBase(const std::type_info& type)
{
    if (auto* si = dynamic_cast<const abi::__si_class_type_info*>(&type)) return si->__base_type;
    if (auto* vmi = dynamic_cast<const abi::__vmi_class_type_info*>(&type))
        return vmi->__base_count > 0 ? vmi->__base_info[0].__base_type : nullptr;
    return nullptr;
}

} // namespace

std::string ShortClassName(const std::type_info& type)
{
    int status = 0;
    char* demangled = abi::__cxa_demangle(type.name(), nullptr, nullptr, &status);
    std::string name = status == 0 && demangled ? demangled : type.name();
    std::free(demangled);
    const auto templ = name.find('<');
    if (templ != std::string::npos) name.erase(templ);
    const auto scope = name.rfind("::");
    if (scope != std::string::npos) name.erase(0, scope + 2);
    return name;
}

bool ClassDescendsFrom(const std::type_info& type, const std::string& className)
{
    const std::string wanted = Normalized(className);
    for (const std::type_info* t = &type; t; t = FirstBase(*t))
        if (Normalized(ShortClassName(*t)) == wanted) return true;
    return false;
}

bool IsUntrackedThreadClass(const std::type_info& type)
{
    for (const char* name : {"TExceptionThread", "TFreezeThread", "TSendDialogThread", "TSendThread"})
        if (ClassDescendsFrom(type, name)) return true;
    return false;
}

} // namespace crashreport
