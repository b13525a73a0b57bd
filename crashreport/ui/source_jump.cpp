#include "crashreport/ui/source_jump.h"

#include <cstring>

#include "platform/kernel/process.h"
#include "platform/net/datagram.h"

namespace crashreport::ui {

namespace {
void PutText(TSourceJumpRecord& r, std::size_t offset, const std::string& text)
{
    const std::size_t n = std::min<std::size_t>(text.size(), 89); // room for the terminating zero
    std::memcpy(r.data() + offset, text.data(), n);
}

void PutInt32(TSourceJumpRecord& r, std::size_t offset, std::int32_t value)
{
    const auto u = static_cast<std::uint32_t>(value);
    for (int i = 0; i < 4; ++i) r[offset + static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(u >> (8 * i));
}

// The leading decimal digits of text from pos; none: -1.
std::int32_t LeadingNumber(const std::string& text, std::size_t pos)
{
    long long value = -1;
    for (; pos < text.size() && text[pos] >= '0' && text[pos] <= '9'; ++pos) {
        value = (value < 0 ? 0 : value) * 10 + (text[pos] - '0');
        if (value > 0x7FFFFFFF) value = 0x7FFFFFFF;
    }
    return static_cast<std::int32_t>(value);
}
} // namespace

TSourceJumpRecord BuildSourceJumpRecord(const std::string& mainModule, const std::string& unit,
                                        const std::string& className, const std::string& procedure,
                                        const std::string& lineColumn, double compilationDate)
{
    TSourceJumpRecord r{};
    PutText(r, 0, mainModule);
    PutText(r, 90, unit);
    PutText(r, 180, className);
    PutText(r, 270, procedure);
    std::size_t pos = 0;
    while (pos < lineColumn.size() && lineColumn[pos] == ' ') ++pos;
    PutInt32(r, 360, std::max<std::int32_t>(0, LeadingNumber(lineColumn, pos)));
    const std::size_t bracket = lineColumn.find('[');
    PutInt32(r, 364, bracket == std::string::npos ? -1 : LeadingNumber(lineColumn, bracket + 1));
    std::uint64_t bits;
    std::memcpy(&bits, &compilationDate, sizeof bits);
    for (int i = 0; i < 8; ++i) r[368 + static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(bits >> (8 * i));
    return r;
}

std::vector<std::string> SourceJumpSockets()
{
    std::string folder = "/tmp";
    if (auto runtime = kernel::GetEnvironmentVariable("XDG_RUNTIME_DIR"); runtime && !runtime->empty())
        folder = *runtime;
    std::vector<std::string> names;
    for (int i = 0; i < 4; ++i) names.push_back(folder + "/TavrelLog" + std::to_string(i));
    return names;
}

int SendSourceJump(const TSourceJumpRecord& record)
{
    int taken = 0;
    for (const std::string& name : SourceJumpSockets())
        if (net::SendLocalDatagram(name, record.data(), record.size())) ++taken;
    return taken;
}

} // namespace crashreport::ui
