// The video file writer as the recorder uses it: frames filled in its
// buffers, compressed side by side by every compressor, read back in order.
#include <gtest/gtest.h>

#include <cstring>

#include "avi_test_support.h"
#include "platform/avifile/video_file_writer.h"

using namespace avifile;
using namespace avitest;

TEST(VideoFileWriter, EveryCompressorKeepsTheFramesInOrder)
{
    // Far more frames than buffers, each a flat colour of its own, which
    // every compressor keeps closely enough to tell the frames apart.
    constexpr int kFrames = 40, kSide = 16;
    ScratchDir dir;
    for (const char* codec : {"DIB ", "MSVC", "HFYU", "FFV1", "MJPG", "divx"}) {
        const std::string path = dir.File(std::string(codec, 4) + ".avi");
        Frame f = MakePicture(kSide, kSide, 0);
        {
            VideoFileWriter writer(path);
            VideoFileSettings settings;
            settings.compressor = StringToFourCC(codec);
            settings.quality = 10000;
            settings.stream.frame = {0, 0, kSide, kSide};
            ASSERT_EQ(writer.Begin(settings, HeaderFor(f)), AVIERR_OK) << codec;
            for (int i = 0; i < kFrames; ++i) {
                uint8_t* frame = writer.NextFrame();
                for (int y = 0; y < kSide; ++y)
                    for (int x = 0; x < kSide; ++x) {
                        uint8_t* p = frame + static_cast<size_t>(y) * f.stride + x * 3;
                        p[0] = static_cast<uint8_t>(6 * i), p[1] = static_cast<uint8_t>(250 - 6 * i), p[2] = 128;
                    }
                writer.WriteFrame();
            }
            writer.Commit();
        }
        const std::vector<uint8_t> bgr = Decode(path, "bgr24");
        ASSERT_EQ(bgr.size(), size_t{kFrames} * kSide * kSide * 3) << codec;
        for (int i = 0; i < kFrames; ++i) {
            const uint8_t* centre = bgr.data() + (static_cast<size_t>(i) * kSide * kSide + 8 * kSide + 8) * 3;
            EXPECT_NEAR(centre[0], 6 * i, 4) << codec << " frame " << i;
            EXPECT_NEAR(centre[1], 250 - 6 * i, 4) << codec << " frame " << i;
        }
    }
    EXPECT_EQ(testing_support::ListDir(dir.path()).size(), 6u) << "no temporary files left";
}

TEST(VideoFileWriter, AWriterThatIsNotCommittedLeavesNothing)
{
    ScratchDir dir;
    const std::string path = dir.File("gone.avi");
    Frame f = MakePicture(32, 32, 0);
    {
        VideoFileWriter writer(path);
        VideoFileSettings settings;
        settings.compressor = FourCC("MSVC");
        ASSERT_EQ(writer.Begin(settings, HeaderFor(f)), AVIERR_OK);
        for (int i = 0; i < 12; ++i) {
            std::memcpy(writer.NextFrame(), f.bits.data(), f.bits.size());
            writer.WriteFrame();
        }
        EXPECT_TRUE(testing_support::FileExists(writer.TemporaryPath()));
    } // frames still being compressed when the writer goes
    EXPECT_TRUE(testing_support::ListDir(dir.path()).empty());
}
