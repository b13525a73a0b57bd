#pragma once
// Layout constants of the stored reporter data that the build-time tool
// writes into a module and the reporter reads back: the `.tldata` section
// (or the block at the end of the file), its debug part, and the `.tlversion`
// section. docs/stored-data.md describes the layouts byte by byte.
#include <cstddef>
#include <cstdint>

namespace crashreport::stored {

// First four bytes of the `.tldata` section and last four of the file-end form.
inline constexpr std::uint32_t kMagic = 0x000FAB10;

// The format this reporter writes: 5.1.5 with the inlined calls.
inline constexpr std::uint16_t kCurrentVersion = 516;
// The version a module without stored data is given: the reporter's own.
inline constexpr std::uint16_t kReporterVersion = 515;

// Version bounds where the layouts change.
inline constexpr std::uint16_t kFirstCompressedVersion = 450;    // zlib from here on
inline constexpr std::uint16_t kFirstSectionedVersion = 500;     // symbols, options, check value
inline constexpr std::uint16_t kFirstPrefixedNameVersion = 502;  // names with a qualifying prefix
inline constexpr std::uint16_t kFirstWideStepVersion = 423;      // line steps with 16-bit deltas
inline constexpr std::uint16_t kFirstSkippedHeaderVersion = 405; // 405..499 start with a skipped block
inline constexpr std::uint16_t kFirstInlinedCallVersion = 516;   // procedure starts name their inlined call

// Code offsets in the debug data count from the module handle plus this.
inline constexpr std::uintptr_t kCodeBase = 0x1000;

// Section names in the module file.
inline constexpr const char* kDataSection = ".tldata";
inline constexpr const char* kVersionSection = ".tlversion";

// The escape value of a 32-bit line step: 16-bit deltas follow.
inline constexpr std::uint32_t kWideStepEscape = 0xFFEFFFE;
// High part of a 32-bit line step that means "no code advance".
inline constexpr std::uint32_t kZeroCodeDelta = 4095;

// From version 500 on, a name whose deciphered text is this byte and a
// 4-byte offset repeats the name stored at that earlier offset of the
// debug data (a length byte and its characters).
inline constexpr std::uint8_t kNameReferenceMark = 0x01;
inline constexpr std::size_t kNameReferenceSize = 5;

// Names of versions below 500 are scrambled with this byte.
inline constexpr std::uint8_t kNameScrambleByte = 0xA7;

// Symbol identifiers of the symbol table: runtime routines of the module
// that the reporter may hook when they are linked into it.
enum TStoredSymbolId : std::uint8_t {
    siCxaThrow = 1,     // __cxa_throw
    siUnwindRaise = 2,  // _Unwind_RaiseException
    siTerminate = 3,    // std::terminate()
    siCxaRethrow = 4,   // __cxa_rethrow
    siThreadCreate = 5, // pthread_create
    siThreadExit = 6,   // pthread_exit
};

// `.tlversion`: four little-endian 16-bit numbers (major, minor, release,
// build), then the description's length (32 bits) and its bytes.
struct TVersionNumbers {
    std::uint16_t Major = 0, Minor = 0, Release = 0, Build = 0;
};

} // namespace crashreport::stored
