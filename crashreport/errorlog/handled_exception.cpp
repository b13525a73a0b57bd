#include "crashreport/errorlog/handled_exception.h"

#include <cxxabi.h>

#include <cstdlib>
#include <exception>
#include <memory>
#include <typeinfo>

namespace crashreport {
namespace {

// The silent abort, and the error of the reporter's socket client whose
// message the sending steps report as a warning already.
constexpr const char* kIgnoredClasses[] = {"EAbort", "ETavrelSocketError"};

struct TFreeDeleter {
    void operator()(char* p) const { std::free(p); }
};

std::string Demangled(const std::type_info& type)
{
    int status = 0;
    std::unique_ptr<char, TFreeDeleter> name(abi::__cxa_demangle(type.name(), nullptr, nullptr, &status));
    return status == 0 && name ? name.get() : type.name();
}

std::string WithoutNamespaces(const std::string& name)
{
    const auto colon = name.rfind("::");
    return colon == std::string::npos ? name : name.substr(colon + 2);
}

} // namespace

bool ClassIsOrDerivesFrom(const std::type_info& type, const std::string& name)
{
    if (WithoutNamespaces(Demangled(type)) == name) return true;
    // The run-time type information lists each class's bases.
    if (auto* single = dynamic_cast<const abi::__si_class_type_info*>(&type))
        return ClassIsOrDerivesFrom(*single->__base_type, name);
    if (auto* multiple = dynamic_cast<const abi::__vmi_class_type_info*>(&type)) {
        for (unsigned i = 0; i < multiple->__base_count; ++i)
            if (ClassIsOrDerivesFrom(*multiple->__base_info[i].__base_type, name)) return true;
    }
    return false;
}

THandledException CurrentHandledException()
{
    THandledException facts;
    const std::type_info* type = abi::__cxa_current_exception_type();
    if (type == nullptr) return facts;
    facts.Present = true;
    if (dynamic_cast<const abi::__class_type_info*>(type) != nullptr) {
        facts.ClassName = Demangled(*type);
        for (const char* ignored : kIgnoredClasses)
            facts.Ignored = facts.Ignored || ClassIsOrDerivesFrom(*type, ignored);
    }
    try {
        throw;
    } catch (const std::exception& e) {
        facts.Language = true;
        facts.Message = e.what();
    } catch (...) {
    }
    return facts;
}

} // namespace crashreport
