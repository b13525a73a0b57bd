#pragma once
// The section table of a module file, read with bounds-checked reads (a
// damaged or truncated file gives no sections, never a read outside it).
// The reporter finds its stored data (`.tldata`), the version information
// (`.tlversion`) and the exported symbols (`.dynsym`) this way, so stripped
// modules keep them. Not signal-safe: reads a file and allocates.
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace crashreport {

class TFileStream;

struct TElfSection {
    std::string Name;
    std::uint32_t Type = 0;
    std::uint64_t Flags = 0;
    std::uint64_t Address = 0;
    std::uint64_t Offset = 0;
    std::uint64_t Size = 0;
    std::uint32_t Link = 0;
    std::uint64_t EntrySize = 0;
};

class TElfSections {
public:
    // False when the file cannot be read or is not a little-endian ELF file.
    bool Open(const std::string& fileName);

    const std::vector<TElfSection>& Sections() const { return sections_; }
    const TElfSection* Find(const std::string& name) const;
    // The section's bytes; none for a missing section, one without file
    // bytes, one that does not fit the file, or one larger than maxSize.
    std::optional<std::vector<std::uint8_t>> Read(const TElfSection& section, std::uint64_t maxSize = 256u << 20) const;
    // The first `length` bytes of the section (all of a shorter one), under
    // the same conditions as Read.
    std::optional<std::vector<std::uint8_t>> ReadHead(const TElfSection& section, std::uint64_t length) const;
    std::uint64_t FileSize() const { return fileSize_; }
    bool Is64Bit() const { return is64_; }
    std::uint16_t Type() const { return type_; } // ET_EXEC, ET_DYN, ...
    // Virtual address of the lowest loadable segment's page: where the module
    // handle lies in the file's address space.
    std::uint64_t HandleAddress() const { return handleAddress_; }

private:
    std::shared_ptr<TFileStream> file_; // open from Open on; copies share it
    std::uint64_t fileSize_ = 0;
    bool is64_ = true;
    std::uint16_t type_ = 0;
    std::uint64_t handleAddress_ = 0;
    std::vector<TElfSection> sections_;
};

// Reads `size` bytes at `offset` of the file; false when not all are there.
bool ReadFileBytes(const std::string& fileName, std::uint64_t offset, void* buffer, std::size_t size);
// The file's size, or none.
std::optional<std::uint64_t> FileSizeOf(const std::string& fileName);

} // namespace crashreport
