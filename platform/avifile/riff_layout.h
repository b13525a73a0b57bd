#pragma once
// The on-disk records of an AVI file (little-endian, packed) and the limits
// of the layout: where the first RIFF ends and OpenDML takes over.
#include <bit>
#include <cstddef>
#include <cstdint>

#include "platform/avifile/avifile.h"

namespace avifile::riff {

static_assert(std::endian::native == std::endian::little, "the records are written as they lie in memory");

// A RIFF list stays below 1 GiB, as AVI 1.0 readers and the OpenDML
// convention expect; the next frame then opens a "RIFF AVIX" extension.
constexpr uint64_t kRiffLimit = uint64_t{1} << 30;
// One standard index (and the legacy index) covers at most this many frames.
constexpr uint32_t kMaxSegmentFrames = 1u << 20;
// Entries reserved in the super index: one per RIFF list, about 1 TiB in all.
constexpr uint32_t kSuperIndexEntries = 1024;
// A single frame must fit into a RIFF list together with the headers.
constexpr size_t kMaxFrameBytes = size_t{1} << 29;

constexpr DWORD AVIF_HASINDEX = 0x10;
constexpr DWORD AVIF_ISINTERLEAVED = 0x100;
constexpr uint8_t AVI_INDEX_OF_INDEXES = 0;
constexpr uint8_t AVI_INDEX_OF_CHUNKS = 1;
constexpr uint32_t kNotKeyFrameBit = 0x80000000u;

#pragma pack(push, 1)
struct MainHeader { // "avih"
    uint32_t dwMicroSecPerFrame;
    uint32_t dwMaxBytesPerSec;
    uint32_t dwPaddingGranularity;
    uint32_t dwFlags;
    uint32_t dwTotalFrames; // frames of the first RIFF list
    uint32_t dwInitialFrames;
    uint32_t dwStreams;
    uint32_t dwSuggestedBufferSize;
    uint32_t dwWidth;
    uint32_t dwHeight;
    uint32_t dwReserved[4];
};
static_assert(sizeof(MainHeader) == 56);

struct StreamHeader { // "strh"
    uint32_t fccType;
    uint32_t fccHandler;
    uint32_t dwFlags;
    uint16_t wPriority;
    uint16_t wLanguage;
    uint32_t dwInitialFrames;
    uint32_t dwScale;
    uint32_t dwRate;
    uint32_t dwStart;
    uint32_t dwLength; // frames of the whole stream
    uint32_t dwSuggestedBufferSize;
    uint32_t dwQuality;
    uint32_t dwSampleSize;
    int16_t left, top, right, bottom;
};
static_assert(sizeof(StreamHeader) == 56);

struct LegacyIndexEntry { // "idx1"
    uint32_t ckid;
    uint32_t dwFlags;
    uint32_t dwChunkOffset; // of the chunk header, from the "movi" code
    uint32_t dwChunkLength;
};
static_assert(sizeof(LegacyIndexEntry) == 16);

struct IndexHeader { // "indx" and "ix00"
    uint16_t wLongsPerEntry;
    uint8_t bIndexSubType;
    uint8_t bIndexType;
    uint32_t nEntriesInUse;
    uint32_t dwChunkId;
    uint32_t dwReserved[3]; // standard index: 64-bit base offset, then 0
};
static_assert(sizeof(IndexHeader) == 24);

struct StandardIndexEntry {
    uint32_t dwOffset; // of the chunk data, from the base offset
    uint32_t dwSize;   // bit 31 set: not a key frame
};
static_assert(sizeof(StandardIndexEntry) == 8);

struct SuperIndexEntry {
    uint64_t qwOffset; // of the "ix00" chunk header
    uint32_t dwSize;   // of the "ix00" chunk, header included
    uint32_t dwDuration;
};
static_assert(sizeof(SuperIndexEntry) == 16);
#pragma pack(pop)

constexpr uint32_t kDmlhSize = 248;
constexpr uint32_t kSuperIndexBytes = sizeof(IndexHeader) + kSuperIndexEntries * sizeof(SuperIndexEntry);

} // namespace avifile::riff
