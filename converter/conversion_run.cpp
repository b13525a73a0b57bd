#include "converter/conversion_run.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <memory>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

#include "avi/avi_recorder.h"
#include "converter/frame_file.h"
#include "platform/gdi/bitmap.h"
#include "platform/rtl/exception.h"
#include "platform/rtl/format.h"

namespace converter {
namespace {

// Owns the read descriptor of the frame file.
class InputFile {
public:
    explicit InputFile(const std::string& path)
    {
        fd_ = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
        if (fd_ < 0) throw rtl::EFOpenError(rtl::FormatStrings("Cannot open file \"%s\". %s", {path, std::strerror(errno)}));
        // Readers may share the file; a writer that locks it is kept out while the run lasts.
        if (::flock(fd_, LOCK_SH | LOCK_NB) != 0 && errno == EWOULDBLOCK) {
            ::close(fd_);
            throw rtl::EFOpenError(
                rtl::FormatStrings("Cannot open file \"%s\". %s", {path, "The file is locked by another program."}));
        }
    }
    ~InputFile() { ::close(fd_); }
    InputFile(const InputFile&) = delete;
    InputFile& operator=(const InputFile&) = delete;

    uint64_t Size() const
    {
        struct stat st {};
        return ::fstat(fd_, &st) == 0 ? static_cast<uint64_t>(st.st_size) : 0;
    }

    // Reads up to count bytes, as many as the file still has; returns how many arrived.
    size_t Read(void* buffer, size_t count)
    {
        auto* p = static_cast<uint8_t*>(buffer);
        size_t done = 0;
        while (done < count) {
            ssize_t n = ::read(fd_, p + done, count - done);
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) break;
            done += static_cast<size_t>(n);
        }
        return done;
    }

private:
    int fd_ = -1;
};

[[noreturn]] void Refuse(const std::string& path, const std::string& reason)
{
    throw rtl::EReadError(rtl::FormatStrings("Cannot convert \"%s\": %s.", {path, reason}));
}

} // namespace

ConversionResult RunConversion(const std::string& inputPath, const ConversionHooks& hooks)
{
    const std::string path = inputPath;
    InputFile input(path);

    gdi::Bitmap bitmap;
    auto recorder = std::make_unique<avi::TAVIRecorder>(nullptr);
    try {
        uint8_t headerBytes[kFrameFileHeaderSize] = {};
        const size_t got = input.Read(headerBytes, sizeof headerBytes);
        const FrameFileHeader header = DecodeFrameFileHeader(headerBytes);
        const std::string problem = CheckFrameFile(header, got < sizeof headerBytes ? got : input.Size());
        if (!problem.empty()) Refuse(path, problem);

        const size_t frameSize = static_cast<size_t>(FrameBytes(header));
        const size_t pixelCount = frameSize / 3;
        std::vector<uint8_t> frame(frameSize, 0);

        bitmap.SetFormat(gdi::PixelFormat::pf24bit);
        bitmap.SetSize(header.width, header.height);

        recorder->SetSizeRestriction(avi::srNoRestriction);
        recorder->SetCompressor(avi::acShowDialog);
        recorder->SetWidth(bitmap.Width());
        recorder->SetHeight(bitmap.Height());
        if (hooks.configure) hooks.configure(*recorder);

        if (!recorder->StartRecording()) return ConversionResult::Declined;

        const size_t rowBytes = static_cast<size_t>(header.width) * 3;
        for (int32_t k = 0; k < header.frameCount; ++k) {
            if (input.Read(frame.data(), frameSize) != frameSize)
                Refuse(path, rtl::Format("the file ended in frame %d of %d", k + 1, header.frameCount));
            TransformFrame(frame.data(), pixelCount);
            const int progress = ProgressValue(k, header.frameCount);
            for (int row = 0; row < header.height; ++row) {
                std::memcpy(bitmap.ScanLine(row), frame.data() + static_cast<size_t>(row) * rowBytes, rowBytes);
                if (hooks.progress) hooks.progress(progress);
            }
            recorder->AddFrame(bitmap);
        }

    } catch (...) {
        // A run that did not finish leaves no output file behind.
        if (recorder->Recording()) {
            try {
                recorder->StopRecording(true);
            } catch (...) {
            }
        }
        throw;
    }
    // Completion is reported once the file is complete: closing it is the
    // last step that can fail (a full disk), and then it is not a success.
    recorder->StopRecording(false);
    if (hooks.completed) hooks.completed();
    return ConversionResult::Completed;
}

} // namespace converter
