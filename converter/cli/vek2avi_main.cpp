// vek2avi: the command-line converter. Same recorder and conversion run as
// the desktop program; the compressor and the output file come from the
// command line instead of dialogs. It links no window toolkit.
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
#include "converter/cli/cli_decisions.h"
#include "converter/texts.h"
#include "converter/conversion_run.h"
#include "converter/interrupt.h"
#include "converter/sample_file.h"
#include "platform/avifile/avifile.h"
#include "platform/rtl/exception.h"
#include "platform/rtl/external_exception.h"

namespace {

constexpr int kExitOk = 0;
constexpr int kExitFailure = 1;
constexpr int kExitUsage = 2;

const char kUsage[] = "Usage:\n"
                      "  vek2avi [--codec FOURCC] [--quality N] [--fps N] [--force] INPUT.vek OUTPUT.avi\n"
                      "  vek2avi --list-codecs\n"
                      "  vek2avi --sample FILE.vek [--frames N] [--width W] [--height H] [--force]\n"
                      "  vek2avi --help\n"
                      "\n"
                      "Converts every frame of a .vek frame file into a key frame of one video\n"
                      "stream in a new AVI file.\n"
                      "\n"
                      "  --codec FOURCC  compressor (default MSVC, or one that takes the frame\n"
                      "                  size when MSVC cannot); see --list-codecs\n"
                      "  --quality N     0 (smallest) to 100 (best), default 75\n"
                      "  --fps N         frames per second, 1 to 255, default 25\n"
                      "  --force         replace OUTPUT.avi (or the --sample file) if it exists\n"
                      "  --list-codecs   list the installed compressors\n"
                      "  --sample FILE   write a generated moving test pattern (default 100 frames\n"
                      "                  of 320 x 240)\n"
                      "Options also take their value as --option=VALUE.\n"
                      "\n"
                      "Exit status: 0 converted, 1 failed or not converted, 2 bad usage.\n";

struct Arguments {
    bool help = false, listCodecs = false, force = false, codecNamed = false;
    std::string codec; // empty: the default choice
    int quality = 75, fps = 25;
    std::optional<std::string> sample;
    converter::SampleOptions sampleOptions;
    std::vector<std::string> files;
};

struct UsageError {
    std::string message;
};

long ParseNumber(const std::string& option, const std::string& textValue, long min, long max)
{
    const char* text = textValue.c_str();
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
    bool conversionOption = false, sampleOption = false;
    for (int i = 1; i < argc; ++i) {
        std::string arg = argv[i];
        std::optional<std::string> inlineValue;
        if (arg.rfind("--", 0) == 0 && arg.find('=') != std::string::npos) {
            inlineValue = arg.substr(arg.find('=') + 1);
            arg = arg.substr(0, arg.find('='));
        }
        auto value = [&]() -> std::string {
            if (inlineValue) return *inlineValue;
            if (i + 1 >= argc) throw UsageError{arg + " needs a value"};
            return argv[++i];
        };
        auto flag = [&] {
            if (inlineValue) throw UsageError{arg + " takes no value"};
        };
        if (arg == "--help" || arg == "-h")
            flag(), a.help = true;
        else if (arg == "--list-codecs")
            flag(), a.listCodecs = true;
        else if (arg == "--force" || arg == "-f")
            flag(), a.force = true;
        else if (arg == "--codec")
            a.codec = value(), a.codecNamed = conversionOption = true;
        else if (arg == "--quality")
            a.quality = static_cast<int>(ParseNumber(arg, value(), 0, 100)), conversionOption = true;
        else if (arg == "--fps")
            a.fps = static_cast<int>(ParseNumber(arg, value(), 1, 255)), conversionOption = true;
        else if (arg == "--sample") {
            a.sample = value();
            if (a.sample->empty()) throw UsageError{"--sample needs a file name"};
        } else if (arg == "--frames")
            a.sampleOptions.frames = static_cast<int32_t>(ParseNumber(arg, value(), 0, INT_MAX)), sampleOption = true;
        else if (arg == "--width")
            a.sampleOptions.width = static_cast<uint16_t>(ParseNumber(arg, value(), 1, 32767)), sampleOption = true;
        else if (arg == "--height")
            a.sampleOptions.height = static_cast<uint16_t>(ParseNumber(arg, value(), 1, 32767)), sampleOption = true;
        else if (arg == "--") {
            for (++i; i < argc; ++i) a.files.push_back(argv[i]);
        } else if (arg.size() > 1 && arg[0] == '-')
            throw UsageError{"unknown option " + arg};
        else
            a.files.push_back(arg);
    }
    if (a.help) {
        if (argc != 2) throw UsageError{"--help takes nothing else"};
        return a;
    }
    if (a.listCodecs) {
        if (argc != 2) throw UsageError{"--list-codecs takes nothing else"};
        return a;
    }
    if (a.sample) {
        if (!a.files.empty()) throw UsageError{"--sample takes no other file names"};
        if (conversionOption) throw UsageError{"--codec, --quality and --fps are for converting, not --sample"};
        a.sampleOptions.replace = a.force;
        return a;
    }
    if (sampleOption) throw UsageError{"--frames, --width and --height go with --sample"};
    if (a.files.size() < 2) throw UsageError{"expected INPUT.vek and OUTPUT.avi"};
    if (a.files.size() > 2) throw UsageError{"too many arguments: \"" + a.files[2] + "\""};
    if (a.files[0].empty() || a.files[1].empty()) throw UsageError{"a file name is empty"};
    if (a.codec.size() > 4 || (a.codecNamed && a.codec.empty()))
        throw UsageError{"a FourCC has one to four characters, not \"" + a.codec + "\""};
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
    if (a.codecNamed && !avifile::FindCompressor(avifile::StringToFourCC(a.codec), nullptr)) {
        std::cerr << "vek2avi: compressor \"" << a.codec << "\" is not installed; see vek2avi --list-codecs\n";
        return kExitFailure;
    }

    converter::CliChoices choices;
    choices.force = a.force;
    choices.codec = a.codec;
    choices.quality = a.quality;
    choices.chinese = converter::LocaleWantsChinese();
    converter::CliDecisions decisions(choices);

    ProgressBar bar;
    converter::ConversionHooks hooks;
    hooks.decisions = &decisions;
    hooks.configure = [&](avi::TAVIRecorder& recorder) {
        recorder.SetFilename(output);
        recorder.SetFPS(static_cast<uint8_t>(a.fps));
    };
    hooks.progress = [&](int percent) { bar.Show(percent); };
    hooks.completed = [&](const converter::CompletedRun&) { bar.Finish(); };
    hooks.stopRequested = [] { return converter::PendingInterrupt() != 0; };

    try {
        if (converter::RunConversion(input, hooks) == converter::ConversionResult::Declined) {
            if (converter::PendingInterrupt()) return kExitFailure;
            std::cerr << "vek2avi: " << output
                      << (decisions.UnansweredQuestion() ? " exists; use --force to replace it\n"
                                                         : " was not replaced\n");
            return kExitFailure;
        }
    } catch (const converter::EInterrupted&) {
        bar.Abandon();
        return kExitFailure;
    } catch (const std::exception& e) {
        bar.Abandon();
        // A fault is no error the converter expects: it goes on to the crash
        // reporter (its partial output is already removed).
        if (dynamic_cast<const rtl::EExternal*>(&e)) throw;
        std::cerr << "vek2avi: " << e.what() << "\n";
        return kExitFailure;
    }
    return kExitOk;
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
    converter::InstallInterruptHandlers();
    int status = kExitOk;
    converter::DeferInterrupts deferred;
    if (args.sample) {
        try {
            converter::WriteSampleFrameFile(*args.sample, args.sampleOptions,
                                            [] { return converter::PendingInterrupt() != 0; });
        } catch (const converter::EInterrupted&) {
            status = kExitFailure;
        } catch (const std::exception& e) {
            std::cerr << "vek2avi: " << e.what() << "\n";
            status = kExitFailure;
        }
    } else {
        status = Convert(args);
    }
    if (const int signal = converter::PendingInterrupt()) converter::EndByInterrupt(signal);
    return status;
}
