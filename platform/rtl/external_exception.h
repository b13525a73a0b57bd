#pragma once
// Exceptions the operating system reports (faults, turned into C++
// exceptions by the runtime's signal handling) and the silent EAbort.
//
// A fault is described by an exception record with the Windows-style code;
// the runtime's replaceable mapping hook turns the record into an object of
// this hierarchy, built in caller-provided storage so that nothing is
// allocated in a signal handler:
//
//   Exception
//     EAbort                      silent: never reported
//     EExternal                   every mapped fault
//       EAccessViolation          0xC0000005, read/write/execute flag and address
//       EStackOverflow            0xC00000FD
//       EIntError
//         EDivByZero              0xC0000094
//         EIntOverflow            0xC0000095
//       EMathError
//         EZeroDivide, EOverflow, EUnderflow, EInvalidOp (floating-point traps)
//       EPrivilege                0xC0000096
//       EExternalException        any other code (illegal instruction, breakpoint, bus error)
#include "platform/rtl/exception.h"

#include <cstddef>
#include <cstdint>
#include <new>
#include <typeinfo>
#include <ucontext.h>

namespace rtl {

enum : std::uint32_t {
    STATUS_ACCESS_VIOLATION = 0xC0000005,
    STATUS_IN_PAGE_ERROR = 0xC0000006,
    STATUS_DATATYPE_MISALIGNMENT = 0x80000002,
    STATUS_BREAKPOINT = 0x80000003,
    STATUS_SINGLE_STEP = 0x80000004,
    STATUS_ILLEGAL_INSTRUCTION = 0xC000001D,
    STATUS_FLOAT_DENORMAL_OPERAND = 0xC000008D,
    STATUS_FLOAT_DIVIDE_BY_ZERO = 0xC000008E,
    STATUS_FLOAT_INEXACT_RESULT = 0xC000008F,
    STATUS_FLOAT_INVALID_OPERATION = 0xC0000090,
    STATUS_FLOAT_OVERFLOW = 0xC0000091,
    STATUS_FLOAT_STACK_CHECK = 0xC0000092,
    STATUS_FLOAT_UNDERFLOW = 0xC0000093,
    STATUS_INTEGER_DIVIDE_BY_ZERO = 0xC0000094,
    STATUS_INTEGER_OVERFLOW = 0xC0000095,
    STATUS_PRIVILEGED_INSTRUCTION = 0xC0000096,
    STATUS_STACK_OVERFLOW = 0xC00000FD,
};

constexpr std::uint32_t EXCEPTION_NONCONTINUABLE = 1;
constexpr int EXCEPTION_MAXIMUM_PARAMETERS = 15;

// Access kinds in ExceptionInformation[0] of an access violation.
enum : std::uintptr_t { avRead = 0, avWrite = 1, avExecute = 8 };
// The operation of an access violation's text ("Read", "Write" or
// "Execution" of address ...). Signal-safe.
const char* AccessOperationName(std::uintptr_t kind);

struct TExceptionRecord {
    std::uint32_t ExceptionCode = 0;
    std::uint32_t ExceptionFlags = 0;
    TExceptionRecord* ExceptionRecord = nullptr; // a chained record; always null here
    void* ExceptionAddress = nullptr;
    std::uint32_t NumberParameters = 0;
    std::uintptr_t ExceptionInformation[EXCEPTION_MAXIMUM_PARAMETERS] = {};
};

// Copies an object of the mapped class into memory of the C++ runtime and
// throws it. The memory comes from the raise allocator (below).
template <typename T> [[noreturn]] void ThrowCopy(const T& object);

class EExternal : public Exception {
public:
    EExternal(const TExceptionRecord& record, const char* text);
    // The message: Message when set (a prefix was added later), else the
    // text made when the object was mapped.
    const char* what() const noexcept override;
    // Throws a copy of this object as its own class. Signal-safe except for
    // the raise allocator's own behaviour.
    [[noreturn]] virtual void Raise() const { ThrowCopy(*this); }

    TExceptionRecord ExceptionRecord;

protected:
    char text_[160] = {};
};

#define RTL_EXTERNAL_CLASS(Name, Base)                                                                                 \
    class Name : public Base {                                                                                         \
    public:                                                                                                            \
        using Base::Base;                                                                                              \
        [[noreturn]] void Raise() const override { ThrowCopy(*this); }                                                 \
    };

class EAccessViolation : public EExternal {
public:
    using EExternal::EExternal;
    [[noreturn]] void Raise() const override { ThrowCopy(*this); }
    bool IsWrite() const { return ExceptionRecord.ExceptionInformation[0] == avWrite; }
    bool IsExecute() const { return ExceptionRecord.ExceptionInformation[0] == avExecute; }
    std::uintptr_t Address() const { return ExceptionRecord.ExceptionInformation[1]; }
};

RTL_EXTERNAL_CLASS(EStackOverflow, EExternal)
RTL_EXTERNAL_CLASS(EIntError, EExternal)
RTL_EXTERNAL_CLASS(EDivByZero, EIntError)
RTL_EXTERNAL_CLASS(EIntOverflow, EIntError)
RTL_EXTERNAL_CLASS(EMathError, EExternal)
RTL_EXTERNAL_CLASS(EZeroDivide, EMathError)
RTL_EXTERNAL_CLASS(EOverflow, EMathError)
RTL_EXTERNAL_CLASS(EUnderflow, EMathError)
RTL_EXTERNAL_CLASS(EInvalidOp, EMathError)
RTL_EXTERNAL_CLASS(EPrivilege, EExternal)
RTL_EXTERNAL_CLASS(EExternalException, EExternal)

#undef RTL_EXTERNAL_CLASS

// The silent exception: "Operation aborted". Never reported.
class EAbort : public Exception {
public:
    EAbort() : Exception("Operation aborted") {}
    using Exception::Exception;
};
[[noreturn]] void Abort();

// A failed assertion of the runtime.
class EAssertionFailed : public Exception {
public:
    using Exception::Exception;
};

// Storage for one mapped object, prepared before a fault (per thread). The
// reserved bytes in front leave room for the C++ runtime's raise header, so
// the object can be looked at as if it had been thrown.
struct alignas(16) TExceptionStorage {
    unsigned char Reserved[128];
    unsigned char Object[384];
};

// The mapping hook: builds the exception object for a record in the
// storage's Object bytes and answers it (null: leave the signal to whoever
// handled it before). The context is the faulting thread's (may be null for
// a record forwarded from another module). Must be signal-safe.
using TExceptObjProc = EExternal* (*)(const TExceptionRecord& record, const ucontext_t* context,
                                      TExceptionStorage& storage);
// The current hook; the default is MapExceptionRecord. Signal-safe to read.
TExceptObjProc ExceptObjProc();
// Replaces the hook (null puts the default back); answers the previous one.
TExceptObjProc SetExceptObjProc(TExceptObjProc proc);
// The runtime's own mapping. Signal-safe.
EExternal* MapExceptionRecord(const TExceptionRecord& record, const ucontext_t* context, TExceptionStorage& storage);

// Where ThrowCopy takes the memory of a thrown copy. The default is the C++
// runtime's __cxa_allocate_exception; the crash reporter replaces it with one
// that never waits for the allocator's lock.
using TRaiseAllocator = void* (*)(std::size_t size);
TRaiseAllocator SetRaiseAllocator(TRaiseAllocator allocator);
void* AllocateRaiseObject(std::size_t size);
[[noreturn]] void ThrowAllocated(void* object, const std::type_info& type, void (*destroy)(void*));

template <typename T> [[noreturn]] void ThrowCopy(const T& object)
{
    void* memory = AllocateRaiseObject(sizeof(T));
    ::new (memory) T(object); // mapped classes copy without allocating
    ThrowAllocated(memory, typeid(T), [](void* p) { static_cast<T*>(p)->~T(); });
}

// Writes `value` as upper-case hexadecimal of `digits` digits into out
// (which has room for digits + 1). Signal-safe.
void FormatHex(char* out, std::uintptr_t value, int digits);

} // namespace rtl
