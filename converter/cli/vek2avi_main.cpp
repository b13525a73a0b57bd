// vek2avi: the command-line converter. Same recorder and conversion run as
// the desktop program; the compressor and the output file come from the
// command line instead of dialogs.
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <optional>
#include <string>
#include <unistd.h>

#include "avi/avi_recorder.h"
#include "converter/cli/terminal_dialogs.h"
#include "converter/conversion_run.h"
#include "converter/sample_file.h"
#include "platform/avifile/avifile.h"
#include "platform/rtl/exception.h"

namespace {

constexpr int kExitOk = 0;
constexpr int kExitFailure = 1;
constexpr int kExitUsage = 2;

const char kUsage[] =
    "Usage:\n"
    "  vek2avi [--codec FOURCC] [--quality N] [--fps N] [--force] INPUT.vek OUTPUT.avi\n"
    "  vek2avi --list-codecs\n"
    "  vek2avi --sample FILE.vek [--frames N] [--width W] [--height H]\n"
    "  vek2avi --help\n"
    "\n"
    "Converts every frame of a .vek frame file into a key frame of one video\n"
    "stream in a new AVI file.\n"
    "\n"
    "  --codec FOURCC  compressor (default MSVC); see --list-codecs\n"
    "  --quality N     0 (smallest) to 100 (best), default 75\n"
    "  --fps N         frames per second, 1 to 255, default 25\n"
    "  --force         replace OUTPUT.avi if it exists\n"
    "  --list-codecs   list the installed compressors\n"
    "  --sample FILE   write a generated moving test pattern (default 100 frames\n"
    "                  of 320 x 240)\n"
    "\n"
    "Exit status: 0 converted, 1 failed or not converted, 2 bad usage.\n";

struct Arguments {
    bool help = false, listCodecs = false, force = false;
    std::string codec = "MSVC";
    int quality = 75, fps = 25;
    std::optional<std::string> sample;
    converter::SampleOptions sampleOptions;
    std::vector<std::string> files;
};

struct UsageError {
    std::string message;
};

long ParseNumber(const std::string& option, const char* text, long min, long max)
{
    errno = 0;
    char* end = nullptr;
    long value = std::strtol(text, &end, 10);
    if (errno || end == text || *end || value < min || value > max)
        throw UsageError{option + " takes a whole number from " + std::to_string(min) + " to " + std::to_string(max) +
                         ", not \"" + text + "\""};
    return value;
}

Arguments Parse(int argc, char** argv)
{
    Arguments a;
    for (int i = 1; i < argc; ++i) {
        std::string arg = argv[i];
        auto value = [&]() -> const char* {
            if (i + 1 >= argc) throw UsageError{arg + " needs a value"};
            return argv[++i];
        };
        if (arg == "--help" || arg == "-h") a.help = true;
        else if (arg == "--list-codecs") a.listCodecs = true;
        else if (arg == "--force" || arg == "-f") a.force = true;
        else if (arg == "--codec") a.codec = value();
        else if (arg == "--quality") a.quality = static_cast<int>(ParseNumber(arg, value(), 0, 100));
        else if (arg == "--fps") a.fps = static_cast<int>(ParseNumber(arg, value(), 1, 255));
        else if (arg == "--sample") a.sample = value();
        else if (arg == "--frames") a.sampleOptions.frames = static_cast<int32_t>(ParseNumber(arg, value(), 0, INT_MAX));
        else if (arg == "--width") a.sampleOptions.width = static_cast<uint16_t>(ParseNumber(arg, value(), 1, 65535));
        else if (arg == "--height") a.sampleOptions.height = static_cast<uint16_t>(ParseNumber(arg, value(), 1, 65535));
        else if (arg == "--") {
            for (++i; i < argc; ++i) a.files.push_back(argv[i]);
        } else if (arg.size() > 1 && arg[0] == '-') throw UsageError{"unknown option " + arg};
        else a.files.push_back(arg);
    }
    if (a.help || a.listCodecs) return a;
    if (a.sample) {
        if (!a.files.empty()) throw UsageError{"--sample takes no other file names"};
        return a;
    }
    if (a.files.size() != 2) throw UsageError{"expected INPUT.vek and OUTPUT.avi"};
    if (a.codec.empty() || a.codec.size() > 4) throw UsageError{"a FourCC has one to four characters, not \"" + a.codec + "\""};
    return a;
}

int ListCodecs()
{
    for (const auto& c : avifile::InstalledCompressors()) {
        std::printf("%-4s  %s\n", avifile::FourCCToString(c.fourcc).c_str(), c.name.c_str());
    }
    return kExitOk;
}

// A progress bar on stderr, drawn only when stderr is a terminal.
class ProgressBar {
public:
    ProgressBar() : enabled_(::isatty(STDERR_FILENO)) {}
    void Show(int percent)
    {
        if (!enabled_ || percent == last_) return;
        last_ = percent;
        const int filled = percent * 40 / 100;
        std::fprintf(stderr, "\r[%s%s] %3d%%", std::string(filled, '#').c_str(), std::string(40 - filled, '.').c_str(),
                     percent);
        std::fflush(stderr);
    }
    void Finish()
    {
        if (enabled_ && last_ >= 0) {
            last_ = -1;
            Show(100);
            std::fputc('\n', stderr);
        }
    }
    void Abandon()
    {
        if (enabled_ && last_ >= 0) std::fputc('\n', stderr);
    }

private:
    bool enabled_;
    int last_ = -1;
};

int Convert(const Arguments& a)
{
    const std::string input = a.files[0], output = a.files[1];
    const avifile::FOURCC codec = avifile::StringToFourCC(a.codec);
    if (!avifile::FindCompressor(codec, nullptr)) {
        std::cerr << "vek2avi: compressor \"" << a.codec << "\" is not installed; see vek2avi --list-codecs\n";
        return kExitFailure;
    }

    converter::TerminalDialogs dialogs(a.force);
    ui::ScopedDialogProvider useDialogs(&dialogs);
    // The run asks for the compressor through the options dialog; answer it from the command line.
    auto previous = avifile::SetSaveOptionsChooser([&](avifile::UINT, avifile::AVICOMPRESSOPTIONS& o) {
        o.fccType = avifile::streamtypeVIDEO;
        o.fccHandler = codec;
        o.dwQuality = static_cast<avifile::DWORD>(a.quality) * 100;
        o.dwKeyFrameEvery = 1;
        o.dwFlags = avifile::AVICOMPRESSF_VALID | avifile::AVICOMPRESSF_KEYFRAMES;
        return true;
    });

    ProgressBar bar;
    converter::ConversionHooks hooks;
    hooks.configure = [&](avi::TAVIRecorder& recorder) {
        recorder.SetFilename(output);
        recorder.SetFPS(static_cast<uint8_t>(a.fps));
    };
    hooks.progress = [&](int percent) { bar.Show(percent); };
    hooks.completed = [&] { bar.Finish(); };

    int status = kExitOk;
    try {
        if (converter::RunConversion(input, hooks) == converter::ConversionResult::Declined) {
            std::cerr << "vek2avi: " << output
                      << (dialogs.UnansweredQuestion() ? " exists; use --force to replace it\n" : " was not replaced\n");
            status = kExitFailure;
        }
    } catch (const std::exception& e) {
        bar.Abandon();
        std::cerr << "vek2avi: " << e.what() << "\n";
        status = kExitFailure;
    }
    avifile::SetSaveOptionsChooser(std::move(previous));
    return status;
}

} // namespace

int main(int argc, char** argv)
{
    Arguments args;
    try {
        args = Parse(argc, argv);
    } catch (const UsageError& e) {
        std::cerr << "vek2avi: " << e.message << "\n\n" << kUsage;
        return kExitUsage;
    }
    if (args.help) {
        std::cout << kUsage;
        return kExitOk;
    }
    if (args.listCodecs) return ListCodecs();
    if (args.sample) {
        try {
            converter::WriteSampleFrameFile(*args.sample, args.sampleOptions);
        } catch (const std::exception& e) {
            std::cerr << "vek2avi: " << e.what() << "\n";
            return kExitFailure;
        }
        return kExitOk;
    }
    return Convert(args);
}
