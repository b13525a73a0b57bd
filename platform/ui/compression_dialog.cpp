#include "platform/ui/compression_dialog.h"

#include <charconv>

#include "platform/ui/message_box.h"

namespace ui {

using namespace avifile;

std::function<void(CompressionDialogForm&)> OnCompressionDialogShown;

namespace {
// Defaults shown when the record holds no earlier choice.
constexpr int kDefaultQuality = 75;
constexpr int kDefaultDataRateKB = 300;

bool ParseInt(const std::string& text, long min, long max, long& value)
{
    const char* b = text.data();
    const char* e = b + text.size();
    while (b < e && *b == ' ') ++b;
    while (e > b && e[-1] == ' ') --e;
    auto [p, ec] = std::from_chars(b, e, value);
    return ec == std::errc() && p == e && b != e && value >= min && value <= max;
}
} // namespace

CompressionDialogForm::CompressionDialogForm(Form* owner, std::vector<CompressorInfo> compressors, UINT flags,
                                             const AVICOMPRESSOPTIONS& current, std::vector<std::string> refusals)
    : compressors_(std::move(compressors)), current_(current), refusals_(std::move(refusals))
{
    Owner = owner;
    Border = BorderStyle::bsDialog;
    Position = FormPosition::poOwnerCenter;
    SetCaption("Video Compression");
    const bool valid = (current.dwFlags & AVICOMPRESSF_VALID) != 0;

    auto* label = Add<StaticText>("Compressor:");
    label->SetBounds(10, 10, 200, 16);
    CompressorList = Add<ListBox>();
    CompressorList->SetBounds(10, 28, 300, 118);
    CompressorList->TabOrder = 0;
    std::vector<std::string> items;
    int selected = 0;
    for (size_t i = 0; i < compressors_.size(); ++i) {
        std::string code = FourCCToString(compressors_[i].fourcc);
        while (!code.empty() && (code.back() == ' ' || code.back() == '\0'))
            code.pop_back(); // "DIB ", as the user types it: "DIB"
        std::string item = compressors_[i].name + " (" + code + ")";
        if (i < refusals_.size() && !refusals_[i].empty()) item += ": " + refusals_[i];
        items.push_back(item);
        if (compressors_[i].fourcc == current.fccHandler) selected = static_cast<int>(i);
    }
    CompressorList->SetItems(items);
    CompressorList->SetItemIndex(compressors_.empty() ? -1 : selected);

    int y = 156;
    auto* qLabel = Add<StaticText>("Compression quality (0-100):");
    qLabel->SetBounds(10, y + 3, 190, 16);
    QualityEdit = Add<Edit>();
    QualityEdit->SetBounds(205, y, 50, 21);
    QualityEdit->TabOrder = 1;
    const bool qualitySet = valid && current.dwQuality <= ICQUALITY_HIGH;
    QualityEdit->SetText(std::to_string(qualitySet ? (current.dwQuality + 50) / 100 : kDefaultQuality));
    y += 28;

    if (flags & ICMF_CHOOSE_KEYFRAME) {
        KeyFrameCheck = Add<CheckBox>("Key frame every");
        KeyFrameCheck->SetBounds(10, y + 2, 130, 17);
        KeyFrameCheck->TabOrder = 2;
        KeyFrameEdit = Add<Edit>();
        KeyFrameEdit->SetBounds(145, y, 50, 21);
        KeyFrameEdit->TabOrder = 3;
        auto* unit = Add<StaticText>("frames");
        unit->SetBounds(200, y + 3, 60, 16);
        // Every compressor of the library makes only key frames: the row
        // shows that, greyed, and offers no choice.
        KeyFrameCheck->SetChecked(true);
        KeyFrameCheck->SetEnabled(false);
        KeyFrameEdit->SetText("1");
        KeyFrameEdit->SetEnabled(false);
        y += 28;
    }
    if (flags & ICMF_CHOOSE_DATARATE) {
        DataRateCheck = Add<CheckBox>("Data rate");
        DataRateCheck->SetBounds(10, y + 2, 130, 17);
        DataRateCheck->TabOrder = 4;
        DataRateEdit = Add<Edit>();
        DataRateEdit->SetBounds(145, y, 50, 21);
        DataRateEdit->TabOrder = 5;
        auto* unit = Add<StaticText>("KB/sec");
        unit->SetBounds(200, y + 3, 60, 16);
        const bool on = valid && (current.dwFlags & AVICOMPRESSF_DATARATE) && current.dwBytesPerSecond > 0;
        DataRateCheck->SetChecked(on);
        DataRateEdit->SetText(std::to_string(on ? (current.dwBytesPerSecond + 512) / 1024 : kDefaultDataRateKB));
        DataRateEdit->SetEnabled(on);
        DataRateCheck->OnChange = [this] {
            DataRateEdit->SetEnabled(DataRateCheck->Checked() && DataRateCheck->EnabledInForm());
        };
        y += 28;
    }

    OkButton = Add<Button>("OK");
    OkButton->SetBounds(320, 28, 75, 25);
    OkButton->Default = true;
    OkButton->TabOrder = 6;
    OkButton->OnClick = [this] {
        AVICOMPRESSOPTIONS scratch = current_;
        if (Apply(target_ ? *target_ : scratch)) ModalResult = mrOk;
    };
    CancelButton = Add<Button>("Cancel");
    CancelButton->SetBounds(320, 60, 75, 25);
    CancelButton->Cancel = true;
    CancelButton->ModalResult = mrCancel;
    CancelButton->TabOrder = 7;
    OkButton->SetEnabled(!compressors_.empty());

    SetBounds(0, 0, 405, std::max(y + 6, 160));
    CompressorList->OnSelect = [this] { CompressorChanged(); };
    CompressorChanged();
}

void CompressionDialogForm::CompressorChanged()
{
    const int i = CompressorList->ItemIndex();
    if (i < 0) return;
    const CompressorInfo& c = compressors_[static_cast<size_t>(i)];
    QualityEdit->SetEnabled(c.hasQuality);
    if (DataRateCheck) {
        DataRateCheck->SetEnabled(c.hasDataRate);
        DataRateEdit->SetEnabled(c.hasDataRate && DataRateCheck->Checked());
    }
}

std::string CompressionDialogForm::Validate() const
{
    const int index = CompressorList->ItemIndex();
    if (index < 0) return "Choose a compressor.";
    if (static_cast<size_t>(index) < refusals_.size() && !refusals_[static_cast<size_t>(index)].empty())
        return compressors_[static_cast<size_t>(index)].name + " cannot be used: " +
            refusals_[static_cast<size_t>(index)] + ".";
    long v;
    if (QualityEdit->Enabled() && !ParseInt(QualityEdit->Text(), 0, 100, v))
        return "The quality must be a whole number from 0 to 100.";
    if (DataRateCheck && DataRateCheck->Checked() && DataRateCheck->Enabled() &&
        !ParseInt(DataRateEdit->Text(), 1, 4000000, v))
        return "The data rate must be a whole number of KB/sec from 1 to 4000000.";
    return {};
}

bool CompressionDialogForm::Apply(AVICOMPRESSOPTIONS& o)
{
    const std::string problem = Validate();
    if (!problem.empty()) {
        ShowMessageBox(this, problem, Caption(), MB_OK | MB_ICONWARNING);
        return false;
    }
    const CompressorInfo& c = compressors_[static_cast<size_t>(CompressorList->ItemIndex())];
    long quality = kDefaultQuality, dataRate = 0;
    if (QualityEdit->Enabled()) ParseInt(QualityEdit->Text(), 0, 100, quality);
    const bool rate = DataRateCheck && DataRateCheck->Checked() && DataRateCheck->Enabled();
    if (rate) ParseInt(DataRateEdit->Text(), 1, 4000000, dataRate);
    o.fccType = streamtypeVIDEO;
    o.fccHandler = c.fourcc;
    o.dwQuality = static_cast<DWORD>(quality * 100);
    o.dwKeyFrameEvery = 0; // the compressor's own rule: every frame
    o.dwBytesPerSecond = rate ? static_cast<DWORD>(dataRate * 1024) : 0;
    o.dwFlags = (o.dwFlags & AVICOMPRESSF_INTERLEAVE) | (rate ? AVICOMPRESSF_DATARATE : 0) | AVICOMPRESSF_VALID;
    return true;
}

bool RunCompressionDialog(UINT flags, AVICOMPRESSOPTIONS& options, const CompressorRefusal& refuse)
{
    std::vector<CompressorInfo> compressors = InstalledCompressors();
    std::vector<std::string> refusals;
    if (refuse)
        for (const CompressorInfo& c : compressors) refusals.push_back(refuse(c));
    CompressionDialogForm dialog(ActiveForm(), std::move(compressors), flags, options, std::move(refusals));
    AVICOMPRESSOPTIONS work = options;
    // OK writes into a copy, so Cancel leaves the record as it was.
    dialog.SetTarget(&work);
    if (OnCompressionDialogShown) OnCompressionDialogShown(dialog);
    if (dialog.ShowModal() != mrOk) return false;
    options = work;
    return true;
}

} // namespace ui
