#include "tools/code_map.h"

#include <dwarf.h>

#include <algorithm>
#include <map>
#include <unordered_map>

#include "crashreport/modules/cpp_name_parts.h"
#include "platform/rtl/exception.h"

namespace tools {
namespace {

// One address range of a function or of an inlined call. The range that
// names an address is the smallest piece holding it; among equal pieces
// the later one in DIE order (as addr2line chooses).
struct TInterval {
    std::uint64_t Low, High;
    std::uint64_t Order;
    std::int32_t Function;  // by linkage name; -1: named by the symbol at the address
    std::int32_t PlainName; // by DW_AT_name, when no symbol holds the address
};

struct TSymbol {
    std::uint64_t Value, Size;
    std::string Name;
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
        ReadSymbols();
        Dwarf_CU* cu = nullptr;
        Dwarf_Die cudie;
        std::uint8_t unitType = 0;
        while (dwarf_get_units(file_.Dwarf.get(), cu, &cu, nullptr, &unitType, &cudie, nullptr) == 0) {
            ReadLines(cudie);
            Dwarf_Attribute lang;
            Dwarf_Word language = 0;
            if (dwarf_attr(&cudie, DW_AT_language, &lang)) dwarf_formudata(&lang, &language);
            // In C a function's plain name is its symbol name.
            plainNames_ =
                language == DW_LANG_C89 || language == DW_LANG_C || language == DW_LANG_C99 || language == DW_LANG_C11;
            Dwarf_Die child;
            if (dwarf_child(&cudie, &child) == 0) WalkDies(child, 1);
        }
        if (segments_.empty()) throw rtl::Exception("The module has no DWARF line information (build it with -g).");
        MakeRows();
        return std::move(map_);
    }

private:
    void ReadLoadBase() { map_.HandleAddress = HandleAddressOf(file_); }

    void ReadExecutableRanges()
    {
        Elf_Scn* scn = nullptr;
        while ((scn = elf_nextscn(file_.Elf.get(), scn)) != nullptr) {
            GElf_Shdr sh;
            if (gelf_getshdr(scn, &sh) && (sh.sh_flags & SHF_EXECINSTR) && (sh.sh_flags & SHF_ALLOC))
                code_.push_back({sh.sh_addr, sh.sh_addr + sh.sh_size});
        }
    }

    void ReadSymbols()
    {
        Elf_Scn* scn = nullptr;
        while ((scn = elf_nextscn(file_.Elf.get(), scn)) != nullptr) {
            GElf_Shdr sh;
            if (!gelf_getshdr(scn, &sh) || sh.sh_type != SHT_SYMTAB || sh.sh_entsize == 0) continue;
            Elf_Data* data = elf_getdata(scn, nullptr);
            for (std::size_t i = 0; data && i < sh.sh_size / sh.sh_entsize; ++i) {
                GElf_Sym sym;
                if (!gelf_getsym(data, int(i), &sym) || sym.st_shndx == SHN_UNDEF ||
                    GELF_ST_TYPE(sym.st_info) != STT_FUNC)
                    continue;
                const char* name = elf_strptr(file_.Elf.get(), sh.sh_link, sym.st_name);
                if (name && *name) symbols_.push_back({sym.st_value, sym.st_size, name});
            }
        }
        std::sort(symbols_.begin(), symbols_.end(), [](const TSymbol& a, const TSymbol& b) {
            return a.Value < b.Value || (a.Value == b.Value && a.Size < b.Size);
        });
    }

    // The function symbol that holds the address (the larger one among
    // equal starts); failing that, as addr2line, the nearest one below it.
    std::int32_t SymbolFunction(std::uint64_t a)
    {
        auto it = std::upper_bound(symbols_.begin(), symbols_.end(), a,
                                   [](std::uint64_t v, const TSymbol& s) { return v < s.Value; });
        if (it == symbols_.begin()) return -1;
        const TSymbol& nearest = *(it - 1);
        for (auto j = it; j != symbols_.begin();) {
            --j;
            if (j->Value != nearest.Value) break;
            if (j->Size == 0 || a < j->Value + j->Size) return NamedFunction(j->Name, 0);
        }
        return NamedFunction(nearest.Name, 0);
    }

    std::int32_t NamedFunction(const std::string& name, std::int32_t declLine)
    {
        auto [it, added] = functionIndex_.emplace(std::make_pair(name, declLine), std::int32_t(map_.Functions.size()));
        if (added) {
            TFunctionName f;
            crashreport::SplitCppClassAndProcedure(crashreport::DemangleCppName(name.c_str()), f.ClassName,
                                                   f.Procedure);
            f.FirstLine = declLine;
            map_.Functions.push_back(std::move(f));
        }
        return it->second;
    }

    bool InCode(std::uint64_t a) const
    {
        for (const auto& [lo, hi] : code_)
            if (a >= lo && a < hi) return true;
        return false;
    }

    std::int32_t FileIndex(const char* path)
    {
        std::string name = path ? path : "?";
        const auto slash = name.rfind('/');
        if (slash != std::string::npos) name = name.substr(slash + 1);
        auto [it, added] = fileIndex_.emplace(name, std::int32_t(map_.Files.size()));
        if (added) map_.Files.push_back(name);
        return it->second;
    }

    void ReadLines(Dwarf_Die& cudie)
    {
        Dwarf_Lines* lines = nullptr;
        std::size_t count = 0;
        if (dwarf_getsrclines(&cudie, &lines, &count) != 0) return;
        // Rows of one sequence; several rows at one address: the last one counts.
        bool haveOpen = false;
        TLineSegment open{};
        for (std::size_t i = 0; i < count; ++i) {
            Dwarf_Line* line = dwarf_onesrcline(lines, i);
            Dwarf_Addr addr = 0;
            int lineNo = 0;
            bool endSequence = false;
            if (!line || dwarf_lineaddr(line, &addr) != 0) continue;
            dwarf_lineno(line, &lineNo);
            dwarf_lineendsequence(line, &endSequence);
            if (haveOpen && addr > open.Start) {
                open.End = addr;
                if (InCode(open.Start)) segments_.push_back(open);
            }
            haveOpen = false;
            if (endSequence) continue;
            open = {addr, addr, FileIndex(dwarf_linesrc(line, nullptr, nullptr)), lineNo};
            haveOpen = true;
        }
    }

    // The function's linkage name (in C its plain name); -1 when it has
    // none: then the symbol that holds the address names it, as addr2line
    // names such code.
    std::int32_t FunctionIndex(Dwarf_Die& die, std::int32_t& plainName)
    {
        Dwarf_Attribute attr;
        const char* name = nullptr;
        Dwarf_Word declLine = 0;
        if (dwarf_attr_integrate(&die, DW_AT_decl_line, &attr)) dwarf_formudata(&attr, &declLine);
        plainName = -1;
        if (dwarf_attr_integrate(&die, DW_AT_name, &attr))
            if (const char* plain = dwarf_formstring(&attr)) plainName = NamedFunction(plain, std::int32_t(declLine));
        if (dwarf_attr_integrate(&die, DW_AT_linkage_name, &attr) ||
            dwarf_attr_integrate(&die, DW_AT_MIPS_linkage_name, &attr))
            name = dwarf_formstring(&attr);
        if (name) return NamedFunction(name, std::int32_t(declLine));
        return plainNames_ ? plainName : -1;
    }

    void WalkDies(Dwarf_Die die, int depth)
    {
        do {
            ++order_;
            const int tag = dwarf_tag(&die);
            if (tag == DW_TAG_subprogram || tag == DW_TAG_inlined_subroutine) {
                Dwarf_Addr base = 0, low = 0, high = 0;
                std::ptrdiff_t offset = 0;
                std::int32_t function = -2;
                std::int32_t plainName = -1;
                while ((offset = dwarf_ranges(&die, offset, &base, &low, &high)) > 0) {
                    if (high <= low || !InCode(low)) continue;
                    if (function == -2) function = FunctionIndex(die, plainName);
                    intervals_.push_back({low, high, order_, function, plainName});
                }
            }
            if (tag != DW_TAG_class_type && tag != DW_TAG_structure_type && tag != DW_TAG_union_type &&
                tag != DW_TAG_enumeration_type) {
                Dwarf_Die child;
                if (dwarf_haschildren(&die) && dwarf_child(&die, &child) == 0) WalkDies(child, depth + 1);
            }
        } while (dwarf_siblingof(&die, &die) == 0);
    }

    void MakeRows()
    {
        std::stable_sort(segments_.begin(), segments_.end(),
                         [](const TLineSegment& a, const TLineSegment& b) { return a.Start < b.Start; });
        // Code of one unit never holds another unit's rows: a row ends where
        // the next row of any unit starts. (libdw's sorting may put a row that
        // ends a sequence behind the sequence's end marker, which would make
        // it reach up to the unit's next sequence.)
        for (std::size_t i = 0, j = 0; i < segments_.size(); ++i) {
            j = std::max(j, i + 1);
            while (j < segments_.size() && segments_[j].Start <= segments_[i].Start) ++j;
            if (j < segments_.size()) segments_[i].End = std::min(segments_[i].End, segments_[j].Start);
        }
        std::sort(intervals_.begin(), intervals_.end(),
                  [](const TInterval& a, const TInterval& b) { return a.Low < b.Low; });
        std::vector<std::uint64_t> bounds;
        for (const auto& i : intervals_) {
            bounds.push_back(i.Low);
            bounds.push_back(i.High);
        }
        for (const auto& sym : symbols_) {
            bounds.push_back(sym.Value);
            bounds.push_back(sym.Value + sym.Size);
        }
        std::sort(bounds.begin(), bounds.end());
        bounds.erase(std::unique(bounds.begin(), bounds.end()), bounds.end());

        std::size_t next = 0;
        std::vector<TInterval> active;
        std::uint64_t covered = 0;
        for (const auto& seg : segments_) {
            std::uint64_t start = std::max(seg.Start, covered); // overlapping sequences: first wins
            if (start >= seg.End) continue;
            covered = seg.End;
            auto b = std::upper_bound(bounds.begin(), bounds.end(), start);
            while (start < seg.End) {
                const std::uint64_t end = (b != bounds.end() && *b < seg.End) ? *b : seg.End;
                while (next < intervals_.size() && intervals_[next].Low <= start) active.push_back(intervals_[next++]);
                std::erase_if(active, [start](const TInterval& i) { return i.High <= start; });
                const TInterval* best = nullptr;
                for (const auto& i : active) {
                    if (i.Low > start) continue;
                    if (!best || i.High - i.Low < best->High - best->Low ||
                        (i.High - i.Low == best->High - best->Low && i.Order > best->Order))
                        best = &i;
                }
                std::int32_t function = best ? best->Function : -1;
                if (function < 0) {
                    // No linkage name, or code no function's range covers
                    // (padding after a function): the symbol names it.
                    function = SymbolFunction(start);
                    if (function < 0 && best) function = best->PlainName;
                }
                AppendRow({start, end, seg.File, seg.Line, function});
                start = end;
                if (b != bounds.end() && *b <= start) ++b;
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
    std::vector<TSymbol> symbols_;
    std::uint64_t order_ = 0;
    bool plainNames_ = false;
    std::unordered_map<std::string, std::int32_t> fileIndex_;
    std::map<std::pair<std::string, std::int32_t>, std::int32_t> functionIndex_;
};

} // namespace

std::uint64_t HandleAddressOf(TElfFile& file)
{
    std::size_t count = 0;
    elf_getphdrnum(file.Elf.get(), &count);
    std::uint64_t low = UINT64_MAX;
    for (std::size_t i = 0; i < count; ++i) {
        GElf_Phdr ph;
        if (gelf_getphdr(file.Elf.get(), int(i), &ph) && ph.p_type == PT_LOAD)
            low = std::min<std::uint64_t>(low, ph.p_vaddr);
    }
    if (low == UINT64_MAX) throw rtl::Exception("The module has no loadable segment.");
    return low & ~std::uint64_t(0xFFF);
}

TCodeMap ReadCodeMap(TElfFile& file)
{
    if (!file.Dwarf) throw rtl::Exception("The module has no DWARF debug information (build it with -g).");
    return TCodeMapBuilder(file).Build();
}

} // namespace tools
