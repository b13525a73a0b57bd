#include "crashreport/modules/module_identity_info.h"

#include <elf.h>
#include <link.h>

#include <algorithm>
#include <cstring>

#include "crashreport/modules/byte_reader.h"
#include "crashreport/modules/cpp_name_parts.h"
#include "crashreport/modules/elf_sections.h"
#include "crashreport/modules/readable_memory.h"
#include "crashreport/modules/stored_data_format.h"
#include "platform/kernel/files.h"
#include "platform/kernel/modules.h"

namespace crashreport {
namespace {

std::string BaseName(const std::string& path)
{
    const auto slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

bool IsRuntimePackage(const std::string& fileName)
{
    const std::string name = BaseName(fileName);
    return name.rfind("libstdc++.so", 0) == 0 || name.rfind("libgcc_s.so", 0) == 0;
}

// A position-independent executable is ET_DYN like a library; its dynamic
// section carries DF_1_PIE.
bool HasPieFlag(THModuleStream& stream, const ElfW(Ehdr) & eh)
{
    std::uintptr_t lowest = UINTPTR_MAX, dynamic = 0;
    std::size_t dynamicSize = 0;
    for (unsigned i = 0; i < eh.e_phnum && i < 256; ++i) {
        ElfW(Phdr) ph;
        stream.SetPosition(std::int64_t(eh.e_phoff + i * sizeof ph));
        if (!stream.ReadChecked(&ph, sizeof ph)) return false;
        if (ph.p_type == PT_LOAD) lowest = std::min<std::uintptr_t>(lowest, ph.p_vaddr & ~std::uintptr_t(0xFFF));
        if (ph.p_type == PT_DYNAMIC) {
            dynamic = ph.p_vaddr;
            dynamicSize = ph.p_memsz;
        }
    }
    if (!dynamic || lowest == UINTPTR_MAX) return false;
    for (std::size_t at = 0; at + sizeof(ElfW(Dyn)) <= dynamicSize && at < 64 * 1024; at += sizeof(ElfW(Dyn))) {
        ElfW(Dyn) d;
        stream.SetPosition(std::int64_t(dynamic - lowest + at));
        if (!stream.ReadChecked(&d, sizeof d) || d.d_tag == DT_NULL) return false;
        if (d.d_tag == DT_FLAGS_1) return (d.d_un.d_val & DF_1_PIE) != 0;
    }
    return false;
}

} // namespace

std::uint8_t GetModuleKind(std::uintptr_t handle)
{
    THModuleStream stream(handle);
    ElfW(Ehdr) eh;
    if (!stream.ReadChecked(&eh, sizeof eh) || std::memcmp(eh.e_ident, ELFMAG, SELFMAG) != 0) return mkUnclassified;
    if (eh.e_type == ET_EXEC) return mkProgram;
    if (eh.e_type != ET_DYN) return mkUnclassified;
    kernel::TModuleImage image;
    if (kernel::FindModuleByHandle(handle, image) && image.IsMainExecutable) return mkProgram;
    if (HasPieFlag(stream, eh)) return mkProgram;
    return IsRuntimePackage(ModuleFileName(handle)) ? mkRuntimePackage : mkLibrary;
}

TVersionInfo GetVersionInfo(const std::string& fileName)
{
    TVersionInfo info;
    TElfSections elf;
    stored::TVersionNumbers v;
    bool found = false;
    if (elf.Open(fileName)) {
        if (const TElfSection* s = elf.Find(stored::kVersionSection)) {
            if (auto bytes = elf.Read(*s, 64 * 1024)) {
                stored::TByteReader r(*bytes);
                std::uint32_t length = 0;
                std::span<const std::uint8_t> text;
                if (r.Read(v.Major) && r.Read(v.Minor) && r.Read(v.Release) && r.Read(v.Build)) {
                    found = true;
                    if (r.Read(length) && r.Bytes(length, text) && text.size() > 1)
                        info.Description.assign(reinterpret_cast<const char*>(text.data()), text.size());
                }
            }
        }
    }
    if (!found) {
        // Other libraries: the numbers after ".so." of the real file name.
        const std::string name = BaseName(kernel::GetRealPath(fileName).value_or(fileName));
        const auto so = name.find(".so.");
        if (so == std::string::npos) return info;
        unsigned n[4] = {0, 0, 0, 0};
        std::size_t at = so + 4;
        for (int i = 0; i < 4 && at < name.size(); ++i) {
            std::size_t end = at;
            while (end < name.size() && std::isdigit(static_cast<unsigned char>(name[end]))) ++end;
            if (end == at) break;
            n[i] = unsigned(std::min(65535ul, std::stoul(name.substr(at, end - at))));
            at = end + 1;
            if (end >= name.size() || name[end] != '.') break;
        }
        v = {std::uint16_t(n[0]), std::uint16_t(n[1]), std::uint16_t(n[2]), std::uint16_t(n[3])};
    }
    if (v.Major || v.Minor || v.Release || v.Build)
        info.Version = std::to_string(v.Major) + "." + std::to_string(v.Minor) + "." + std::to_string(v.Release) + "." +
            std::to_string(v.Build);
    return info;
}

std::string GetModulePath(const TTavrelModuleInfo& module)
{
    const auto slash = module.FileName.rfind('/');
    if (slash == std::string::npos) return {};
    return slash == 0 ? "/" : module.FileName.substr(0, slash);
}

std::string ModuleFileName(std::uintptr_t handle)
{
    std::string name = kernel::GetModuleFileName(handle);
    // A name with a prefix before a drive ("\??\C:\...") starts one character
    // before the first ":" after the "?". Linux names have none, but names
    // read from elsewhere may.
    const auto q = name.find('?');
    if (q != std::string::npos) {
        const auto colon = name.find(':', q);
        if (colon != std::string::npos && colon > 0) name = name.substr(colon - 1);
    }
    return name;
}

void LoadExportedFunctions(TTavrelModuleInfo& module)
{
    module.Functions.Clear();
    TElfSections elf;
    if (!elf.Open(module.FileName) || !elf.Is64Bit()) return;
    const TElfSection* dynsym = elf.Find(".dynsym");
    if (!dynsym || dynsym->Link >= elf.Sections().size() || dynsym->EntrySize != sizeof(Elf64_Sym)) return;
    const auto symbols = elf.Read(*dynsym, 64u << 20);
    const auto strings = elf.Read(elf.Sections()[dynsym->Link], 64u << 20);
    if (!symbols || !strings) return;
    const std::size_t count = symbols->size() / sizeof(Elf64_Sym);
    for (std::size_t i = 0; i < count; ++i) {
        Elf64_Sym sym;
        std::memcpy(&sym, symbols->data() + i * sizeof sym, sizeof sym);
        const unsigned type = ELF64_ST_TYPE(sym.st_info);
        if (sym.st_shndx == SHN_UNDEF || (type != STT_FUNC && type != STT_GNU_IFUNC) ||
            sym.st_value < elf.HandleAddress() || sym.st_name >= strings->size())
            continue;
        const char* raw = reinterpret_cast<const char*>(strings->data()) + sym.st_name;
        const std::size_t rawLength = strnlen(raw, strings->size() - sym.st_name);
        if (rawLength == strings->size() - sym.st_name) continue; // not terminated inside the table
        auto f = std::make_unique<TTavrelFunctionInfo>();
        f->Name = DemangleCppName(raw);
        f->Address = module.Handle + std::uintptr_t(sym.st_value - elf.HandleAddress());
        f->Size = sym.st_size ? std::uint32_t(sym.st_size) : 1;
        module.Functions.Add(std::move(f));
    }
    module.Functions.SortByAddress();
}

} // namespace crashreport
