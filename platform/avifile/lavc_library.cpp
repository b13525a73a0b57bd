#include "platform/avifile/lavc_library.h"

#include <memory>
#include <string>

#include "platform/kernel/libraries.h"

namespace avifile {
namespace {

#define VEK_STRINGIFY2(x) #x
#define VEK_STRINGIFY(x) VEK_STRINGIFY2(x)

// The file names the dynamic linker knows the libraries by (their sonames).
constexpr const char* kAvutil = "libavutil.so." VEK_STRINGIFY(LIBAVUTIL_VERSION_MAJOR);
constexpr const char* kAvcodec = "libavcodec.so." VEK_STRINGIFY(LIBAVCODEC_VERSION_MAJOR);
constexpr const char* kSwscale = "libswscale.so." VEK_STRINGIFY(LIBSWSCALE_VERSION_MAJOR);
#undef VEK_STRINGIFY
#undef VEK_STRINGIFY2

template <typename T> bool Bind(const kernel::TLibraryHandle& library, const char* name, T& function)
{
    function = reinterpret_cast<T>(library.Symbol(name));
    return function != nullptr;
}

// The libraries and their functions, together for as long as the process runs.
struct LoadedLavc {
    kernel::TLibraryHandle avutil, avcodec, swscale;
    LavcLibrary functions;
};

const LavcLibrary* Load()
{
    std::string error;
    auto loaded = std::make_unique<LoadedLavc>();
    loaded->avutil = kernel::TLibraryHandle::Load(kAvutil, error);
    loaded->avcodec = kernel::TLibraryHandle::Load(kAvcodec, error);
    loaded->swscale = kernel::TLibraryHandle::Load(kSwscale, error);
    if (!loaded->avutil.Valid() || !loaded->avcodec.Valid() || !loaded->swscale.Valid()) return nullptr;
    LavcLibrary& l = loaded->functions;
#define VEK_BIND(library, name) Bind(loaded->library, #name, l.name)
    const bool bound = VEK_BIND(avcodec, avcodec_find_encoder) && VEK_BIND(avcodec, avcodec_alloc_context3) &&
        VEK_BIND(avcodec, avcodec_free_context) && VEK_BIND(avcodec, avcodec_open2) &&
        VEK_BIND(avcodec, avcodec_send_frame) && VEK_BIND(avcodec, avcodec_receive_packet) &&
        VEK_BIND(avcodec, av_packet_alloc) && VEK_BIND(avcodec, av_packet_free) &&
        VEK_BIND(avcodec, av_packet_unref) && VEK_BIND(avutil, av_frame_alloc) && VEK_BIND(avutil, av_frame_free) &&
        VEK_BIND(avutil, av_frame_get_buffer) && VEK_BIND(avutil, av_frame_make_writable) &&
        VEK_BIND(avutil, av_log_set_level) && VEK_BIND(avutil, av_reduce) && VEK_BIND(swscale, sws_getContext) &&
        VEK_BIND(swscale, sws_freeContext) && VEK_BIND(swscale, sws_scale) &&
        VEK_BIND(swscale, sws_isSupportedInput) && VEK_BIND(swscale, sws_isSupportedOutput);
#undef VEK_BIND
    if (!bound) return nullptr;
    // Never unloaded: compressors of any thread may run until the end.
    return &loaded.release()->functions;
}

} // namespace

const LavcLibrary* Lavc()
{
    static const LavcLibrary* const library = Load();
    return library;
}

} // namespace avifile
