#pragma once
// Reads AVI files back with the real ffprobe and ffmpeg.
#include <cstdint>
#include <string>
#include <vector>

namespace testing_support {

struct VideoProbe {
    bool ok = false;      // ffprobe read the file
    int streams = 0;      // number of streams
    std::string codec;    // codec_name of stream 0
    std::string codecTag; // codec_tag_string of stream 0
    int width = 0, height = 0;
    std::string frameRate; // r_frame_rate, e.g. "25/1"
    int packets = 0;       // packets counted by reading the whole file
    int keyPackets = 0;    // of which flagged as key frames
    std::string errors;    // what ffprobe said on stderr
};

VideoProbe ProbeVideo(const std::string& path);

// Decodes every frame to packed 24-bit RGB (top row first). Empty on failure.
std::vector<uint8_t> DecodeRgb24(const std::string& path);

// Peak signal-to-noise ratio in dB of b against a: kIdenticalPsnr for
// identical data, -1 when the sizes differ or there is no data.
constexpr double kIdenticalPsnr = 99.0;
double Psnr(const std::vector<uint8_t>& a, const std::vector<uint8_t>& b);

} // namespace testing_support
