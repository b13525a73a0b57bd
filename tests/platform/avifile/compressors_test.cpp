// The compressors: each installed one writes a file ffprobe/ffmpeg read
// back as the right codec with key frames only and a picture close enough
// (exact for the lossless ones); quality and data rate really matter.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <map>

#include "avi_test_support.h"

using namespace avifile;
using namespace avitest;

namespace {

struct Expectation {
    const char* fourcc;
    const char* codec; // ffprobe's name
    double psnrFloor;  // at quality 7500; 99 means exact
};
void PrintTo(const Expectation& e, std::ostream* os) { *os << e.fourcc; }

const Expectation kExpected[] = {
    {"DIB ", "rawvideo", 99}, {"MSVC", "msvideo1", 34}, {"divx", "mpeg4", 24},
    {"MJPG", "mjpeg", 24},    {"HFYU", "huffyuv", 99},  {"FFV1", "ffv1", 99},
};

std::vector<Frame> Pictures(int w, int h, int count)
{
    std::vector<Frame> frames;
    for (int n = 0; n < count; ++n) frames.push_back(MakePicture(w, h, n));
    return frames;
}

std::vector<uint8_t> Expected(const std::vector<Frame>& frames)
{
    std::vector<uint8_t> out;
    for (const Frame& f : frames) {
        auto td = TopDownBgr(f);
        out.insert(out.end(), td.begin(), td.end());
    }
    return out;
}

bool Installed(const char* fourcc) { return FindCompressor(StringToFourCC(fourcc), nullptr); }

} // namespace

TEST(CompressorRegistry, ListsWorkingCompressorsWithFullFramesFirst)
{
    std::vector<CompressorInfo> list = InstalledCompressors();
    ASSERT_FALSE(list.empty());
    EXPECT_EQ(list.front().fourcc, FourCC("DIB "));
    std::vector<std::string> codes;
    for (const CompressorInfo& c : list) codes.push_back(FourCCToString(c.fourcc));
    for (const char* required : {"DIB ", "MSVC", "divx"})
        EXPECT_NE(std::find(codes.begin(), codes.end(), required), codes.end()) << required;
    CompressorInfo info{};
    ASSERT_TRUE(FindCompressor(FourCC("msvc"), &info)); // codes match without regard to case
    EXPECT_EQ(info.fourcc, FourCC("MSVC"));
    EXPECT_EQ(info.widthMultiple, 4);
    EXPECT_TRUE(info.hasQuality);
    EXPECT_EQ(info.defaultQuality, 7500u);
    EXPECT_TRUE(FindCompressor(FourCC("DIVX"), nullptr));
    EXPECT_FALSE(FindCompressor(FourCC("XVQZ"), nullptr));
    EXPECT_FALSE(FindCompressor(0, nullptr));
    EXPECT_EQ(StringToFourCC("DIB"), FourCC("DIB "));
    EXPECT_EQ(StringToFourCC("toolong"), 0u);
}

TEST(CompressorRegistry, MissingCompressorGivesNoCompressor)
{
    ScratchDir dir;
    WriteOptions o;
    o.fourcc = "XVQZ";
    EXPECT_EQ(WriteAvi(dir.File("x.avi"), Pictures(16, 16, 1), o), "AVIMakeCompressedStream: 0x80044071");
    o.fourcc = ""; // a cleared record names no compressor
    EXPECT_EQ(WriteAvi(dir.File("y.avi"), Pictures(16, 16, 1), o), "AVIMakeCompressedStream: 0x80044071");
}

class EachCompressor : public ::testing::TestWithParam<Expectation> {};

TEST_P(EachCompressor, FileReadsBackAsKeyFramesOfTheRightCodec)
{
    const Expectation& e = GetParam();
    if (!Installed(e.fourcc)) GTEST_SKIP() << e.fourcc << " not installed here";
    ScratchDir dir;
    // Odd sizes (and padded rows) except for MSVC, which needs whole 4x4 blocks.
    const bool blocks = std::string(e.fourcc) == "MSVC";
    const int width = blocks ? 320 : 333, height = blocks ? 240 : 241;
    const auto frames = Pictures(width, height, 8);
    const std::string path = dir.File("c.avi");
    WriteOptions o;
    o.fourcc = e.fourcc;
    ASSERT_EQ(WriteAvi(path, frames, o), "");

    ProbeInfo p = Probe(path);
    EXPECT_EQ(p.streams, 1);
    EXPECT_EQ(p.codec, e.codec);
    EXPECT_EQ(p.width, width);
    EXPECT_EQ(p.height, height);
    EXPECT_EQ(p.packets, 8);
    EXPECT_EQ(p.keyPackets, 8);
    EXPECT_EQ(p.nbFrames, 8);
    RiffInfo r = ReadRiff(path);
    ASSERT_TRUE(r.valid) << r.error;
    EXPECT_EQ(r.strhHandler, FourCCToString(StringToFourCC(e.fourcc)));
    EXPECT_EQ(r.idx1KeyEntries, 8u);

    double psnr = Psnr(Decode(path, "bgr24"), Expected(frames));
    if (e.psnrFloor >= 99)
        EXPECT_EQ(psnr, 99.0) << "lossless output differs";
    else
        EXPECT_GE(psnr, e.psnrFloor);
}

TEST_P(EachCompressor, TopDownInputGivesTheSamePicture)
{
    const Expectation& e = GetParam();
    if (!Installed(e.fourcc)) GTEST_SKIP();
    ScratchDir dir;
    auto frames = Pictures(64, 48, 2);
    ASSERT_EQ(WriteAvi(dir.File("up.avi"), frames, WriteOptions{e.fourcc}), "");
    // The same pictures as top-down images: rows reversed, negative height.
    gdi::BITMAPINFOHEADER header = HeaderFor(frames[0]);
    header.biHeight = -header.biHeight;
    OpenedStream down(dir.File("down.avi"), WriteOptions{e.fourcc}, header);
    ASSERT_EQ(down.Error(), "");
    for (int i = 0; i < 2; ++i) {
        Frame flipped = frames[static_cast<size_t>(i)];
        for (int y = 0; y < flipped.height; ++y)
            std::memcpy(flipped.bits.data() + y * flipped.stride,
                        frames[static_cast<size_t>(i)].bits.data() + (flipped.height - 1 - y) * flipped.stride,
                        flipped.stride);
        ASSERT_EQ(down.Write(i, flipped), AVIERR_OK);
    }
    down.Release();
    EXPECT_TRUE(Decode(dir.File("up.avi"), "bgr24") == Decode(dir.File("down.avi"), "bgr24"));
}

TEST_P(EachCompressor, SkippedPositionsKeepTheirPlaceAmongFramesTheEncoderHoldsBack)
{
    // Some library encoders run ahead on several threads and hand frames
    // out later; the empty frames of skipped positions must still land in
    // front of the frame that skipped them.
    const Expectation& e = GetParam();
    if (!Installed(e.fourcc)) GTEST_SKIP();
    ScratchDir dir;
    const std::string path = dir.File("gaps.avi");
    auto frames = Pictures(64, 48, 4);
    OpenedStream out(path, WriteOptions{e.fourcc}, HeaderFor(frames[0]));
    ASSERT_EQ(out.Error(), "");
    const LONG positions[4] = {0, 1, 4, 7};
    for (int i = 0; i < 4; ++i) ASSERT_EQ(out.Write(positions[i], frames[static_cast<size_t>(i)]), AVIERR_OK);
    out.Release();
    RiffInfo r = ReadRiff(path);
    ASSERT_TRUE(r.valid) << r.error;
    ASSERT_EQ(r.chunkSizes.size(), 8u);
    for (size_t i = 0; i < 8; ++i) {
        bool written = i == 0 || i == 1 || i == 4 || i == 7;
        EXPECT_EQ(r.chunkSizes[i] > 0, written) << "position " << i;
    }
    EXPECT_EQ(r.idx1KeyEntries, 4u);
}

INSTANTIATE_TEST_SUITE_P(All, EachCompressor, ::testing::ValuesIn(kExpected), [](const auto& info) {
    std::string n = info.param.fourcc;
    n.erase(std::remove(n.begin(), n.end(), ' '), n.end());
    return n;
});

TEST(CompressorQuality, HigherQualityGivesALargerOrTruerPicture)
{
    for (const char* fourcc : {"MSVC", "divx", "MJPG"}) {
        if (!Installed(fourcc)) continue;
        ScratchDir dir;
        const auto frames = Pictures(160, 120, 4);
        const auto expected = Expected(frames);
        std::map<DWORD, std::pair<uint64_t, double>> result;
        for (DWORD q : {1000u, 9500u}) {
            WriteOptions o;
            o.fourcc = fourcc;
            o.quality = q;
            std::string path = dir.File("q" + std::to_string(q) + ".avi");
            ASSERT_EQ(WriteAvi(path, frames, o), "") << fourcc;
            result[q] = {FileSize(path), Psnr(Decode(path, "bgr24"), expected)};
        }
        EXPECT_GT(result[9500].first, result[1000].first) << fourcc;
        EXPECT_GT(result[9500].second, result[1000].second + 1.0) << fourcc;
    }
}

TEST(CompressorQuality, DefaultQualityIsTheCompressorsOwn)
{
    ScratchDir dir;
    const auto frames = Pictures(96, 64, 2);
    WriteOptions def, own;
    def.fourcc = own.fourcc = "MSVC";
    def.quality = ICQUALITY_DEFAULT;
    own.quality = 7500;
    ASSERT_EQ(WriteAvi(dir.File("d.avi"), frames, def), "");
    ASSERT_EQ(WriteAvi(dir.File("o.avi"), frames, own), "");
    EXPECT_EQ(FileSize(dir.File("d.avi")), FileSize(dir.File("o.avi")));
}

// A data rate is a limit: the frames of any clip, long or short, stay
// within it where the compressor can make them that small (100 and 600 KB/s
// here), a lower limit gives smaller frames, and a limit below the smallest
// the compressor can make (20 KB/s here) gives the smallest frames. For both
// compressors that honour it.
TEST(CompressorDataRate, TheOutputStaysWithinTheDataRate)
{
    for (const char* fourcc : {"divx", "MJPG"}) {
        if (!Installed(fourcc)) continue;
        SCOPED_TRACE(fourcc);
        ScratchDir dir;
        std::uintmax_t previous = 0;
        for (DWORD limit : {20'000u, 100'000u, 600'000u, 0u}) {
            for (int frameCount : {3, 25}) {
                const auto frames = Pictures(320, 240, frameCount);
                WriteOptions o;
                o.fourcc = fourcc;
                o.bytesPerSecond = limit;
                const std::string file = dir.File(std::to_string(limit) + "-" + std::to_string(frameCount) + ".avi");
                ASSERT_EQ(WriteAvi(file, frames, o), "");
                const RiffInfo riff = ReadRiff(file);
                ASSERT_TRUE(riff.valid) << riff.error;
                std::uintmax_t size = 0;
                for (uint32_t chunk : riff.chunkSizes) {
                    if (limit > 20'000u) {
                        EXPECT_LE(chunk, limit / 25) << limit << " " << frameCount;
                    }
                    size += chunk;
                }
                if (frameCount == 25) {
                    EXPECT_GE(size, previous) << limit;
                    previous = size;
                }
                EXPECT_EQ(riff.movieChunks, static_cast<uint32_t>(frameCount));
            }
        }
    }
}

TEST(MsVideo1, SizesOutsideWholeBlocksAreRefusedAtSetFormat)
{
    ScratchDir dir;
    WriteOptions o;
    o.fourcc = "MSVC";
    EXPECT_EQ(WriteAvi(dir.File("a.avi"), Pictures(250, 248, 1), o), "AVIStreamSetFormat: 0x80044066");
    EXPECT_EQ(WriteAvi(dir.File("b.avi"), Pictures(248, 250, 1), o), "AVIStreamSetFormat: 0x80044066");
    EXPECT_EQ(WriteAvi(dir.File("c.avi"), Pictures(4, 4, 1), o), "");
    EXPECT_EQ(Probe(dir.File("c.avi")).packets, 1);
}

TEST(MsVideo1, FlatColoursDecodeExactlyIncludingThoseThatLookLikeSkipCodes)
{
    // Colours whose 5-bit red part is 1 would read as a skip code in a
    // one-colour block; every flat colour must still come back exactly.
    ScratchDir dir;
    std::vector<Frame> frames;
    const uint8_t reds[] = {0, 8, 9, 255}; // 8 and 9 quantise to red 1
    for (uint8_t red : reds) {
        Frame f = MakePicture(16, 8, 0);
        for (int y = 0; y < 8; ++y)
            for (int x = 0; x < 16; ++x) {
                uint8_t* p = f.At(x, y);
                p[0] = 0x40, p[1] = 0x84, p[2] = red; // 0x40 and 0x84 expand back exactly
            }
        frames.push_back(f);
    }
    WriteOptions o;
    o.fourcc = "MSVC";
    ASSERT_EQ(WriteAvi(dir.File("flat.avi"), frames, o), "");
    std::vector<uint8_t> decoded = Decode(dir.File("flat.avi"), "bgr24");
    ASSERT_EQ(decoded.size(), 4u * 16 * 8 * 3);
    const uint8_t expandedRed[] = {0, 8, 8, 255};
    for (size_t i = 0; i < 4; ++i)
        for (size_t px = 0; px < 16 * 8; ++px) {
            const uint8_t* p = decoded.data() + (i * 16 * 8 + px) * 3;
            ASSERT_EQ(p[0], 0x42) << "frame " << i; // 0x40 -> 8/31 -> 0x42
            ASSERT_EQ(p[1], 0x84) << "frame " << i;
            ASSERT_EQ(p[2], expandedRed[i]) << "frame " << i;
        }
}

TEST(MsVideo1, SharpEdgesSurviveAtHighQuality)
{
    // Two-colour stripes inside every block: needs the mask codings.
    ScratchDir dir;
    Frame f = MakePicture(64, 32, 0);
    for (int y = 0; y < 32; ++y)
        for (int x = 0; x < 64; ++x) {
            uint8_t* p = f.At(x, y);
            bool on = ((x + y) % 3) == 0;
            p[0] = on ? 255 : 0, p[1] = on ? 255 : 0, p[2] = on ? 255 : 0;
        }
    WriteOptions o;
    o.fourcc = "MSVC";
    o.quality = 9000;
    ASSERT_EQ(WriteAvi(dir.File("edges.avi"), {f}, o), "");
    EXPECT_EQ(Psnr(Decode(dir.File("edges.avi"), "bgr24"), TopDownBgr(f)), 99.0);
}

TEST(CompressorInput, ArbitraryHeadersAreAcceptedOrRefusedButNeverHarmful)
{
    // Random headers, near-valid ones among them: every compressor either
    // takes the format and a frame of it, or refuses it with a result code.
    ScratchDir dir;
    uint32_t seed = 12345;
    auto next = [&seed] { return seed = seed * 1664525u + 1013904223u; };
    AVIFileInit();
    int accepted = 0;
    for (const CompressorInfo& c : InstalledCompressors()) {
        for (int round = 0; round < 60; ++round) {
            gdi::BITMAPINFOHEADER h{};
            h.biSize = (next() % 4) ? 40 : next() % 80;
            h.biWidth = (next() % 3) ? static_cast<int32_t>(next() % 70) - 3 : static_cast<int32_t>(next());
            h.biHeight = (next() % 3) ? static_cast<int32_t>(next() % 70) - 35 : static_cast<int32_t>(next());
            h.biPlanes = (next() % 5) ? 1 : static_cast<uint16_t>(next());
            h.biBitCount = (next() % 4) ? 24 : static_cast<uint16_t>(next() % 40);
            h.biCompression = (next() % 5) ? 0 : next();
            h.biSizeImage = (next() % 2) ? 0 : next() % 20000;
            PAVIFILE file = nullptr;
            PAVISTREAM stream = nullptr, compressed = nullptr;
            const std::string path = dir.File("r.avi");
            ASSERT_EQ(AVIFileOpenA(&file, path.c_str(), OF_CREATE | OF_WRITE, nullptr), AVIERR_OK);
            AVISTREAMINFOA info{};
            info.fccType = streamtypeVIDEO;
            info.dwScale = 1;
            info.dwRate = 25;
            ASSERT_EQ(AVIFileCreateStreamA(file, &stream, &info), AVIERR_OK);
            AVICOMPRESSOPTIONS opts{};
            opts.fccHandler = c.fourcc;
            opts.dwQuality = next() % 10001;
            ASSERT_EQ(AVIMakeCompressedStream(&compressed, stream, &opts, nullptr), AVIERR_OK);
            const LONG formatSize = static_cast<LONG>(sizeof h);
            if (AVIStreamSetFormat(compressed, 0, &h, formatSize) == AVIERR_OK) {
                ++accepted;
                const int64_t height = h.biHeight < 0 ? -static_cast<int64_t>(h.biHeight) : h.biHeight;
                const size_t image =
                    ((static_cast<size_t>(h.biWidth) * 24 + 31) / 32) * 4 * static_cast<size_t>(height);
                ASSERT_LT(image, 100000u) << "accepted a header the test never makes";
                std::vector<uint8_t> pixels(image, static_cast<uint8_t>(next()));
                EXPECT_EQ(AVIStreamWrite(compressed, 0, 1, pixels.data(), static_cast<LONG>(image), AVIIF_KEYFRAME,
                                         nullptr, nullptr),
                          AVIERR_OK);
            } else {
                EXPECT_NE(AVIStreamWrite(compressed, 0, 1, &h, sizeof h, AVIIF_KEYFRAME, nullptr, nullptr), AVIERR_OK);
            }
            AVIStreamRelease(compressed);
            AVIStreamRelease(stream);
            AVIFileRelease(file);
            RiffInfo r = ReadRiff(path);
            EXPECT_TRUE(r.valid) << FourCCToString(c.fourcc) << ": " << r.error;
        }
    }
    AVIFileExit();
    EXPECT_GT(accepted, 20);
}
