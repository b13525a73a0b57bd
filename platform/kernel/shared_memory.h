#pragma once
// Named shared memory of the process: the stand-in for Windows named file
// mappings, built on POSIX shm_open + mmap.
//
// A block is named by a plain name (no "/"); the POSIX object is "/" + name,
// visible as /dev/shm/<name>. Windows removes a named mapping when its last
// handle closes; here the blocks this process created are removed (unlinked)
// when the last owner in this process closes them. Blocks created by another
// process are never removed by this one.
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

#include "platform/kernel/unique_fd.h"

namespace kernel {

class TSharedMemory {
public:
    TSharedMemory() = default;
    ~TSharedMemory();
    TSharedMemory(TSharedMemory&& other) noexcept;
    TSharedMemory& operator=(TSharedMemory&& other) noexcept;
    TSharedMemory(const TSharedMemory&) = delete;
    TSharedMemory& operator=(const TSharedMemory&) = delete;

    // Creates the block with at least `size` bytes, or opens the existing one
    // and grows it to `size` bytes when it is smaller (an existing block is
    // never shrunk, so mappings other owners hold stay valid). The whole
    // block is mapped for reading and writing. `existed` tells whether the
    // block was there before. None when the name is invalid or the system
    // refuses (errno is left set).
    static std::optional<TSharedMemory> CreateOrOpen(const std::string& name, std::size_t size,
                                                     bool* existed = nullptr);

    // Opens an existing block without creating it and maps its whole
    // current size, read-only unless `writable`. None when it does not exist,
    // is empty or cannot be mapped.
    static std::optional<TSharedMemory> OpenExisting(const std::string& name, bool writable = false);

    // Removes the name of a block, whoever created it. False when absent.
    static bool Remove(const std::string& name);

    // True for names shm_open accepts: 1 to 250 characters, no "/".
    static bool IsValidName(const std::string& name);

    bool IsOpen() const { return data_ != nullptr; }
    std::uint8_t* Data() const { return static_cast<std::uint8_t*>(data_); }
    std::size_t Size() const { return size_; }
    const std::string& Name() const { return name_; }

    // Unmaps and closes now (the destructor does the same).
    void Close();

private:
    TSharedMemory(std::string name, TUniqueFd fd, void* data, std::size_t size);

    std::string name_;
    TUniqueFd fd_;
    void* data_ = nullptr;
    std::size_t size_ = 0;
};

} // namespace kernel
