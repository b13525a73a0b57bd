// Compressors read nothing past the end of the frame they are given, even
// when the frame ends right before memory the process may not touch.
#include <gtest/gtest.h>

#include <sys/mman.h>
#include <unistd.h>

#include <cstring>

#include "platform/avifile/avifile.h"
#include "tests/support/child_process.h"
#include "tests/support/media_probe.h"
#include "tests/support/temp_dir.h"

using namespace testing_support;

namespace {

// Frame memory that ends `slack` bytes before a page the process may not
// touch: a read past slack faults at once, without any memory checker.
class GuardedFrame {
public:
    GuardedFrame(size_t size, size_t slack)
    {
        const size_t page = static_cast<size_t>(::sysconf(_SC_PAGESIZE));
        const size_t used = ((size + slack + page - 1) / page) * page;
        length_ = used + page;
        base_ =
            static_cast<uint8_t*>(::mmap(nullptr, length_, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0));
        if (base_ == MAP_FAILED) base_ = nullptr;
        if (base_) ::mprotect(base_ + used, page, PROT_NONE);
        data_ = base_ ? base_ + used - slack - size : nullptr;
    }
    ~GuardedFrame()
    {
        if (base_) ::munmap(base_, length_);
    }
    uint8_t* Data() const { return data_; }

private:
    uint8_t* base_ = nullptr;
    uint8_t* data_ = nullptr;
    size_t length_ = 0;
};

// Writes `frames` frames of w x h from a buffer that ends `slack` bytes
// before a guard page; exit status 0 when every call succeeded.
int WriteFromGuardedBuffer(const std::string& path, const char* codec, int w, int h, size_t slack)
{
    const size_t stride = ((static_cast<size_t>(w) * 24 + 31) / 32) * 4;
    const size_t size = stride * static_cast<size_t>(h);
    GuardedFrame frame(size, slack);
    if (!frame.Data()) return 20;
    for (size_t i = 0; i < size; ++i) frame.Data()[i] = static_cast<uint8_t>(i * 7);
    avifile::AVIFileInit();
    avifile::PAVIFILE file = nullptr;
    avifile::PAVISTREAM stream = nullptr, compressed = nullptr;
    if (avifile::AVIFileOpenA(&file, path.c_str(), avifile::OF_CREATE | avifile::OF_WRITE, nullptr) != 0) return 21;
    avifile::AVISTREAMINFOA info{};
    info.fccType = avifile::streamtypeVIDEO;
    info.dwScale = 1;
    info.dwRate = 25;
    info.rcFrame = {0, 0, w, h};
    if (avifile::AVIFileCreateStreamA(file, &stream, &info) != 0) return 22;
    avifile::AVICOMPRESSOPTIONS options{};
    options.fccType = avifile::streamtypeVIDEO;
    options.fccHandler = avifile::StringToFourCC(codec);
    options.dwQuality = avifile::ICQUALITY_DEFAULT;
    if (avifile::AVIMakeCompressedStream(&compressed, stream, &options, nullptr) != 0) return 23;
    gdi::BITMAPINFOHEADER header{};
    header.biSize = sizeof header;
    header.biWidth = w;
    header.biHeight = h;
    header.biPlanes = 1;
    header.biBitCount = 24;
    header.biSizeImage = static_cast<uint32_t>(size);
    if (avifile::AVIStreamSetFormat(compressed, 0, &header, sizeof header) != 0) return 24;
    for (int f = 0; f < 2; ++f)
        if (avifile::AVIStreamWrite(compressed, f, 1, frame.Data(), static_cast<avifile::LONG>(size),
                                    avifile::AVIIF_KEYFRAME, nullptr, nullptr) != 0)
            return 25;
    avifile::AVIStreamRelease(compressed);
    avifile::AVIStreamRelease(stream);
    avifile::AVIFileRelease(file);
    avifile::AVIFileExit();
    return 0;
}

} // namespace

// Every compressor reads a frame that ends at a guard page without
// faulting; the frames it writes decode.
TEST(FrameBounds, CompressorsReadNothingPastTheFrame)
{
    TempDir dir;
    struct Case {
        const char* codec;
        int w, h;
    };
    for (const Case& c : {Case{"MJPG", 320, 240}, Case{"HFYU", 320, 240}, Case{"FFV1", 320, 240}, Case{"divx", 5, 3},
                          Case{"divx", 320, 240}, Case{"MSVC", 320, 240}, Case{"DIB ", 5, 3}}) {
        if (!avifile::FindCompressor(avifile::StringToFourCC(c.codec), nullptr)) continue;
        const std::string path = dir / (std::string(c.codec) + std::to_string(c.w) + ".avi");
        const vektest::TChildResult r =
            vektest::RunInChild([&] { return WriteFromGuardedBuffer(path, c.codec, c.w, c.h, 0); });
        ASSERT_TRUE(r.Exited) << c.codec << " " << c.w << " x " << c.h << ": read past the frame (signal "
                              << (r.Signaled ? r.Signal : 0) << ")";
        EXPECT_EQ(r.ExitCode, 0) << c.codec << ": " << r.Output;
        VideoProbe p = ProbeVideo(path);
        EXPECT_TRUE(p.ok) << c.codec << ": " << p.errors;
        EXPECT_EQ(p.width, c.w) << c.codec;
        EXPECT_EQ(p.packets, 2) << c.codec;
    }
}
