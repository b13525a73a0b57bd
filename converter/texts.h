#pragma once
// The converter's texts in the user's language: English unless the locale
// asks for Chinese (LC_ALL, else LC_MESSAGES, else LANG starting with "zh"),
// for the command-line and the desktop program alike. All UTF-8.
#include <string>

namespace converter {

// Whether the environment's locale asks for Chinese messages.
bool LocaleWantsChinese();

// The overwrite question for path.
std::string OverwriteQuestion(const std::string& path, bool chinese);

// The completion message of a run that wrote path, and its caption.
std::string CompletionCaption(bool chinese);
std::string CompletionText(const std::string& path, bool chinese);

// Why a completed run's file is above the data rate asked for (bytes per
// second): framesOver of frames were larger than their share even at the
// compressor's coarsest quality.
std::string DataRateNotKeptText(unsigned long bytesPerSecond, int framesOver, int frames, bool chinese);

} // namespace converter
