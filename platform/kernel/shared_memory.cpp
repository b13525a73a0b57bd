#include "platform/kernel/shared_memory.h"

#include <cerrno>
#include <fcntl.h>
#include <map>
#include <mutex>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>

namespace kernel {

namespace {

// Owners of each named block in this process, so that the block disappears
// with its last owner as a Windows mapping does.
struct TBlockUse {
    int owners = 0;
    bool createdHere = false;
};

// Both are made once and never destroyed: owners that are themselves
// destroyed at exit (in records of other static objects) still deregister.
std::mutex& RegistryLock()
{
    static auto* lock = new std::mutex;
    return *lock;
}

std::map<std::string, TBlockUse>& Registry()
{
    static auto* uses = new std::map<std::string, TBlockUse>;
    return *uses;
}

void AddOwner(const std::string& name, bool created)
{
    std::lock_guard guard(RegistryLock());
    TBlockUse& use = Registry()[name];
    if (use.owners == 0)
        use.createdHere = created;
    else if (created)
        use.createdHere = true;
    ++use.owners;
}

void DropOwner(const std::string& name)
{
    std::lock_guard guard(RegistryLock());
    auto it = Registry().find(name);
    if (it == Registry().end()) return;
    if (--it->second.owners <= 0) {
        if (it->second.createdHere) ::shm_unlink(("/" + name).c_str());
        Registry().erase(it);
    }
}

} // namespace

bool TSharedMemory::IsValidName(const std::string& name)
{
    return !name.empty() && name.size() <= 250 && name.find('/') == std::string::npos &&
        name.find('\0') == std::string::npos && name != "." && name != "..";
}

TSharedMemory::TSharedMemory(std::string name, TUniqueFd fd, void* data, std::size_t size)
    : name_(std::move(name)), fd_(std::move(fd)), data_(data), size_(size)
{
}

TSharedMemory::~TSharedMemory() { Close(); }

TSharedMemory::TSharedMemory(TSharedMemory&& other) noexcept
    : name_(std::move(other.name_)),
      fd_(std::move(other.fd_)),
      data_(std::exchange(other.data_, nullptr)),
      size_(std::exchange(other.size_, 0))
{
}

TSharedMemory& TSharedMemory::operator=(TSharedMemory&& other) noexcept
{
    if (this != &other) {
        Close();
        name_ = std::move(other.name_);
        fd_ = std::move(other.fd_);
        data_ = std::exchange(other.data_, nullptr);
        size_ = std::exchange(other.size_, 0);
    }
    return *this;
}

void TSharedMemory::Close()
{
    if (data_ != nullptr) ::munmap(data_, size_);
    if (fd_.Valid()) {
        fd_.Reset();
        DropOwner(name_);
    }
    data_ = nullptr;
    size_ = 0;
}

std::optional<TSharedMemory> TSharedMemory::CreateOrOpen(const std::string& name, std::size_t size, bool* existed)
{
    if (!IsValidName(name) || size == 0) {
        errno = EINVAL;
        return std::nullopt;
    }
    const std::string objectName = "/" + name;
    bool created = true;
    TUniqueFd fd(::shm_open(objectName.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0600));
    if (fd.Get() < 0 && errno == EEXIST) {
        created = false;
        fd.Reset(::shm_open(objectName.c_str(), O_RDWR | O_CLOEXEC, 0600));
    }
    if (fd.Get() < 0) return std::nullopt;
    // The published options hold the delivery passwords: owner-only, whatever the mask.
    if (created && ::fchmod(fd.Get(), 0600) != 0) {
        ::shm_unlink(objectName.c_str());
        return std::nullopt;
    }
    struct stat st {};
    if (::fstat(fd.Get(), &st) != 0 || st.st_size < 0) {
        if (created) ::shm_unlink(objectName.c_str());
        return std::nullopt;
    }
    std::size_t mapped = static_cast<std::size_t>(st.st_size);
    if (mapped < size) {
        if (::ftruncate(fd.Get(), static_cast<off_t>(size)) != 0) {
            if (created) ::shm_unlink(objectName.c_str());
            return std::nullopt;
        }
        mapped = size;
    }
    void* data = ::mmap(nullptr, mapped, PROT_READ | PROT_WRITE, MAP_SHARED, fd.Get(), 0);
    if (data == MAP_FAILED) {
        if (created) ::shm_unlink(objectName.c_str());
        return std::nullopt;
    }
    if (existed != nullptr) *existed = !created;
    AddOwner(name, created);
    return TSharedMemory(name, std::move(fd), data, mapped);
}

std::optional<TSharedMemory> TSharedMemory::OpenExisting(const std::string& name, bool writable)
{
    if (!IsValidName(name)) {
        errno = EINVAL;
        return std::nullopt;
    }
    TUniqueFd fd(::shm_open(("/" + name).c_str(), (writable ? O_RDWR : O_RDONLY) | O_CLOEXEC, 0));
    if (fd.Get() < 0) return std::nullopt;
    struct stat st {};
    if (::fstat(fd.Get(), &st) != 0 || st.st_size <= 0) return std::nullopt;
    const std::size_t mapped = static_cast<std::size_t>(st.st_size);
    void* data = ::mmap(nullptr, mapped, writable ? PROT_READ | PROT_WRITE : PROT_READ, MAP_SHARED, fd.Get(), 0);
    if (data == MAP_FAILED) return std::nullopt;
    AddOwner(name, false);
    return TSharedMemory(name, std::move(fd), data, mapped);
}

bool TSharedMemory::Remove(const std::string& name)
{
    if (!IsValidName(name)) return false;
    {
        std::lock_guard guard(RegistryLock());
        auto it = Registry().find(name);
        if (it != Registry().end()) it->second.createdHere = false;
    }
    return ::shm_unlink(("/" + name).c_str()) == 0;
}

} // namespace kernel
