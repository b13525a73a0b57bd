// Feeds arbitrary bytes to the options' LoadFromStream. The first two bytes
// choose the format version, so the older forms are covered too. Loading
// must either succeed or fail with the stream's read error; a record that
// loaded must save a form that loads back to the same form.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "crashreport/options/module_options.h"
#include "crashreport/options/options_errors.h"

using namespace crashreport;

namespace {

std::string Saved(const TTavrelModuleOptions& o)
{
    TMemoryStream s;
    o.SaveToStream(s);
    return s.Bytes();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size < 2) return 0;
    const auto version = static_cast<std::uint16_t>(data[0] | data[1] << 8);
    TTavrelModuleOptions options("", false);
    TByteViewStream stream(data + 2, size - 2);
    try {
        options.LoadFromStream(stream, version);
    } catch (const EOptionsStreamError&) {
        if (options.UpdateDepth() != 0 || stream.Position() > stream.Size()) std::abort();
        return 0;
    }
    if (options.UpdateDepth() != 0 || stream.Position() > stream.Size()) std::abort();
    const std::string first = Saved(options);
    TTavrelModuleOptions again("", false);
    TByteViewStream copy(first);
    again.LoadFromStream(copy);
    if (Saved(again) != first || copy.Position() != copy.Size()) std::abort();
    return 0;
}
