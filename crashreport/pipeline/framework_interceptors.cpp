#include "crashreport/pipeline/framework_interceptors.h"

#include "crashreport/capture/capture_errors.h"
#include "crashreport/hook/hook_engine.h"
#include "crashreport/hook/module_loading.h"
#include "crashreport/pipeline/gtk_interceptors.h"
#include "crashreport/pipeline/last_page.h"
#include "crashreport/report/web_page.h"
#include "platform/kernel/modules.h"

#include <dlfcn.h>
#include <stdio.h>
#include <string.h>
#include <sys/uio.h>
#include <unistd.h>

#include <atomic>

namespace crashreport {
namespace {

thread_local bool t_reporterWrites = false;
// Inside an interceptor: a copy that writes itself is not copied again.
thread_local bool t_copying = false;

using TWrite = ssize_t (*)(int, const void*, size_t);
using TWritev = ssize_t (*)(int, const struct iovec*, int);
using TFwrite = size_t (*)(const void*, size_t, size_t, FILE*);
using TFputs = int (*)(const char*, FILE*);
using TPuts = int (*)(const char*);

std::atomic<TWrite> g_write{nullptr};
std::atomic<TWritev> g_writev{nullptr};
std::atomic<TFwrite> g_fwrite{nullptr};
std::atomic<TFputs> g_fputs{nullptr};
std::atomic<TPuts> g_puts{nullptr};

void Keep(const void* data, std::size_t length)
{
    if (t_reporterWrites || t_copying || !data || !length) return;
    t_copying = true;
    try {
        AppendLastPage(static_cast<const char*>(data), length);
    } catch (...) {
    }
    t_copying = false;
}

ssize_t WriteInterceptor(int fd, const void* buffer, size_t count)
{
    if (fd == 1) Keep(buffer, count);
    return g_write.load()(fd, buffer, count);
}

ssize_t WritevInterceptor(int fd, const struct iovec* iov, int count)
{
    if (fd == 1)
        for (int i = 0; i < count; ++i) Keep(iov[i].iov_base, iov[i].iov_len);
    return g_writev.load()(fd, iov, count);
}

size_t FwriteInterceptor(const void* data, size_t size, size_t count, FILE* stream)
{
    if (stream == stdout) Keep(data, size * count);
    return g_fwrite.load()(data, size, count, stream);
}

int FputsInterceptor(const char* text, FILE* stream)
{
    if (stream == stdout && text) Keep(text, strlen(text));
    return g_fputs.load()(text, stream);
}

int PutsInterceptor(const char* text)
{
    if (text) {
        Keep(text, strlen(text));
        Keep("\n", 1);
    }
    return g_puts.load()(text);
}

// In every module, and in those loaded later (hook/module_loading.h).
template <typename T> int InterceptInEveryModule(const char* name, std::atomic<T>& real, T replacement)
{
    T function = reinterpret_cast<T>(dlsym(RTLD_DEFAULT, name));
    if (!function) return 0;
    real.store(function);
    return hook::InterceptInEveryModule(reinterpret_cast<void*>(function), reinterpret_cast<void*>(replacement), name);
}

std::atomic<bool> g_cgiInstalled{false};

} // namespace

bool FrameworkPresent(TFramework framework)
{
    switch (framework) {
    case fwGUIApplication:
    case fwThreadClass:
    case fwCGI:
    case fwGTK:
        return true;
    default:
        return false;
    }
}

int InstallFrameworkInterceptors()
{
    InstallGtkInterceptors();
    if (!IsCGI() || g_cgiInstalled.exchange(true)) return 0;
    int patched = InterceptInEveryModule<TWrite>("write", g_write, &WriteInterceptor);
    patched += InterceptInEveryModule<TWritev>("writev", g_writev, &WritevInterceptor);
    patched += InterceptInEveryModule<TFwrite>("fwrite", g_fwrite, &FwriteInterceptor);
    patched += InterceptInEveryModule<TFputs>("fputs", g_fputs, &FputsInterceptor);
    patched += InterceptInEveryModule<TPuts>("puts", g_puts, &PutsInterceptor);
    return patched;
}

void RemoveFrameworkInterceptors()
{
    RemoveGtkInterceptors();
    if (!g_cgiInstalled.exchange(false)) return;
    hook::RestoreImports(reinterpret_cast<void*>(&WriteInterceptor));
    hook::RestoreImports(reinterpret_cast<void*>(&WritevInterceptor));
    hook::RestoreImports(reinterpret_cast<void*>(&FwriteInterceptor));
    hook::RestoreImports(reinterpret_cast<void*>(&FputsInterceptor));
    hook::RestoreImports(reinterpret_cast<void*>(&PutsInterceptor));
}

TReporterWritesScope::TReporterWritesScope() : previous_(t_reporterWrites) { t_reporterWrites = true; }
TReporterWritesScope::~TReporterWritesScope() { t_reporterWrites = previous_; }

} // namespace crashreport
