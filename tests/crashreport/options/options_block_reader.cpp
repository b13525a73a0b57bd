// Reads the published options of a module of another process, as a module
// of that process would, and prints what it found:
//   options_block_reader <pid> <module handle in hex>
// Output: "none", or "loaded" and then the stream form of the loaded record
// in hexadecimal. Exit code 0 when loaded, 1 when none, 2 on bad arguments
// or a damaged block.
#include <cstdio>
#include <cstdlib>
#include <exception>

#include "crashreport/options/module_options.h"
#include "crashreport/options/published_options.h"

using namespace crashreport;

int main(int argc, char** argv)
{
    if (argc != 3) return 2;
    const auto pid = static_cast<std::uint32_t>(std::strtoul(argv[1], nullptr, 10));
    const auto handle = static_cast<TModuleHandle>(std::strtoull(argv[2], nullptr, 16));
    TTavrelModuleOptions options("", false);
    try {
        if (!LoadPublishedOptions(options, pid, handle)) {
            std::puts("none");
            return 1;
        }
    } catch (const std::exception& e) {
        std::printf("damaged: %s\n", e.what());
        return 2;
    }
    TMemoryStream form;
    options.SaveToStream(form);
    std::puts("loaded");
    for (std::int64_t i = 0; i < form.Size(); ++i) std::printf("%02X", form.Memory()[i]);
    std::puts("");
    return 0;
}
