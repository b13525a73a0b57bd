#include "crashreport/modules/debug_data.h"

#include <algorithm>
#include <cstring>

#include "crashreport/modules/byte_reader.h"
#include "crashreport/modules/stored_data_format.h"

namespace crashreport::stored {
namespace {

constexpr int kMaxPrefixDepth = 16;
constexpr unsigned kPageShift = 10; // 1 KiB pages of code in the unit directory

// One decoded line step.
struct TLineStep {
    bool ProcStart = false;
    std::int64_t LineDelta = 0;
    std::int64_t CodeDelta = 0;
};

bool ReadStep(TByteReader& r, std::uint16_t version, TLineStep& step)
{
    const std::size_t at = r.Position();
    std::uint8_t f = 0;
    if (!r.Read(f)) return false;
    if ((f & 1) == 0) {
        step = {false, (f >> 6) + 1, ((f >> 1) & 31) + 1};
        return true;
    }
    if ((f & 3) == 1) {
        step = {true, (f >> 5) + 1, ((f >> 2) & 7) + 1};
        return true;
    }
    step.ProcStart = (f & 4) != 0;
    r.Seek(at);
    if (f & 8) {
        std::uint32_t w = 0;
        if (!r.Read(w)) return false;
        const std::uint32_t d = w >> 4;
        if (d == kWideStepEscape && version >= kFirstWideStepVersion) {
            // Line delta - 1 is signed, so lines may go back; code delta - 1 is not.
            std::int16_t line = 0;
            std::uint16_t code = 0;
            if (!r.Read(line) || !r.Read(code)) return false;
            step.LineDelta = std::int64_t(line) + 1;
            step.CodeDelta = std::int64_t(code) + 1;
        } else {
            step.LineDelta = std::int64_t(d & 0xFFFF) + 1;
            const std::uint32_t high = d >> 16;
            step.CodeDelta = high == kZeroCodeDelta ? 0 : std::int64_t(high) + 1;
        }
    } else {
        std::uint16_t h = 0;
        if (!r.Read(h)) return false;
        step.LineDelta = (h >> 11) + 1;
        step.CodeDelta = ((h >> 4) & 127) + 1;
    }
    return true;
}

// A number of seven bits a byte, lowest first, a set high bit for more:
// at most five bytes, and no more than 32 bits.
bool ReadVarint(TByteReader& r, std::uint32_t& value)
{
    value = 0;
    for (int shift = 0; shift < 35; shift += 7) {
        std::uint8_t b = 0;
        if (!r.Read(b)) return false;
        if (shift == 28 && (b & 0xF0) != 0) return false;
        value |= std::uint32_t(b & 0x7F) << shift;
        if (!(b & 0x80)) return true;
    }
    return false;
}

void SplitProcedureName(const std::string& name, std::string& lastClass, std::string& cls, std::string& proc)
{
    if (!name.empty() && name[0] == '.') {
        cls = lastClass;
        proc = name.substr(1);
    } else {
        const auto dot = name.find('.');
        if (dot == std::string::npos) {
            cls.clear();
            proc = name;
        } else {
            cls = name.substr(0, dot);
            proc = name.substr(dot + 1);
        }
        if (!cls.empty()) lastClass = cls;
    }
    if (!proc.empty() && proc[0] == '@') proc[0] = '_';
}

} // namespace

TDebugData::TDebugData(std::vector<std::uint8_t> bytes, std::uint16_t version)
    : bytes_(std::move(bytes)), version_(version), names_(version, {}, true, false)
{
}

void TDebugData::SetNames(std::string_view password, bool readable)
{
    names_ = TDebugNameCodec(version_, password, readable);
}

bool TDebugData::NameAt(std::size_t offset, std::string& name) const
{
    TByteReader r(bytes_);
    name.clear();
    return r.Seek(offset) && AppendName(r, name);
}

// A name piece: a length byte and that many stored characters. From
// version 502 the length's high bit says that a qualifying prefix follows
// (the name becomes prefix + "." + name), and a piece of 127 characters is
// continued by the next piece, so names of any length can be stored.
bool TDebugData::AppendStoredName(TByteReader& r, std::string& out, bool& prefixed) const
{
    std::uint8_t n = 0;
    if (!r.Read(n)) return false;
    const std::size_t from = out.size();
    prefixed = false;
    const bool pieces = version_ >= kFirstPrefixedNameVersion;
    if (pieces) {
        prefixed = (n & 0x80) != 0;
        n &= 0x7F;
    }
    std::span<const std::uint8_t> bytes;
    if (!r.Bytes(n, bytes)) return false;
    out.append(reinterpret_cast<const char*>(bytes.data()), bytes.size());
    while (pieces && n == 0x7F) {
        if (out.size() - from > (1u << 16) || !r.Read(n)) return false;
        n &= 0x7F;
        if (!r.Bytes(n, bytes)) return false;
        out.append(reinterpret_cast<const char*>(bytes.data()), bytes.size());
    }
    return true;
}

// The same pieces as ReadStoredName, passed over without copying them.
bool TDebugData::SkipStoredName(TByteReader& r, bool& prefixed) const
{
    std::uint8_t n = 0;
    if (!r.Read(n)) return false;
    prefixed = false;
    const bool pieces = version_ >= kFirstPrefixedNameVersion;
    if (pieces) {
        prefixed = (n & 0x80) != 0;
        n &= 0x7F;
    }
    if (!r.Skip(n)) return false;
    std::size_t size = n;
    while (pieces && n == 0x7F) {
        if (size > (1u << 16) || !r.Read(n)) return false;
        n &= 0x7F;
        if (!r.Skip(n)) return false;
        size += n;
    }
    return true;
}

bool TDebugData::SkipName(TByteReader& r, int depth) const
{
    bool prefixed = false;
    if (depth > kMaxPrefixDepth || !SkipStoredName(r, prefixed)) return false;
    return !prefixed || SkipName(r, depth + 1);
}

bool TDebugData::DecodeAppended(std::string& out, std::size_t from, std::size_t at) const
{
    for (int depth = 0;; ++depth) {
        names_.DecodeTail(out, from);
        if (version_ < kFirstSectionedVersion || out.size() - from != kNameReferenceSize ||
            std::uint8_t(out[from]) != kNameReferenceMark)
            return true;
        // A repeated name: the characters stored earlier (only backwards, so
        // damaged data cannot loop).
        std::uint32_t offset = 0;
        std::memcpy(&offset, out.data() + from + 1, 4);
        out.resize(from);
        TByteReader earlier(bytes_);
        bool prefixed = false;
        if (depth > kMaxPrefixDepth || offset >= at || !earlier.Seek(offset) ||
            !AppendStoredName(earlier, out, prefixed))
            return false;
        at = offset;
    }
}

// prefix + "." + name: the name is stored first, so it is passed over, the
// prefix chain appended, and the name deciphered behind it; nothing is
// inserted or copied twice.
bool TDebugData::AppendName(TByteReader& r, std::string& out, int depth) const
{
    if (depth > kMaxPrefixDepth) return false;
    TByteReader name = r;
    bool prefixed = false;
    if (!SkipStoredName(r, prefixed)) return false;
    if (prefixed) {
        if (!AppendName(r, out, depth + 1)) return false;
        out += '.';
    }
    return AppendDecodedName(name, out);
}

bool TDebugData::AppendDecodedName(TByteReader r, std::string& out) const
{
    const std::size_t at = r.Position(), from = out.size();
    bool prefixed = false;
    return AppendStoredName(r, out, prefixed) && DecodeAppended(out, from, at);
}

void TDebugData::BuildIndex() const
{
    TByteReader r(bytes_);
    if (version_ >= kFirstSkippedHeaderVersion && version_ < kFirstSectionedVersion) {
        std::uint32_t skip = 0;
        if (!r.Read(skip) || !r.Skip(skip)) return;
    }
    std::uint32_t count = 0;
    if (!r.Read(count)) return;
    // A unit takes at least a length byte and four numbers, so a damaged
    // count cannot reserve more than the data could hold.
    constexpr std::size_t kMinUnitSize = 1 + 4 * sizeof(std::int32_t);
    units_.reserve(std::min<std::size_t>(count, r.Remaining() / kMinUnitSize));
    bool whole = true;
    for (std::uint32_t i = 0; i < count; ++i) {
        whole = false;
        TDebugUnitHeader u;
        u.NameOffset = r.Position();
        std::int32_t first = 0, start = 0, size = 0, table = 0;
        if (!SkipName(r) || !r.Read(first) || !r.Read(start) || !r.Read(size) || !r.Read(table)) break;
        if (table < 0 || size < 0 || std::size_t(table) > r.Remaining())
            break; // damaged: the units read so far stay usable
        u.FirstLine = first;
        u.CodeStart = start;
        u.CodeSize = size;
        u.TableOffset = r.Position();
        u.TableSize = std::size_t(table);
        r.Skip(u.TableSize);
        units_.push_back(u);
        whole = true;
    }
    if (whole && version_ >= kFirstInlinedCallVersion) IndexInlinedCalls(r);
    byStart_.resize(units_.size());
    for (std::size_t i = 0; i < units_.size(); ++i) byStart_[i] = i;
    std::stable_sort(byStart_.begin(), byStart_.end(),
                     [this](std::size_t a, std::size_t b) { return units_[a].CodeStart < units_[b].CodeStart; });
    sortedStarts_.reserve(byStart_.size());
    for (std::size_t i : byStart_) sortedStarts_.push_back(units_[i].CodeStart);
    // Page p of the code holds units from pages_[p] (the last one starting
    // at or before the page) on.
    if (!sortedStarts_.empty()) {
        pagesBase_ = sortedStarts_.front();
        const std::uint64_t span = std::uint64_t(sortedStarts_.back() - pagesBase_);
        if ((span >> kPageShift) < (1u << 20)) {
            pages_.resize((span >> kPageShift) + 2);
            std::size_t u = 0;
            for (std::size_t p = 0; p < pages_.size(); ++p) {
                const std::int64_t pageStart = pagesBase_ + std::int64_t(p << kPageShift);
                while (u + 1 < sortedStarts_.size() && sortedStarts_[u + 1] <= pageStart) ++u;
                pages_[p] = std::uint32_t(u);
            }
        }
    }
    disjoint_ = true;
    for (std::size_t i = 1; i < byStart_.size(); ++i) {
        const auto& prev = units_[byStart_[i - 1]];
        if (prev.CodeStart + prev.CodeSize > units_[byStart_[i]].CodeStart) disjoint_ = false;
    }
}

void TDebugData::IndexInlinedCalls(TByteReader& r) const
{
    // Each part is read whole or not at all; a damaged table leaves the
    // calls read so far (parents come before their children, so they are
    // complete) and the lines without callers.
    std::uint32_t count = 0;
    if (!r.Read(count)) return;
    std::vector<std::pair<std::size_t, std::int32_t>> callers;
    callers.reserve(std::min<std::size_t>(count, r.Remaining() / 2)); // a length byte and a number at least
    for (std::uint32_t i = 0; i < count; ++i) {
        const std::size_t at = r.Position();
        std::uint32_t first = 0;
        if (!SkipName(r) || !ReadVarint(r, first)) return;
        callers.emplace_back(at, std::int32_t(std::min<std::uint32_t>(first, INT32_MAX)));
    }
    std::vector<std::size_t> files;
    if (!r.Read(count)) return;
    files.reserve(std::min<std::size_t>(count, r.Remaining()));
    for (std::uint32_t i = 0; i < count; ++i) {
        files.push_back(r.Position());
        if (!SkipName(r)) return;
    }
    if (!r.Read(count)) return;
    callerNames_ = std::move(callers);
    callFiles_ = std::move(files);
    calls_.reserve(std::min<std::size_t>(count, r.Remaining() / 4)); // four numbers of a byte at least
    for (std::uint32_t i = 0; i < count; ++i) {
        std::uint32_t distance = 0, caller = 0, file = 0, line = 0;
        if (!ReadVarint(r, distance) || !ReadVarint(r, caller) || !ReadVarint(r, file) || !ReadVarint(r, line)) return;
        if (distance > i || caller > callerNames_.size() || file > callFiles_.size()) return;
        TDebugInlinedCall call;
        call.Parent = distance == 0 ? 0 : i - distance + 1;
        call.Caller = caller;
        call.File = file;
        call.Line = std::int32_t(std::min<std::uint32_t>(line, INT32_MAX));
        calls_.push_back(call);
    }
}

bool TDebugData::AddCallers(std::uint32_t call, TDebugLineHit& hit) const
{
    // A parent's index is below its child's, so the walk ends.
    while (call != 0 && call <= calls_.size()) {
        const TDebugInlinedCall& c = calls_[call - 1];
        TDebugFrame frame;
        frame.Line = c.Line;
        if (c.File != 0) {
            if (!NameAt(callFiles_[c.File - 1], frame.UnitName)) return false;
            if (names_.Readable() && frame.UnitName.find('.') == std::string::npos)
                frame.UnitName += kSourceFileExtension;
        }
        if (c.Caller != 0) {
            const auto [at, first] = callerNames_[c.Caller - 1];
            // The procedure, then the class as its prefix when it has one.
            TByteReader r(bytes_);
            if (!r.Seek(at)) return false;
            const TByteReader stored = r;
            bool prefixed = false;
            if (!SkipStoredName(r, prefixed) || !AppendDecodedName(stored, frame.ProcedureName)) return false;
            if (prefixed && !AppendName(r, frame.ClassName, 1)) return false;
            if (!frame.ProcedureName.empty() && frame.ProcedureName[0] == '@') frame.ProcedureName[0] = '_';
            if (first > 0) frame.ProcOffsetLine = std::max(0, c.Line - first);
        }
        hit.Callers.push_back(std::move(frame));
        call = c.Parent;
    }
    return true;
}

const std::vector<TDebugUnitHeader>& TDebugData::Units() const
{
    std::call_once(indexOnce_, [this] { BuildIndex(); });
    return units_;
}

std::string TDebugData::UnitName(const TDebugUnitHeader& unit) const
{
    std::string name;
    if (!NameAt(unit.NameOffset, name)) return {};
    if (names_.Readable() && name.find('.') == std::string::npos) name += kSourceFileExtension;
    return name;
}

std::optional<TDebugLineHit> TDebugData::Lookup(std::uintptr_t handle, std::uintptr_t address) const
{
    const auto& units = Units();
    const std::int64_t offset = std::int64_t(address - handle - kCodeBase);
    TDebugLineHit hit;
    if (disjoint_) {
        // The unit with the greatest start not above the offset is the only candidate.
        // The page directory narrows the search to the units of the offset's page.
        auto from = sortedStarts_.begin(), to = sortedStarts_.end();
        if (!pages_.empty() && offset >= pagesBase_) {
            const std::uint64_t page = std::uint64_t(offset - pagesBase_) >> kPageShift;
            if (page + 1 < pages_.size()) {
                from = sortedStarts_.begin() + pages_[page];
                to = sortedStarts_.begin() + std::min<std::size_t>(pages_[page + 1] + 1, sortedStarts_.size());
            }
        }
        auto it = std::upper_bound(from, to, offset);
        if (it == sortedStarts_.begin()) return std::nullopt;
        const auto& u = units[byStart_[std::size_t(it - sortedStarts_.begin()) - 1]];
        if (offset < u.CodeStart || offset >= u.CodeStart + u.CodeSize) return std::nullopt;
        if (LookupInUnit(u, handle, address, hit)) return hit;
        return std::nullopt;
    }
    for (const auto& u : units) {
        if (offset < u.CodeStart || offset >= u.CodeStart + u.CodeSize) continue;
        if (LookupInUnit(u, handle, address, hit)) return hit;
    }
    return std::nullopt;
}

bool TDebugData::SetsClass(std::size_t offset) const
{
    // A prefixed name is prefix + "." + name: a class unless the prefix is
    // empty. Other names are looked at in full.
    TByteReader r(bytes_);
    std::uint8_t n = 0;
    if (!r.Seek(offset) || !r.Read(n)) return false;
    if (version_ >= kFirstPrefixedNameVersion && (n & 0x80)) {
        r.Seek(offset);
        bool prefixed = false;
        std::uint8_t prefixLength = 0;
        if (SkipStoredName(r, prefixed) && r.Read(prefixLength)) return (prefixLength & 0x7F) > 0;
        return false;
    }
    std::string name;
    if (!NameAt(offset, name)) return false;
    const auto dot = name.find('.');
    return !name.empty() && name[0] != '.' && dot != std::string::npos && dot > 0;
}

bool TDebugData::SplitAt(std::size_t nameOffset, std::span<const std::size_t> starts, std::string& cls,
                         std::string& proc) const
{
    // A name that starts with "." keeps the last non-empty class: that of the
    // latest name before it that set one.
    std::string name;
    // The usual name: a procedure with its class as prefix. Class and
    // procedure are the two parts when the class has no dot of its own.
    {
        TByteReader r(bytes_);
        std::uint8_t n = 0;
        if (version_ >= kFirstPrefixedNameVersion && r.Seek(nameOffset) && r.Read(n) && (n & 0x80)) {
            r.Seek(nameOffset);
            const TByteReader stored = r;
            bool prefixed = false;
            std::string prefix;
            if (!SkipStoredName(r, prefixed) || !AppendName(r, prefix, 1)) return false;
            if (!prefix.empty() && prefix.find('.') == std::string::npos) {
                // Both parts are deciphered straight into the results.
                proc.clear();
                if (!AppendDecodedName(stored, proc)) return false;
                cls = std::move(prefix);
                if (!proc.empty() && proc[0] == '@') proc[0] = '_';
                return true;
            }
            name = std::move(prefix);
            name += '.';
            if (!AppendDecodedName(stored, name)) return false;
        } else if (!NameAt(nameOffset, name)) {
            return false;
        }
    }
    std::string lastClass;
    std::size_t classSetter = SIZE_MAX;
    if (!name.empty() && name[0] == '.') {
        // Only such a name needs the setter, so only here are the earlier
        // names looked at: the latest one before it that sets a class.
        for (auto it = starts.rbegin(); it != starts.rend() && classSetter == SIZE_MAX; ++it)
            if (*it < nameOffset && SetsClass(*it)) classSetter = *it;
    }
    if (!name.empty() && name[0] == '.' && classSetter != SIZE_MAX) {
        std::string earlier;
        if (!NameAt(classSetter, earlier)) return false;
        const auto dot = earlier.find('.');
        if (dot != std::string::npos) lastClass = earlier.substr(0, dot);
    }
    SplitProcedureName(name, lastClass, cls, proc);
    return true;
}

bool TDebugData::LookupInUnit(const TDebugUnitHeader& unit, std::uintptr_t handle, std::uintptr_t address,
                              TDebugLineHit& hit) const
{
    const std::uintptr_t base = handle + kCodeBase;
    TByteReader r(std::span<const std::uint8_t>(bytes_).subspan(0, unit.TableOffset + unit.TableSize));
    r.Seek(unit.TableOffset);

    std::int64_t line = unit.FirstLine;
    std::int64_t code = unit.CodeStart;
    std::int64_t procFirstLine = 0;
    bool procKnown = false;
    // Names are deciphered only for the hit: here only where they start
    // (offsets in the data; SIZE_MAX for none).
    std::size_t className = SIZE_MAX; // name that gave the current class
    std::size_t procName = SIZE_MAX;  // name of the current procedure
    std::uint32_t procCall = 0;       // its inlined call (index + 1), 0 for none
    const bool calls = version_ >= kFirstInlinedCallVersion;
    // Every procedure name of the unit so far, in stored order: a name that
    // keeps the class looks back through them for the one that set it.
    std::vector<std::size_t> starts;
    starts.reserve(16);

    auto inside = [&](std::int64_t from, std::int64_t to) { // [from, to)
        const std::uintptr_t a = address;
        return a >= base + std::uintptr_t(from) && a < base + std::uintptr_t(to);
    };
    auto finish = [&](std::int64_t atLine) {
        hit.UnitName = UnitName(unit);
        hit.Line = std::int32_t(atLine);
        hit.ProcOffsetLine = procKnown ? std::int32_t(std::max<std::int64_t>(0, atLine - procFirstLine)) : 0;
        hit.ClassName.clear();
        hit.ProcedureName.clear();
        hit.Callers.clear();
        std::string cls, proc;
        if (procName != SIZE_MAX) {
            if (!SplitAt(procName, starts, cls, proc)) return false;
            hit.ProcedureName = std::move(proc);
        }
        if (className != SIZE_MAX) {
            if (className != procName && !SplitAt(className, starts, cls, proc)) return false;
            hit.ClassName = std::move(cls);
        }
        return procCall == 0 || AddCallers(procCall, hit);
    };

    while (r.Remaining() > 0) {
        TLineStep step;
        if (!ReadStep(r, version_, step)) return false;
        const std::int64_t newLine = line + step.LineDelta;
        const std::int64_t newCode = code + step.CodeDelta;
        std::size_t newName = SIZE_MAX;
        std::uint32_t newCall = 0;
        if (step.ProcStart) {
            procFirstLine = newLine;
            procKnown = true;
            newName = r.Position();
            if (!SkipName(r) || (calls && !ReadVarint(r, newCall))) return false;
            starts.push_back(newName);
            className = newName;
            if (procName == SIZE_MAX) {
                procName = newName;
                procCall = newCall;
            }
        }
        if (inside(code, newCode)) return finish(line);
        line = newLine;
        code = newCode;
        if (newName != SIZE_MAX) {
            procName = newName;
            procCall = newCall;
        }
    }
    if (inside(code, unit.CodeStart + unit.CodeSize)) return finish(line);
    return false;
}

} // namespace crashreport::stored
