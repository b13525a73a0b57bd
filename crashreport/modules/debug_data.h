#pragma once
// A module's debug data (units, line tables, procedure names, inlined
// calls) and the address lookup against it: address -> unit, class,
// procedure, line, and for inlined code every function it was inlined into,
// each at its call.
// The unit headers are indexed on the first lookup so later lookups go
// straight to the unit that holds the address.
// Not signal-safe: the lookup allocates the names it returns.
#include <cstdint>
#include <mutex>
#include <optional>
#include <span>
#include <string>
#include <unordered_map>
#include <vector>

#include "crashreport/modules/debug_name_codec.h"

namespace crashreport::stored {

// Appended to unit names that have no extension when names are readable.
// Units are source file names that already carry their own extension (or,
// for standard headers, none), so nothing is appended on this platform.
inline constexpr const char* kSourceFileExtension = "";

// One function at an address: its unit, class, procedure and line.
struct TDebugFrame {
    std::string UnitName;
    std::string ClassName;
    std::string ProcedureName;
    std::int32_t Line = 0;
    std::int32_t ProcOffsetLine = 0;
};

// The innermost function at an address (for inlined code the inlined
// function's own unit, procedure and line). Callers: for inlined code the
// functions it was inlined into, innermost first, each at the line of its
// call; the last one holds the code.
struct TDebugLineHit : TDebugFrame {
    std::vector<TDebugFrame> Callers;
};

// An inlined call of the call table (version 516 on), as indexed.
struct TDebugInlinedCall {
    std::uint32_t Parent = 0; // 0: none, else the parent's index + 1
    std::uint32_t Caller = 0; // 0: unknown, else index + 1 into the caller names
    std::uint32_t File = 0;   // 0: unknown, else index + 1 into the file names
    std::int32_t Line = 0;
};

struct TDebugUnitHeader {
    std::size_t NameOffset = 0; // where the unit's name starts
    std::int32_t FirstLine = 0;
    std::int64_t CodeStart = 0; // offset from handle + 0x1000
    std::int64_t CodeSize = 0;
    std::size_t TableOffset = 0; // first byte of the line table
    std::size_t TableSize = 0;
};

class TDebugData {
public:
    TDebugData(std::vector<std::uint8_t> bytes, std::uint16_t version);

    // The password decides whether the names can be deciphered.
    void SetNames(std::string_view password, bool readable);

    // Resolves an address of the module loaded at `handle`. Empty when no
    // unit covers it or the data is damaged there.
    std::optional<TDebugLineHit> Lookup(std::uintptr_t handle, std::uintptr_t address) const;

    const std::vector<std::uint8_t>& Bytes() const { return bytes_; }
    std::uint16_t Version() const { return version_; }
    // The unit headers, in stored order (built on first use).
    const std::vector<TDebugUnitHeader>& Units() const;
    // The unit's name as shown (deciphered, or "?" + base64).
    std::string UnitName(const TDebugUnitHeader& unit) const;

private:
    void BuildIndex() const;
    bool LookupInUnit(const TDebugUnitHeader& unit, std::uintptr_t handle, std::uintptr_t address,
                      TDebugLineHit& hit) const;
    // The callers of the inlined call `call` (index + 1; 0 for none).
    bool AddCallers(std::uint32_t call, TDebugLineHit& hit) const;
    // Reads the table of inlined calls after the last unit.
    void IndexInlinedCalls(class TByteReader& reader) const;
    // Appends the name at reader's position (prefix chain included) to out
    // and moves past it; false when damaged.
    bool AppendName(class TByteReader& reader, std::string& out, int depth = 0) const;
    // Appends the name piece at reader's position alone (no prefix), deciphered.
    bool AppendDecodedName(class TByteReader reader, std::string& out) const;
    bool SkipName(class TByteReader& reader, int depth = 0) const;
    // Appends the stored bytes of a name piece; SkipStoredName passes over it.
    bool AppendStoredName(class TByteReader& reader, std::string& out, bool& prefixed) const;
    bool SkipStoredName(class TByteReader& reader, bool& prefixed) const;
    // The name stored at `offset`, deciphered.
    bool NameAt(std::size_t offset, std::string& name) const;
    // Deciphers the stored bytes out[from..] of a name read at `at`, following a
    // reference to an earlier one.
    bool DecodeAppended(std::string& out, std::size_t from, std::size_t at) const;
    // Class and procedure of the procedure name at nameOffset; a name that
    // keeps the class takes it from the latest of `starts` (the procedure
    // names met so far) before it that sets one.
    bool SplitAt(std::size_t nameOffset, std::span<const std::size_t> starts, std::string& cls,
                 std::string& proc) const;
    // Whether the name at offset sets the class (a "." name keeps it).
    bool SetsClass(std::size_t offset) const;

    std::vector<std::uint8_t> bytes_;
    std::uint16_t version_;
    TDebugNameCodec names_;
    mutable std::once_flag indexOnce_;
    mutable std::vector<TDebugUnitHeader> units_;
    mutable std::vector<std::size_t> byStart_; // unit indexes sorted by CodeStart
    mutable bool disjoint_ = false;
    mutable std::vector<std::int64_t> sortedStarts_; // CodeStart of byStart_, for the search
    mutable std::vector<std::uint32_t> pages_;       // first candidate unit of each page of code
    mutable std::int64_t pagesBase_ = 0;
    // The table of inlined calls: where each caller's name starts and its
    // first line, where each file name starts, and the calls.
    mutable std::vector<std::pair<std::size_t, std::int32_t>> callerNames_;
    mutable std::vector<std::size_t> callFiles_;
    mutable std::vector<TDebugInlinedCall> calls_;
};

} // namespace crashreport::stored
