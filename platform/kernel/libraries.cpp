#include "platform/kernel/libraries.h"

#include <dlfcn.h>
#include <sys/auxv.h>

#include "platform/kernel/modules.h"

namespace kernel {
namespace {

// Owner of a dynamic linker reference; with RTLD_NOLOAD it never loads anything.
class TLibraryRef {
public:
    explicit TLibraryRef(void* handle) : handle_(handle) {}
    ~TLibraryRef()
    {
        if (handle_) ::dlclose(handle_);
    }
    TLibraryRef(const TLibraryRef&) = delete;
    TLibraryRef& operator=(const TLibraryRef&) = delete;
    void* Get() const { return handle_; }

private:
    void* handle_;
};

} // namespace

void* GetProcAddress(std::uintptr_t handle, const char* name)
{
    TModuleImage image;
    if (!FindModuleByHandle(handle, image) || image.Path.empty()) return nullptr;
    TLibraryRef ref(image.IsMainExecutable ? ::dlopen(nullptr, RTLD_LAZY)
                                           : ::dlopen(image.Path.c_str(), RTLD_LAZY | RTLD_NOLOAD));
    if (!ref.Get()) return nullptr;
    void* symbol = ::dlsym(ref.Get(), name);
    Dl_info info;
    if (!symbol || !::dladdr(symbol, &info) || !image.Contains(symbol)) return nullptr;
    return symbol;
}

std::uintptr_t VdsoHandle() { return static_cast<std::uintptr_t>(::getauxval(AT_SYSINFO_EHDR)); }

void* FindGlobalSymbol(const char* name) { return ::dlsym(RTLD_DEFAULT, name); }

void* FindLibrarySymbol(const std::string& library, const char* name)
{
    TLibraryRef ref(::dlopen(library.c_str(), RTLD_NOW | RTLD_NOLOAD));
    return ref.Get() ? ::dlsym(ref.Get(), name) : nullptr;
}

} // namespace kernel
