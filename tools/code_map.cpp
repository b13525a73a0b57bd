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
    std::int32_t Die;       // index into the function entries
};

// A function or inlined-call entry of the DWARF, and where it sits: the
// entry it is nested in makes the chain of inlined calls.
struct TFunctionDie {
    Dwarf_Die Die;
    std::int32_t Parent = -1; // the enclosing function or inlined call
    bool Inlined = false;
    bool PlainNames = false; // C: the plain name is the symbol name
    std::int32_t CallFile = -1, CallLine = 0;
    std::uint64_t Low = 0;  // lowest code address, 0 when it has none
    std::int32_t Name = -2; // index into Functions as a caller shows it; -2: not looked up yet
    std::int32_t Call = -2; // index into Calls; -2: not made yet
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
            files_ = nullptr;
            std::size_t fileCount = 0;
            if (dwarf_getsrcfiles(&cudie, &files_, &fileCount) != 0) files_ = nullptr;
            Dwarf_Die child;
            if (dwarf_child(&cudie, &child) == 0) WalkDies(child, -1);
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

    // plain: a DWARF plain name, unqualified (its template arguments may hold
    // "::"), kept whole as the procedure.
    std::int32_t NamedFunction(const std::string& name, std::int32_t declLine, bool plain = false)
    {
        auto [it, added] = functionIndex_.emplace(std::make_pair(name, declLine), std::int32_t(map_.Functions.size()));
        if (added) {
            TFunctionName f;
            if (plain)
                f.Procedure = name;
            else
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
            if (const char* plain = dwarf_formstring(&attr))
                plainName = NamedFunction(plain, std::int32_t(declLine), true);
        if (dwarf_attr_integrate(&die, DW_AT_linkage_name, &attr) ||
            dwarf_attr_integrate(&die, DW_AT_MIPS_linkage_name, &attr))
            name = dwarf_formstring(&attr);
        if (name) return NamedFunction(name, std::int32_t(declLine));
        return plainNames_ ? plainName : -1;
    }

    // The file a call-file number of the current unit names.
    std::int32_t CallFileIndex(Dwarf_Die& die)
    {
        Dwarf_Attribute attr;
        Dwarf_Word number = 0;
        if (!files_ || !dwarf_attr(&die, DW_AT_call_file, &attr) || dwarf_formudata(&attr, &number) != 0) return -1;
        const char* path = dwarf_filesrc(files_, number, nullptr, nullptr);
        return path ? FileIndex(path) : -1;
    }

    // enclosing: the function entry the dies are nested in (-1 at unit level).
    void WalkDies(Dwarf_Die die, std::int32_t enclosing)
    {
        do {
            ++order_;
            const int tag = dwarf_tag(&die);
            std::int32_t inner = enclosing;
            if (tag == DW_TAG_subprogram || tag == DW_TAG_inlined_subroutine) {
                inner = std::int32_t(dies_.size());
                TFunctionDie entry;
                entry.Die = die;
                entry.Parent = enclosing;
                entry.PlainNames = plainNames_;
                if (tag == DW_TAG_inlined_subroutine) {
                    entry.Inlined = true;
                    entry.CallFile = CallFileIndex(die);
                    Dwarf_Attribute attr;
                    Dwarf_Word line = 0;
                    if (dwarf_attr(&die, DW_AT_call_line, &attr)) dwarf_formudata(&attr, &line);
                    entry.CallLine = std::int32_t(line);
                }
                Dwarf_Addr base = 0, low = 0, high = 0;
                std::ptrdiff_t offset = 0;
                std::int32_t function = -2;
                std::int32_t plainName = -1;
                while ((offset = dwarf_ranges(&die, offset, &base, &low, &high)) > 0) {
                    if (high <= low || !InCode(low)) continue;
                    if (function == -2) function = FunctionIndex(die, plainName);
                    if (entry.Low == 0 || low < entry.Low) entry.Low = low;
                    intervals_.push_back({low, high, order_, function, plainName, inner});
                }
                dies_.push_back(entry);
            }
            // Class types too: the code of a lambda or of a local class's
            // member function lies inside its class, inside the function.
            if (tag != DW_TAG_enumeration_type) {
                Dwarf_Die child;
                if (dwarf_haschildren(&die) && dwarf_child(&die, &child) == 0) WalkDies(child, inner);
            }
        } while (dwarf_siblingof(&die, &die) == 0);
    }

    // A function as the caller of an inlined call names it: its linkage
    // name, else its plain name, else the symbol at its code.
    std::int32_t CallerName(std::int32_t d)
    {
        TFunctionDie& entry = dies_[std::size_t(d)];
        if (entry.Name == -2) {
            const bool plain = plainNames_;
            plainNames_ = entry.PlainNames;
            std::int32_t plainName = -1;
            entry.Name = FunctionIndex(entry.Die, plainName);
            plainNames_ = plain;
            if (entry.Name < 0) entry.Name = plainName;
            if (entry.Name < 0 && entry.Low != 0) entry.Name = SymbolFunction(entry.Low);
        }
        return entry.Name;
    }

    // The inlined call an inlined-call entry stands for, its callers' calls
    // made first (so a parent's index is below its child's); -1 for code
    // that is not inlined.
    std::int32_t CallOf(std::int32_t d)
    {
        if (d < 0 || !dies_[std::size_t(d)].Inlined) return -1;
        if (dies_[std::size_t(d)].Call != -2) return dies_[std::size_t(d)].Call;
        const std::int32_t parent = dies_[std::size_t(d)].Parent;
        TInlinedCall call;
        call.Parent = CallOf(parent);
        call.Caller = parent >= 0 ? CallerName(parent) : -1;
        call.File = dies_[std::size_t(d)].CallFile;
        call.Line = dies_[std::size_t(d)].CallLine;
        dies_[std::size_t(d)].Call = std::int32_t(map_.Calls.size());
        map_.Calls.push_back(call);
        return dies_[std::size_t(d)].Call;
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
                // Inlined code of a function without a linkage name (in an
                // unnamed namespace, a lambda): its own plain name, not the
                // symbol at the address, which is the function it was
                // inlined into.
                if (function < 0 && best && dies_[std::size_t(best->Die)].Inlined) function = best->PlainName;
                if (function < 0) {
                    // No linkage name, or code no function's range covers
                    // (padding after a function): the symbol names it.
                    function = SymbolFunction(start);
                    if (function < 0 && best) function = best->PlainName;
                }
                AppendRow({start, end, seg.File, seg.Line, function, best ? CallOf(best->Die) : -1});
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
                last.Function == row.Function && last.Call == row.Call) {
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
    std::vector<TFunctionDie> dies_;
    Dwarf_Files* files_ = nullptr; // of the current unit
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
