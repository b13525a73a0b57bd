#pragma once
// The command-line converter's answers to the recorder: the output path and
// the compressor come from the arguments, the overwrite question is asked
// on the terminal (or answered by --force).
#include <string>

#include "avi/recorder_decisions.h"

namespace converter {

struct CliChoices {
    bool force = false;
    std::string codec;    // FourCC as typed; empty: pick one that takes the frame size
    int quality = 75;     // 0..100
    bool chinese = false; // the overwrite question in Chinese
};

class CliDecisions final : public avi::TAVIRecorderDecisions {
public:
    explicit CliDecisions(CliChoices choices) : choices_(std::move(choices)) {}

    bool ChooseOutputPath(std::string&) override { return false; }
    bool ConfirmOverwrite(const std::string& path) override;
    bool ChooseCompression(const avi::TAVICompressionRequest& request, avifile::AVICOMPRESSOPTIONS& options) override;

    // Whether the overwrite question was declined because nobody could answer it.
    bool UnansweredQuestion() const { return unanswered_; }

private:
    CliChoices choices_;
    bool unanswered_ = false;
};

// The compressor used when none was named: Microsoft Video 1 when it takes
// the frame size, else the first installed one that does ("" when none).
std::string DefaultCodecFor(int width, int height);

} // namespace converter
