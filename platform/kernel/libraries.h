#pragma once
// Symbols of the loaded modules, looked up through the dynamic linker: the
// stand-in for GetProcAddress; and the owner of a library loaded on demand
// (LoadLibrary/FreeLibrary). The lookups never load anything; only modules
// that are loaded already are searched. Not signal-safe (the dynamic
// linker takes its lock).
#include <cstdint>
#include <string>
#include <utility>

namespace kernel {

// A function that the module loaded at `handle` itself defines and exports;
// a definition found in one of its dependencies does not count. Null when
// there is none.
void* GetProcAddress(std::uintptr_t handle, const char* name);

// The definition that `name` binds to in the process's global scope (the
// program, then the libraries in load order), or null.
void* FindGlobalSymbol(const char* name);

// The definition of `name` in the loaded library `library` (a file name as
// the dynamic linker knows it, such as "libc.so.6") or its dependencies;
// null when the library is not loaded or has none.
void* FindLibrarySymbol(const std::string& library, const char* name);

// One reference to a shared library, given back when the owner goes.
class TLibraryHandle {
public:
    TLibraryHandle() = default;
    // Loads `name` with its symbols bound now and kept local; an empty
    // handle with the dynamic linker's reason in `error` when it cannot.
    static TLibraryHandle Load(const std::string& name, std::string& error);
    // A reference to a library that is loaded already (the program for an
    // empty path); an empty handle when it is not loaded. Never loads.
    static TLibraryHandle Loaded(const std::string& path);
    ~TLibraryHandle();
    TLibraryHandle(TLibraryHandle&& other) noexcept : handle_(std::exchange(other.handle_, nullptr)) {}
    TLibraryHandle& operator=(TLibraryHandle&& other) noexcept;
    TLibraryHandle(const TLibraryHandle&) = delete;
    TLibraryHandle& operator=(const TLibraryHandle&) = delete;

    bool Valid() const { return handle_ != nullptr; }
    // The symbol as the library and its dependencies define it, or null.
    void* Symbol(const char* name) const;

private:
    explicit TLibraryHandle(void* handle) : handle_(handle) {}
    void* handle_ = nullptr;
};

// Where the kernel's shared page of system-call code (the vDSO) is loaded, or 0.
// Signal-safe.
std::uintptr_t VdsoHandle();

} // namespace kernel
