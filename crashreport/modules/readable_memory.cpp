#include "crashreport/modules/readable_memory.h"

#include <cstring>

#include "platform/kernel/memory.h"

namespace crashreport {

bool IsReadableMemory(const void* address, std::size_t length)
{
    const auto a = reinterpret_cast<std::uintptr_t>(address);
    if (address == nullptr || a + length < a) return false;
    if (length == 0) return true;
    return kernel::IsMemoryReadable(address, length);
}

std::size_t THModuleStream::Read(void* buffer, std::size_t count)
{
    if (position_ < 0 || std::uint64_t(position_) + count > std::uint64_t(Size())) return 0;
    const void* from = reinterpret_cast<const void*>(base_ + std::uintptr_t(position_));
    if (!IsReadableMemory(from, count)) return 0;
    std::memcpy(buffer, from, count);
    position_ += std::int64_t(count);
    return count;
}

std::int64_t THModuleStream::Seek(std::int64_t offset, TSeekOrigin origin)
{
    std::int64_t p = origin == TSeekOrigin::soBeginning ? offset
        : origin == TSeekOrigin::soCurrent              ? position_ + offset
                                                        : Size() + offset;
    position_ = p < 0 ? 0 : p;
    return position_;
}

} // namespace crashreport
