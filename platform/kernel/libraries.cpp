#include "platform/kernel/libraries.h"

#include <dlfcn.h>
#include <sys/auxv.h>

#include "platform/kernel/modules.h"

namespace kernel {
TLibraryHandle TLibraryHandle::Load(const std::string& name, std::string& error)
{
    TLibraryHandle library(::dlopen(name.c_str(), RTLD_NOW | RTLD_LOCAL));
    if (!library.Valid()) {
        const char* reason = ::dlerror();
        error = reason ? reason : name;
    }
    return library;
}

TLibraryHandle TLibraryHandle::Loaded(const std::string& path)
{
    return TLibraryHandle(path.empty() ? ::dlopen(nullptr, RTLD_LAZY) : ::dlopen(path.c_str(), RTLD_LAZY | RTLD_NOLOAD));
}

TLibraryHandle::~TLibraryHandle()
{
    if (handle_) ::dlclose(handle_);
}

TLibraryHandle& TLibraryHandle::operator=(TLibraryHandle&& other) noexcept
{
    if (this != &other) {
        if (handle_) ::dlclose(handle_);
        handle_ = std::exchange(other.handle_, nullptr);
    }
    return *this;
}

void* TLibraryHandle::Symbol(const char* name) const { return handle_ ? ::dlsym(handle_, name) : nullptr; }

void* GetProcAddress(std::uintptr_t handle, const char* name)
{
    TModuleImage image;
    if (!FindModuleByHandle(handle, image) || image.Path.empty()) return nullptr;
    const TLibraryHandle ref = TLibraryHandle::Loaded(image.IsMainExecutable ? std::string() : image.Path);
    void* symbol = ref.Symbol(name);
    Dl_info info;
    if (!symbol || !::dladdr(symbol, &info) || !image.Contains(symbol)) return nullptr;
    return symbol;
}

std::uintptr_t VdsoHandle() { return static_cast<std::uintptr_t>(::getauxval(AT_SYSINFO_EHDR)); }

void* FindGlobalSymbol(const char* name) { return ::dlsym(RTLD_DEFAULT, name); }

void* FindLibrarySymbol(const std::string& library, const char* name)
{
    return TLibraryHandle::Loaded(library).Symbol(name);
}

} // namespace kernel
