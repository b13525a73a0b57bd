// The mapped fault classes, the mapping hook and the raise allocator.
#include "platform/rtl/external_exception.h"

#include <cxxabi.h>

#include <atomic>
#include <cstring>

namespace rtl {
namespace {

std::atomic<TExceptObjProc> g_mapping{&MapExceptionRecord};
std::atomic<TRaiseAllocator> g_allocator{nullptr};

// Appends src to dst (capacity cap, always terminated). Signal-safe.
void Append(char* dst, std::size_t cap, const char* src)
{
    std::size_t n = std::strlen(dst);
    while (*src && n + 1 < cap) dst[n++] = *src++;
    dst[n] = 0;
}

constexpr int kPointerDigits = static_cast<int>(sizeof(void*) * 2);

void AppendPointer(char* dst, std::size_t cap, std::uintptr_t value)
{
    char hex[24];
    FormatHex(hex, value, kPointerDigits);
    Append(dst, cap, hex);
}

template <typename T> EExternal* Build(TExceptionStorage& storage, const TExceptionRecord& record, const char* text)
{
    static_assert(sizeof(T) <= sizeof storage.Object, "mapped class too large for its storage");
    static_assert(alignof(T) <= alignof(TExceptionStorage));
    return ::new (static_cast<void*>(storage.Object)) T(record, text);
}

} // namespace

void FormatHex(char* out, std::uintptr_t value, int digits)
{
    static const char kDigits[] = "0123456789ABCDEF";
    for (int i = digits - 1; i >= 0; --i) {
        out[i] = kDigits[value & 0xF];
        value >>= 4;
    }
    out[digits] = 0;
}

EExternal::EExternal(const TExceptionRecord& record, const char* text)
    : Exception(std::string()), ExceptionRecord(record)
{
    Append(text_, sizeof text_, text ? text : "");
}

const char* EExternal::what() const noexcept { return Message.empty() ? text_ : Message.c_str(); }

void Abort() { throw EAbort(); }

TExceptObjProc ExceptObjProc() { return g_mapping.load(std::memory_order_acquire); }

TExceptObjProc SetExceptObjProc(TExceptObjProc proc)
{
    return g_mapping.exchange(proc ? proc : &MapExceptionRecord, std::memory_order_acq_rel);
}

const char* AccessOperationName(std::uintptr_t kind)
{
    return kind == avWrite ? "Write" : kind == avExecute ? "Execution" : "Read";
}

EExternal* MapExceptionRecord(const TExceptionRecord& record, const ucontext_t*, TExceptionStorage& storage)
{
    char text[160] = {};
    const auto address = reinterpret_cast<std::uintptr_t>(record.ExceptionAddress);
    switch (record.ExceptionCode) {
    case STATUS_ACCESS_VIOLATION: {
        Append(text, sizeof text, "Access violation at address ");
        AppendPointer(text, sizeof text, address);
        const std::uintptr_t kind = record.ExceptionInformation[0];
        Append(text, sizeof text, ". ");
        Append(text, sizeof text, AccessOperationName(kind));
        Append(text, sizeof text, " of address ");
        AppendPointer(text, sizeof text, record.ExceptionInformation[1]);
        return Build<EAccessViolation>(storage, record, text);
    }
    case STATUS_STACK_OVERFLOW: return Build<EStackOverflow>(storage, record, "Stack overflow");
    case STATUS_INTEGER_DIVIDE_BY_ZERO: return Build<EDivByZero>(storage, record, "Division by zero");
    case STATUS_INTEGER_OVERFLOW: return Build<EIntOverflow>(storage, record, "Integer overflow");
    case STATUS_FLOAT_DIVIDE_BY_ZERO: return Build<EZeroDivide>(storage, record, "Floating point division by zero");
    case STATUS_FLOAT_OVERFLOW: return Build<EOverflow>(storage, record, "Floating point overflow");
    case STATUS_FLOAT_UNDERFLOW: return Build<EUnderflow>(storage, record, "Floating point underflow");
    case STATUS_FLOAT_INVALID_OPERATION:
    case STATUS_FLOAT_DENORMAL_OPERAND:
    case STATUS_FLOAT_INEXACT_RESULT:
    case STATUS_FLOAT_STACK_CHECK: return Build<EInvalidOp>(storage, record, "Invalid floating point operation");
    case STATUS_PRIVILEGED_INSTRUCTION: return Build<EPrivilege>(storage, record, "Privileged instruction");
    default: {
        Append(text, sizeof text, "External exception ");
        char hex[12];
        FormatHex(hex, record.ExceptionCode, 8);
        Append(text, sizeof text, hex);
        return Build<EExternalException>(storage, record, text);
    }
    }
}

TRaiseAllocator SetRaiseAllocator(TRaiseAllocator allocator) { return g_allocator.exchange(allocator); }

void* AllocateRaiseObject(std::size_t size)
{
    if (TRaiseAllocator allocator = g_allocator.load(std::memory_order_acquire)) return allocator(size);
    return abi::__cxa_allocate_exception(size);
}

void ThrowAllocated(void* object, const std::type_info& type, void (*destroy)(void*))
{
    abi::__cxa_throw(object, const_cast<std::type_info*>(&type), destroy);
}

} // namespace rtl
