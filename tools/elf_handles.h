#pragma once
// Owners of the file descriptor, Elf* and Dwarf* handles the tool opens.
#include <elfutils/libdw.h>
#include <fcntl.h>
#include <gelf.h>
#include <libelf.h>
#include <unistd.h>

#include <memory>
#include <string>
#include <utility>

namespace tools {

class TFd {
public:
    TFd() = default;
    explicit TFd(int fd) : fd_(fd) {}
    ~TFd() { if (fd_ >= 0) ::close(fd_); }
    TFd(TFd&& o) noexcept : fd_(std::exchange(o.fd_, -1)) {}
    TFd& operator=(TFd&& o) noexcept { std::swap(fd_, o.fd_); return *this; }
    TFd(const TFd&) = delete;
    TFd& operator=(const TFd&) = delete;
    int Get() const { return fd_; }
    bool Valid() const { return fd_ >= 0; }

private:
    int fd_ = -1;
};

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
    TFd Fd;
    TElfPtr Elf;
    TDwarfPtr Dwarf;
};

// Raises rtl::Exception when the file cannot be opened or is not ELF.
TElfFile OpenElfFile(const std::string& path, bool withDwarf);

} // namespace tools
