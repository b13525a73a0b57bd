#include "converter/sample_file.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <vector>

#include <unistd.h>

#include "avi/output_file.h"
#include "converter/conversion_run.h"
#include "converter/frame_file.h"
#include "platform/kernel/files.h"
#include "platform/kernel/replacing_file.h"
#include "platform/rtl/exception.h"
#include "platform/rtl/format.h"

namespace converter {

uint8_t SamplePixel(int32_t f, int x, int y, int c, const SampleOptions& o)
{
    // A box that bounces across the picture over a drifting colour gradient.
    const int box = std::max(4, std::min<int>(o.width, o.height) / 6);
    const int spanX = std::max(1, o.width - box), spanY = std::max(1, o.height - box);
    const int bx = (f * 5) % (2 * spanX), by = (f * 3) % (2 * spanY);
    const int left = bx < spanX ? bx : 2 * spanX - bx, top = by < spanY ? by : 2 * spanY - by;
    if (x >= left && x < left + box && y >= top && y < top + box) return c == 1 ? 20 : 127;
    switch (c) {
    case 0: return static_cast<uint8_t>((x * 127 / std::max(1, o.width - 1) + f) & 127);
    case 1: return static_cast<uint8_t>((y * 127 / std::max(1, o.height - 1) + 2 * f) & 127);
    default: return static_cast<uint8_t>(((x / 16 + y / 16) % 2) * 64 + (f & 63));
    }
}

void WriteSampleFrameFile(const std::string& path, const SampleOptions& options,
                          const std::function<bool()>& stopRequested)
{
    if (options.frames < 0) throw rtl::Exception("The number of frames must not be negative.");
    // Only a regular file is ever replaced, and only when asked.
    const std::string refusal = avi::ReplaceRefusal(path);
    if (!refusal.empty())
        throw rtl::Exception(
            rtl::FormatStrings("Cannot write file \"%s\": %s; only a regular file can be replaced.", {path, refusal}));
    if (!options.replace && ::access(path.c_str(), F_OK) == 0)
        throw rtl::Exception(rtl::FormatStrings("Cannot write file \"%s\": it exists.", {path}));

    kernel::TReplacingFile output;
    if (const int error = output.Create(path, 0666))
        throw rtl::Exception(rtl::FormatStrings("Cannot create file \"%s\". %s", {path, std::strerror(error)}));

    FrameFileHeader header;
    header.frameCount = options.frames;
    header.width = options.width;
    header.height = options.height;
    uint8_t bytes[kFrameFileHeaderSize];
    EncodeFrameFileHeader(header, bytes);
    bool ok = kernel::WriteAll(output.Fd(), bytes, sizeof bytes);

    std::vector<uint8_t> frame(static_cast<size_t>(FrameBytes(header)));
    for (int32_t f = 0; ok && f < options.frames; ++f) {
        if (stopRequested && stopRequested()) throw EInterrupted(); // the output file removes the partial one
        uint8_t* p = frame.data();
        for (int y = 0; y < options.height; ++y)
            for (int x = 0; x < options.width; ++x)
                for (int c = 0; c < 3; ++c) *p++ = SamplePixel(f, x, y, c, options);
        ok = kernel::WriteAll(output.Fd(), frame.data(), frame.size());
    }
    int error = ok ? 0 : (errno ? errno : EIO);
    // Only a regular file is replaced, also when one appeared meanwhile.
    if (ok && !avi::ReplaceRefusal(path).empty()) error = EISDIR;
    if (error == 0) error = output.Commit();
    if (error != 0)
        throw rtl::Exception(rtl::FormatStrings("Cannot write file \"%s\". %s", {path, std::strerror(error)}));
}

} // namespace converter
