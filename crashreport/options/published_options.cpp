#include "crashreport/options/published_options.h"

#include <cstring>

#include "crashreport/options/module_options.h"
#include "platform/kernel/process.h"
#include "platform/rtl/format.h"

namespace crashreport {

std::string PublishedOptionsBlockName(std::uint32_t processId, TModuleHandle module)
{
    return rtl::Format("%08X%0*llX", processId, static_cast<int>(2 * sizeof(TModuleHandle)),
                       static_cast<unsigned long long>(module)) +
        "MODULE";
}

bool PublishOptions(const TTavrelModuleOptions& options, kernel::TSharedMemory& block)
{
    TMemoryStream data;
    const std::uint8_t published = 1;
    data.WriteBuffer(&published, 1);
    options.SaveToStream(data);
    const std::size_t total = static_cast<std::size_t>(data.Size()) + 4;
    if (total > UINT32_MAX) return false;

    const std::string name = PublishedOptionsBlockName(kernel::GetCurrentProcessId(), ReporterModuleHandle());
    auto fresh = kernel::TSharedMemory::CreateOrOpen(name, total);
    if (!fresh) return false;
    std::memcpy(fresh->Data() + 4, data.Memory(), total - 4);
    const auto size = static_cast<std::uint32_t>(total);
    const std::uint8_t header[4] = {static_cast<std::uint8_t>(size), static_cast<std::uint8_t>(size >> 8),
                                    static_cast<std::uint8_t>(size >> 16), static_cast<std::uint8_t>(size >> 24)};
    std::memcpy(fresh->Data(), header, 4);
    block = std::move(*fresh); // releases the block published before
    return true;
}

std::optional<std::string> ReadPublishedBlock(std::uint32_t processId, TModuleHandle module)
{
    auto block = kernel::TSharedMemory::OpenExisting(PublishedOptionsBlockName(processId, module));
    if (!block || block->Size() < 4) return std::nullopt;
    const std::uint8_t* p = block->Data();
    const std::uint32_t size = static_cast<std::uint32_t>(p[0]) | (static_cast<std::uint32_t>(p[1]) << 8) |
        (static_cast<std::uint32_t>(p[2]) << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
    if (size < 4 || size > block->Size()) return std::nullopt;
    // A copy, so that a writer changing the block cannot change the bytes
    // while they are parsed.
    return std::string(reinterpret_cast<const char*>(p) + 4, size - 4);
}

bool LoadPublishedOptions(TTavrelModuleOptions& into, std::uint32_t processId, TModuleHandle module)
{
    const auto data = ReadPublishedBlock(processId, module);
    if (!data || data->empty() || (*data)[0] == 0) return false;
    TByteViewStream stream(data->data() + 1, data->size() - 1);
    into.LoadFromStream(stream, CurrentOptionsVersion);
    return true;
}

} // namespace crashreport
