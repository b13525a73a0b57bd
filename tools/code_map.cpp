#include "tools/code_map.h"

#include <dwarf.h>

#include <algorithm>
#include <map>
#include <unordered_map>

#include "crashreport/report/cpp_name_parts.h"
#include "platform/rtl/exception.h"

namespace tools {
namespace {

struct TInterval {
    std::uint64_t Low, High;
    int Depth;
    std::int32_t Function;
};

struct TLineSegment {
    std::uint64_t Start, End;
    std::int32_t File, Line;
};

class TCodeMapBuilder {
public:
    explicit TCodeMapBuilder(TElfFile& file) : file_(file) {}

    TCodeMap Build()
    {
        ReadLoadBase();
        ReadExecutableRanges();
        Dwarf_CU* cu = nullptr;
        Dwarf_Die cudie;
        std::uint8_t unitType = 0;
        while (dwarf_get_units(file_.Dwarf.get(), cu, &cu, nullptr, &unitType, &cudie, nullptr) == 0) {
            ReadLines(cudie);
            Dwarf_Die child;
            if (dwarf_child(&cudie, &child) == 0)
                WalkDies(child, 1);
        }
        if (segments_.empty())
            throw rtl::Exception("The module has no DWARF line information (build it with -g).");
        MakeRows();
        return std::move(map_);
    }

private:
    void ReadLoadBase()
    {
        std::size_t count = 0;
        elf_getphdrnum(file_.Elf.get(), &count);
        std::uint64_t low = UINT64_MAX;
        for (std::size_t i = 0; i < count; ++i) {
            GElf_Phdr ph;
            if (gelf_getphdr(file_.Elf.get(), int(i), &ph) && ph.p_type == PT_LOAD)
                low = std::min<std::uint64_t>(low, ph.p_vaddr);
        }
        if (low == UINT64_MAX)
            throw rtl::Exception("The module has no loadable segment.");
        map_.HandleAddress = low & ~std::uint64_t(0xFFF);
    }

    void ReadExecutableRanges()
    {
        Elf_Scn* scn = nullptr;
        while ((scn = elf_nextscn(file_.Elf.get(), scn)) != nullptr) {
            GElf_Shdr sh;
            if (gelf_getshdr(scn, &sh) && (sh.sh_flags & SHF_EXECINSTR) && (sh.sh_flags & SHF_ALLOC))
                code_.push_back({sh.sh_addr, sh.sh_addr + sh.sh_size});
        }
    }

    bool InCode(std::uint64_t a) const
    {
        for (const auto& [lo, hi] : code_)
            if (a >= lo && a < hi)
                return true;
        return false;
    }

    std::int32_t FileIndex(const char* path)
    {
        std::string name = path ? path : "?";
        const auto slash = name.rfind('/');
        if (slash != std::string::npos)
            name = name.substr(slash + 1);
        auto [it, added] = fileIndex_.emplace(name, std::int32_t(map_.Files.size()));
        if (added)
            map_.Files.push_back(name);
        return it->second;
    }

    void ReadLines(Dwarf_Die& cudie)
    {
        Dwarf_Lines* lines = nullptr;
        std::size_t count = 0;
        if (dwarf_getsrclines(&cudie, &lines, &count) != 0)
            return;
        // Rows of one sequence; several rows at one address: the last one counts.
        bool haveOpen = false;
        TLineSegment open{};
        for (std::size_t i = 0; i < count; ++i) {
            Dwarf_Line* line = dwarf_onesrcline(lines, i);
            Dwarf_Addr addr = 0;
            int lineNo = 0;
            bool endSequence = false;
            if (!line || dwarf_lineaddr(line, &addr) != 0)
                continue;
            dwarf_lineno(line, &lineNo);
            dwarf_lineendsequence(line, &endSequence);
            if (haveOpen && addr > open.Start) {
                open.End = addr;
                if (InCode(open.Start))
                    segments_.push_back(open);
            }
            haveOpen = false;
            if (endSequence)
                continue;
            open = {addr, addr, FileIndex(dwarf_linesrc(line, nullptr, nullptr)), lineNo};
            haveOpen = true;
        }
    }

    std::int32_t FunctionIndex(Dwarf_Die& die)
    {
        Dwarf_Attribute attr;
        const char* name = nullptr;
        if (dwarf_attr_integrate(&die, DW_AT_linkage_name, &attr) ||
            dwarf_attr_integrate(&die, DW_AT_MIPS_linkage_name, &attr))
            name = dwarf_formstring(&attr);
        if (!name && dwarf_attr_integrate(&die, DW_AT_name, &attr))
            name = dwarf_formstring(&attr);
        if (!name)
            return -1;
        Dwarf_Word declLine = 0;
        if (dwarf_attr_integrate(&die, DW_AT_decl_line, &attr))
            dwarf_formudata(&attr, &declLine);
        auto [it, added] = functionIndex_.emplace(std::make_pair(std::string(name), std::int32_t(declLine)),
                                                  std::int32_t(map_.Functions.size()));
        if (added) {
            TFunctionName f;
            crashreport::SplitCppClassAndProcedure(crashreport::DemangleCppName(name), f.ClassName, f.Procedure);
            f.FirstLine = std::int32_t(declLine);
            map_.Functions.push_back(std::move(f));
        }
        return it->second;
    }

    void WalkDies(Dwarf_Die die, int depth)
    {
        do {
            const int tag = dwarf_tag(&die);
            if (tag == DW_TAG_subprogram || tag == DW_TAG_inlined_subroutine) {
                Dwarf_Addr base = 0, low = 0, high = 0;
                std::ptrdiff_t offset = 0;
                std::int32_t function = -2;
                while ((offset = dwarf_ranges(&die, offset, &base, &low, &high)) > 0) {
                    if (high <= low || !InCode(low))
                        continue;
                    if (function == -2)
                        function = FunctionIndex(die);
                    if (function >= 0)
                        intervals_.push_back({low, high, depth, function});
                }
            }
            if (tag != DW_TAG_class_type && tag != DW_TAG_structure_type && tag != DW_TAG_union_type &&
                tag != DW_TAG_enumeration_type) {
                Dwarf_Die child;
                if (dwarf_haschildren(&die) && dwarf_child(&die, &child) == 0)
                    WalkDies(child, depth + 1);
            }
        } while (dwarf_siblingof(&die, &die) == 0);
    }

    void MakeRows()
    {
        std::sort(segments_.begin(), segments_.end(),
                  [](const TLineSegment& a, const TLineSegment& b) { return a.Start < b.Start; });
        std::sort(intervals_.begin(), intervals_.end(),
                  [](const TInterval& a, const TInterval& b) { return a.Low < b.Low; });
        std::vector<std::uint64_t> bounds;
        for (const auto& i : intervals_) {
            bounds.push_back(i.Low);
            bounds.push_back(i.High);
        }
        std::sort(bounds.begin(), bounds.end());
        bounds.erase(std::unique(bounds.begin(), bounds.end()), bounds.end());

        std::size_t next = 0;
        std::vector<TInterval> active;
        std::uint64_t covered = 0;
        for (const auto& seg : segments_) {
            std::uint64_t start = std::max(seg.Start, covered);  // overlapping sequences: first wins
            if (start >= seg.End)
                continue;
            covered = seg.End;
            auto b = std::upper_bound(bounds.begin(), bounds.end(), start);
            while (start < seg.End) {
                const std::uint64_t end = (b != bounds.end() && *b < seg.End) ? *b : seg.End;
                while (next < intervals_.size() && intervals_[next].Low <= start)
                    active.push_back(intervals_[next++]);
                std::erase_if(active, [start](const TInterval& i) { return i.High <= start; });
                std::int32_t function = -1;
                int depth = -1;
                std::uint64_t width = UINT64_MAX;
                for (const auto& i : active) {
                    if (i.Low > start)
                        continue;
                    if (i.Depth > depth || (i.Depth == depth && i.High - i.Low < width)) {
                        depth = i.Depth;
                        width = i.High - i.Low;
                        function = i.Function;
                    }
                }
                AppendRow({start, end, seg.File, seg.Line, function});
                start = end;
                if (b != bounds.end() && *b <= start)
                    ++b;
            }
        }
    }

    void AppendRow(const TCodeRow& row)
    {
        auto& rows = map_.Rows;
        if (!rows.empty()) {
            TCodeRow& last = rows.back();
            if (last.End == row.Start && last.File == row.File && last.Line == row.Line &&
                last.Function == row.Function) {
                last.End = row.End;
                return;
            }
        }
        rows.push_back(row);
    }

    TElfFile& file_;
    TCodeMap map_;
    std::vector<std::pair<std::uint64_t, std::uint64_t>> code_;
    std::vector<TLineSegment> segments_;
    std::vector<TInterval> intervals_;
    std::unordered_map<std::string, std::int32_t> fileIndex_;
    std::map<std::pair<std::string, std::int32_t>, std::int32_t> functionIndex_;
};

} // namespace

TCodeMap ReadCodeMap(TElfFile& file)
{
    if (!file.Dwarf)
        throw rtl::Exception("The module has no DWARF debug information (build it with -g).");
    return TCodeMapBuilder(file).Build();
}

} // namespace tools
