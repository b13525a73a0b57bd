// Arbitrary frame headers, compressor choices and frame bytes through the AVI
// library: every call must answer with a result code, never crash, and the
// file must be finalised or refused cleanly.
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <unistd.h>
#include <vector>

#include "platform/avifile/avifile.h"

using namespace avifile;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 44) return 0;
    static const std::vector<CompressorInfo> compressors = InstalledCompressors();
    static const std::string path = "/dev/shm/vek-avi-fuzz-" + std::to_string(::getpid()) + ".avi";

    gdi::BITMAPINFOHEADER header;
    std::memcpy(&header, data, sizeof header);
    const uint8_t choice = data[40], frames = data[41] % 4;
    const uint16_t quality = static_cast<uint16_t>(data[42] | (data[43] << 8));
    data += 44;
    size -= 44;
    // Encoding big frames would only slow the search down; their headers still go through.
    const bool writeFrames =
        header.biWidth > -64 && header.biWidth < 64 && header.biHeight > -64 && header.biHeight < 64;

    AVIFileInit();
    PAVIFILE file = nullptr;
    PAVISTREAM stream = nullptr, compressed = nullptr;
    if (AVIFileOpenA(&file, path.c_str(), OF_CREATE | OF_WRITE, nullptr) == AVIERR_OK) {
        AVISTREAMINFOA info{};
        info.fccType = streamtypeVIDEO;
        info.dwScale = 1;
        info.dwRate = 25;
        info.rcFrame = {0, 0, header.biWidth, header.biHeight};
        if (AVIFileCreateStreamA(file, &stream, &info) == AVIERR_OK) {
            AVICOMPRESSOPTIONS options{};
            options.fccType = streamtypeVIDEO;
            options.fccHandler = compressors[choice % compressors.size()].fourcc;
            options.dwQuality = quality > 10000 ? ICQUALITY_DEFAULT : quality;
            if (AVIMakeCompressedStream(&compressed, stream, &options, nullptr) == AVIERR_OK &&
                AVIStreamSetFormat(compressed, 0, &header, sizeof header) == AVIERR_OK && writeFrames) {
                for (int f = 0; f < frames; ++f)
                    AVIStreamWrite(compressed, f, 1, data, static_cast<LONG>(size), AVIIF_KEYFRAME, nullptr, nullptr);
            }
        }
        AVIFileFinalize(file);
    }
    if (compressed) AVIStreamRelease(compressed);
    if (stream) AVIStreamRelease(stream);
    if (file) AVIFileRelease(file);
    AVIFileExit();
    std::remove(path.c_str());
    return 0;
}
