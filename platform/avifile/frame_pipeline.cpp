#include "platform/avifile/frame_pipeline.h"

#include <cstdlib>
#include <memory>
#include <new>

namespace avifile {

enum class SlotState { Free, Filling, Waiting, Compressing, Done };

struct FramePipeline::Slot {
    // The frame, then kFrameReadPadding zero bytes. From calloc: a large
    // block comes zeroed from the kernel, page by page as it is first
    // written, instead of being cleared whole at the start.
    std::unique_ptr<uint8_t, decltype(&std::free)> input{nullptr, &std::free};
    std::vector<uint8_t> output; // the compressed frame
    bool keyFrame = true;
    HRESULT result = AVIERR_OK;
    SlotState state = SlotState::Free;
};

namespace {

// Keeps the one compressed frame a compressor hands out for an input frame.
class SlotSink final : public FrameSink {
public:
    SlotSink(std::vector<uint8_t>& bytes, bool& keyFrame) : bytes_(bytes), keyFrame_(keyFrame) {}
    HRESULT Put(const uint8_t* data, size_t size, bool keyFrame) override
    {
        if (++count_ > 1) return AVIERR_COMPRESSOR;
        bytes_.assign(data, data + size);
        keyFrame_ = keyFrame;
        return AVIERR_OK;
    }
    int Count() const { return count_; }

private:
    std::vector<uint8_t>& bytes_;
    bool& keyFrame_;
    int count_ = 0;
};

} // namespace

FramePipeline::FramePipeline(std::vector<std::unique_ptr<VideoCompressor>> compressors, size_t frameBytes,
                             FrameSink& out)
    : compressors_(std::move(compressors)), out_(out)
{
    const bool parallel = compressors_.size() > 1;
    // Two frames per worker keep every worker busy while the caller fills
    // and writes; one more is being filled.
    const size_t slots = parallel ? compressors_.size() * 2 + 1 : 1;
    for (size_t i = 0; i < slots; ++i) {
        auto slot = std::make_unique<Slot>();
        slot->input.reset(static_cast<uint8_t*>(std::calloc(frameBytes + kFrameReadPadding, 1)));
        if (!slot->input) throw std::bad_alloc();
        slots_.push_back(std::move(slot));
    }
    if (parallel)
        for (auto& compressor : compressors_)
            threads_.emplace_back([this, c = compressor.get()] { Work(*c); });
}

FramePipeline::~FramePipeline()
{
    {
        std::lock_guard<std::mutex> guard(lock_);
        stopping_ = true;
    }
    work_.notify_all();
    threads_.clear(); // joins: a worker ends after the frame it is compressing
}

uint8_t* FramePipeline::Data(Slot* slot) { return slot->input.get(); }

HRESULT FramePipeline::Fail(HRESULT hr)
{
    if (failure_ == AVIERR_OK) failure_ = hr;
    return failure_;
}

FramePipeline::Slot* FramePipeline::Acquire()
{
    std::unique_lock<std::mutex> lock(lock_);
    for (;;) {
        if (failure_ != AVIERR_OK || WriteDone(lock) != AVIERR_OK) return nullptr;
        for (auto& slot : slots_)
            if (slot->state == SlotState::Free) {
                slot->state = SlotState::Filling;
                return slot.get();
            }
        done_.wait(lock);
    }
}

HRESULT FramePipeline::Submit(Slot* slot)
{
    if (failure_ != AVIERR_OK) return failure_;
    if (threads_.empty()) {
        // On the caller's thread, straight into the file.
        slot->state = SlotState::Free;
        const HRESULT hr = compressors_.front()->Compress(slot->input.get(), out_);
        return hr == AVIERR_OK ? hr : Fail(hr);
    }
    std::unique_lock<std::mutex> lock(lock_);
    slot->state = SlotState::Waiting;
    waiting_.push_back(slot);
    order_.push_back(slot);
    work_.notify_one();
    return WriteDone(lock);
}

// Writes the finished frames at the front of the order; the lock is let go
// while a frame is written, so the workers go on.
HRESULT FramePipeline::WriteDone(std::unique_lock<std::mutex>& lock)
{
    while (failure_ == AVIERR_OK && !order_.empty() && order_.front()->state == SlotState::Done) {
        Slot* slot = order_.front();
        order_.pop_front();
        lock.unlock();
        HRESULT hr = slot->result;
        if (hr == AVIERR_OK) hr = out_.Put(slot->output.data(), slot->output.size(), slot->keyFrame);
        lock.lock();
        slot->state = SlotState::Free;
        if (hr != AVIERR_OK) Fail(hr);
    }
    return failure_;
}

HRESULT FramePipeline::Finish()
{
    {
        std::unique_lock<std::mutex> lock(lock_);
        while (failure_ == AVIERR_OK && !order_.empty()) {
            if (WriteDone(lock) != AVIERR_OK) break;
            if (!order_.empty()) done_.wait(lock);
        }
    }
    if (failure_ != AVIERR_OK) return failure_;
    for (auto& compressor : compressors_) {
        const HRESULT hr = compressor->Flush(out_);
        if (hr != AVIERR_OK) return Fail(hr);
    }
    return AVIERR_OK;
}

void FramePipeline::Work(VideoCompressor& compressor)
{
    std::unique_lock<std::mutex> lock(lock_);
    for (;;) {
        work_.wait(lock, [this] { return stopping_ || !waiting_.empty(); });
        if (stopping_) return;
        Slot* slot = waiting_.front();
        waiting_.pop_front();
        slot->state = SlotState::Compressing;
        lock.unlock();
        SlotSink sink(slot->output, slot->keyFrame);
        HRESULT hr = AVIERR_MEMORY;
        try {
            hr = compressor.Compress(slot->input.get(), sink);
        } catch (const std::bad_alloc&) {
        }
        // Frames are placed by the order they came in: a compressor that
        // held a frame back would shift every later one.
        if (hr == AVIERR_OK && sink.Count() != 1) hr = AVIERR_COMPRESSOR;
        lock.lock();
        slot->result = hr;
        slot->state = SlotState::Done;
        done_.notify_all();
    }
}

} // namespace avifile
