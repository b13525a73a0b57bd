// CRC-32, MD5 and base64 against the published vectors and real peers
// (md5sum, base64, Python's zlib/hashlib/base64) on random data.
#include <gtest/gtest.h>

#include <string>

#include "crashreport/codecs/base64.h"
#include "crashreport/codecs/codec_error.h"
#include "crashreport/codecs/crc32.h"
#include "crashreport/codecs/md5.h"
#include "test_support.h"

using namespace crashreport::codecs;
using namespace codecs_test;

namespace {

std::string Md5Hex(const std::vector<uint8_t>& data)
{
    TMD5Digest d = ComputeMD5(data.data(), data.size());
    return Hex(d.data(), d.size());
}

std::string Trimmed(std::string text)
{
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
    return text;
}

} // namespace

TEST(Crc32, KnownValuesAndNullInput)
{
    EXPECT_EQ(ComputeCrc32("abc", 3), 0x352441C2u);
    EXPECT_EQ(ComputeCrc32("123456789", 9), 0xCBF43926u);
    EXPECT_EQ(ComputeCrc32(nullptr, 10), 0u);
    EXPECT_EQ(ComputeCrc32("abc", 0), 0u);
}

TEST(Crc32, UpdateInPiecesEqualsWhole)
{
    std::vector<uint8_t> data = RandomBytes(10000, 7);
    uint32_t crc = 0;
    for (size_t pos = 0; pos < data.size(); pos += 777)
        crc = UpdateCrc32(crc, data.data() + pos, std::min<size_t>(777, data.size() - pos));
    EXPECT_EQ(crc, ComputeCrc32(data.data(), data.size()));
}

TEST(Md5, Rfc1321TestSuite)
{
    const std::pair<std::string, std::string> cases[] = {
        {"", "d41d8cd98f00b204e9800998ecf8427e"},
        {"a", "0cc175b9c0f1b6a831c399e269772661"},
        {"abc", "900150983cd24fb0d6963f7d28e17f72"},
        {"message digest", "f96b697d7cb7938d525a2f31aaf161d0"},
        {"abcdefghijklmnopqrstuvwxyz", "c3fcd3d76192e4007dfb496cca67e13b"},
        {"ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789", "d174ab98d277d9f5a5611c2c9f419d9f"},
        {"12345678901234567890123456789012345678901234567890123456789012345678901234567890",
         "57edf4a22be3c955ac49da2e2107b67a"}};
    for (const auto& [text, digest] : cases) {
        TMD5Digest d = ComputeMD5(text.data(), text.size());
        EXPECT_EQ(Hex(d.data(), d.size()), digest) << '"' << text << '"';
    }
}

TEST(Md5, IncrementalEqualsWholeAcrossBlockEdges)
{
    std::vector<uint8_t> data = RandomBytes(1000, 11);
    for (size_t piece : {1u, 55u, 56u, 63u, 64u, 65u, 999u}) {
        TMD5 md5;
        for (size_t pos = 0; pos < data.size(); pos += piece)
            md5.Update(data.data() + pos, std::min(piece, data.size() - pos));
        TMD5Digest d = md5.Final();
        EXPECT_EQ(Hex(d.data(), d.size()), Md5Hex(data)) << "pieces of " << piece;
    }
}

TEST(Base64, PublishedExamples)
{
    EXPECT_EQ(EncodeBase64(std::string_view("abc")), "YWJj");
    EXPECT_EQ(EncodeBase64(std::string_view("ab")), "YWI=");
    EXPECT_EQ(EncodeBase64(std::string_view("a")), "YQ==");
    EXPECT_EQ(EncodeBase64(std::string_view("")), "");
    EXPECT_EQ(EncodeBase64(nullptr, 5), "");
    const std::string pointerForm = EncodeBase64("foobar", 6);
    EXPECT_EQ(pointerForm, "Zm9vYmFy");
    EXPECT_EQ(pointerForm, EncodeBase64(std::string_view("foobar")));
}

TEST(Base64, LengthRuleAndRoundTripForEveryShortLength)
{
    for (size_t n = 0; n <= 64; ++n) {
        std::vector<uint8_t> data = RandomBytes(n, uint32_t(n) + 100);
        std::string text = EncodeBase64(data.data(), data.size());
        EXPECT_EQ(text.size(), 4 * ((n + 2) / 3));
        EXPECT_EQ(DecodeBase64(text), data) << n;
    }
}

TEST(Base64, DecodeSkipsLineBreaksAndRejectsBadText)
{
    EXPECT_EQ(DecodeBase64("Zm9v\r\nYmFy\r\n"), (std::vector<uint8_t>{'f', 'o', 'o', 'b', 'a', 'r'}));
    EXPECT_EQ(DecodeBase64("YQ==\n"), std::vector<uint8_t>{'a'});
    for (const char* bad : {"Y", "YQ=", "YQ", "Y===", "=YQ=", "YQ==YQ==", "YW*j", "YW\x80j", "YQ=a"}) {
        EXPECT_THROW(DecodeBase64(bad), EBase64Error) << bad;
    }
}

// Every size is checked against md5sum, base64 and Python's zlib.crc32,
// hashlib.md5 and base64.b64encode on the same random file.
TEST(CodecPeers, Crc32Md5AndBase64AgreeWithToolsOnRandomData)
{
    TempDir dir;
    for (size_t size : PeerSizes()) {
        SCOPED_TRACE("size " + std::to_string(size));
        std::vector<uint8_t> data = RandomBytes(size, uint32_t(size) * 31 + 1);
        std::string path = dir / "data.bin";
        WriteFileBytes(path, data);
        std::string quoted = ShellQuote(path);

        TCommandResult md5sum = RunShell("md5sum " + quoted);
        ASSERT_EQ(md5sum.ExitCode, 0);
        EXPECT_EQ(md5sum.Output.substr(0, 32), Md5Hex(data));

        std::string ours = EncodeBase64(data.data(), data.size());
        TCommandResult base64 = RunShell("base64 -w0 " + quoted);
        ASSERT_EQ(base64.ExitCode, 0);
        EXPECT_EQ(base64.Output, ours);
        TCommandResult wrapped = RunShell("base64 " + quoted); // lines of 76
        ASSERT_EQ(wrapped.ExitCode, 0);
        EXPECT_EQ(DecodeBase64(wrapped.Output), data);

        TCommandResult py = RunShell("python3 -c 'import sys,zlib,hashlib,base64; d=open(sys.argv[1],\"rb\").read(); "
                                     "print(zlib.crc32(d)); print(hashlib.md5(d).hexdigest()); "
                                     "print(base64.b64encode(d).decode())' " +
                                     quoted);
        ASSERT_EQ(py.ExitCode, 0);
        std::string expected =
            std::to_string(ComputeCrc32(data.data(), data.size())) + "\n" + Md5Hex(data) + "\n" + ours;
        EXPECT_EQ(Trimmed(py.Output), Trimmed(expected));
    }
}
