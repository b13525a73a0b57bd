#pragma once
// Helpers of the AVI library tests: scratch folders, the real peers
// (ffprobe/ffmpeg), test pictures, PSNR, and a reader of our RIFF layout.
#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "platform/avifile/avifile.h"
#include "tests/support/media_probe.h"
#include "tests/support/run_command.h"
#include "tests/support/temp_dir.h"

namespace avitest {

// A fresh folder under $TMPDIR (or /tmp), removed with everything in it.
class ScratchDir : public testing_support::TempDir {
public:
    const std::string& Path() const { return path(); }
    std::string File(const std::string& name) const { return *this / name; }
};

struct CommandResult {
    int exitCode = -1;
    std::string output; // standard output
};
CommandResult Run(const std::string& command);
inline std::string Quote(const std::string& text) { return testing_support::ShellQuote(text); }

// One bottom-up 24-bit frame, rows padded to 4 bytes.
struct Frame {
    int width = 0, height = 0;
    size_t stride = 0;
    std::vector<uint8_t> bits;
    // Pixel (x, y) with y counted from the top, as blue, green, red.
    uint8_t* At(int x, int yFromTop)
    {
        return bits.data() + static_cast<size_t>(height - 1 - yFromTop) * stride + x * 3;
    }
};
// A moving, colourful test picture; frame n differs from frame n+1.
Frame MakePicture(int width, int height, int n);
// Top-down, unpadded BGR pixels of the frame (what ffmpeg decodes to).
std::vector<uint8_t> TopDownBgr(const Frame& frame);

gdi::BITMAPINFOHEADER HeaderFor(const Frame& frame);

struct WriteOptions {
    std::string fourcc = "DIB ";
    avifile::DWORD quality = 7500;
    avifile::DWORD bytesPerSecond = 0; // with AVICOMPRESSF_DATARATE when set
    int fps = 25;
};
// A file with one compressed stream, opened the way the recorder opens it:
// file, stream, compressed stream, format. Error() is empty when every step
// succeeded, else the first failing step and its result ("SetFormat: 0x...").
// Release() (or the destructor) ends the library's use and releases the
// handles in the recorder's order; it returns what the file's release returned.
class OpenedStream {
public:
    OpenedStream(const std::string& path, const WriteOptions& options, const gdi::BITMAPINFOHEADER& header,
                 avifile::DWORD suggestedBufferSize = 0);
    ~OpenedStream() { Release(); }
    OpenedStream(const OpenedStream&) = delete;
    OpenedStream& operator=(const OpenedStream&) = delete;

    const std::string& Error() const { return error_; }
    avifile::HRESULT Write(avifile::LONG position, const Frame& frame);
    unsigned long Release();

private:
    std::string error_;
    avifile::PAVIFILE file_ = nullptr;
    avifile::PAVISTREAM stream_ = nullptr, compressed_ = nullptr;
    bool released_ = false;
};

// Writes frames the way the recorder does: file, stream, compressed stream,
// format, one AVIStreamWrite per frame, then releases. Returns the first
// failing result, tagged with the step ("SetFormat: 0x...").
std::string WriteAvi(const std::string& path, const std::vector<Frame>& frames, const WriteOptions& options);

struct ProbeInfo {
    int streams = -1;
    std::string codec, pixFmt;
    int width = 0, height = 0;
    long packets = -1;    // packets ffprobe read
    long keyPackets = -1; // of them flagged K
    long nbFrames = -1;   // from the stream header
};
ProbeInfo Probe(const std::string& path);

// Decodes the first video stream to top-down frames of the pixel format.
std::vector<uint8_t> Decode(const std::string& path, const std::string& pixFmt);

using testing_support::Psnr;
uint64_t FileSize(const std::string& path);

// The chunk structure of an AVI file, as far as the tests look at it.
struct RiffInfo {
    bool valid = false;
    std::string error;
    std::vector<std::string> riffForms; // "AVI ", "AVIX", ...
    std::vector<uint64_t> riffSizes;    // whole list, header included
    uint32_t avihTotalFrames = 0, strhLength = 0, dmlhTotalFrames = 0;
    std::string strhHandler;
    uint32_t strfCompression = 0;
    uint32_t idx1Entries = 0, idx1KeyEntries = 0;
    uint32_t superIndexEntries = 0;
    uint64_t standardIndexFrames = 0; // sum over the ix00 chunks
    uint32_t movieChunks = 0;         // frame chunks in all movi lists
    std::vector<uint32_t> chunkSizes; // of those chunks, in file order
};
RiffInfo ReadRiff(const std::string& path);

} // namespace avitest
