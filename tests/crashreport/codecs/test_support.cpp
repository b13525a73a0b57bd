#include "test_support.h"

#include <fstream>
#include <iterator>
#include <random>
#include <stdexcept>

namespace codecs_test {

std::vector<uint8_t> RandomBytes(size_t count, uint32_t seed)
{
    std::mt19937 engine(seed);
    std::vector<uint8_t> bytes(count);
    for (auto& b : bytes) b = uint8_t(engine());
    return bytes;
}

void WriteFileBytes(const std::string& path, const std::vector<uint8_t>& bytes)
{
    std::ofstream out(path, std::ios::binary);
    out.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
    if (!out) throw std::runtime_error("cannot write " + path);
}

std::vector<uint8_t> ReadFileBytes(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    if (!in) throw std::runtime_error("cannot read " + path);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

std::string Hex(const uint8_t* bytes, size_t count)
{
    static const char digits[] = "0123456789abcdef";
    std::string text;
    for (size_t i = 0; i < count; ++i) {
        text += digits[bytes[i] >> 4];
        text += digits[bytes[i] & 15];
    }
    return text;
}

const std::vector<size_t>& PeerSizes()
{
    static const std::vector<size_t> sizes = {0, 1, 2, 3, 511, 512, 513, 3 * 1024 * 1024 + 17};
    return sizes;
}

} // namespace codecs_test
