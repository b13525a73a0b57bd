#pragma once
// Functions that fault on purpose, for the fault and crash tests. Each one
// stays a call of its own (noinline) and touches memory through volatile, so
// the compiler can neither fold the fault away nor move it out of the
// enclosing try. `inline` is for linkage only: several test files of one
// program include this header.
#include <cstdint>
#include <string>

namespace testing_support {

__attribute__((noinline)) inline int ReadAt(std::uintptr_t address)
{
    return *reinterpret_cast<volatile int*>(address);
}

__attribute__((noinline)) inline void WriteAt(std::uintptr_t address) { *reinterpret_cast<volatile int*>(address) = 7; }

// The division must reach the processor: not checked by the sanitizer.
__attribute__((noinline, no_sanitize("undefined"))) inline int Divide(int a, int b) { return a / b; }

// Recurses until the stack runs out. Called through a pointer the compiler
// cannot see through: a plain self-call is proven not to throw (stack
// accesses count as non-trapping) and the enclosing try would be dropped.
int Recurse(int depth);
inline int (*volatile g_next)(int) = Recurse;
__attribute__((noinline)) inline int Recurse(int depth)
{
    volatile char frame[512];
    frame[0] = static_cast<char>(depth);
    return g_next(depth + 1) + frame[0];
}

// Whether text holds part: the check the crash tests make on a child's
// output and report.
inline bool Contains(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

} // namespace testing_support
