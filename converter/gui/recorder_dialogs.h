#pragma once
// The desktop program's answers to the recorder: the save dialog, the
// overwrite question as a confirmation box, and the compression-options
// dialog.
#include <string>

#include "avi/recorder_decisions.h"

namespace converter::gui {

class TRecorderDialogs final : public avi::TAVIRecorderDecisions {
public:
    // suggestedName pre-fills the save dialog (the input's name with ".avi").
    // remembered, when given, keeps the compression choice from one run to
    // the next: the dialog starts from it, and OK stores the new one.
    explicit TRecorderDialogs(std::string suggestedName = {}, avifile::AVICOMPRESSOPTIONS* remembered = nullptr)
        : suggestedName_(std::move(suggestedName)), remembered_(remembered)
    {
    }

    bool ChooseOutputPath(std::string& path) override;
    bool ConfirmOverwrite(const std::string& path) override;
    bool ChooseCompression(const avi::TAVICompressionRequest& request, avifile::AVICOMPRESSOPTIONS& options) override;

private:
    std::string suggestedName_;
    avifile::AVICOMPRESSOPTIONS* remembered_;
};

// "clip.vek" -> "clip.avi", the folder kept; "" for an empty path.
std::string SuggestedOutputName(const std::string& inputPath);

} // namespace converter::gui
