#include "crashreport/report/binding/module_exports.h"

#include <dlfcn.h>

#include <string>

#include "platform/kernel/modules.h"

namespace crashreport {
namespace {

// Owner of a dlopen reference taken with RTLD_NOLOAD (never loads anything).
class TLoadedModuleRef {
public:
    explicit TLoadedModuleRef(const kernel::TModuleImage& image)
        : handle_(image.IsMainExecutable ? dlopen(nullptr, RTLD_LAZY)
                                         : dlopen(image.Path.c_str(), RTLD_LAZY | RTLD_NOLOAD)) {}
    ~TLoadedModuleRef()
    {
        if (handle_)
            dlclose(handle_);
    }
    TLoadedModuleRef(const TLoadedModuleRef&) = delete;
    TLoadedModuleRef& operator=(const TLoadedModuleRef&) = delete;
    void* Get() const { return handle_; }

private:
    void* handle_;
};

} // namespace

void* FindModuleExport(std::uintptr_t module, const char* name)
{
    kernel::TModuleImage image;
    if (!kernel::FindModuleByHandle(module, image) || image.Path.empty())
        return nullptr;
    TLoadedModuleRef ref(image);
    if (!ref.Get())
        return nullptr;
    void* symbol = dlsym(ref.Get(), name);
    if (!symbol)
        return nullptr;
    Dl_info info;
    if (!dladdr(symbol, &info) || !image.Contains(symbol))
        return nullptr;
    return symbol;
}

} // namespace crashreport
