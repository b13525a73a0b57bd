#include "tools/elf_handles.h"

#include <cerrno>
#include <cstring>

#include "platform/rtl/exception.h"

namespace tools {

TElfFile OpenElfFile(const std::string& path, bool withDwarf)
{
    elf_version(EV_CURRENT);
    TElfFile f;
    f.Fd = kernel::TUniqueFd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
    if (!f.Fd.Valid()) throw rtl::EFOpenError("Cannot open file \"" + path + "\". " + std::strerror(errno));
    f.Elf.reset(elf_begin(f.Fd.Get(), ELF_C_READ_MMAP, nullptr));
    if (!f.Elf || elf_kind(f.Elf.get()) != ELF_K_ELF) throw rtl::Exception("\"" + path + "\" is not an ELF file.");
    if (withDwarf) f.Dwarf.reset(dwarf_begin_elf(f.Elf.get(), DWARF_C_READ, nullptr));
    return f;
}

} // namespace tools
