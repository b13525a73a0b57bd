#include "crashreport/modules/modules_list.h"

#include <atomic>
#include <ctime>
#include <mutex>

#include "crashreport/codecs/day_count.h"
#include "crashreport/modules/stored_data_loader.h"
#include "crashreport/modules/elf_sections.h"
#include "crashreport/modules/module_identity_info.h"
#include "crashreport/modules/stored_data_format.h"
#include "platform/kernel/files.h"
#include "platform/kernel/modules.h"

namespace crashreport {
namespace {

std::recursive_mutex g_lock;
std::atomic<bool> g_enumerating{false};
std::atomic<int> g_noLoading{0};

// The file's last write time in local time, at the 2-second steps of a DOS
// date-time; 0 when the file is missing.
double LastModifiedLocal(const std::string& file)
{
    const auto info = kernel::GetFileInfo(file);
    if (!info) return 0;
    std::time_t t = info->LastWriteSeconds;
    std::tm local{};
    if (!localtime_r(&t, &local)) return 0;
    const std::int64_t localSeconds = std::int64_t(t) + local.tm_gmtoff;
    return codecs::UnixMillisecondsToDayCount((localSeconds - (localSeconds & 1)) * 1000);
}

// Drops the records of modules that are no longer loaded.
void DropUnloadedRecords(TTavrelModulesList& list, const std::vector<kernel::TModuleImage>& loaded)
{
    for (int i = list.Count() - 1; i >= 0; --i) {
        bool present = false;
        for (const auto& image : loaded) present = present || image.Handle == list.Item(i)->Handle;
        if (!present) list.Delete(i);
    }
}

class TEnumerationScope {
public:
    TEnumerationScope() { g_enumerating = true; }
    ~TEnumerationScope() { g_enumerating = false; }
};

} // namespace

TTavrelModulesList& ModulesList()
{
    static TTavrelModulesList list;
    return list;
}

void LockModulesList() { g_lock.lock(); }
void UnlockModulesList() { g_lock.unlock(); }
bool EnumeratingModules() { return g_enumerating.load(); }

TTavrelModuleInfo* LoadModuleInfo(std::uintptr_t handle)
{
    const std::string file = ModuleFileName(handle);
    if (file.empty()) return nullptr;
    auto m = std::make_unique<TTavrelModuleInfo>();
    m->Handle = handle;
    m->FileName = file;
    m->DebugPassword.clear();
    m->NamesReadable = 1;
    m->LastModified = LastModifiedLocal(file);
    const TVersionInfo version = GetVersionInfo(file);
    m->Description = version.Description;
    m->Version = version.Version;
    m->FileSize = std::uint32_t(FileSizeOf(file).value_or(0));
    if (EnumeratingModules()) {
        m->ModuleKind = mkUnclassified;
    } else {
        m->ModuleKind = GetModuleKind(handle);
        // The program's own exports too: a program linked with exported
        // functions (ENABLE_EXPORTS) but without debug data still gets
        // procedure names in its call stacks.
        LoadExportedFunctions(*m);
    }
    m->Options = std::make_unique<TTavrelModuleOptionsEx>(file, true);
    std::unique_ptr<TLightModeScope> light;
    if (EnumeratingModules()) light = std::make_unique<TLightModeScope>();
    if (!LoadStoredOptions(*m)) {
        m->DebugVersion = stored::kReporterVersion;
        m->CompilationDate = 0;
        m->DebugData.reset();
    }
    std::lock_guard<std::recursive_mutex> lock(g_lock);
    return ModulesList().Add(std::move(m));
}

TTavrelModuleInfo* FindModuleInfo(std::uintptr_t handle)
{
    std::lock_guard<std::recursive_mutex> lock(g_lock);
    auto& list = ModulesList();
    const int i = list.IndexOfHandle(handle);
    if (i >= 0) {
        if (list.Item(i)->ModuleKind != mkUnclassified || EnumeratingModules() || !ModuleLoadingAllowed())
            return list.Item(i);
        list.Delete(i); // made during enumeration: build it again in full
    }
    if (!ModuleLoadingAllowed()) return nullptr;
    TTavrelModuleInfo* record = nullptr;
    try {
        record = LoadModuleInfo(handle);
    } catch (...) {
        return nullptr; // a module that cannot be read is left out, the report goes on
    }
    if (record && i >= 0) list.SortByHandle();
    return record;
}

TTavrelModuleInfo* FindModuleInfoByAddr(const void* address)
{
    kernel::TModuleImage image;
    if (!kernel::FindModuleByAddress(address, image)) return nullptr;
    return FindModuleInfo(image.Handle);
}

TNoModuleLoadingScope::TNoModuleLoadingScope() { ++g_noLoading; }
TNoModuleLoadingScope::~TNoModuleLoadingScope() { --g_noLoading; }
bool ModuleLoadingAllowed() { return g_noLoading.load() == 0; }

void LoadModulesForReport()
{
    TModulesListLock lock;
    const auto loaded = kernel::EnumerateModules();
    auto& list = ModulesList();
    DropUnloadedRecords(list, loaded);
    for (const auto& image : loaded) {
        TTavrelModuleInfo* record = FindModuleInfo(image.Handle);
        if (record && record->DebugData) record->DebugData->Units(); // the index, built on first use otherwise
    }
    list.SortByHandle();
}

int DropChangedModules()
{
    std::lock_guard<std::recursive_mutex> lock(g_lock);
    auto& list = ModulesList();
    int dropped = 0;
    for (int i = list.Count() - 1; i >= 0; --i)
        if (LastModifiedLocal(list.Item(i)->FileName) != list.Item(i)->LastModified) {
            list.Delete(i);
            ++dropped;
        }
    return dropped;
}

void RefreshModulesList()
{
    std::lock_guard<std::recursive_mutex> lock(g_lock);
    const auto loaded = kernel::EnumerateModules();
    auto& list = ModulesList();
    DropUnloadedRecords(list, loaded);
    TEnumerationScope enumerating;
    for (const auto& image : loaded) {
        if (list.IndexOfHandle(image.Handle) >= 0) continue;
        try {
            LoadModuleInfo(image.Handle);
        } catch (...) {
            // A module that cannot be read is left out of the list.
        }
    }
    list.SortByHandle();
}

} // namespace crashreport
