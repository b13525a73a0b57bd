// The files vek2avi writes stay the same bytes from version to version for
// every compressor whose output depends on the frames alone, so changes to
// the way frames travel can be told apart from changes of the output. The
// sums were taken from the converter before its frames were compressed in
// parallel. The MPEG-4 compressor ("divx") cuts each frame into as many
// slices as the machine has cores, so its bytes differ between machines:
// for it the decoded frames are compared. ffmpeg decodes every file.
#include <gtest/gtest.h>

#include "tests/support/run_command.h"
#include "tests/support/temp_dir.h"

using namespace testing_support;

namespace {

std::string Vek2avi() { return std::string(VEK_BUILD_DIR) + "/converter/vek2avi"; }

std::string Sha256(const std::string& path) { return ShellLine("sha256sum < " + ShellQuote(path) + " | cut -c1-64"); }

// The MD5 of every frame decoded to RGB, one after another.
std::string DecodedMd5(const std::string& path)
{
    return ShellLine("ffmpeg -v error -i " + ShellQuote(path) + " -f rawvideo -pix_fmt rgb24 - | md5sum | cut -c1-32");
}

} // namespace

TEST(OutputChecksums, EveryCompressorWritesTheSameFileAsBefore)
{
    if (!HaveProgram("ffmpeg") || !HaveProgram("sha256sum")) GTEST_SKIP() << "needs ffmpeg and sha256sum";
    TempDir dir;
    struct Sample {
        std::string name, size, sha256;
    };
    // A moving pattern, and an odd size whose rows are padded.
    const Sample samples[] = {
        {"even", "--frames 10 --width 160 --height 120",
         "b14f35e06311ceabdeed44a9b1525bae618330bd63f6174c6f75bea72d11685c"},
        {"odd", "--frames 6 --width 93 --height 37", "cdf06a22026afb988baad3153f373a3e2d7ec209b0b8f00a14144390498422f8"},
    };
    for (const Sample& s : samples) {
        int status = -1;
        RunCommand(Vek2avi() + " --sample " + ShellQuote(dir / (s.name + ".vek")) + " " + s.size, &status);
        ASSERT_EQ(status, 0);
        ASSERT_EQ(Sha256(dir / (s.name + ".vek")), s.sha256) << "the sample itself changed";
    }
    struct Case {
        std::string sample, codec, fileSha256, decodedMd5; // fileSha256 "": bytes vary by machine
    };
    const Case cases[] = {
        {"even", "DIB", "352a0ebab379053f9af1781605be227eed02774075d73298607cbcc846e2d455",
         "ec100c78d6c000f9e579ad5dea3f7143"},
        {"odd", "DIB", "ad32c1dc88b2d7255237c102cf0009fe9c94770752fbc25339707731da9ad6d3",
         "da13ad4961aede20e7eeb55066d7f21f"},
        {"even", "MSVC", "f75f6036519eb5c80f11f9796535d013160e2b429040355d90d40debc01e298e",
         "51d2422fc0c0ffaf3909ec494ace4e8c"},
        {"even", "HFYU", "2502560b8f8e96ef9d5fb298cb684c4ad82478efd0d3cc78b9a548ba2ca35fa4",
         "ec100c78d6c000f9e579ad5dea3f7143"},
        {"odd", "HFYU", "b492d5bf0730d772c4889cb52c4e2754d7b19b8e0beca2f937c0160662eca23a",
         "da13ad4961aede20e7eeb55066d7f21f"},
        {"even", "FFV1", "1f4964d0bada1c106243c25aad99a884821140c8fcfd9a424cfc67c073437fb7",
         "ec100c78d6c000f9e579ad5dea3f7143"},
        {"odd", "FFV1", "e607c05feb60cee9857a1806aa7bdd90932faa65f394026ee9423bb4d5940f0a",
         "da13ad4961aede20e7eeb55066d7f21f"},
        {"even", "MJPG", "b35b1408c1c998a8eafc615bf7b476482d350e1013cba208869f58ebed07e72e",
         "629f773608f4b622f33d207e32023384"},
        {"odd", "MJPG", "60c3047d7e21f39a655a341bd7f8998b7ed077de22542daf1a16e834da8a27e6",
         "1fe6d45d431b73fe0e45147d142d36a6"},
        {"even", "divx", "", "0798c2fadb47ce3e50130600e1aad31b"},
        {"odd", "divx", "", "16dadb0d7b4bb93907caf78c650dc540"},
    };
    for (const Case& c : cases) {
        const std::string out = dir / (c.sample + "-" + c.codec + ".avi");
        int status = -1;
        RunCommand(Vek2avi() + " --force --codec " + c.codec + " --quality 75 " + ShellQuote(dir / (c.sample + ".vek")) +
                       " " + ShellQuote(out) + " 2>/dev/null",
                   &status);
        ASSERT_EQ(status, 0) << c.sample << " " << c.codec;
        if (!c.fileSha256.empty()) {
            EXPECT_EQ(Sha256(out), c.fileSha256) << c.sample << " " << c.codec;
        }
        EXPECT_EQ(DecodedMd5(out), c.decodedMd5) << c.sample << " " << c.codec;
    }
}
