#pragma once
// What a recorder asks of the program that uses it: where to write, whether
// an existing file may be replaced, and which compressor to use. The desktop
// program answers with its dialogs, the command-line converter from its
// arguments. A recorder without an answerer declines every question, so it
// never writes anywhere nobody chose.
#include <string>

#include "platform/avifile/avifile.h"

namespace avi {

struct TAVICompressionRequest {
    int width = 0; // the frames' size
    int height = 0;
    avifile::UINT dialogFlags = 0;        // ICMF_CHOOSE_*: what the choice may offer
};

// The overwrite question as stored: "是否覆盖 %s?" in code page 936, the
// %s being the path. Both front ends ask it in these words.
inline constexpr char kOverwriteQuestion936[] = "\xCA\xC7\xB7\xF1\xB8\xB2\xB8\xC7 %s?";

class TAVIRecorderDecisions {
public:
    virtual ~TAVIRecorderDecisions() = default;
    // The output path when the recorder's Filename is empty. False: none chosen.
    virtual bool ChooseOutputPath(std::string& path) = 0;
    // A regular file exists at path. True: replace it once the new file is complete.
    virtual bool ConfirmOverwrite(const std::string& path) = 0;
    // Compressor and settings for acShowDialog. The options arrive cleared,
    // with fccType "vids". False: cancelled.
    virtual bool ChooseCompression(const TAVICompressionRequest& request, avifile::AVICOMPRESSOPTIONS& options) = 0;
};

} // namespace avi
