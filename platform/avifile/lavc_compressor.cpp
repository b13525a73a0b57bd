#include "platform/avifile/lavc_compressor.h"

#include <algorithm>
#include <cstring>
#include <mutex>
#include <vector>

#include "platform/avifile/lavc_library.h"

namespace avifile {

namespace {

// The library's functions; compressors are made only once Lavc() loaded them.
const LavcLibrary& L() { return *Lavc(); }

// Zero bytes after the copy of a frame the scaler reads (libavcodec's own
// input padding).
constexpr size_t kReadPadding = AV_INPUT_BUFFER_PADDING_SIZE;
static_assert(kFrameReadPadding >= kReadPadding);

struct CodecContextDeleter {
    void operator()(AVCodecContext* c) const { L().avcodec_free_context(&c); }
};
struct FrameDeleter {
    void operator()(AVFrame* f) const { L().av_frame_free(&f); }
};
struct PacketDeleter {
    void operator()(AVPacket* p) const { L().av_packet_free(&p); }
};
struct SwsDeleter {
    void operator()(SwsContext* s) const { L().sws_freeContext(s); }
};
using CodecContextPtr = std::unique_ptr<AVCodecContext, CodecContextDeleter>;
using FramePtr = std::unique_ptr<AVFrame, FrameDeleter>;
using PacketPtr = std::unique_ptr<AVPacket, PacketDeleter>;
using SwsPtr = std::unique_ptr<SwsContext, SwsDeleter>;

AVCodecID CodecId(LavcCodec codec)
{
    switch (codec) {
    case LavcCodec::Mpeg4: return AV_CODEC_ID_MPEG4;
    case LavcCodec::Mjpeg: return AV_CODEC_ID_MJPEG;
    case LavcCodec::Huffyuv: return AV_CODEC_ID_HUFFYUV;
    case LavcCodec::Ffv1: return AV_CODEC_ID_FFV1;
    }
    return AV_CODEC_ID_NONE;
}

// Pixel formats in order of preference: lossless codecs keep RGB.
const AVPixelFormat* Preferred(LavcCodec codec)
{
    static const AVPixelFormat mpeg4[] = {AV_PIX_FMT_YUV420P, AV_PIX_FMT_NONE};
    static const AVPixelFormat mjpeg[] = {AV_PIX_FMT_YUVJ420P, AV_PIX_FMT_NONE};
    static const AVPixelFormat huffyuv[] = {AV_PIX_FMT_RGB24, AV_PIX_FMT_BGRA, AV_PIX_FMT_NONE};
    static const AVPixelFormat ffv1[] = {AV_PIX_FMT_BGR0, AV_PIX_FMT_BGRA, AV_PIX_FMT_NONE};
    switch (codec) {
    case LavcCodec::Mpeg4: return mpeg4;
    case LavcCodec::Mjpeg: return mjpeg;
    case LavcCodec::Huffyuv: return huffyuv;
    case LavcCodec::Ffv1: return ffv1;
    }
    return mpeg4;
}

bool QualityControlled(LavcCodec codec) { return codec == LavcCodec::Mpeg4 || codec == LavcCodec::Mjpeg; }

AVPixelFormat ChoosePixelFormat(const AVCodec* encoder, LavcCodec codec)
{
    for (const AVPixelFormat* want = Preferred(codec); *want != AV_PIX_FMT_NONE; ++want) {
        if (!encoder->pix_fmts) return *want;
        for (const AVPixelFormat* has = encoder->pix_fmts; *has != AV_PIX_FMT_NONE; ++has)
            if (*has == *want && L().sws_isSupportedOutput(*want)) return *want;
    }
    return AV_PIX_FMT_NONE;
}

void QuietLibraryLog()
{
    static std::once_flag once;
    std::call_once(once, [] { L().av_log_set_level(AV_LOG_ERROR); });
}

class LavcCompressor final : public VideoCompressor {
public:
    LavcCompressor(const LavcCodecSetup& setup, const CompressorSettings& settings) : setup_(setup), settings_(settings)
    {
    }

    HRESULT Begin(const InputFrameFormat& input, std::vector<uint8_t>& outputFormat) override
    {
        QuietLibraryLog();
        context_.reset();
        const AVCodec* encoder = L().avcodec_find_encoder(CodecId(setup_.codec));
        if (!encoder) return AVIERR_NOCOMPRESSOR;
        const AVPixelFormat pixelFormat = ChoosePixelFormat(encoder, setup_.codec);
        if (pixelFormat == AV_PIX_FMT_NONE) return AVIERR_NOCOMPRESSOR;
        input_ = input;

        HRESULT hr = OpenEncoder(encoder, pixelFormat, 0);
        if (hr != AVIERR_OK) hr = OpenEncoder(encoder, pixelFormat, 1); // some set-ups refuse threads
        if (hr != AVIERR_OK) return hr;

        scaler_.reset(L().sws_getContext(input.width, input.height, AV_PIX_FMT_BGR24, input.width, input.height,
                                     pixelFormat, SWS_BICUBIC, nullptr, nullptr, nullptr));
        if (!scaler_) return AVIERR_BADFORMAT;
        for (FramePtr& f : frames_) {
            f.reset(L().av_frame_alloc());
            if (!f) return AVIERR_MEMORY;
            f->format = pixelFormat;
            f->width = input.width;
            f->height = input.height;
            if (L().av_frame_get_buffer(f.get(), 0) < 0) return AVIERR_MEMORY;
        }
        packet_.reset(L().av_packet_alloc());
        if (!packet_) return AVIERR_MEMORY;

        const uint32_t extra = static_cast<uint32_t>(std::max(context_->extradata_size, 0));
        const uint16_t bits =
            context_->bits_per_coded_sample > 0 ? static_cast<uint16_t>(context_->bits_per_coded_sample) : 24;
        gdi::BITMAPINFOHEADER h = CompressedHeader(input, setup_.compression, bits, extra);
        outputFormat.resize(sizeof h + extra);
        std::memcpy(outputFormat.data(), &h, sizeof h);
        if (extra) std::memcpy(outputFormat.data() + sizeof h, context_->extradata, extra);
        nextPts_ = 0;
        return AVIERR_OK;
    }

    HRESULT Compress(const uint8_t* frame, FrameSink& sink) override
    {
        if (!context_) return AVIERR_COMPRESSOR;
        // Two frames in turn: the encoder may still hold the previous one.
        AVFrame* picture = frames_[nextPts_ & 1].get();
        if (L().av_frame_make_writable(picture) < 0) return AVIERR_MEMORY;
        // libswscale's packed-RGB readers load 4 bytes for each 3-byte pixel,
        // so the row at the highest address is read past its end. A frame
        // that may end right there is read from a copy followed by padding.
        if (input_.readableAfter < kReadPadding) {
            const size_t frameBytes = input_.stride * static_cast<size_t>(input_.height);
            if (padded_.size() != frameBytes + kReadPadding) padded_.assign(frameBytes + kReadPadding, 0);
            std::memcpy(padded_.data(), frame, frameBytes);
            frame = padded_.data();
        }
        const uint8_t* src[4] = {input_.TopRow(frame), nullptr, nullptr, nullptr};
        const int srcStride[4] = {static_cast<int>(input_.DownStep()), 0, 0, 0};
        L().sws_scale(scaler_.get(), src, srcStride, 0, input_.height, picture->data, picture->linesize);
        picture->pict_type = AV_PICTURE_TYPE_I;
        if (FrameBudget() > 0) return CompressWithinBudget(picture, sink);
        picture->pts = nextPts_++;
        picture->quality = context_->global_quality;
        if (L().avcodec_send_frame(context_.get(), picture) < 0) return AVIERR_COMPRESSOR;
        return Drain(sink);
    }

    HRESULT Flush(FrameSink& sink) override
    {
        if (!context_ || flushed_) return AVIERR_OK;
        flushed_ = true;
        if (L().avcodec_send_frame(context_.get(), nullptr) < 0) return AVIERR_COMPRESSOR;
        return Drain(sink);
    }

private:
    // Bytes one frame may take under the data rate; 0 without one.
    size_t FrameBudget() const
    {
        return QualityControlled(setup_.codec) ? settings_.FrameShare() : 0;
    }

    // One encoding of the picture at quantiser q into `out`; the encoder
    // answers each intra frame at once (no frame threads with a budget).
    HRESULT EncodeAt(AVFrame* picture, int q, std::vector<uint8_t>& out)
    {
        picture->pts = nextPts_++;
        picture->quality = FF_QP2LAMBDA * q;
        if (L().avcodec_send_frame(context_.get(), picture) < 0) return AVIERR_COMPRESSOR;
        out.clear();
        for (;;) {
            const int rc = L().avcodec_receive_packet(context_.get(), packet_.get());
            if (rc == AVERROR(EAGAIN) || rc == AVERROR_EOF) break;
            if (rc < 0) return AVIERR_COMPRESSOR;
            out.insert(out.end(), packet_->data, packet_->data + packet_->size);
            L().av_packet_unref(packet_.get());
        }
        return out.empty() ? AVIERR_COMPRESSOR : AVIERR_OK;
    }

    // The frame at the finest quantiser, from the quality's on, that fits
    // the frame's share of the data rate (found by halving the range); at
    // the coarsest quantiser when none does. Each frame on its own, so the
    // result does not depend on which worker compressed which frame.
    HRESULT CompressWithinBudget(AVFrame* picture, FrameSink& sink)
    {
        const size_t budget = FrameBudget();
        int tooFine = QualityToQuantiser(EffectiveQuality(settings_.quality, setup_.defaultQuality));
        HRESULT hr = EncodeAt(picture, tooFine, encoded_);
        if (hr != AVIERR_OK) return hr;
        if (encoded_.size() <= budget || tooFine >= kCoarsestQuantiser) return Put(sink);
        int fits = kCoarsestQuantiser;
        if ((hr = EncodeAt(picture, fits, best_)) != AVIERR_OK) return hr;
        if (best_.size() <= budget)
            while (fits - tooFine > 1) {
                const int q = (tooFine + fits) / 2;
                if ((hr = EncodeAt(picture, q, encoded_)) != AVIERR_OK) return hr;
                if (encoded_.size() <= budget) {
                    best_.swap(encoded_);
                    fits = q;
                } else {
                    tooFine = q;
                }
            }
        encoded_.swap(best_);
        return Put(sink);
    }

    HRESULT Put(FrameSink& sink) { return sink.Put(encoded_.data(), encoded_.size(), true); }

    static constexpr int kCoarsestQuantiser = 31;

    HRESULT OpenEncoder(const AVCodec* encoder, AVPixelFormat pixelFormat, int threads)
    {
        CodecContextPtr c(L().avcodec_alloc_context3(encoder));
        if (!c) return AVIERR_MEMORY;
        c->width = input_.width;
        c->height = input_.height;
        c->pix_fmt = pixelFormat;
        int num = 1, den = 25;
        L().av_reduce(&num, &den, std::max<DWORD>(settings_.scale, 1), std::max<DWORD>(settings_.rate, 1), 65535);
        c->time_base = AVRational{num, den};
        c->framerate = AVRational{den, num};
        c->gop_size = 0; // intra frames only
        c->max_b_frames = 0;
        // Frame threads would hand each frame out a few calls later, and the
        // writer's pool places a frame by the call that took it. An encoder
        // that offers them gets none (frames are compressed side by side by
        // the pool, and its output is the same as with frame threads); the
        // others keep their slice threads, which shape their output.
        if (encoder->capabilities & AV_CODEC_CAP_FRAME_THREADS) {
            c->thread_count = 1;
        } else {
            c->thread_count = threads;
            c->thread_type = FF_THREAD_SLICE;
        }
        c->codec_tag = setup_.compression;
        if (pixelFormat == AV_PIX_FMT_YUVJ420P) c->color_range = AVCOL_RANGE_JPEG;
        if (QualityControlled(setup_.codec)) {
            // A data rate is kept frame by frame (Compress): the library's own
            // rate control averages, overshoots on short clips, and each
            // worker of the writer's pool would keep it for its frames alone.
            c->flags |= AV_CODEC_FLAG_QSCALE;
            c->global_quality =
                FF_QP2LAMBDA * QualityToQuantiser(EffectiveQuality(settings_.quality, setup_.defaultQuality));
        }
        if (L().avcodec_open2(c.get(), encoder, nullptr) < 0) return AVIERR_BADFORMAT;
        context_ = std::move(c);
        return AVIERR_OK;
    }

    HRESULT Drain(FrameSink& sink)
    {
        for (;;) {
            int rc = L().avcodec_receive_packet(context_.get(), packet_.get());
            if (rc == AVERROR(EAGAIN) || rc == AVERROR_EOF) return AVIERR_OK;
            if (rc < 0) return AVIERR_COMPRESSOR;
            HRESULT hr =
                sink.Put(packet_->data, static_cast<size_t>(packet_->size), (packet_->flags & AV_PKT_FLAG_KEY) != 0);
            L().av_packet_unref(packet_.get());
            if (hr != AVIERR_OK) return hr;
        }
    }

    LavcCodecSetup setup_;
    CompressorSettings settings_;
    InputFrameFormat input_;
    CodecContextPtr context_;
    SwsPtr scaler_;
    FramePtr frames_[2];
    PacketPtr packet_;
    std::vector<uint8_t> padded_; // the frame being converted, then zeros
    std::vector<uint8_t> encoded_, best_; // encodings of one frame under a data rate
    int64_t nextPts_ = 0;
    bool flushed_ = false;
};

} // namespace

int QualityToQuantiser(DWORD quality)
{
    quality = std::min<DWORD>(quality, 10000);
    return 31 - static_cast<int>((quality * 29 + 5000) / 10000);
}

bool LavcAvailable(LavcCodec codec)
{
    if (!Lavc()) return false;
    const AVCodec* encoder = L().avcodec_find_encoder(CodecId(codec));
    return encoder && ChoosePixelFormat(encoder, codec) != AV_PIX_FMT_NONE && L().sws_isSupportedInput(AV_PIX_FMT_BGR24);
}

std::unique_ptr<VideoCompressor> MakeLavcCompressor(const LavcCodecSetup& setup, const CompressorSettings& settings)
{
    return std::make_unique<LavcCompressor>(setup, settings);
}

} // namespace avifile
