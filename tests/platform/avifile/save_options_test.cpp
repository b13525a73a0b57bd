// AVISaveOptions hands the choice to the installed chooser.
#include <gtest/gtest.h>

#include <cstring>

#include "platform/avifile/avifile.h"

using namespace avifile;

namespace {
struct ChooserReset {
    ~ChooserReset() { SetSaveOptionsChooser(nullptr); }
};
} // namespace

TEST(SaveOptions, WithoutAChooserTheAnswerIsCancelAndNothingChanges)
{
    ChooserReset reset;
    SetSaveOptionsChooser(nullptr);
    AVICOMPRESSOPTIONS opts{};
    opts.fccType = streamtypeVIDEO;
    opts.dwQuality = 1234;
    AVICOMPRESSOPTIONS before = opts;
    LPAVICOMPRESSOPTIONS list[1] = {&opts};
    PAVISTREAM streams[1] = {nullptr};
    EXPECT_EQ(AVISaveOptions(nullptr, 3, 1, streams, list), 0);
    EXPECT_EQ(std::memcmp(&opts, &before, sizeof opts), 0);
}

TEST(SaveOptions, TheChooserFillsTheRecordOnOk)
{
    ChooserReset reset;
    UINT seenFlags = 0;
    DWORD seenQuality = 0;
    SetSaveOptionsChooser([&](UINT flags, AVICOMPRESSOPTIONS& o) {
        seenFlags = flags;
        seenQuality = o.dwQuality;
        o.fccHandler = FourCC("MSVC");
        o.dwQuality = 8000;
        o.dwKeyFrameEvery = 1;
        o.dwBytesPerSecond = 50000;
        o.dwFlags |= AVICOMPRESSF_DATARATE | AVICOMPRESSF_KEYFRAMES;
        return true;
    });
    AVICOMPRESSOPTIONS opts{};
    opts.dwQuality = 42;
    LPAVICOMPRESSOPTIONS list[1] = {&opts};
    PAVISTREAM streams[1] = {nullptr};
    EXPECT_EQ(AVISaveOptions(nullptr, ICMF_CHOOSE_KEYFRAME | ICMF_CHOOSE_DATARATE, 1, streams, list), 1);
    EXPECT_EQ(seenFlags, 3u);
    EXPECT_EQ(seenQuality, 42u); // the chooser starts from the current choice
    EXPECT_EQ(opts.fccHandler, FourCC("MSVC"));
    EXPECT_EQ(opts.fccType, streamtypeVIDEO);
    EXPECT_EQ(opts.dwQuality, 8000u);
    EXPECT_EQ(opts.dwBytesPerSecond, 50000u);
    EXPECT_TRUE(opts.dwFlags & AVICOMPRESSF_VALID);
    EXPECT_TRUE(opts.dwFlags & AVICOMPRESSF_DATARATE);
}

TEST(SaveOptions, CancelInTheChooserLeavesTheRecordAsItWas)
{
    ChooserReset reset;
    SetSaveOptionsChooser([](UINT, AVICOMPRESSOPTIONS& o) {
        o.fccHandler = FourCC("divx"); // changed, then cancelled
        return false;
    });
    AVICOMPRESSOPTIONS opts{};
    opts.fccHandler = FourCC("DIB ");
    LPAVICOMPRESSOPTIONS list[1] = {&opts};
    PAVISTREAM streams[1] = {nullptr};
    EXPECT_EQ(AVISaveOptions(nullptr, 0, 1, streams, list), 0);
    EXPECT_EQ(opts.fccHandler, FourCC("DIB "));
    EXPECT_EQ(AVISaveOptions(nullptr, 0, 0, streams, list), 0);
}

TEST(SaveOptions, InstallingReturnsThePreviousChooser)
{
    ChooserReset reset;
    SetSaveOptionsChooser([](UINT, AVICOMPRESSOPTIONS&) { return true; });
    SaveOptionsChooser previous = SetSaveOptionsChooser(nullptr);
    ASSERT_TRUE(static_cast<bool>(previous));
    AVICOMPRESSOPTIONS o{};
    EXPECT_TRUE(previous(0, o));
    EXPECT_FALSE(static_cast<bool>(SetSaveOptionsChooser(nullptr)));
}
