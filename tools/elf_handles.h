#pragma once
// Owners of the file descriptor, Elf* and Dwarf* handles the tool opens.
#include <elfutils/libdw.h>
#include <fcntl.h>
#include <gelf.h>
#include <libelf.h>

#include <memory>
#include <string>
#include <utility>

#include "platform/kernel/unique_fd.h"

namespace tools {

struct TElfCloser {
    void operator()(Elf* e) const { elf_end(e); }
};
using TElfPtr = std::unique_ptr<Elf, TElfCloser>;

struct TDwarfCloser {
    void operator()(Dwarf* d) const { dwarf_end(d); }
};
using TDwarfPtr = std::unique_ptr<Dwarf, TDwarfCloser>;

// An ELF file opened for reading, with its DWARF when it has any.
struct TElfFile {
    kernel::TUniqueFd Fd;
    TElfPtr Elf;
    TDwarfPtr Dwarf;
};

// Raises rtl::Exception when the file cannot be opened or is not ELF.
TElfFile OpenElfFile(const std::string& path, bool withDwarf);

} // namespace tools
