#include "crashreport/modules/elf_sections.h"

#include <elf.h>

#include <algorithm>
#include <cstring>

#include "crashreport/codecs/stream.h"
#include "crashreport/modules/byte_reader.h"

namespace crashreport {
namespace {

constexpr std::size_t kMaxSections = 65536;

// Reads `size` bytes at `offset` of the open file; false when not all are there.
bool ReadAt(TStream& file, std::uint64_t offset, void* buffer, std::size_t size)
{
    try {
        if (file.Seek(std::int64_t(offset), TSeekOrigin::soBeginning) != std::int64_t(offset)) return false;
        file.ReadBuffer(buffer, size);
        return true;
    } catch (const std::exception&) {
        return false;
    }
}

template <typename Ehdr, typename Shdr, typename Phdr>
bool ReadTable(TStream& file, std::uint64_t fileSize, const Ehdr& eh, std::vector<TElfSection>& out,
               std::uint64_t& handleAddress)
{
    // Program headers: the lowest PT_LOAD gives the handle's address.
    if (eh.e_phnum > 0 && eh.e_phentsize == sizeof(Phdr) && eh.e_phoff < fileSize &&
        eh.e_phnum * sizeof(Phdr) <= fileSize - eh.e_phoff) {
        std::vector<Phdr> ph(eh.e_phnum);
        if (!ReadAt(file, eh.e_phoff, ph.data(), ph.size() * sizeof(Phdr))) return false;
        std::uint64_t low = UINT64_MAX;
        for (const auto& p : ph)
            if (p.p_type == PT_LOAD) low = std::min<std::uint64_t>(low, p.p_vaddr);
        handleAddress = low == UINT64_MAX ? 0 : (low & ~std::uint64_t(0xFFF));
    }
    if (eh.e_shnum == 0 || eh.e_shentsize != sizeof(Shdr) || eh.e_shnum > kMaxSections)
        return true; // no section table: no sections
    if (eh.e_shoff >= fileSize || eh.e_shnum * sizeof(Shdr) > fileSize - eh.e_shoff) return false;
    std::vector<Shdr> sh(eh.e_shnum);
    if (!ReadAt(file, eh.e_shoff, sh.data(), sh.size() * sizeof(Shdr))) return false;
    if (eh.e_shstrndx >= sh.size()) return false;
    const Shdr& names = sh[eh.e_shstrndx];
    if (names.sh_offset > fileSize || names.sh_size > fileSize - names.sh_offset || names.sh_size > (16u << 20))
        return false;
    std::vector<char> strings(names.sh_size + 1, 0);
    if (!ReadAt(file, names.sh_offset, strings.data(), names.sh_size)) return false;
    for (const Shdr& s : sh) {
        TElfSection e;
        if (s.sh_name < names.sh_size) e.Name = strings.data() + s.sh_name; // the extra 0 ends the last name
        e.Type = s.sh_type;
        e.Flags = s.sh_flags;
        e.Address = s.sh_addr;
        e.Offset = s.sh_offset;
        e.Size = s.sh_size;
        e.Link = s.sh_link;
        e.EntrySize = s.sh_entsize;
        out.push_back(std::move(e));
    }
    return true;
}

} // namespace

bool ReadFileBytes(const std::string& fileName, std::uint64_t offset, void* buffer, std::size_t size)
{
    try {
        TFileStream f(fileName, TFileStream::fmOpenRead);
        return ReadAt(f, offset, buffer, size);
    } catch (const std::exception&) {
        return false;
    }
}

std::optional<std::uint64_t> FileSizeOf(const std::string& fileName)
{
    try {
        TFileStream f(fileName, TFileStream::fmOpenRead);
        return std::uint64_t(f.Size());
    } catch (const std::exception&) {
        return std::nullopt;
    }
}

bool TElfSections::Open(const std::string& fileName)
{
    sections_.clear();
    file_.reset();
    try {
        // One descriptor for every read of this object: the start-up reads
        // the program's tables and stored options through it.
        file_ = std::make_shared<TFileStream>(fileName, TFileStream::fmOpenRead);
        fileSize_ = std::uint64_t(file_->Size());
    } catch (const std::exception&) {
        file_.reset();
        return false;
    }
    TStream& file = *file_;
    unsigned char ident[EI_NIDENT] = {};
    if (fileSize_ < sizeof(Elf64_Ehdr) / 2 || !ReadAt(file, 0, ident, sizeof ident)) return false;
    if (std::memcmp(ident, ELFMAG, SELFMAG) != 0 || ident[EI_DATA] != ELFDATA2LSB) return false;
    if (ident[EI_CLASS] == ELFCLASS64) {
        Elf64_Ehdr eh;
        if (fileSize_ < sizeof eh || !ReadAt(file, 0, &eh, sizeof eh)) return false;
        is64_ = true;
        type_ = eh.e_type;
        return ReadTable<Elf64_Ehdr, Elf64_Shdr, Elf64_Phdr>(file, fileSize_, eh, sections_, handleAddress_);
    }
    if (ident[EI_CLASS] == ELFCLASS32) {
        Elf32_Ehdr eh;
        if (fileSize_ < sizeof eh || !ReadAt(file, 0, &eh, sizeof eh)) return false;
        is64_ = false;
        type_ = eh.e_type;
        return ReadTable<Elf32_Ehdr, Elf32_Shdr, Elf32_Phdr>(file, fileSize_, eh, sections_, handleAddress_);
    }
    return false;
}

const TElfSection* TElfSections::Find(const std::string& name) const
{
    for (const auto& s : sections_)
        if (s.Name == name) return &s;
    return nullptr;
}

std::optional<std::vector<std::uint8_t>> TElfSections::Read(const TElfSection& s, std::uint64_t maxSize) const
{
    if (s.Size > maxSize) return std::nullopt;
    return ReadHead(s, s.Size);
}

std::optional<std::vector<std::uint8_t>> TElfSections::ReadHead(const TElfSection& s, std::uint64_t length) const
{
    if (s.Type == SHT_NOBITS || s.Offset > fileSize_ || s.Size > fileSize_ - s.Offset) return std::nullopt;
    std::vector<std::uint8_t> bytes(std::min(length, s.Size));
    if (!bytes.empty() && (!file_ || !ReadAt(*file_, s.Offset, bytes.data(), bytes.size()))) return std::nullopt;
    return bytes;
}

} // namespace crashreport
