// Feeds arbitrary bytes to the gzip reader (and to the zlib-stream reader it
// shares its inflater with). Damaged input must end in EGzipError; whatever
// is read successfully must survive a write and read back unchanged.
#include <cstdint>
#include <cstdlib>
#include <span>
#include <vector>

#include "crashreport/codecs/codec_error.h"
#include "crashreport/codecs/deflate_codec.h"
#include "crashreport/codecs/gzip_reader.h"
#include "crashreport/codecs/gzip_writer.h"

using namespace crashreport::codecs;

namespace {
constexpr size_t kMaxOutput = size_t(16) << 20;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    std::span<const uint8_t> input(data, size);
    try {
        std::vector<uint8_t> plain = GunzipBytes(input, kMaxOutput);
        if (GunzipBytes(BuildGzipImage(plain, "fuzz.tar"), kMaxOutput) != plain) std::abort();
    } catch (const EGzipError&) {
    }
    try {
        InflateZlib(input, kMaxOutput);
    } catch (const EGzipError&) {
    }
    return 0;
}
