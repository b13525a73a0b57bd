#pragma once
// Compresses frames on a small pool of workers, one compressor each, and
// writes them to the file in the order they were handed in. Every frame is
// a key frame, so frames do not depend on one another and any worker may
// take any frame. Frames live in a fixed set of buffers (a few per worker):
// the caller fills a free one, hands it in and, when all are taken, waits
// for the oldest to be written, so memory stays the same however long the
// video is. Without workers the caller's own thread compresses each frame
// as it is handed in.
//
// One thread fills and hands in frames and does all the writing; the
// workers only compress.
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "platform/avifile/compressor.h"

namespace avifile {

class FramePipeline {
public:
    struct Slot;

    // compressors: begun, one per worker; with a single one the frames are
    // compressed on the caller's thread. frameBytes: one input frame; every
    // buffer has kFrameReadPadding more bytes after it. Compressed frames go
    // to out.
    FramePipeline(std::vector<std::unique_ptr<VideoCompressor>> compressors, size_t frameBytes, FrameSink& out);
    ~FramePipeline();
    FramePipeline(const FramePipeline&) = delete;
    FramePipeline& operator=(const FramePipeline&) = delete;

    // A free buffer for the next frame; writes finished frames meanwhile.
    // Null after a failure (Result() tells it).
    Slot* Acquire();
    static uint8_t* Data(Slot* slot);
    // Hands the filled buffer in; the frame takes the next place in the file.
    HRESULT Submit(Slot* slot);
    // Waits until every frame handed in is written; then lets the
    // compressors hand out what they still hold.
    HRESULT Finish();
    HRESULT Result() const { return failure_; }
    size_t Workers() const { return threads_.size(); }

private:
    void Work(VideoCompressor& compressor);
    HRESULT WriteDone(std::unique_lock<std::mutex>& lock);
    HRESULT Fail(HRESULT hr);

    std::vector<std::unique_ptr<VideoCompressor>> compressors_;
    FrameSink& out_;
    std::vector<std::unique_ptr<Slot>> slots_;
    HRESULT failure_ = AVIERR_OK;

    std::mutex lock_;
    std::condition_variable work_; // a frame waits for a worker, or the pool ends
    std::condition_variable done_; // a worker finished a frame
    std::deque<Slot*> waiting_;    // handed in, not yet taken by a worker
    std::deque<Slot*> order_;      // handed in, not yet written, in frame order
    bool stopping_ = false;
    std::vector<std::jthread> threads_;
};

} // namespace avifile
