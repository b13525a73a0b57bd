#include "tests/support/scripted_decisions.h"

namespace testing_support {

bool ScriptedDecisions::ChooseOutputPath(std::string& path)
{
    ++pathRequests;
    if (outputPaths.empty()) return false;
    path = outputPaths.front();
    outputPaths.pop_front();
    return !path.empty();
}

bool ScriptedDecisions::ConfirmOverwrite(const std::string& path)
{
    overwriteQuestions.push_back(path);
    if (overwrite.empty()) return false;
    const bool yes = overwrite.front();
    overwrite.pop_front();
    return yes;
}

bool ScriptedDecisions::ChooseCompression(const avi::TAVICompressionRequest& request,
                                          avifile::AVICOMPRESSOPTIONS& options)
{
    compressionRequests.push_back(request);
    if (!compressionOk) return false;
    options.fccHandler = avifile::StringToFourCC(codec);
    options.dwQuality = quality;
    if (bytesPerSecond > 0) {
        options.dwBytesPerSecond = bytesPerSecond;
        options.dwFlags |= avifile::AVICOMPRESSF_DATARATE;
    }
    return true;
}

} // namespace testing_support
