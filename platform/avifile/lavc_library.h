#pragma once
// libavcodec, libavutil and libswscale, loaded when a compressor first needs
// them. They bring about a hundred libraries with them, whose loading and
// relocation made most of a conversion's start while they were linked: a
// program that writes full frames or Microsoft Video 1 never loads them.
extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/frame.h>
#include <libavutil/rational.h>
#include <libswscale/swscale.h>
#include <libswscale/version.h>
#include <libavcodec/version.h>
#include <libavutil/version.h>
}

namespace avifile {

// The functions the library compressors call, by their own names.
struct LavcLibrary {
    decltype(&::avcodec_find_encoder) avcodec_find_encoder = nullptr;
    decltype(&::avcodec_alloc_context3) avcodec_alloc_context3 = nullptr;
    decltype(&::avcodec_free_context) avcodec_free_context = nullptr;
    decltype(&::avcodec_open2) avcodec_open2 = nullptr;
    decltype(&::avcodec_send_frame) avcodec_send_frame = nullptr;
    decltype(&::avcodec_receive_packet) avcodec_receive_packet = nullptr;
    decltype(&::av_packet_alloc) av_packet_alloc = nullptr;
    decltype(&::av_packet_free) av_packet_free = nullptr;
    decltype(&::av_packet_unref) av_packet_unref = nullptr;
    decltype(&::av_frame_alloc) av_frame_alloc = nullptr;
    decltype(&::av_frame_free) av_frame_free = nullptr;
    decltype(&::av_frame_get_buffer) av_frame_get_buffer = nullptr;
    decltype(&::av_frame_make_writable) av_frame_make_writable = nullptr;
    decltype(&::av_log_set_level) av_log_set_level = nullptr;
    decltype(&::av_reduce) av_reduce = nullptr;
    decltype(&::sws_getContext) sws_getContext = nullptr;
    decltype(&::sws_freeContext) sws_freeContext = nullptr;
    decltype(&::sws_scale) sws_scale = nullptr;
    decltype(&::sws_isSupportedInput) sws_isSupportedInput = nullptr;
    decltype(&::sws_isSupportedOutput) sws_isSupportedOutput = nullptr;
};

// The libraries of the major versions this program was built with, loaded
// at the first call and kept to the end of the process (thread-safe). Null
// when one of them or one of the functions is missing.
const LavcLibrary* Lavc();

} // namespace avifile
