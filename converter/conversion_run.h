#pragma once
// The conversion run behind the main window's "Start" button: reads one
// frame file, turns every frame into a 24-bit bitmap and writes it through an
// AVI recorder, moving a progress value as it goes. The same run serves the
// desktop window and the command-line converter.
#include <functional>
#include <string>

#include "platform/rtl/exception.h"

namespace avi {
class TAVIRecorder;
class TAVIRecorderDecisions;
} // namespace avi

namespace converter {

// What a completed run wrote.
struct CompletedRun {
    std::string outputPath;
    int frames = 0;
    // The data rate asked for (bytes per second; 0: none) and the frames the
    // compressor could not make as small as their share of it even at its
    // coarsest quality.
    unsigned long dataRate = 0;
    int framesOverDataRate = 0;
};

struct ConversionHooks {
    // Answers the recorder's questions (output path, overwrite, compressor).
    // Without one every question is declined and the run writes nothing.
    avi::TAVIRecorderDecisions* decisions = nullptr;
    // Asked before each frame and before the file is completed; true ends
    // the run with EInterrupted and no output.
    std::function<bool()> stopRequested;
    // Called with the recorder after the run has set it up (size, compressor
    // by dialog) and before StartRecording; the command-line converter uses it
    // to name the output file and pick the compressor. May be empty.
    std::function<void(avi::TAVIRecorder&)> configure;
    // Gauge1.Progress := value. Called once per frame with the frame's value.
    std::function<void(int)> progress;
    // All frames are written and the AVI file is complete: show the
    // completion message.
    std::function<void(const CompletedRun&)> completed;
};

// The run was stopped through ConversionHooks::stopRequested.
class EInterrupted : public rtl::Exception {
public:
    EInterrupted() : rtl::Exception("The conversion was interrupted.") {}
};

enum class ConversionResult {
    Completed, // every frame was written and the AVI file finalised
    Declined,  // the user cancelled the save dialog or declined to overwrite: no file written
};

// Throws rtl::Exception (or a subclass) with a clear message on every
// failure; no partial output file is left behind then. Input that is not a
// regular frame file, frames without bytes, and an output path that names
// the input file itself are refused before any output exists.
ConversionResult RunConversion(const std::string& inputPath, const ConversionHooks& hooks);

} // namespace converter
