// A file past the first RIFF list's 1 GiB: full 1920x1080 frames, about
// 1.24 GB in all, written to a scratch folder that is removed afterwards.
#include <gtest/gtest.h>

#include <cstring>
#include <sstream>

#include "avi_test_support.h"
#include "platform/avifile/video_file_writer.h"

using namespace avifile;
using namespace avitest;

TEST(AviLargeFile, SwitchesToOpenDmlAndStaysReadable)
{
    constexpr int kFrames = 200;
    ScratchDir dir;
    const std::string path = dir.File("large.avi");
    Frame f = MakePicture(1920, 1080, 0);

    OpenedStream out(path, WriteOptions{"DIB ", 0}, HeaderFor(f), static_cast<DWORD>(f.bits.size()));
    ASSERT_EQ(out.Error(), "");
    for (int i = 0; i < kFrames; ++i) {
        // The frame number in the top-left pixel tells the frames apart.
        uint8_t* p = f.At(0, 0);
        p[0] = static_cast<uint8_t>(i), p[1] = static_cast<uint8_t>(255 - i), p[2] = 7;
        ASSERT_EQ(out.Write(i, f), AVIERR_OK) << "frame " << i;
    }
    EXPECT_EQ(out.Release(), 0u);

    RiffInfo r = ReadRiff(path);
    ASSERT_TRUE(r.valid) << r.error;
    ASSERT_EQ(r.riffForms.size(), 2u);
    EXPECT_EQ(r.riffForms[1], "AVIX");
    EXPECT_LT(r.riffSizes[0], uint64_t{1} << 30);
    EXPECT_EQ(r.strhLength, static_cast<uint32_t>(kFrames));
    EXPECT_EQ(r.dmlhTotalFrames, static_cast<uint32_t>(kFrames));
    EXPECT_EQ(r.avihTotalFrames, r.idx1Entries); // frames of the first list
    EXPECT_GT(r.idx1Entries, 150u);
    EXPECT_LT(r.idx1Entries, static_cast<uint32_t>(kFrames));
    EXPECT_EQ(r.superIndexEntries, 2u);
    EXPECT_EQ(r.standardIndexFrames, static_cast<uint64_t>(kFrames));
    EXPECT_EQ(r.movieChunks, static_cast<uint32_t>(kFrames));

    ProbeInfo p = Probe(path);
    EXPECT_EQ(p.streams, 1);
    EXPECT_EQ(p.width, 1920);
    EXPECT_EQ(p.height, 1080);
    EXPECT_EQ(p.nbFrames, kFrames);
    EXPECT_EQ(p.packets, kFrames);
    EXPECT_EQ(p.keyPackets, kFrames);
    CommandResult counted =
        avitest::Run("ffprobe -v error -count_frames -select_streams v:0 -show_entries stream=nb_read_frames"
                     " -of csv=p=0 " +
                     Quote(path));
    EXPECT_EQ(counted.output, std::to_string(kFrames) + "\n");

    // The last frame, from the extension list, decodes to what was written.
    const std::string last = dir.File("last.raw");
    ASSERT_EQ(avitest::Run("ffmpeg -v error -y -i " + Quote(path) + " -vf " +
                           Quote("select=eq(n\\," + std::to_string(kFrames - 1) + ")") +
                           " -frames:v 1 -f rawvideo -pix_fmt bgr24 " + Quote(last))
                  .exitCode,
              0);
    ASSERT_EQ(FileSize(last), 1920u * 1080 * 3);
    FILE* in = fopen(last.c_str(), "rb");
    ASSERT_NE(in, nullptr);
    uint8_t px[3] = {};
    ASSERT_EQ(fread(px, 1, 3, in), 3u);
    fclose(in);
    EXPECT_EQ(px[0], kFrames - 1);
    EXPECT_EQ(px[1], 255 - (kFrames - 1));
    EXPECT_EQ(px[2], 7);
}

TEST(AviLargeFile, ManySmallFramesAlsoContinueInExtensionLists)
{
    // A standard index covers 2^20 frames at most; tiny frames reach that
    // long before 1 GiB.
    constexpr int kFrames = (1 << 20) + 1000;
    ScratchDir dir;
    const std::string path = dir.File("many.avi");
    Frame f = MakePicture(2, 2, 0);
    WriteOptions options{"DIB ", 0};
    options.fps = 1000;
    OpenedStream out(path, options, HeaderFor(f));
    ASSERT_EQ(out.Error(), "");
    for (int i = 0; i < kFrames; ++i) ASSERT_EQ(out.Write(i, f), AVIERR_OK) << "frame " << i;
    out.Release();

    RiffInfo r = ReadRiff(path);
    ASSERT_TRUE(r.valid) << r.error;
    ASSERT_EQ(r.riffForms.size(), 2u);
    EXPECT_EQ(r.idx1Entries, 1u << 20);
    EXPECT_EQ(r.avihTotalFrames, 1u << 20);
    EXPECT_EQ(r.strhLength, static_cast<uint32_t>(kFrames));
    EXPECT_EQ(r.dmlhTotalFrames, static_cast<uint32_t>(kFrames));
    EXPECT_EQ(r.standardIndexFrames, static_cast<uint64_t>(kFrames));
    CommandResult counted = avitest::Run("ffprobe -v error -count_packets -select_streams v:0 -show_entries "
                                         "stream=nb_read_packets,nb_frames -of csv=p=0 " +
                                         Quote(path));
    EXPECT_EQ(counted.output, std::to_string(kFrames) + "," + std::to_string(kFrames) + "\n");
}

TEST(AviLargeFile, FramesCompressedSideBySideKeepTheirOrderPastOneGiB)
{
    // Noise that the lossless compressor cannot shrink: about 6 MB a frame,
    // compressed by as many workers as there are cores and written in order.
    constexpr int kFrames = 200, kWidth = 1920, kHeight = 1080;
    ScratchDir dir;
    const std::string path = dir.File("parallel.avi");
    Frame noise = MakePicture(kWidth, kHeight, 0);
    uint32_t state = 12345;
    for (uint8_t& b : noise.bits) b = static_cast<uint8_t>((state = state * 1103515245u + 12345u) >> 24);
    {
        VideoFileWriter writer(path);
        VideoFileSettings settings;
        settings.compressor = FourCC("HFYU");
        settings.stream.frame = {0, 0, kWidth, kHeight};
        ASSERT_EQ(writer.Begin(settings, HeaderFor(noise)), AVIERR_OK);
        for (int i = 0; i < kFrames; ++i) {
            uint8_t* frame = writer.NextFrame();
            std::memcpy(frame, noise.bits.data(), noise.bits.size());
            // The frame number in the top-left pixel tells the frames apart.
            uint8_t* p = frame + static_cast<size_t>(kHeight - 1) * noise.stride;
            p[0] = static_cast<uint8_t>(i), p[1] = static_cast<uint8_t>(255 - i), p[2] = static_cast<uint8_t>(i / 7);
            writer.WriteFrame();
        }
        writer.Commit();
    }

    RiffInfo r = ReadRiff(path);
    ASSERT_TRUE(r.valid) << r.error;
    ASSERT_GE(r.riffForms.size(), 2u);
    EXPECT_EQ(r.dmlhTotalFrames, static_cast<uint32_t>(kFrames));
    EXPECT_EQ(r.superIndexEntries, r.riffForms.size());
    EXPECT_EQ(r.standardIndexFrames, static_cast<uint64_t>(kFrames));
    EXPECT_EQ(r.movieChunks, static_cast<uint32_t>(kFrames));
    ProbeInfo p = Probe(path);
    EXPECT_EQ(p.packets, kFrames);
    EXPECT_EQ(p.keyPackets, kFrames);

    // Every frame decodes, and in the order written.
    CommandResult corners = avitest::Run("ffmpeg -v error -i " + Quote(path) +
                                         " -vf crop=1:1:0:0 -f rawvideo -pix_fmt bgr24 - | od -An -v -tu1");
    std::istringstream values(corners.output);
    for (int i = 0; i < kFrames; ++i) {
        int b = -1, g = -1, red = -1;
        values >> b >> g >> red;
        ASSERT_EQ(b, i) << "frame " << i;
        ASSERT_EQ(g, 255 - i) << "frame " << i;
        ASSERT_EQ(red, i / 7) << "frame " << i;
    }
    int extra = 0;
    EXPECT_FALSE(values >> extra) << "more frames than written";
}
