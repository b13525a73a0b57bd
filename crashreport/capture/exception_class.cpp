#include "crashreport/capture/exception_class.h"

#include <cxxabi.h>

#include <atomic>
#include <cctype>
#include <cstring>

namespace crashreport {
namespace {

const std::type_info* FirstBase(const std::type_info& type)
{
    if (auto* si = dynamic_cast<const abi::__si_class_type_info*>(&type)) return si->__base_type;
    if (auto* vmi = dynamic_cast<const abi::__vmi_class_type_info*>(&type))
        return vmi->__base_count > 0 ? vmi->__base_info[0].__base_type : nullptr;
    return nullptr;
}

void CopyCut(char* out, std::size_t capacity, const char* from, std::size_t length)
{
    if (capacity == 0) return;
    const std::size_t n = length < capacity - 1 ? length : capacity - 1;
    std::memcpy(out, from, n);
    out[n] = 0;
}

// Reads "<length><identifier>" at p; answers the identifier and moves p on.
bool ReadSourceName(const char*& p, const char*& name, std::size_t& length)
{
    if (!std::isdigit(static_cast<unsigned char>(*p))) return false;
    std::size_t n = 0;
    while (std::isdigit(static_cast<unsigned char>(*p))) n = n * 10 + static_cast<std::size_t>(*p++ - '0');
    if (strnlen(p, n) < n) return false;
    name = p;
    length = n;
    p += n;
    return true;
}

bool SameNameIgnoringCase(const char* a, const char* b)
{
    while (*a == ' ') ++a;
    while (*b == ' ') ++b;
    std::size_t la = std::strlen(a), lb = std::strlen(b);
    while (la && a[la - 1] == ' ') --la;
    while (lb && b[lb - 1] == ' ') --lb;
    if (la != lb) return false;
    for (std::size_t i = 0; i < la; ++i)
        if (std::toupper(static_cast<unsigned char>(a[i])) != std::toupper(static_cast<unsigned char>(b[i])))
            return false;
    return true;
}

} // namespace

bool ShortClassName(const std::type_info& type, char* out, std::size_t capacity)
{
    const char* p = type.name();
    if (*p == '*') // a local name marker of some compilers
        ++p;
    const char* name = nullptr;
    std::size_t length = 0;
    if (p[0] == 'S' && p[1] == 't') { // ::std::
        p += 2;
        if (ReadSourceName(p, name, length)) {
            CopyCut(out, capacity, name, length);
            return true;
        }
    } else if (*p == 'N') { // nested: N <prefix>* <name> [template args] E
        ++p;
        if (p[0] == 'S' && p[1] == 't') p += 2;
        while (ReadSourceName(p, name, length)) {}
        if (name) {
            CopyCut(out, capacity, name, length);
            return true;
        }
    } else if (ReadSourceName(p, name, length)) {
        CopyCut(out, capacity, name, length);
        return true;
    }
    CopyCut(out, capacity, type.name(), std::strlen(type.name()));
    return false;
}

bool ClassDescendsFromNameUncached(const std::type_info* type, const char* className)
{
    char name[128];
    for (const std::type_info* t = type; t; t = FirstBase(*t)) {
        ShortClassName(*t, name, sizeof name);
        if (SameNameIgnoringCase(name, className)) return true;
    }
    return false;
}

const std::exception* AsStdException(const TExceptionObject& object)
{
    if (!object.Valid()) return nullptr;
    void* adjusted = object.Object;
    if (typeid(std::exception).__do_catch(object.Type, &adjusted, 1))
        return static_cast<const std::exception*>(adjusted);
    return nullptr;
}

bool IsManageable(const TExceptionObject& object) { return object.Valid() && !(ClassFlags(object.Type) & cfAbort); }

namespace {

struct TFlagsEntry {
    const std::type_info* Type;
    unsigned Flags;
};
constexpr int kFlagsCacheSize = 16;
TFlagsEntry g_flags[kFlagsCacheSize];
std::atomic<int> g_flagsNext{0};
std::atomic_flag g_flagsLock = ATOMIC_FLAG_INIT;

} // namespace

// Holds the flags table's spin lock for a scope; never held across a call
// that could fault.
class TFlagsLock {
public:
    TFlagsLock()
    {
        while (g_flagsLock.test_and_set(std::memory_order_acquire)) {}
    }
    ~TFlagsLock() { g_flagsLock.clear(std::memory_order_release); }
    TFlagsLock(const TFlagsLock&) = delete;
    TFlagsLock& operator=(const TFlagsLock&) = delete;
};

unsigned ClassFlags(const std::type_info* type)
{
    if (!type) return 0;
    {
        TFlagsLock lock;
        for (const TFlagsEntry& e : g_flags)
            if (e.Type == type) return e.Flags;
    }
    const unsigned flags = cfKnown | (ClassDescendsFromNameUncached(type, "EAbort") ? unsigned(cfAbort) : 0u) |
        (ClassDescendsFromNameUncached(type, "EExternal") ? unsigned(cfExternal) : 0u) |
        (ClassDescendsFromNameUncached(type, "EStackOverflow") ? unsigned(cfStackOverflow) : 0u);
    TFlagsLock lock;
    g_flags[g_flagsNext.fetch_add(1) % kFlagsCacheSize] = TFlagsEntry{type, flags};
    return flags;
}

bool ClassDescendsFromName(const std::type_info* type, const char* className)
{
    return ClassDescendsFromNameUncached(type, className);
}

const char* ExceptionMessage(const TExceptionObject& object)
{
    const std::exception* e = AsStdException(object);
    const char* text = e ? e->what() : nullptr;
    return text ? text : "";
}

} // namespace crashreport
