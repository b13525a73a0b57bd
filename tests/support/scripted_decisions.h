#pragma once
// Answers a recorder's questions from a script and records what was asked.
#include <deque>
#include <string>
#include <vector>

#include "avi/recorder_decisions.h"

namespace testing_support {

class ScriptedDecisions : public avi::TAVIRecorderDecisions {
public:
    std::deque<std::string> outputPaths; // "" or an empty script: none chosen
    std::deque<bool> overwrite;          // empty script: No
    std::string codec = "DIB ";          // answer to the compression choice
    avifile::DWORD quality = 7500;
    avifile::DWORD bytesPerSecond = 0; // a data rate; 0: none
    bool compressionOk = true;

    int pathRequests = 0;
    std::vector<std::string> overwriteQuestions;
    std::vector<avi::TAVICompressionRequest> compressionRequests;

    bool ChooseOutputPath(std::string& path) override;
    bool ConfirmOverwrite(const std::string& path) override;
    bool ChooseCompression(const avi::TAVICompressionRequest& request, avifile::AVICOMPRESSOPTIONS& options) override;
};

} // namespace testing_support
