// The gzip reader against gzip and Python, and against damaged input: every
// fault must be an EGzipError, never a crash, a hang or a read outside the input.
#include <gtest/gtest.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cstring>

#include "crashreport/codecs/codec_error.h"
#include "crashreport/codecs/crc32.h"
#include "crashreport/codecs/deflate_codec.h"
#include "crashreport/codecs/gzip_reader.h"
#include "crashreport/codecs/gzip_writer.h"
#include "test_support.h"

using namespace crashreport::codecs;
using namespace codecs_test;

namespace {

std::vector<uint8_t> Member(const std::vector<uint8_t>& data) { return BuildGzipImage(data, "x.tar"); }

// Copies bytes to the very end of a readable mapping that a PROT_NONE page
// follows, so any read past the input faults.
class TGuardedBuffer {
public:
    explicit TGuardedBuffer(const std::vector<uint8_t>& bytes)
    {
        const size_t page = size_t(::sysconf(_SC_PAGESIZE));
        size_ = (bytes.size() + page - 1) / page * page + page;
        base_ =
            static_cast<uint8_t*>(::mmap(nullptr, size_, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0));
        if (base_ == MAP_FAILED) throw std::runtime_error("mmap failed");
        ::mprotect(base_ + size_ - page, page, PROT_NONE);
        data_ = base_ + size_ - page - bytes.size();
        if (!bytes.empty()) std::memcpy(data_, bytes.data(), bytes.size());
        length_ = bytes.size();
    }
    ~TGuardedBuffer() { ::munmap(base_, size_); }
    std::span<const uint8_t> Span() const { return {data_, length_}; }

private:
    uint8_t* base_;
    uint8_t* data_;
    size_t size_;
    size_t length_;
};

} // namespace

TEST(GzipReader, ReadsWhatGzipWrote)
{
    TempDir dir;
    for (size_t size : PeerSizes()) {
        SCOPED_TRACE("size " + std::to_string(size));
        std::vector<uint8_t> data = RandomBytes(size, uint32_t(size) + 77);
        // Some repetition so the deflate data uses back references too.
        for (size_t i = 1000; i < data.size(); i += 3) data[i] = data[i - 1000];
        WriteFileBytes(dir / "in", data);
        ASSERT_EQ(RunShell("gzip -9 -c " + ShellQuote(dir / "in") + " > " + ShellQuote(dir / "in.gz")).ExitCode, 0);
        ASSERT_EQ(RunShell("gzip -9 -n -c < " + ShellQuote(dir / "in") + " > " + ShellQuote(dir / "n.gz")).ExitCode, 0);
        EXPECT_EQ(GunzipBytes(ReadFileBytes(dir / "in.gz")), data);
        EXPECT_EQ(GunzipBytes(ReadFileBytes(dir / "n.gz")), data);
    }
}

TEST(GzipReader, GzipAndPythonReadWhatWeWrote)
{
    TempDir dir;
    for (size_t size : PeerSizes()) {
        SCOPED_TRACE("size " + std::to_string(size));
        std::vector<uint8_t> data = RandomBytes(size, uint32_t(size) + 5);
        WriteGzipFile(data, dir / "ours.gz");
        WriteFileBytes(dir / "plain", data);
        EXPECT_EQ(RunShell("gzip -t " + ShellQuote(dir / "ours.gz")).ExitCode, 0);
        EXPECT_EQ(
            RunShell("gzip -dc " + ShellQuote(dir / "ours.gz") + " | cmp - " + ShellQuote(dir / "plain")).ExitCode, 0);
        EXPECT_EQ(RunShell("python3 -c 'import sys,gzip; sys.exit(gzip.open(sys.argv[1]).read() != "
                           "open(sys.argv[2],\"rb\").read())' " +
                           ShellQuote(dir / "ours.gz") + " " + ShellQuote(dir / "plain"))
                      .ExitCode,
                  0);
        crashreport::TFileStream source(dir / "ours.gz", crashreport::TFileStream::fmOpenRead);
        crashreport::TMemoryStream back;
        EXPECT_EQ(ReadGzipStream(source, back), size);
        EXPECT_EQ(std::vector<uint8_t>(back.Memory(), back.Memory() + back.Size()), data);
    }
}

TEST(GzipReader, HeaderWithExtraCommentAndHeaderCrc)
{
    // Python writes a header with every optional field; FHCRC covers the header.
    TempDir dir;
    const std::string path = dir / "full.gz";
    TCommandResult r = RunShell("python3 -c 'import sys,zlib,struct\n"
                                "d=b\"hello, optional fields\"*50\n"
                                "h=b\"\\x1f\\x8b\\x08\\x1e\"+struct.pack(\"<I\",1234)+b\"\\x02\\x03\"\n"
                                "h+=struct.pack(\"<H\",5)+b\"ABCDE\"+b\"name.txt\\0\"+b\"a comment\\0\"\n"
                                "h+=struct.pack(\"<H\",zlib.crc32(h)&0xffff)\n"
                                "c=zlib.compressobj(9,zlib.DEFLATED,-15)\n"
                                "body=c.compress(d)+c.flush()\n"
                                "open(sys.argv[1],\"wb\").write(h+body+struct.pack(\"<II\",zlib.crc32(d),len(d)))' " +
                                ShellQuote(path));
    ASSERT_EQ(r.ExitCode, 0);
    std::string expected;
    for (int i = 0; i < 50; ++i) expected += "hello, optional fields";
    std::vector<uint8_t> gz = ReadFileBytes(path);
    EXPECT_EQ(GunzipText(std::string_view(reinterpret_cast<const char*>(gz.data()), gz.size())), expected);
    gz[12] ^= 1; // inside the extra field: the header CRC no longer matches
    EXPECT_THROW(GunzipBytes(gz), EGzipError);
}

TEST(GzipReader, ConcatenatedMembersAndZeroPadding)
{
    std::vector<uint8_t> a = RandomBytes(1000, 1), b = RandomBytes(3000, 2);
    std::vector<uint8_t> gz = Member(a), second = Member(b);
    gz.insert(gz.end(), second.begin(), second.end());
    std::vector<uint8_t> both = a;
    both.insert(both.end(), b.begin(), b.end());
    EXPECT_EQ(GunzipBytes(gz), both);
    gz.resize(gz.size() + 100, 0);
    EXPECT_EQ(GunzipBytes(gz), both);
}

TEST(GzipReader, RejectsDamagedHeadersAndTrailers)
{
    const std::vector<uint8_t> good = Member(RandomBytes(5000, 3));
    auto damaged = [&](size_t offset, uint8_t value) {
        std::vector<uint8_t> gz = good;
        gz[offset] = value;
        return gz;
    };
    EXPECT_THROW(GunzipBytes({}), EGzipError);
    EXPECT_THROW(GunzipBytes(damaged(0, 0x1E)), EGzipError);                                          // magic
    EXPECT_THROW(GunzipBytes(damaged(1, 0x8C)), EGzipError);                                          // magic
    EXPECT_THROW(GunzipBytes(damaged(2, 7)), EGzipError);                                             // method
    EXPECT_THROW(GunzipBytes(damaged(3, 8 | 0x20)), EGzipError);                                      // reserved flag
    EXPECT_THROW(GunzipBytes(damaged(good.size() - 8, uint8_t(~good[good.size() - 8]))), EGzipError); // CRC
    EXPECT_THROW(GunzipBytes(damaged(good.size() - 1, 0x40)), EGzipError);                            // ISIZE
    std::vector<uint8_t> trailing = good;
    trailing.push_back('x');
    EXPECT_THROW(GunzipBytes(trailing), EGzipError);
}

TEST(GzipReader, EveryTruncationIsAnErrorAndNoReadLeavesTheInput)
{
    std::vector<uint8_t> data = RandomBytes(3000, 8);
    for (size_t i = 0; i < 1500; ++i) data[i] = 'a';
    const std::vector<uint8_t> good = Member(data);
    {
        TGuardedBuffer whole(good);
        EXPECT_EQ(GunzipBytes(whole.Span()), data);
    }
    for (size_t length = 0; length < good.size(); ++length) {
        TGuardedBuffer cut(std::vector<uint8_t>(good.begin(), good.begin() + std::ptrdiff_t(length)));
        EXPECT_THROW(GunzipBytes(cut.Span()), EGzipError) << "length " << length;
    }
    // A name or extra field that runs to the end of the input.
    std::vector<uint8_t> openName = {0x1F, 0x8B, 8, 8, 0, 0, 0, 0, 0, 0, 'n', 'a', 'm', 'e'};
    TGuardedBuffer name(openName);
    EXPECT_THROW(GunzipBytes(name.Span()), EGzipError);
    std::vector<uint8_t> hugeExtra = {0x1F, 0x8B, 8, 4, 0, 0, 0, 0, 0, 0, 0xFF, 0xFF, 1, 2, 3};
    TGuardedBuffer extra(hugeExtra);
    EXPECT_THROW(GunzipBytes(extra.Span()), EGzipError);
}

TEST(GzipReader, GarbageDeflateDataIsRejected)
{
    std::vector<uint8_t> header = {0x1F, 0x8B, 8, 0, 0, 0, 0, 0, 0, 0};
    std::vector<uint8_t> invalidBlockType = header;
    invalidBlockType.insert(invalidBlockType.end(), {0xFF, 0xFF, 0xFF, 0xFF, 0, 0, 0, 0, 0, 0, 0, 0});
    EXPECT_THROW(GunzipBytes(invalidBlockType), EGzipError);
    int rejected = 0;
    for (uint32_t seed = 0; seed < 200; ++seed) {
        std::vector<uint8_t> gz = header;
        std::vector<uint8_t> noise = RandomBytes(200, seed);
        gz.insert(gz.end(), noise.begin(), noise.end());
        TGuardedBuffer guarded(gz);
        try {
            GunzipBytes(guarded.Span(), 1 << 20);
        } catch (const EGzipError&) {
            ++rejected;
        }
    }
    EXPECT_EQ(rejected, 200);
}

TEST(GzipReader, OutputLimitStopsDecompressionBombs)
{
    std::vector<uint8_t> zeros(64 << 20, 0);
    std::vector<uint8_t> bomb = Member(zeros);
    EXPECT_LT(bomb.size(), 100000u);
    EXPECT_THROW(GunzipBytes(bomb, 1 << 20), EGzipError);
    EXPECT_EQ(GunzipBytes(bomb, zeros.size()).size(), zeros.size());
}

TEST(ZlibStreams, InflateWhatPythonCompressed)
{
    TempDir dir;
    std::vector<uint8_t> data = RandomBytes(100000, 9);
    for (size_t i = 0; i < data.size(); i += 2) data[i] = 'z';
    WriteFileBytes(dir / "plain", data);
    ASSERT_EQ(RunShell("python3 -c 'import sys,zlib; "
                       "open(sys.argv[2],\"wb\").write(zlib.compress(open(sys.argv[1],\"rb\").read(),9))' " +
                       ShellQuote(dir / "plain") + " " + ShellQuote(dir / "z"))
                  .ExitCode,
              0);
    std::vector<uint8_t> z = ReadFileBytes(dir / "z");
    EXPECT_EQ(InflateZlib(z), data);
    EXPECT_EQ(InflateZlib(Deflate(data, TDeflateFraming::dfZlib)), data);
    z.push_back(0);
    EXPECT_THROW(InflateZlib(z), EGzipError);
    z.resize(z.size() - 5); // the Adler-32 check is cut
    EXPECT_THROW(InflateZlib(z), EGzipError);
}
