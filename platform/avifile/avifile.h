#pragma once
// The AVI library: files with one video stream, compressors chosen by
// FourCC, and the compression-options dialog. Its functions and records keep
// the shape and result codes the recorder is written against.
//
// Files are RIFF AVI; a file switches to OpenDML (AVI 2.0) before it reaches
// 1 GiB, so files of any length stay valid. Releasing the last handle of a
// file finalises it (headers, frame count and indexes written, file closed).
#include <cstdint>
#include <string>
#include <vector>

#include "platform/gdi/dib.h"

namespace avifile {

using HRESULT = int32_t;
using DWORD = uint32_t;
using LONG = int32_t;
using UINT = unsigned;
using FOURCC = uint32_t;

constexpr FOURCC MakeFourCC(char a, char b, char c, char d)
{
    return static_cast<FOURCC>(static_cast<uint8_t>(a)) | (static_cast<FOURCC>(static_cast<uint8_t>(b)) << 8) |
        (static_cast<FOURCC>(static_cast<uint8_t>(c)) << 16) | (static_cast<FOURCC>(static_cast<uint8_t>(d)) << 24);
}
constexpr FOURCC FourCC(const char (&s)[5]) { return MakeFourCC(s[0], s[1], s[2], s[3]); }
std::string FourCCToString(FOURCC code);
// Four characters, shorter codes padded with blanks ("DIB" -> "DIB "); 0 when longer than 4.
FOURCC StringToFourCC(const std::string& text);

constexpr FOURCC streamtypeVIDEO = FourCC("vids");

// Result codes.
constexpr HRESULT AVIERR_OK = 0;
constexpr HRESULT MakeAviErr(int error)
{
    return static_cast<HRESULT>(0x80040000u | (0x4000u + static_cast<unsigned>(error)));
}
constexpr HRESULT AVIERR_UNSUPPORTED = MakeAviErr(101);
constexpr HRESULT AVIERR_BADFORMAT = MakeAviErr(102);
constexpr HRESULT AVIERR_MEMORY = MakeAviErr(103);
constexpr HRESULT AVIERR_INTERNAL = MakeAviErr(104);
constexpr HRESULT AVIERR_BADFLAGS = MakeAviErr(105);
constexpr HRESULT AVIERR_BADPARAM = MakeAviErr(106);
constexpr HRESULT AVIERR_BADSIZE = MakeAviErr(107);
constexpr HRESULT AVIERR_BADHANDLE = MakeAviErr(108);
constexpr HRESULT AVIERR_FILEREAD = MakeAviErr(109);
constexpr HRESULT AVIERR_FILEWRITE = MakeAviErr(110);
constexpr HRESULT AVIERR_FILEOPEN = MakeAviErr(111);
constexpr HRESULT AVIERR_COMPRESSOR = MakeAviErr(112);
constexpr HRESULT AVIERR_NOCOMPRESSOR = MakeAviErr(113); // 0x80044071
constexpr HRESULT AVIERR_READONLY = MakeAviErr(114);
constexpr HRESULT AVIERR_NODATA = MakeAviErr(115);
constexpr HRESULT AVIERR_BUFFERTOOSMALL = MakeAviErr(116);
constexpr HRESULT AVIERR_CANTCOMPRESS = MakeAviErr(117);
constexpr HRESULT AVIERR_USERABORT = MakeAviErr(198);
constexpr HRESULT AVIERR_ERROR = MakeAviErr(199);
static_assert(AVIERR_NOCOMPRESSOR == static_cast<HRESULT>(0x80044071u));

// Open modes.
constexpr UINT OF_WRITE = 0x0001;
constexpr UINT OF_CREATE = 0x1000;

// Sample flags.
constexpr DWORD AVIIF_KEYFRAME = 0x10;

struct RECT {
    LONG left, top, right, bottom;
};

struct AVISTREAMINFOA {
    DWORD fccType;
    DWORD fccHandler;
    DWORD dwFlags;
    DWORD dwCaps;
    uint16_t wPriority;
    uint16_t wLanguage;
    DWORD dwScale;
    DWORD dwRate;
    DWORD dwStart;
    DWORD dwLength;
    DWORD dwInitialFrames;
    DWORD dwSuggestedBufferSize;
    DWORD dwQuality;
    DWORD dwSampleSize;
    RECT rcFrame;
    DWORD dwEditCount;
    DWORD dwFormatChangeCount;
    char szName[64];
};

// Compression-options flags and dialog flags.
constexpr DWORD AVICOMPRESSF_INTERLEAVE = 0x1;
constexpr DWORD AVICOMPRESSF_DATARATE = 0x2;
constexpr DWORD AVICOMPRESSF_KEYFRAMES = 0x4;
constexpr DWORD AVICOMPRESSF_VALID = 0x8;
constexpr UINT ICMF_CHOOSE_KEYFRAME = 0x1;
constexpr UINT ICMF_CHOOSE_DATARATE = 0x2;
constexpr UINT ICMF_CHOOSE_PREVIEW = 0x4;

struct AVICOMPRESSOPTIONS {
    DWORD fccType;
    DWORD fccHandler;
    DWORD dwKeyFrameEvery;  // 0: the compressor's default; the recorder marks every frame a key frame anyway
    DWORD dwQuality;        // 0..10000; ICQUALITY_DEFAULT lets the compressor choose
    DWORD dwBytesPerSecond; // data rate, used when AVICOMPRESSF_DATARATE is set
    DWORD dwFlags;
    void* lpFormat;
    DWORD cbFormat;
    void* lpParms;
    DWORD cbParms;
    DWORD dwInterleaveEvery;
};
using LPAVICOMPRESSOPTIONS = AVICOMPRESSOPTIONS*;
constexpr DWORD ICQUALITY_LOW = 0;
constexpr DWORD ICQUALITY_HIGH = 10000;
constexpr DWORD ICQUALITY_DEFAULT = 0xFFFFFFFFu;

struct AVIFileObject;   // opaque, reference counted
struct AVIStreamObject; // opaque, reference counted
using PAVIFILE = AVIFileObject*;
using PAVISTREAM = AVIStreamObject*;
struct CLSID;

HRESULT AVIFileInit();
void AVIFileExit();

HRESULT AVIFileOpenA(PAVIFILE* file, const char* path, UINT mode, const CLSID* handler);
HRESULT AVIFileCreateStreamA(PAVIFILE file, PAVISTREAM* stream, const AVISTREAMINFOA* info);
// Returns the remaining reference count.
unsigned long AVIFileRelease(PAVIFILE file);
unsigned long AVIStreamRelease(PAVISTREAM stream);

// Completes the file now (frames still held by compressors, headers, frame
// count, indexes) and closes it, instead of at the last release, so the
// outcome can be seen: AVIERR_FILEWRITE when the file could not be
// completed (it is then removed, as it is when a release finalises it and
// fails). Later writes fail with AVIERR_FILEWRITE; the handles must still be
// released. A second call returns the first result.
HRESULT AVIFileFinalize(PAVIFILE file);

// The system's error number (errno) of the file's first failed write or
// close, 0 when nothing failed or the handle is unknown, so that a caller can
// tell a full disk from a size limit (an addition to the Windows set).
int AVIFileWriteError(PAVIFILE file);

HRESULT AVIMakeCompressedStream(PAVISTREAM* compressed, PAVISTREAM source, const AVICOMPRESSOPTIONS* options,
                                const CLSID* handler);
HRESULT AVIStreamSetFormat(PAVISTREAM stream, LONG position, const void* format, LONG formatSize);
HRESULT AVIStreamWrite(PAVISTREAM stream, LONG start, LONG samples, const void* buffer, LONG bufferSize, DWORD flags,
                       LONG* samplesWritten, LONG* bytesWritten);

// ---- compressor registry -------------------------------------------------

struct CompressorInfo {
    FOURCC fourcc;
    std::string name; // shown in the options dialog
    bool lossless;
    bool hasQuality;   // honours dwQuality
    bool hasDataRate;  // honours dwBytesPerSecond
    int widthMultiple; // frame width must be a multiple of this (1: any)
    int heightMultiple;
    DWORD defaultQuality; // what ICQUALITY_DEFAULT stands for (0 when hasQuality is false)
};

// Every installed compressor, "DIB " (full frames) first.
std::vector<CompressorInfo> InstalledCompressors();
bool FindCompressor(FOURCC fourcc, CompressorInfo* info);

} // namespace avifile
