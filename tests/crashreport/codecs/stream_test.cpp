// The reporter's byte streams.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <unistd.h>

#include "crashreport/codecs/stream.h"

using namespace crashreport;

TEST(Streams, MemoryStreamReadsWritesAndSeeks)
{
    TMemoryStream s;
    s.WriteBytes("hello");
    EXPECT_EQ(s.Size(), 5);
    s.Seek(-2, TSeekOrigin::soEnd);
    s.WriteBytes("p!!");
    EXPECT_EQ(s.Bytes(), "help!!");
    s.Seek(-100, TSeekOrigin::soCurrent);
    EXPECT_EQ(s.Position(), 0);
    char b[4] = {};
    s.ReadBuffer(b, 4);
    EXPECT_EQ(std::string(b, 4), "help");
    EXPECT_EQ(s.Remaining(), 2);
    EXPECT_THROW(s.ReadBuffer(b, 3), rtl::EReadError);
    s.Seek(50, TSeekOrigin::soBeginning);
    EXPECT_EQ(s.Read(b, 1), 0u);
    EXPECT_EQ(s.Remaining(), 0);
    s.SetSize(2);
    EXPECT_EQ(s.Bytes(), "he");
    EXPECT_EQ(s.Position(), 2);
}

TEST(Streams, ByteViewIsReadOnlyAndBounded)
{
    const std::string data = "abcdef";
    TByteViewStream v(data.data(), 3);
    char b[8] = {};
    EXPECT_EQ(v.Read(b, 8), 3u);
    EXPECT_EQ(std::string(b, 3), "abc");
    EXPECT_EQ(v.Read(b, 8), 0u);
    EXPECT_THROW(v.WriteBuffer("x", 1), EWriteError);
    try {
        v.SetPosition(1);
        v.ReadBuffer(b, 5);
        FAIL();
    } catch (const rtl::EReadError& e) {
        EXPECT_EQ(e.Message, "Stream read error");
    }
}

TEST(Streams, FileStreamCreatesOpensAndCopies)
{
    const std::string path = "/tmp/options-stream-" + std::to_string(getpid());
    {
        TFileStream f(path, TFileStream::fmCreate);
        TMemoryStream m("0123456789");
        EXPECT_EQ(f.CopyFrom(m), 10);
        EXPECT_EQ(f.Size(), 10);
    }
    {
        TFileStream f(path, TFileStream::fmOpenRead);
        f.Seek(4, TSeekOrigin::soBeginning);
        TMemoryStream m;
        m.CopyFrom(f, 3);
        EXPECT_EQ(m.Bytes(), "456");
        EXPECT_EQ(f.Position(), 7);
        EXPECT_EQ(f.Write("x", 1), 0u); // opened for reading only
    }
    std::filesystem::remove(path);
    try {
        TFileStream f(path, TFileStream::fmOpenRead);
        FAIL();
    } catch (const rtl::EFOpenError& e) {
        EXPECT_EQ(e.Message, "Cannot open file \"" + path + "\". No such file or directory");
    }
    EXPECT_THROW(TFileStream("/proc/no/such/dir/f", TFileStream::fmCreate), EFCreateError);
}
