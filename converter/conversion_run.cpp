#include "converter/conversion_run.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/uio.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstring>
#include <memory>

#include "avi/avi_recorder.h"
#include "avi/format_advice.h"
#include "avi/recorder_decisions.h"
#include "converter/frame_file.h"
#include "platform/gdi/bitmap.h"
#include "platform/kernel/unique_fd.h"
#include "platform/rtl/format.h"

namespace converter {
namespace {

[[noreturn]] void Refuse(const std::string& path, const std::string& reason)
{
    throw rtl::EReadError(rtl::FormatStrings("Cannot convert \"%s\": %s.", {path, reason}));
}

// Why a file of this kind is not read as a frame file; "" for a regular file.
std::string KindRefusal(mode_t mode)
{
    if (S_ISREG(mode)) return {};
    if (S_ISDIR(mode)) return "it is a folder, not a frame file";
    if (S_ISFIFO(mode))
        return "it is a pipe, and frame files are read from disk; save the data to a file and convert that";
    if (S_ISCHR(mode) || S_ISBLK(mode)) return "it is a device, not a frame file";
    if (S_ISSOCK(mode)) return "it is a socket, not a frame file";
    return "it is not a regular file";
}

// Owns the read descriptor of the frame file. Only regular files are
// opened: a pipe or a device would block or never end.
class InputFile {
public:
    explicit InputFile(const std::string& path)
    {
        struct stat st {};
        if (::stat(path.c_str(), &st) == 0) {
            const std::string refusal = KindRefusal(st.st_mode);
            if (!refusal.empty()) Refuse(path, refusal);
        }
        // Non-blocking, so that a FIFO put in place after the check cannot hang the open.
        fd_.Reset(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
        if (!fd_.Valid())
            throw rtl::EFOpenError(rtl::FormatStrings("Cannot open file \"%s\". %s", {path, std::strerror(errno)}));
        if (::fstat(fd_.Get(), &st_) != 0)
            throw rtl::EFOpenError(rtl::FormatStrings("Cannot open file \"%s\". %s", {path, std::strerror(errno)}));
        const std::string refusal = KindRefusal(st_.st_mode);
        if (!refusal.empty()) Refuse(path, refusal);
        ::fcntl(fd_.Get(), F_SETFL, ::fcntl(fd_.Get(), F_GETFL) & ~O_NONBLOCK);
        // Readers may share the file; a writer that locks it is kept out while the run lasts.
        if (::flock(fd_.Get(), LOCK_SH | LOCK_NB) != 0 && errno == EWOULDBLOCK)
            throw rtl::EFOpenError(
                rtl::FormatStrings("Cannot open file \"%s\". %s", {path, "The file is locked by another program."}));
    }

    uint64_t Size() const
    {
        struct stat st {};
        return ::fstat(fd_.Get(), &st) == 0 ? static_cast<uint64_t>(st.st_size) : 0;
    }

    // Whether path names this very file (through any link or "..").
    bool IsSameFile(const std::string& path) const
    {
        struct stat st {};
        return ::stat(path.c_str(), &st) == 0 && st.st_dev == st_.st_dev && st.st_ino == st_.st_ino;
    }

    // Reads up to count bytes, as many as the file still has; returns how many arrived.
    size_t Read(void* buffer, size_t count)
    {
        auto* p = static_cast<uint8_t*>(buffer);
        size_t done = 0;
        while (done < count) {
            ssize_t n = ::read(fd_.Get(), p + done, count - done);
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) break;
            done += static_cast<size_t>(n);
        }
        return done;
    }

    // Reads rows of rowBytes each, the file's top row first, into frame so
    // that the first lands in the last row (the bottom-up layout of the
    // recorder's frames, rows stride bytes apart): the frame is flipped on
    // its way in, not copied again. Returns the bytes that arrived.
    size_t ReadRowsBottomUp(uint8_t* frame, size_t rows, size_t rowBytes, size_t stride)
    {
        constexpr size_t kBatch = IOV_MAX;
        iovec parts[kBatch];
        size_t row = 0, within = 0, done = 0; // the next byte: row's byte `within`
        while (row < rows) {
            size_t n = 0;
            for (size_t r = row; r < rows && n < kBatch; ++r, ++n) {
                const size_t skip = r == row ? within : 0;
                parts[n] = {frame + (rows - 1 - r) * stride + skip, rowBytes - skip};
            }
            const ssize_t got = ::readv(fd_.Get(), parts, static_cast<int>(n));
            if (got < 0 && errno == EINTR) continue;
            if (got <= 0) break;
            done += static_cast<size_t>(got);
            const size_t reached = within + static_cast<size_t>(got);
            row += reached / rowBytes;
            within = reached % rowBytes;
        }
        return done;
    }

private:
    kernel::TUniqueFd fd_;
    struct stat st_ {};
};

// Passes the recorder's questions on, but refuses an output path that is
// the input file: replacing it would destroy the frames being read.
class InputGuard final : public avi::TAVIRecorderDecisions {
public:
    InputGuard(avi::TAVIRecorderDecisions* next, const InputFile& input, const std::string& inputPath)
        : next_(next), input_(input), inputPath_(inputPath)
    {
    }
    bool ChooseOutputPath(std::string& path) override { return next_ && next_->ChooseOutputPath(path); }
    bool ConfirmOverwrite(const std::string& path) override
    {
        RefuseInput(path);
        return next_ && next_->ConfirmOverwrite(path);
    }
    bool ChooseCompression(const avi::TAVICompressionRequest& request, avifile::AVICOMPRESSOPTIONS& options) override
    {
        return next_ && next_->ChooseCompression(request, options);
    }
    void RefuseInput(const std::string& path) const
    {
        if (input_.IsSameFile(path))
            Refuse(inputPath_, rtl::FormatStrings("the output file \"%s\" is the input file itself", {path}));
    }

private:
    avi::TAVIRecorderDecisions* next_;
    const InputFile& input_;
    const std::string& inputPath_;
};

void CheckStop(const ConversionHooks& hooks)
{
    if (hooks.stopRequested && hooks.stopRequested()) throw EInterrupted();
}

} // namespace

ConversionResult RunConversion(const std::string& inputPath, const ConversionHooks& hooks)
{
    const std::string path = inputPath;
    InputFile input(path);
    InputGuard guard(hooks.decisions, input, path);

    auto recorder = std::make_unique<avi::TAVIRecorder>(nullptr);
    try {
        uint8_t headerBytes[kFrameFileHeaderSize] = {};
        const size_t got = input.Read(headerBytes, sizeof headerBytes);
        const FrameFileHeader header = DecodeFrameFileHeader(headerBytes);
        const std::string problem = CheckFrameFile(header, got < sizeof headerBytes ? got : input.Size());
        if (!problem.empty()) Refuse(path, problem);

        recorder->SetSizeRestriction(avi::srNoRestriction);
        recorder->SetCompressor(avi::acShowDialog);
        recorder->SetWidth(header.width);
        recorder->SetHeight(header.height);
        recorder->SetDecisions(&guard);
        if (hooks.configure) hooks.configure(*recorder);
        // Frames the recorder would cut or pad would not be the file's frames.
        if (recorder->Width() != header.width || recorder->Height() != header.height)
            Refuse(path,
                   rtl::Format("its frames are %u x %u pixels, but the recorder would write %d x %d", header.width,
                               header.height, recorder->Width(), recorder->Height()));
        if (!recorder->StartRecording()) return ConversionResult::Declined;

        // Each frame is read straight into the recorder's buffer, its rows
        // flipped into the bottom-up layout on the way, then turned into the
        // video's colours where it lies; the compressor reads it there.
        const size_t rows = header.height, rowBytes = static_cast<size_t>(header.width) * 3;
        const size_t stride = gdi::Bitmap::StrideFor(header.width);
        for (int32_t k = 0; k < header.frameCount; ++k) {
            CheckStop(hooks);
            uint8_t* frame = recorder->NextFrame();
            if (input.ReadRowsBottomUp(frame, rows, rowBytes, stride) != rows * rowBytes)
                Refuse(path, rtl::Format("the file ended in frame %d of %d", k + 1, header.frameCount));
            for (size_t row = 0; row < rows; ++row) TransformFrame(frame + row * stride, header.width);
            if (hooks.progress) hooks.progress(ProgressValue(k, header.frameCount));
            recorder->AddFilledFrame();
        }
        CheckStop(hooks);
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
    if (hooks.completed)
        hooks.completed({recorder->WorkingPath(), recorder->FrameCount(), recorder->DataRate(),
                         recorder->FramesOverDataRate()});
    return ConversionResult::Completed;
}

} // namespace converter
