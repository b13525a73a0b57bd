#include "converter/cli/cli_decisions.h"

#include <unistd.h>

#include <iostream>

#include "avi/format_advice.h"
#include "converter/texts.h"

namespace converter {

bool CliDecisions::ConfirmOverwrite(const std::string& path)
{
    if (choices_.force) return true;
    if (!::isatty(STDIN_FILENO) || !::isatty(STDERR_FILENO)) {
        unanswered_ = true;
        return false;
    }
    std::cerr << OverwriteQuestion(path, choices_.chinese) << " [y/N] " << std::flush;
    std::string answer;
    // An interrupted or closed input reads as No.
    if (!std::getline(std::cin, answer)) {
        std::cerr << "\n";
        return false;
    }
    return !answer.empty() && (answer[0] == 'y' || answer[0] == 'Y');
}

bool CliDecisions::ChooseCompression(const avi::TAVICompressionRequest& request, avifile::AVICOMPRESSOPTIONS& options)
{
    std::string codec = choices_.codec;
    if (codec.empty()) {
        codec = DefaultCodecFor(request.width, request.height);
        if (codec.empty())
            codec = "MSVC"; // the recorder explains why nothing fits
        else if (codec != "MSVC")
            std::cerr << "vek2avi: " << avi::FrameSizeAdvice(avifile::FourCC("MSVC"), request.width, request.height)
                      << ".\nvek2avi: using " << codec << "; name another with --codec\n";
    }
    options.fccType = avifile::streamtypeVIDEO;
    options.fccHandler = avifile::StringToFourCC(codec);
    options.dwQuality = static_cast<avifile::DWORD>(choices_.quality) * 100;
    options.dwKeyFrameEvery = 1;
    options.dwFlags = avifile::AVICOMPRESSF_VALID | avifile::AVICOMPRESSF_KEYFRAMES;
    return true;
}

std::string DefaultCodecFor(int width, int height)
{
    avifile::CompressorInfo msvc{};
    if (avifile::FindCompressor(avifile::FourCC("MSVC"), &msvc) && avi::TakesFrameSize(msvc, width, height))
        return "MSVC";
    // Prefer a compressing one over full frames.
    std::string fallback;
    for (const auto& c : avi::CompressorsForSize(width, height)) {
        if (c.fourcc != avifile::FourCC("DIB ")) return avi::ShownFourCC(c.fourcc);
        fallback = avi::ShownFourCC(c.fourcc);
    }
    return fallback;
}

} // namespace converter
