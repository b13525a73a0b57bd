#pragma once
// The AVI library's compression-options dialog: every installed compressor
// by name and FourCC, the quality (shown 0..100, stored 0..10000), and the
// key-frame rate and data rate when the caller's flags offer them
// (ICMF_CHOOSE_KEYFRAME, ICMF_CHOOSE_DATARATE). The desktop converter's
// answer to the recorder's compression question calls it directly.
#include <functional>
#include <vector>

#include "platform/avifile/avifile.h"
#include "platform/ui/button.h"
#include "platform/ui/edit.h"
#include "platform/ui/form.h"
#include "platform/ui/list_box.h"

namespace ui {

class CompressionDialogForm : public Form {
public:
    CompressionDialogForm(Form* owner, std::vector<avifile::CompressorInfo> compressors, avifile::UINT flags,
                          const avifile::AVICOMPRESSOPTIONS& current,
                          std::vector<std::string> refusals = {});

    // Checks the fields; on success writes the choice into options and
    // returns true, otherwise shows what is wrong and returns false.
    bool Apply(avifile::AVICOMPRESSOPTIONS& options);
    // The same check without a message box: the problem, or empty.
    std::string Validate() const;
    const std::vector<avifile::CompressorInfo>& Compressors() const { return compressors_; }
    // Where OK writes the choice.
    void SetTarget(avifile::AVICOMPRESSOPTIONS* target) { target_ = target; }

    ListBox* CompressorList;
    Edit* QualityEdit;
    CheckBox* KeyFrameCheck = nullptr;
    Edit* KeyFrameEdit = nullptr;
    CheckBox* DataRateCheck = nullptr;
    Edit* DataRateEdit = nullptr;
    Button* OkButton;
    Button* CancelButton;

private:
    void CompressorChanged();
    std::vector<avifile::CompressorInfo> compressors_;
    avifile::AVICOMPRESSOPTIONS current_;
    std::vector<std::string> refusals_; // per compressor; empty: usable
    avifile::AVICOMPRESSOPTIONS* target_ = nullptr;
};

// Why a compressor cannot serve the caller (frames it cannot take, say), or
// empty when it can.
using CompressorRefusal = std::function<std::string(const avifile::CompressorInfo&)>;

// Shows the dialog modally; true (and options filled, AVICOMPRESSF_VALID
// set) on OK; Cancel leaves the options as they were. A compressor that
// refuse names a reason for is listed with it, and OK with it selected is
// refused with that reason.
bool RunCompressionDialog(avifile::UINT flags, avifile::AVICOMPRESSOPTIONS& options,
                          const CompressorRefusal& refuse = {});

// Runs for every compression dialog when set, before its modal loop.
extern std::function<void(CompressionDialogForm&)> OnCompressionDialogShown;

} // namespace ui
