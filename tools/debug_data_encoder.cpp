#include "tools/debug_data_encoder.h"

#include <algorithm>
#include <cstring>
#include <stdexcept>
#include <unordered_map>

#include "crashreport/modules/debug_name_codec.h"
#include "crashreport/modules/stored_data_format.h"

namespace tools {
namespace st = crashreport::stored;
namespace {

constexpr std::size_t kShortName = 127; // length byte with a prefix flag
constexpr std::size_t kLongName = 255;  // length byte of versions before 502

class TBytes {
public:
    void U8(std::uint8_t v) { bytes.push_back(v); }
    void U16(std::uint16_t v) { Raw(&v, 2); }
    void U32(std::uint32_t v) { Raw(&v, 4); }
    void I32(std::int32_t v) { Raw(&v, 4); }
    // Seven bits a byte, lowest first; a set high bit says another byte follows.
    void Varint(std::uint32_t v)
    {
        while (v >= 0x80) {
            U8(std::uint8_t(v | 0x80));
            v >>= 7;
        }
        U8(std::uint8_t(v));
    }
    void Raw(const void* p, std::size_t n)
    {
        const auto* b = static_cast<const std::uint8_t*>(p);
        bytes.insert(bytes.end(), b, b + n);
    }
    std::vector<std::uint8_t> bytes;
};

// "..." of a variadic function and any other dot would split a class-less
// name; the class part must not hold a dot at all.
std::string WithoutDots(const std::string& s)
{
    std::string out;
    for (std::size_t i = 0; i < s.size(); ++i) {
        if (s.compare(i, 3, "...") == 0) {
            out += "\xE2\x80\xA6"; // the ellipsis character
            i += 2;
        } else {
            out += s[i] == '.' ? '_' : s[i];
        }
    }
    return out;
}

// From 502 on: pieces of at most 127 characters, a full piece continued by
// the next; the first length byte carries the prefix flag.
void WriteName(TBytes& out, const std::string& stored, std::uint16_t version, bool prefixFollows)
{
    if (version < st::kFirstPrefixedNameVersion) {
        out.U8(std::uint8_t(stored.size()));
        out.Raw(stored.data(), stored.size());
        return;
    }
    std::size_t at = 0;
    bool first = true;
    for (;;) {
        const std::size_t n = std::min<std::size_t>(kShortName, stored.size() - at);
        out.U8(std::uint8_t(n | (first && prefixFollows ? 0x80 : 0)));
        out.Raw(stored.data() + at, n);
        at += n;
        first = false;
        if (n < kShortName) return;
    }
}

// Names already stored, by text: a repeated name is stored as a reference
// to the first one (from version 500 on).
struct TNameReferences {
    std::unordered_map<std::string, std::uint32_t> FirstAt; // offset of the name's length byte
    bool Enabled = false;
};

// Writes a name piece at absolute offset `at` of the debug data: the
// characters, or a reference to where they were stored before.
void WriteNamePiece(TBytes& out, std::size_t at, const std::string& name, const st::TDebugNameCodec& codec,
                    std::uint16_t version, bool prefixFollows, TNameReferences& refs)
{
    if (refs.Enabled && name.size() > st::kNameReferenceSize) {
        auto [it, added] = refs.FirstAt.emplace(name, std::uint32_t(at));
        if (!added) {
            std::string reference(1, char(st::kNameReferenceMark));
            reference.append(reinterpret_cast<const char*>(&it->second), 4);
            WriteName(out, codec.Encode(reference), version, prefixFollows);
            return;
        }
    }
    WriteName(out, codec.Encode(name), version, prefixFollows);
}

class TUnitEncoder {
public:
    TUnitEncoder(std::uint16_t version, const st::TDebugNameCodec& codec, TDebugDataStats& stats, TNameReferences& refs,
                 std::size_t tableBase)
        : version_(version), codec_(codec), stats_(stats), refs_(refs), tableBase_(tableBase)
    {
    }

    bool CanStep(std::int64_t lineDelta) const
    {
        if (lineDelta >= 1 && lineDelta <= 65536) return true;
        return version_ >= st::kFirstWideStepVersion && lineDelta >= -32767 && lineDelta <= 32768;
    }

    // Normal step: code delta >= 1.
    void Step(std::int64_t ld, std::int64_t cd)
    {
        while (cd > 65536) { // very long rows: advance code in pieces, line unchanged
            Wide(ld, 65536);
            ld = 0;
            cd -= 65536;
        }
        if (ld >= 1 && ld <= 4 && cd <= 32) {
            table_.U8(std::uint8_t(((ld - 1) << 6) | ((cd - 1) << 1)));
        } else if (ld >= 1 && ld <= 32 && cd <= 128) {
            table_.U16(std::uint16_t(((ld - 1) << 11) | ((cd - 1) << 4) | 3));
        } else if (ld >= 1 && ld <= 65536 && cd <= 4095 &&
                   (((std::uint32_t(cd - 1) << 16) | std::uint32_t(ld - 1)) != st::kWideStepEscape)) {
            const std::uint32_t d = (std::uint32_t(cd - 1) << 16) | std::uint32_t(ld - 1);
            table_.U32((d << 4) | 0xB);
        } else {
            Wide(ld, cd);
        }
    }

    void Wide(std::int64_t ld, std::int64_t cd)
    {
        table_.U32((st::kWideStepEscape << 4) | 0xB);
        table_.U16(std::uint16_t(std::int16_t(ld - 1)));
        table_.U16(std::uint16_t(cd - 1));
    }

    // A step that moves no code: 1 <= ld <= 65536.
    void ZeroWidth(std::int64_t ld, bool procStart)
    {
        const std::uint32_t d = (st::kZeroCodeDelta << 16) | std::uint32_t(ld - 1);
        table_.U32((d << 4) | 0xB | (procStart ? 4 : 0));
    }

    void ProcedureName(const std::string& cls, const std::string& proc)
    {
        ++stats_.ProcedureStarts;
        if (version_ >= st::kFirstPrefixedNameVersion) {
            if (!cls.empty() && cls == lastClass_) {
                Name("." + proc, kShortName, false);
            } else if (!cls.empty()) {
                Name(proc, kShortName, true);
                Name(cls, kShortName, false);
                lastClass_ = cls;
            } else {
                Name(proc, kShortName, false);
            }
            return;
        }
        std::string joined = cls.empty() ? proc : (cls == lastClass_ ? "." + proc : cls + "." + proc);
        if (!cls.empty()) lastClass_ = cls;
        Name(joined, kLongName, false);
    }

    // The inlined call of the procedure that just started: 0 for none, else its index + 1.
    void Call(std::int32_t call) { table_.Varint(std::uint32_t(call + 1)); }

    void Name(std::string name, std::size_t limit, bool prefixFollows)
    {
        if (version_ < st::kFirstPrefixedNameVersion && name.size() > limit) {
            name.resize(limit);
            ++stats_.TruncatedNames;
        }
        WriteNamePiece(table_, tableBase_ + table_.bytes.size(), name, codec_, version_, prefixFollows, refs_);
    }

    std::vector<std::uint8_t> TakeTable() { return std::move(table_.bytes); }

private:
    std::uint16_t version_;
    const st::TDebugNameCodec& codec_;
    TDebugDataStats& stats_;
    TNameReferences& refs_;
    std::size_t tableBase_; // absolute offset of the table's first byte
    TBytes table_;
    std::string lastClass_;
};

} // namespace

void StoredFunctionName(const TFunctionName& f, std::uint16_t, std::string& cls, std::string& proc)
{
    cls = WithoutDots(f.ClassName);
    proc = f.Procedure;
    // A plain symbol name of a part the compiler split off ("main.cold",
    // "f.part.0") names the function it belongs to.
    const auto paren = proc.find('(');
    const auto dot = proc.find('.');
    if (cls.empty() && dot != std::string::npos && dot > 0 && (paren == std::string::npos || dot < paren) &&
        proc.compare(dot, 3, "...") != 0)
        proc.resize(dot);
    if (cls.empty()) proc = WithoutDots(proc);
    if (!proc.empty() && proc[0] == '@') proc[0] = '_';
}

namespace {

// The inlined calls after the last unit (from version 516 on): the callers'
// names with their first lines, the call files, then the calls themselves.
void WriteInlinedCalls(TBytes& out, const TCodeMap& map, std::uint16_t version, const st::TDebugNameCodec& codec,
                       TNameReferences& refs, TDebugDataStats& stats)
{
    const std::size_t tableStart = out.bytes.size();
    std::vector<std::int32_t> callerIndex(map.Functions.size(), -1), fileIndex(map.Files.size(), -1);
    std::vector<std::int32_t> callers, files;
    for (const auto& call : map.Calls) {
        if (call.Caller >= 0 && callerIndex[std::size_t(call.Caller)] < 0) {
            callerIndex[std::size_t(call.Caller)] = std::int32_t(callers.size());
            callers.push_back(call.Caller);
        }
        if (call.File >= 0 && fileIndex[std::size_t(call.File)] < 0) {
            fileIndex[std::size_t(call.File)] = std::int32_t(files.size());
            files.push_back(call.File);
        }
    }
    out.U32(std::uint32_t(callers.size()));
    for (const std::int32_t f : callers) {
        const TFunctionName& function = map.Functions[std::size_t(f)];
        std::string cls, proc;
        StoredFunctionName(function, version, cls, proc);
        WriteNamePiece(out, out.bytes.size(), proc, codec, version, !cls.empty(), refs);
        if (!cls.empty()) WriteNamePiece(out, out.bytes.size(), cls, codec, version, false, refs);
        out.Varint(std::uint32_t(std::max(0, function.FirstLine)));
    }
    out.U32(std::uint32_t(files.size()));
    for (const std::int32_t f : files)
        WriteNamePiece(out, out.bytes.size(), map.Files[std::size_t(f)], codec, version, false, refs);
    out.U32(std::uint32_t(map.Calls.size()));
    for (std::size_t i = 0; i < map.Calls.size(); ++i) {
        const TInlinedCall& call = map.Calls[i];
        if (call.Parent >= std::int32_t(i)) throw std::logic_error("an inlined call's parent comes after it");
        out.Varint(call.Parent < 0 ? 0 : std::uint32_t(std::int32_t(i) - call.Parent));
        out.Varint(call.Caller < 0 ? 0 : std::uint32_t(callerIndex[std::size_t(call.Caller)] + 1));
        out.Varint(call.File < 0 ? 0 : std::uint32_t(fileIndex[std::size_t(call.File)] + 1));
        out.Varint(std::uint32_t(std::max(0, call.Line)));
    }
    stats.InlinedCalls = map.Calls.size();
    stats.InlinedCallBytes = out.bytes.size() - tableStart;
}

} // namespace

std::vector<std::uint8_t> EncodeDebugData(const TCodeMap& map, std::uint16_t version, const std::string& password,
                                          TDebugDataStats* statsOut)
{
    TDebugDataStats stats;
    const st::TDebugNameCodec codec(version, password, true);
    TBytes out;
    if (version >= st::kFirstSkippedHeaderVersion && version < st::kFirstSectionedVersion)
        out.U32(0); // the skipped block: empty
    const std::size_t countAt = out.bytes.size();
    out.U32(0);
    std::uint32_t unitCount = 0;
    TNameReferences refs;
    refs.Enabled = version >= st::kFirstSectionedVersion;

    const auto& rows = map.Rows;
    const bool calls = version >= st::kFirstInlinedCallVersion;
    std::size_t i = 0;
    while (i < rows.size()) {
        // One unit: rows of one file without gaps, lines that the steps can reach.
        const std::size_t first = i;
        // The unit's header: its name, then four numbers; the table follows.
        std::string unitName = map.Files[std::size_t(rows[first].File)];
        if (version < st::kFirstPrefixedNameVersion && unitName.size() > kLongName) unitName.resize(kLongName);
        TBytes header;
        WriteNamePiece(header, out.bytes.size(), unitName, codec, version, false, refs);
        TUnitEncoder unit(version, codec, stats, refs, out.bytes.size() + header.bytes.size() + 16);
        std::int32_t currentFunction = -2, currentCall = -2;
        std::int64_t line = 0;
        std::uint64_t code = rows[first].Start;
        std::int32_t headerLine = 0;
        for (; i < rows.size(); ++i) {
            const TCodeRow& row = rows[i];
            if (i > first && (row.File != rows[first].File || row.Start != rows[i - 1].End)) break;
            // Without inlined calls, rows that differ only in their call are one row.
            if (!calls && i > first && row.Line == rows[i - 1].Line && row.Function == rows[i - 1].Function) continue;
            const bool procStart = row.Function != currentFunction || (calls && row.Call != currentCall);
            std::string cls, proc;
            std::int64_t procLine = row.Line;
            if (procStart && row.Function >= 0) {
                const TFunctionName& f = map.Functions[std::size_t(row.Function)];
                StoredFunctionName(f, version, cls, proc);
                if (f.FirstLine > 0 && f.FirstLine <= row.Line) procLine = f.FirstLine;
            }
            // Where the moving step must land so that the zero-width steps reach the row's line.
            const std::int64_t landing = procStart ? procLine - 1 : row.Line;
            if (i == first) {
                headerLine = std::int32_t(landing);
                line = landing;
            } else {
                if (!unit.CanStep(landing - line)) break; // a new unit starts with an absolute line
                unit.Step(landing - line, std::int64_t(row.Start - code));
                line = landing;
                code = row.Start;
            }
            if (procStart) {
                unit.ZeroWidth(1, true);
                unit.ProcedureName(cls, proc);
                if (calls) unit.Call(row.Call);
                line += 1;
                if (row.Line > line) {
                    unit.ZeroWidth(row.Line - line, false);
                    line = row.Line;
                }
                currentFunction = row.Function;
                currentCall = row.Call;
            }
            ++stats.Rows;
        }
        const std::vector<std::uint8_t> table = unit.TakeTable();
        out.Raw(header.bytes.data(), header.bytes.size());
        out.I32(headerLine);
        out.I32(std::int32_t(rows[first].Start - map.HandleAddress - st::kCodeBase));
        out.I32(std::int32_t(rows[i - 1].End - rows[first].Start));
        out.I32(std::int32_t(table.size()));
        out.Raw(table.data(), table.size());
        ++unitCount;
    }
    std::memcpy(out.bytes.data() + countAt, &unitCount, 4);
    if (calls) WriteInlinedCalls(out, map, version, codec, refs, stats);
    stats.Units = unitCount;
    if (statsOut) *statsOut = stats;
    return std::move(out.bytes);
}

} // namespace tools
