#include "tests/support/media_probe.h"

#include <cmath>
#include <sstream>

#include "tests/support/run_command.h"
#include "tests/support/temp_dir.h"

namespace testing_support {

VideoProbe ProbeVideo(const std::string& path)
{
    VideoProbe v;
    TempDir tmp;
    const std::string err = tmp / "stderr";
    int status = 0;
    std::string out =
        RunCommand("ffprobe -v error -show_entries stream=codec_name,codec_tag_string,width,height,r_frame_rate"
                   " -show_entries packet=flags -of flat " +
                       ShellQuote(path) + " 2>" + ShellQuote(err),
                   &status);
    v.errors = ReadFile(err);
    v.ok = status == 0;
    std::istringstream lines(out);
    std::string line;
    while (std::getline(lines, line)) {
        auto eq = line.find('=');
        if (eq == std::string::npos) continue;
        std::string key = line.substr(0, eq), value = line.substr(eq + 1);
        if (value.size() >= 2 && value.front() == '"') value = value.substr(1, value.size() - 2);
        if (key.rfind("streams.stream.", 0) == 0) {
            auto dot = key.find('.', 15);
            if (key.substr(15, dot - 15) == "0") {
                std::string field = key.substr(dot + 1);
                if (field == "codec_name")
                    v.codec = value;
                else if (field == "codec_tag_string")
                    v.codecTag = value;
                else if (field == "width")
                    v.width = std::stoi(value);
                else if (field == "height")
                    v.height = std::stoi(value);
                else if (field == "r_frame_rate")
                    v.frameRate = value;
            }
            if (key.size() > dot && key.substr(dot + 1) == "codec_name") ++v.streams;
        } else if (key.rfind("packets.packet.", 0) == 0 && key.find(".flags") != std::string::npos) {
            ++v.packets;
            if (value.find('K') != std::string::npos) ++v.keyPackets;
        }
    }
    return v;
}

std::vector<uint8_t> DecodeRgb24(const std::string& path)
{
    int status = 0;
    std::string out = RunCommand("ffmpeg -v error -i " + ShellQuote(path) + " -f rawvideo -pix_fmt rgb24 -", &status);
    if (status != 0) return {};
    return std::vector<uint8_t>(out.begin(), out.end());
}

double Psnr(const std::vector<uint8_t>& a, const std::vector<uint8_t>& b)
{
    if (a.size() != b.size() || a.empty()) return -1;
    double sum = 0;
    for (size_t i = 0; i < a.size(); ++i) {
        double d = double(a[i]) - double(b[i]);
        sum += d * d;
    }
    if (sum == 0) return kIdenticalPsnr;
    return 10 * std::log10(255.0 * 255.0 / (sum / double(a.size())));
}

} // namespace testing_support
