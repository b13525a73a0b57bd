#pragma once
// A generated frame file for trying the converter out: a moving test pattern.
#include <cstdint>
#include <functional>
#include <string>

namespace converter {

struct SampleOptions {
    int32_t frames = 100;
    uint16_t width = 320;
    uint16_t height = 240;
    bool replace = false; // an existing regular file may be replaced
};

// The stored (7-bit) value of channel c (0 red, 1 green, 2 blue) of the pixel
// at (x, y) in frame f of the pattern.
uint8_t SamplePixel(int32_t f, int x, int y, int c, const SampleOptions& options);

// Writes the file next to its final name and renames it into place, so a
// failure never leaves a half-written file. An existing file is refused
// unless options.replace, and only a regular file is ever replaced. Throws rtl::Exception; when
// stopRequested answers true between frames, removes the partial file and
// throws EInterrupted.
void WriteSampleFrameFile(const std::string& path, const SampleOptions& options,
                          const std::function<bool()>& stopRequested = {});

} // namespace converter
