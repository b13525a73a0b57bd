// The container: what ffprobe/ffmpeg read back from the files the library
// writes, the chunk layout, reference counting and failures.
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <csignal>
#include <fstream>
#include <thread>

#include "avi_test_support.h"

using namespace avifile;
using namespace avitest;

namespace {

struct Handles {
    PAVIFILE file = nullptr;
    PAVISTREAM stream = nullptr;
    PAVISTREAM compressed = nullptr;
};

// Opens file, stream and compressed stream with its format; asserts success.
Handles OpenAll(const std::string& path, const Frame& like, const char* fourcc = "DIB ")
{
    Handles h;
    EXPECT_EQ(AVIFileOpenA(&h.file, path.c_str(), OF_CREATE | OF_WRITE, nullptr), AVIERR_OK);
    AVISTREAMINFOA info{};
    info.fccType = streamtypeVIDEO;
    info.dwScale = 1;
    info.dwRate = 25;
    info.rcFrame = RECT{0, 0, like.width, like.height};
    EXPECT_EQ(AVIFileCreateStreamA(h.file, &h.stream, &info), AVIERR_OK);
    AVICOMPRESSOPTIONS opts{};
    opts.fccType = streamtypeVIDEO;
    opts.fccHandler = StringToFourCC(fourcc);
    opts.dwQuality = 7500;
    EXPECT_EQ(AVIMakeCompressedStream(&h.compressed, h.stream, &opts, nullptr), AVIERR_OK);
    gdi::BITMAPINFOHEADER header = HeaderFor(like);
    EXPECT_EQ(AVIStreamSetFormat(h.compressed, 0, &header, sizeof header), AVIERR_OK);
    return h;
}

HRESULT Put(PAVISTREAM s, LONG index, const Frame& f)
{
    return AVIStreamWrite(s, index, 1, f.bits.data(), static_cast<LONG>(f.bits.size()), AVIIF_KEYFRAME, nullptr,
                          nullptr);
}

class AviWriterTest : public ::testing::Test {
protected:
    void SetUp() override { AVIFileInit(); }
    void TearDown() override { AVIFileExit(); }
    ScratchDir dir;
};

} // namespace

TEST_F(AviWriterTest, FullFramesDecodeToExactlyThePixelsWrittenFirstRowOnTop)
{
    // 333 pixels: rows carry a padding byte, which must not reach the picture.
    std::vector<Frame> frames;
    for (int n = 0; n < 5; ++n) frames.push_back(MakePicture(333, 250, n));
    const std::string path = dir.File("dib.avi");
    ASSERT_EQ(WriteAvi(path, frames, {}), "");

    ProbeInfo p = Probe(path);
    EXPECT_EQ(p.streams, 1);
    EXPECT_EQ(p.codec, "rawvideo");
    EXPECT_EQ(p.pixFmt, "bgr24");
    EXPECT_EQ(p.width, 333);
    EXPECT_EQ(p.height, 250);
    EXPECT_EQ(p.nbFrames, 5);
    EXPECT_EQ(p.packets, 5);
    EXPECT_EQ(p.keyPackets, 5);

    std::vector<uint8_t> expected;
    for (const Frame& f : frames) {
        auto td = TopDownBgr(f);
        expected.insert(expected.end(), td.begin(), td.end());
    }
    EXPECT_TRUE(Decode(path, "bgr24") == expected);
    // The same through a conversion: red and blue swap places, nothing else moves.
    std::vector<uint8_t> rgb = Decode(path, "rgb24");
    ASSERT_EQ(rgb.size(), expected.size());
    EXPECT_EQ(rgb[0], expected[2]);
    EXPECT_EQ(rgb[2], expected[0]);

    RiffInfo r = ReadRiff(path);
    ASSERT_TRUE(r.valid) << r.error;
    EXPECT_EQ(r.riffForms, std::vector<std::string>{"AVI "});
    EXPECT_EQ(r.strhHandler, "DIB ");
    EXPECT_EQ(r.strfCompression, 0u);
    EXPECT_EQ(r.avihTotalFrames, 5u);
    EXPECT_EQ(r.strhLength, 5u);
    EXPECT_EQ(r.idx1Entries, 5u);
    EXPECT_EQ(r.idx1KeyEntries, 5u);
    EXPECT_EQ(r.movieChunks, 5u);
    EXPECT_EQ(r.superIndexEntries, 0u); // small files stay AVI 1.0
    EXPECT_EQ(FileSize(path), r.riffSizes[0]);
}

TEST_F(AviWriterTest, ZeroFrameFileIsValid)
{
    const std::string path = dir.File("empty.avi");
    Frame like = MakePicture(64, 48, 0);
    Handles h = OpenAll(path, like);
    EXPECT_EQ(AVIStreamRelease(h.stream), 1u);
    EXPECT_EQ(AVIStreamRelease(h.compressed), 0u);
    EXPECT_EQ(AVIFileRelease(h.file), 0u);

    RiffInfo r = ReadRiff(path);
    ASSERT_TRUE(r.valid) << r.error;
    EXPECT_EQ(r.strhLength, 0u);
    EXPECT_EQ(r.idx1Entries, 0u);
    ProbeInfo p = Probe(path);
    EXPECT_EQ(p.streams, 1);
    EXPECT_EQ(p.width, 64);
    EXPECT_EQ(p.height, 48);
    EXPECT_EQ(p.packets, 0);
}

TEST_F(AviWriterTest, AnyReleaseOrderFinalisesOnce)
{
    Frame f = MakePicture(32, 32, 1);
    int order[3] = {0, 1, 2};
    int variant = 0;
    do {
        const std::string path = dir.File("order" + std::to_string(variant++) + ".avi");
        Handles h = OpenAll(path, f);
        for (int i = 0; i < 3; ++i) ASSERT_EQ(Put(h.compressed, i, f), AVIERR_OK);
        bool streamGone = false, compressedGone = false;
        for (int k = 0; k < 3; ++k) {
            const int which = order[k];
            // Each release answers its own object's remaining count; the
            // file is completed by whichever release comes last.
            EXPECT_FALSE(ReadRiff(path).valid) << "completed before the last release";
            if (which == 0) {
                EXPECT_EQ(AVIFileRelease(h.file) == 0, k == 2);
            } else if (which == 1) {
                EXPECT_EQ(AVIStreamRelease(h.stream), compressedGone ? 0u : 1u);
                streamGone = true;
            } else {
                EXPECT_EQ(AVIStreamRelease(h.compressed), 0u);
                compressedGone = true;
            }
        }
        EXPECT_TRUE(streamGone && compressedGone);
        // Released handles are recognised as such.
        EXPECT_EQ(AVIFileRelease(h.file), 0u);
        EXPECT_EQ(AVIStreamRelease(h.compressed), 0u);
        EXPECT_NE(Put(h.compressed, 3, f), AVIERR_OK);

        RiffInfo r = ReadRiff(path);
        ASSERT_TRUE(r.valid) << path << ": " << r.error;
        EXPECT_EQ(r.strhLength, 3u) << path;
        EXPECT_EQ(r.idx1Entries, 3u) << path;
        EXPECT_EQ(Probe(path).packets, 3) << path;
    } while (std::next_permutation(order, order + 3));
}

TEST_F(AviWriterTest, OpenFailsForBadPathsAndModes)
{
    PAVIFILE file = reinterpret_cast<PAVIFILE>(1);
    EXPECT_NE(AVIFileOpenA(&file, dir.File("no/such/dir/x.avi").c_str(), OF_CREATE | OF_WRITE, nullptr), AVIERR_OK);
    EXPECT_EQ(file, nullptr);
    EXPECT_NE(AVIFileOpenA(&file, dir.Path().c_str(), OF_CREATE | OF_WRITE, nullptr), AVIERR_OK); // a directory
    EXPECT_NE(AVIFileOpenA(&file, dir.File("read.avi").c_str(), 0, nullptr), AVIERR_OK);
    EXPECT_NE(AVIFileOpenA(&file, "", OF_CREATE | OF_WRITE, nullptr), AVIERR_OK);
    if (geteuid() != 0) { // permissions do not stop root
        std::string locked = dir.File("locked");
        ASSERT_EQ(mkdir(locked.c_str(), 0500), 0);
        EXPECT_NE(AVIFileOpenA(&file, (locked + "/x.avi").c_str(), OF_CREATE | OF_WRITE, nullptr), AVIERR_OK);
        chmod(locked.c_str(), 0700);
    }
}

TEST_F(AviWriterTest, AFileBeingWrittenCannotBeOpenedAgain)
{
    const std::string path = dir.File("busy.avi");
    Frame f = MakePicture(16, 16, 0);
    Handles h = OpenAll(path, f);
    ASSERT_EQ(Put(h.compressed, 0, f), AVIERR_OK);
    PAVIFILE again = nullptr;
    EXPECT_EQ(AVIFileOpenA(&again, path.c_str(), OF_CREATE | OF_WRITE, nullptr), AVIERR_FILEOPEN);
    AVIStreamRelease(h.stream);
    AVIStreamRelease(h.compressed);
    AVIFileRelease(h.file);
    EXPECT_EQ(ReadRiff(path).strhLength, 1u); // the first writer's file is whole
    // Once completed, the file may be replaced.
    ASSERT_EQ(AVIFileOpenA(&again, path.c_str(), OF_CREATE | OF_WRITE, nullptr), AVIERR_OK);
    AVIFileRelease(again);
}

TEST(AviLibraryInit, OpeningNeedsTheLibraryInitialised)
{
    ScratchDir dir;
    PAVIFILE file = nullptr;
    EXPECT_NE(AVIFileOpenA(&file, dir.File("x.avi").c_str(), OF_CREATE | OF_WRITE, nullptr), AVIERR_OK);
    // Initialisation is counted: one exit of two inits leaves it usable.
    AVIFileInit();
    AVIFileInit();
    AVIFileExit();
    ASSERT_EQ(AVIFileOpenA(&file, dir.File("x.avi").c_str(), OF_CREATE | OF_WRITE, nullptr), AVIERR_OK);
    AVIFileExit();
    EXPECT_EQ(AVIFileRelease(file), 0u); // releasing after the exit still completes the file
    EXPECT_TRUE(ReadRiff(dir.File("x.avi")).valid);
}

TEST_F(AviWriterTest, OpenReplacesAnExistingFile)
{
    const std::string path = dir.File("old.avi");
    {
        std::ofstream old(path, std::ios::binary);
        old << std::string(3'000'000, 'x');
    }
    Frame f = MakePicture(16, 16, 0);
    ASSERT_EQ(WriteAvi(path, {f}, {}), "");
    RiffInfo r = ReadRiff(path);
    ASSERT_TRUE(r.valid) << r.error;
    EXPECT_EQ(FileSize(path), r.riffSizes[0]);
}

TEST_F(AviWriterTest, SkippedPositionsBecomeEmptyFrames)
{
    const std::string path = dir.File("gaps.avi");
    Frame f = MakePicture(32, 16, 0);
    Handles h = OpenAll(path, f);
    ASSERT_EQ(Put(h.compressed, 0, f), AVIERR_OK);
    ASSERT_EQ(Put(h.compressed, 1, f), AVIERR_OK);
    ASSERT_EQ(Put(h.compressed, 4, f), AVIERR_OK);
    EXPECT_NE(Put(h.compressed, 3, f), AVIERR_OK); // frames are only appended
    AVIStreamRelease(h.stream);
    AVIStreamRelease(h.compressed);
    AVIFileRelease(h.file);
    RiffInfo r = ReadRiff(path);
    ASSERT_TRUE(r.valid) << r.error;
    EXPECT_EQ(r.strhLength, 5u);
    EXPECT_EQ(r.movieChunks, 5u);
    EXPECT_EQ(r.idx1KeyEntries, 3u);
    EXPECT_EQ(Probe(path).nbFrames, 5);
}

TEST_F(AviWriterTest, RejectsBadArgumentsWithoutHarmingTheFile)
{
    const std::string path = dir.File("args.avi");
    Frame f = MakePicture(40, 30, 0);
    PAVIFILE file = nullptr;
    ASSERT_EQ(AVIFileOpenA(&file, path.c_str(), OF_CREATE | OF_WRITE, nullptr), AVIERR_OK);
    AVISTREAMINFOA info{};
    info.fccType = streamtypeVIDEO;
    info.dwScale = 1;
    PAVISTREAM stream = nullptr;
    EXPECT_NE(AVIFileCreateStreamA(file, &stream, &info), AVIERR_OK); // rate 0
    info.dwRate = 10;
    info.fccType = FourCC("auds");
    EXPECT_NE(AVIFileCreateStreamA(file, &stream, &info), AVIERR_OK);
    info.fccType = streamtypeVIDEO;
    ASSERT_EQ(AVIFileCreateStreamA(file, &stream, &info), AVIERR_OK);
    PAVISTREAM second = nullptr;
    EXPECT_NE(AVIFileCreateStreamA(file, &second, &info), AVIERR_OK);

    AVICOMPRESSOPTIONS opts{};
    opts.fccType = streamtypeVIDEO;
    opts.fccHandler = FourCC("DIB ");
    PAVISTREAM compressed = nullptr;
    ASSERT_EQ(AVIMakeCompressedStream(&compressed, stream, &opts, nullptr), AVIERR_OK);
    EXPECT_NE(Put(compressed, 0, f), AVIERR_OK); // no format yet

    gdi::BITMAPINFOHEADER header = HeaderFor(f);
    gdi::BITMAPINFOHEADER bad = header;
    bad.biBitCount = 32;
    EXPECT_NE(AVIStreamSetFormat(compressed, 0, &bad, sizeof bad), AVIERR_OK);
    bad = header;
    bad.biWidth = 0;
    EXPECT_NE(AVIStreamSetFormat(compressed, 0, &bad, sizeof bad), AVIERR_OK);
    bad = header;
    bad.biCompression = FourCC("MJPG");
    EXPECT_NE(AVIStreamSetFormat(compressed, 0, &bad, sizeof bad), AVIERR_OK);
    EXPECT_NE(AVIStreamSetFormat(compressed, 0, &header, 20), AVIERR_OK);
    ASSERT_EQ(AVIStreamSetFormat(compressed, 0, &header, sizeof header), AVIERR_OK);

    EXPECT_NE(AVIStreamWrite(compressed, 0, 1, f.bits.data(), static_cast<LONG>(f.bits.size() - 1), AVIIF_KEYFRAME,
                             nullptr, nullptr),
              AVIERR_OK);
    EXPECT_NE(AVIStreamWrite(compressed, 0, 2, f.bits.data(), static_cast<LONG>(f.bits.size()), AVIIF_KEYFRAME, nullptr,
                             nullptr),
              AVIERR_OK);
    EXPECT_NE(AVIStreamWrite(compressed, 0, 1, nullptr, 100, AVIIF_KEYFRAME, nullptr, nullptr), AVIERR_OK);
    LONG samples = 0, bytes = 0;
    EXPECT_EQ(AVIStreamWrite(compressed, 0, 1, f.bits.data(), static_cast<LONG>(f.bits.size()), AVIIF_KEYFRAME,
                             &samples, &bytes),
              AVIERR_OK);
    EXPECT_EQ(samples, 1);
    EXPECT_EQ(bytes, static_cast<LONG>(f.bits.size()));
    EXPECT_EQ(Put(compressed, 0x7FFFFFFF, f), AVIERR_BADPARAM); // would mean two thousand million empty frames
    // Another size after frames are out is refused; the same format is fine.
    gdi::BITMAPINFOHEADER other = HeaderFor(MakePicture(20, 30, 0));
    EXPECT_NE(AVIStreamSetFormat(compressed, 1, &other, sizeof other), AVIERR_OK);
    EXPECT_EQ(AVIStreamSetFormat(compressed, 1, &header, sizeof header), AVIERR_OK);
    EXPECT_NE(AVIStreamSetFormat(reinterpret_cast<PAVISTREAM>(&header), 0, &header, sizeof header), AVIERR_OK);

    AVIStreamRelease(compressed);
    AVIStreamRelease(stream);
    AVIFileRelease(file);
    RiffInfo r = ReadRiff(path);
    ASSERT_TRUE(r.valid) << r.error;
    EXPECT_EQ(r.strhLength, 1u);
    EXPECT_EQ(Probe(path).packets, 1);
}

TEST_F(AviWriterTest, TheFileStreamTakesFramesAsTheyAre)
{
    const std::string path = dir.File("direct.avi");
    Frame f = MakePicture(24, 10, 3);
    PAVIFILE file = nullptr;
    PAVISTREAM stream = nullptr;
    ASSERT_EQ(AVIFileOpenA(&file, path.c_str(), OF_CREATE | OF_WRITE, nullptr), AVIERR_OK);
    AVISTREAMINFOA info{};
    info.fccType = streamtypeVIDEO;
    info.fccHandler = FourCC("DIB ");
    info.dwScale = 1;
    info.dwRate = 5;
    ASSERT_EQ(AVIFileCreateStreamA(file, &stream, &info), AVIERR_OK);
    EXPECT_NE(Put(stream, 0, f), AVIERR_OK); // no format yet
    gdi::BITMAPINFOHEADER header = HeaderFor(f);
    ASSERT_EQ(AVIStreamSetFormat(stream, 0, &header, sizeof header), AVIERR_OK);
    ASSERT_EQ(Put(stream, 0, f), AVIERR_OK);
    ASSERT_EQ(AVIStreamWrite(stream, 1, 1, f.bits.data(), static_cast<LONG>(f.bits.size()), 0, nullptr, nullptr),
              AVIERR_OK);
    EXPECT_EQ(AVIStreamRelease(stream), 0u);
    EXPECT_EQ(AVIFileRelease(file), 0u);
    RiffInfo r = ReadRiff(path);
    ASSERT_TRUE(r.valid) << r.error;
    EXPECT_EQ(r.idx1Entries, 2u);
    EXPECT_EQ(r.idx1KeyEntries, 1u); // the flag is the caller's here
    auto td = TopDownBgr(f);
    std::vector<uint8_t> both(td);
    both.insert(both.end(), td.begin(), td.end());
    EXPECT_TRUE(Decode(path, "bgr24") == both);
}

TEST_F(AviWriterTest, WriteErrorsAreReported)
{
    // /dev/full accepts the open and refuses every byte.
    Frame big = MakePicture(640, 480, 0);
    PAVIFILE file = nullptr;
    ASSERT_EQ(AVIFileOpenA(&file, "/dev/full", OF_CREATE | OF_WRITE, nullptr), AVIERR_OK);
    AVISTREAMINFOA info{};
    info.fccType = streamtypeVIDEO;
    info.dwScale = 1;
    info.dwRate = 25;
    PAVISTREAM stream = nullptr, compressed = nullptr;
    ASSERT_EQ(AVIFileCreateStreamA(file, &stream, &info), AVIERR_OK);
    AVICOMPRESSOPTIONS opts{};
    opts.fccHandler = FourCC("MSVC");
    opts.dwQuality = 7500;
    ASSERT_EQ(AVIMakeCompressedStream(&compressed, stream, &opts, nullptr), AVIERR_OK);
    gdi::BITMAPINFOHEADER header = HeaderFor(big);
    ASSERT_EQ(AVIStreamSetFormat(compressed, 0, &header, sizeof header), AVIERR_OK);
    // Small compressed frames sit in the buffer for a while; the error shows
    // once it is flushed, at the latest when the file is completed.
    HRESULT hr = AVIERR_OK;
    for (int i = 0; i < 400 && hr == AVIERR_OK; ++i) hr = Put(compressed, i, big);
    EXPECT_EQ(hr, AVIERR_FILEWRITE);
    EXPECT_EQ(AVIFileFinalize(file), AVIERR_FILEWRITE);
    EXPECT_EQ(AVIFileFinalize(file), AVIERR_FILEWRITE);
    EXPECT_EQ(Put(compressed, 500, big), AVIERR_FILEWRITE);
    AVIStreamRelease(stream);
    AVIStreamRelease(compressed);
    AVIFileRelease(file);
    struct stat st {};
    EXPECT_EQ(stat("/dev/full", &st), 0); // a device is never removed
    EXPECT_TRUE(S_ISCHR(st.st_mode));
}

TEST_F(AviWriterTest, AFileThatCannotBeCompletedIsRemoved)
{
    // A file-size limit in a child process stands in for a full disk.
    const std::string path = dir.File("limited.avi");
    pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        signal(SIGXFSZ, SIG_IGN);
        struct rlimit limit {
            2'000'000, 2'000'000
        };
        setrlimit(RLIMIT_FSIZE, &limit);
        Frame f = MakePicture(320, 240, 0);
        Handles h = OpenAll(path, f);
        HRESULT hr = AVIERR_OK;
        int written = 0;
        while (hr == AVIERR_OK && written < 100) hr = Put(h.compressed, written++, f);
        AVIStreamRelease(h.stream);
        AVIStreamRelease(h.compressed);
        AVIFileRelease(h.file);
        bool removed = access(path.c_str(), F_OK) != 0;
        _exit(hr == AVIERR_FILEWRITE && removed ? 0 : 1);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);
}

TEST_F(AviWriterTest, FinalizeReportsSuccessAndLaterWritesFail)
{
    const std::string path = dir.File("final.avi");
    Frame f = MakePicture(16, 8, 0);
    Handles h = OpenAll(path, f);
    ASSERT_EQ(Put(h.compressed, 0, f), AVIERR_OK);
    EXPECT_EQ(AVIFileFinalize(h.file), AVIERR_OK);
    EXPECT_EQ(Put(h.compressed, 1, f), AVIERR_FILEWRITE);
    AVIStreamRelease(h.stream);
    AVIStreamRelease(h.compressed);
    EXPECT_EQ(AVIFileRelease(h.file), 0u);
    RiffInfo r = ReadRiff(path);
    ASSERT_TRUE(r.valid) << r.error;
    EXPECT_EQ(r.strhLength, 1u);
}

TEST_F(AviWriterTest, FilesWrittenFromTwoThreadsAtOnceStayWhole)
{
    Frame f = MakePicture(64, 64, 2);
    auto writeOne = [&](const std::string& path) {
        Handles h = OpenAll(path, f, "MSVC");
        for (int i = 0; i < 30; ++i) EXPECT_EQ(Put(h.compressed, i, f), AVIERR_OK);
        AVIFileRelease(h.file);
        AVIStreamRelease(h.compressed);
        AVIStreamRelease(h.stream);
    };
    std::thread a(writeOne, dir.File("a.avi")), b(writeOne, dir.File("b.avi"));
    a.join();
    b.join();
    for (const char* name : {"a.avi", "b.avi"}) {
        RiffInfo r = ReadRiff(dir.File(name));
        ASSERT_TRUE(r.valid) << name << ": " << r.error;
        EXPECT_EQ(r.idx1KeyEntries, 30u) << name;
        EXPECT_EQ(Probe(dir.File(name)).packets, 30) << name;
    }
}
