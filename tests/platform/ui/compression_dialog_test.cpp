// The compression-options dialog as the desktop converter shows it, on the
// headless backend, answered with synthetic keys.
#include <gtest/gtest.h>

#include "platform/ui/backend.h"
#include "platform/ui/compression_dialog.h"
#include "platform/ui/headless.h"
#include "platform/ui/message_box.h"

using namespace ui;
using namespace avifile;

namespace {

struct CompressionDialog : ::testing::Test {
    void SetUp() override
    {
        ASSERT_TRUE(SelectBackend(BackendKind::bkHeadless));
    }
    void TearDown() override
    {
        OnCompressionDialogShown = nullptr;
        OnMessageBoxShown = nullptr;
    }
    // The recorder's call: one stream, cleared record with only the type set.
    int Ask(UINT flags, AVICOMPRESSOPTIONS& o) { return RunCompressionDialog(flags, o) ? 1 : 0; }
    int IndexOf(const CompressionDialogForm& d, FOURCC code)
    {
        for (size_t i = 0; i < d.Compressors().size(); ++i)
            if (d.Compressors()[i].fourcc == code) return static_cast<int>(i);
        return -1;
    }
};

AVICOMPRESSOPTIONS Cleared()
{
    AVICOMPRESSOPTIONS o{};
    o.fccType = streamtypeVIDEO;
    return o;
}

} // namespace

TEST_F(CompressionDialog, ListsEveryInstalledCompressorWithItsFourCC)
{
    std::vector<std::string> items;
    bool keyFrameOffered = false, dataRateOffered = false, keyFrameGreyed = false;
    std::string keyFrameText;
    OnCompressionDialogShown = [&](CompressionDialogForm& d) {
        items = d.CompressorList->Items;
        keyFrameOffered = d.KeyFrameCheck != nullptr;
        // Every frame is a key frame: shown, ticked, and greyed out.
        keyFrameGreyed = !d.KeyFrameCheck->Enabled() && d.KeyFrameCheck->Checked() && !d.KeyFrameEdit->Enabled();
        keyFrameText = d.KeyFrameEdit->Text();
        dataRateOffered = d.DataRateCheck != nullptr;
        SimulateKey(d, VK_ESCAPE);
    };
    AVICOMPRESSOPTIONS o = Cleared();
    EXPECT_EQ(Ask(ICMF_CHOOSE_KEYFRAME | ICMF_CHOOSE_DATARATE, o), 0);
    const auto installed = InstalledCompressors();
    ASSERT_EQ(items.size(), installed.size());
    for (size_t i = 0; i < installed.size(); ++i) {
        std::string code = FourCCToString(installed[i].fourcc);
        if (code == "DIB ") code = "DIB"; // no trailing blank
        EXPECT_EQ(items[i], installed[i].name + " (" + code + ")");
    }
    EXPECT_EQ(items.front(), "Full Frames (Uncompressed) (DIB)");
    EXPECT_TRUE(keyFrameOffered);
    EXPECT_TRUE(keyFrameGreyed);
    EXPECT_EQ(keyFrameText, "1");
    EXPECT_TRUE(dataRateOffered);
    // Cancel leaves the record untouched.
    EXPECT_EQ(o.fccHandler, 0u);
    EXPECT_EQ(o.dwFlags, 0u);

    OnCompressionDialogShown = [&](CompressionDialogForm& d) {
        keyFrameOffered = d.KeyFrameCheck != nullptr;
        dataRateOffered = d.DataRateCheck != nullptr;
        SimulateKey(d, VK_ESCAPE);
    };
    Ask(0, o);
    EXPECT_FALSE(keyFrameOffered);
    EXPECT_FALSE(dataRateOffered);
}

TEST_F(CompressionDialog, OkFillsTheRecordAsTheRecorderExpects)
{
    OnCompressionDialogShown = [&](CompressionDialogForm& d) {
        const int divx = IndexOf(d, FourCC("divx"));
        ASSERT_GE(divx, 0);
        // Focus starts in the list: Home, then down to the wanted entry.
        SimulateKey(d, VK_HOME);
        for (int i = 0; i < divx; ++i) SimulateKey(d, VK_DOWN);
        SimulateKey(d, VK_TAB); // quality, all selected on entry
        SimulateText(d, "42");
        SimulateKey(d, VK_TAB); // past the greyed key-frame row to the data-rate box
        SimulateKey(d, VK_SPACE);
        SimulateKey(d, VK_TAB);
        SimulateText(d, "200");
        SimulateKey(d, VK_RETURN);
    };
    AVICOMPRESSOPTIONS o = Cleared();
    ASSERT_EQ(Ask(ICMF_CHOOSE_KEYFRAME | ICMF_CHOOSE_DATARATE, o), 1);
    EXPECT_EQ(o.fccType, streamtypeVIDEO);
    EXPECT_EQ(o.fccHandler, FourCC("divx"));
    EXPECT_EQ(o.dwQuality, 4200u);
    EXPECT_EQ(o.dwKeyFrameEvery, 0u); // the compressor's rule: every frame
    EXPECT_EQ(o.dwBytesPerSecond, 200u * 1024);
    EXPECT_EQ(o.dwFlags, AVICOMPRESSF_DATARATE | AVICOMPRESSF_VALID);

    // Shown again with that record, the dialog starts from the same choice.
    std::string quality, keys;
    int selected = -1, expected = -2;
    OnCompressionDialogShown = [&](CompressionDialogForm& d) {
        quality = d.QualityEdit->Text();
        keys = d.KeyFrameEdit->Text();
        selected = d.CompressorList->ItemIndex();
        expected = IndexOf(d, FourCC("divx"));
        SimulateKey(d, VK_RETURN);
    };
    ASSERT_EQ(Ask(ICMF_CHOOSE_KEYFRAME | ICMF_CHOOSE_DATARATE, o), 1);
    EXPECT_EQ(quality, "42");
    EXPECT_EQ(keys, "1");
    EXPECT_EQ(selected, expected);
}

TEST_F(CompressionDialog, DefaultAnswerIsTheFirstCompressorWithoutRates)
{
    OnCompressionDialogShown = [](CompressionDialogForm& d) { SimulateKey(d, VK_RETURN); };
    AVICOMPRESSOPTIONS o = Cleared();
    ASSERT_EQ(Ask(ICMF_CHOOSE_KEYFRAME | ICMF_CHOOSE_DATARATE, o), 1);
    EXPECT_EQ(o.fccHandler, InstalledCompressors().front().fourcc);
    EXPECT_EQ(o.dwFlags, AVICOMPRESSF_VALID);
    EXPECT_EQ(o.dwKeyFrameEvery, 0u);
    EXPECT_EQ(o.dwBytesPerSecond, 0u);
}

TEST_F(CompressionDialog, BadQualityIsRefusedWithAMessageAndTheDialogStays)
{
    std::string problem;
    int okPresses = 0;
    OnMessageBoxShown = [&](MessageBoxForm& box) {
        problem = box.TextLabel()->Text();
        SimulateKey(box, VK_RETURN);
    };
    OnCompressionDialogShown = [&](CompressionDialogForm& d) {
        const int msvc = IndexOf(d, FourCC("MSVC"));
        d.CompressorList->SetItemIndex(msvc);
        d.QualityEdit->SetText("150");
        d.OkButton->OnClick = [&d, inner = d.OkButton->OnClick, &okPresses] {
            ++okPresses;
            inner();
            if (okPresses == 1) {
                EXPECT_EQ(d.ModalResult, mrNone);
                d.QualityEdit->SetText("80");
                SimulateKey(d, VK_RETURN);
            }
        };
        SimulateKey(d, VK_RETURN);
    };
    AVICOMPRESSOPTIONS o = Cleared();
    ASSERT_EQ(Ask(ICMF_CHOOSE_KEYFRAME | ICMF_CHOOSE_DATARATE, o), 1);
    EXPECT_EQ(okPresses, 2);
    EXPECT_EQ(problem, "The quality must be a whole number from 0 to 100.");
    EXPECT_EQ(o.fccHandler, FourCC("MSVC"));
    EXPECT_EQ(o.dwQuality, 8000u);
}

TEST_F(CompressionDialog, QualityIsDisabledForCompressorsWithoutIt)
{
    bool qualityEnabled = true;
    OnCompressionDialogShown = [&](CompressionDialogForm& d) {
        d.CompressorList->SetItemIndex(IndexOf(d, FourCC("DIB ")));
        qualityEnabled = d.QualityEdit->Enabled();
        SimulateKey(d, VK_ESCAPE);
    };
    AVICOMPRESSOPTIONS o = Cleared();
    Ask(ICMF_CHOOSE_KEYFRAME, o);
    EXPECT_FALSE(qualityEnabled);
}
