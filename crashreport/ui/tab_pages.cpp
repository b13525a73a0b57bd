#include "crashreport/ui/tab_pages.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <map>

#include "crashreport/report/report_rtf.h"
#include "crashreport/stack/debug_info.h"
#include "platform/kernel/files.h"
#include "platform/rtl/file_names.h"
#include "platform/ui/notify.h"
#include "platform/rtl/strings.h"

namespace crashreport::ui {

namespace {

std::string Hex(std::uintptr_t value) { return HexAddress(value); }

std::string Flat(const std::string& s) { return rtl::FlattenControlChars(s); }

std::uint32_t ShownKinds(TStackFlags flags)
{
    std::uint32_t kinds = 1u << dkDebugLine;
    if (flags.Contains(stDllFrames)) kinds |= 1u << dkExportName;
    if (flags.Contains(stPackageFrames)) kinds |= 1u << dkDecoratedName;
    return kinds;
}

std::string Extension(const std::string& fileName)
{
    const std::string name = rtl::ExtractFileName(fileName);
    const std::size_t dot = name.rfind('.');
    return dot == std::string::npos ? std::string() : name.substr(dot);
}

std::string Upper(std::string s)
{
    for (char& c : s)
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    return s;
}

} // namespace

std::string ShortModuleVersion(const std::string& version)
{
    const std::size_t first = version.find('.');
    if (first == std::string::npos) return version;
    const std::size_t second = version.find('.', first + 1);
    if (second == std::string::npos) return version;
    return version.substr(0, second + 1) + "x";
}

std::string ModuleSizeText(std::uint64_t bytes)
{
    return std::to_string(static_cast<std::uint64_t>(std::nearbyint(static_cast<double>(bytes) / 1024.0))) + " Kb";
}

std::int32_t ModuleImageIndex(const std::string& fileName)
{
    const std::string ext = Upper(Extension(fileName));
    if (ext == ".BPL" || ext == ".DPL") return 1;
    if (ext == ".EXE") return 2;
    return 0;
}

std::int32_t StackImageIndex(const TReportStackRow& entry)
{
    if (entry.DebugDetail == dkDebugLine) return 3;
    const std::uint8_t kind = entry.ModuleKind;
    switch (kind) {
    case 1: return 2;
    case 2: return 1;
    case 0:
    case 3: return 0;
    default: return 3;
    }
}

std::vector<TPageRow> BuildCallStackRows(const TReportSources& sources, const TTavrelModuleOptions& options)
{
    std::vector<TPageRow> rows;
    if (!sources.CallStack) return rows;
    const std::uint32_t kinds = ShownKinds(options.StackFlags());
    const bool lineOffsets = options.StackFlags().Contains(stLineOffsets);
    const TReportStackRow* previous = nullptr;
    bool firstGroup = true;
    for (const TReportStackRow& entry : *sources.CallStack) {
        const TReportStackRow* e = &entry;
        if (e->DebugDetail > dkDebugLine || !(kinds & (1u << e->DebugDetail))) continue;
        if (e->DebugDetail == dkDecoratedName && e->ModuleKind == 1) continue;
        if (!previous || e->ThreadID != previous->ThreadID || e->RunningThread != previous->RunningThread) {
            if (previous && e->RunningThread == 1)
                rows.push_back(TPageRow{std::vector<std::string>(6), {}, false, 0, -1});
            const std::string label = options.GetText(firstGroup ? 69 : (e->RunningThread == 1 ? 70 : 71));
            TReportThread thread;
            if (auto found = sources.Threads.find(static_cast<std::uint32_t>(e->ThreadID));
                found != sources.Threads.end())
                thread = found->second;
            std::string caption = label + ": " + options.GetText(72) + "=" +
                std::to_string(static_cast<std::uint32_t>(e->ThreadID)) + "; " + options.GetText(73) + "=" +
                thread.Priority;
            if (!thread.ClassName.empty()) caption += "; " + options.GetText(74) + "=" + Flat(thread.ClassName);
            if (thread.Main) caption += "; [" + options.GetText(68) + "]";
            rows.push_back(TPageRow{std::vector<std::string>(6), caption, true, e->RunningThread, -1});
            firstGroup = false;
        }
        TPageRow row;
        row.Columns.resize(6);
        row.Columns[0] = Hex(reinterpret_cast<std::uintptr_t>(e->Addr));
        if (e->DebugDetail != dkUnknown && !e->ModuleFileName.empty())
            row.Columns[1] = Flat(rtl::ExtractFileName(e->ModuleFileName));
        row.Columns[2] = Flat(e->UnitName);
        row.Columns[3] = Flat(e->ClassName);
        row.Columns[4] = Flat(ShownProcedureName(*e)); // an inlined row is marked
        if (e->Line != 0) {
            row.Columns[5] = std::to_string(e->Line);
            if (lineOffsets) row.Columns[5] += "[" + std::to_string(e->ProcOffsetLine) + "]";
        }
        row.ImageIndex = StackImageIndex(*e);
        rows.push_back(std::move(row));
        previous = e;
    }
    return rows;
}

std::vector<TPageRow> BuildModuleRows(const TReportSources& sources)
{
    std::vector<TPageRow> rows;
    for (const TReportModuleRow& module : sources.Modules) {
        const TReportModuleRow* m = &module;
        TPageRow row;
        // Screen order: handle, name, description, version, size, modified, path.
        row.Columns = {Hex(m->Handle),
                       Flat(rtl::ExtractFileName(m->FileName)),
                       Flat(m->Description),
                       Flat(ShortModuleVersion(m->Version)),
                       ModuleSizeText(m->FileSize),
                       FormatFileDate(m->LastModified),
                       Flat(rtl::ExtractFilePath(m->FileName))};
        row.ImageIndex = ModuleImageIndex(m->FileName);
        rows.push_back(std::move(row));
    }
    return rows;
}

const std::array<const char*, 6>& CallStackWidthKeys()
{
    static const std::array<const char*, 6> keys = {"Col0", "Col1", "Col2", "Col3", "Col4", "Col5"};
    return keys;
}

// The module keys are numbered by field: Modified (screen 5) is ColMod6 and
// Path (screen 6) is ColMod5.
const std::array<const char*, 7>& ModuleWidthKeys()
{
    static const std::array<const char*, 7> keys = {"ColMod0", "ColMod1", "ColMod2", "ColMod3",
                                                    "ColMod4", "ColMod6", "ColMod5"};
    return keys;
}

const std::array<int, 6>& CallStackDefaultWidths()
{
    // The address column holds 16 digits on this platform.
    static const std::array<int, 6> widths = {89 + 8 * 8, 92, 126, 126, 200, 61};
    return widths;
}

const std::array<int, 7>& ModuleDefaultWidths()
{
    // Modified holds "yyyy-mm-dd hh:nn:ss", wider in this platform's fonts.
    static const std::array<int, 7> widths = {80 + 8 * 8, 96, 175, 50, 54, 118, 712};
    return widths;
}

TReportPage::TReportPage(::ui::Window* parent, TPageKind kind, const TPageContext& context)
    : ::ui::Window(parent), kind_(kind), context_(context)
{
    const TTavrelModuleOptions& options = *context_.Options;
    static const int headers[PageKindCount] = {5, 7, 9, 11, 13};
    header_ = Add<::ui::StaticText>(options.GetText(static_cast<std::size_t>(headers[kind])));
    header_->Id = idPageHeader;
    header_->Font = context_.Fonts.Dialog;
    header_->WordWrap = false;
    const TDialogReport& report = *context_.Report;
    if (kind == pkCallStack || kind == pkModules) {
        list_ = Add<::ui::ListView>();
        list_->Font = context_.Fonts.List;
        list_->OwnerDraw = true;
        list_->Color = gdi::clWhite;
        content_ = list_;
        BuildList();
    } else {
        text_ = Add<::ui::RichTextView>();
        text_->Font = context_.Fonts.TextPane;
        content_ = text_;
        TRtfFont font;
        font.Face = context_.Fonts.TextPane.Name;
        font.PointSize = context_.Fonts.TextPane.Size();
        if (kind == pkGeneral && report.Report)
            text_->LoadRTF(BuildGeneralRTF(report.Report->GeneralPart, font));
        else if (kind == pkCPU && report.Report)
            text_->LoadRTF(BuildCPURTF(report.Report->CPUPart, font));
        else if (kind == pkOther)
            text_->SetPlainText(report.CustomData);
    }
    content_->Id = idPageContent;
    content_->TabStop = true;
}

TReportPage::~TReportPage()
{
    if (list_) SaveColumnWidths();
    items_.reset(); // before the list it draws on
}

void TReportPage::BuildList()
{
    const TTavrelModuleOptions& options = *context_.Options;
    const TReportSources* sources = context_.Report->Sources;
    std::vector<TPageRow> rows;
    if (kind_ == pkCallStack) {
        const auto& keys = CallStackWidthKeys();
        for (int c = 0; c < 6; ++c) {
            const int width = context_.State
                ? context_.State->ReadInteger(keys[static_cast<size_t>(c)],
                                              CallStackDefaultWidths()[static_cast<size_t>(c)])
                : CallStackDefaultWidths()[static_cast<size_t>(c)];
            list_->AddColumn(options.GetText(static_cast<std::size_t>(62 + c)), std::clamp(width, 0, 4000),
                             c == 5 ? ::ui::ColumnAlign::caRight : ::ui::ColumnAlign::caLeft);
        }
        if (sources) rows = BuildCallStackRows(*sources, options);
    } else {
        const auto& keys = ModuleWidthKeys();
        static const int texts[7] = {84, 85, 86, 87, 88, 89, 90};
        for (int c = 0; c < 7; ++c) {
            const int width = context_.State
                ? context_.State->ReadInteger(keys[static_cast<size_t>(c)],
                                              ModuleDefaultWidths()[static_cast<size_t>(c)])
                : ModuleDefaultWidths()[static_cast<size_t>(c)];
            list_->AddColumn(options.GetText(static_cast<std::size_t>(texts[c])), std::clamp(width, 0, 4000),
                             c == 3 || c == 4 ? ::ui::ColumnAlign::caRight : ::ui::ColumnAlign::caLeft);
        }
        if (sources) rows = BuildModuleRows(*sources);
    }
    items_ = std::make_unique<TListViewItems>(*list_);
    list_->SetRedraw(false);
    for (const TPageRow& row : rows)
        items_->AddRow(row.Columns, row.Caption, row.IsGroup, row.Highlight, row.ImageIndex);
    list_->SetRedraw(true);
}

TSourceJumpRecord TReportPage::SourceJumpRecordOf(const TListViewItemRec& row) const
{
    // The address column (after any indent) names the entry, whose module
    // gives the compilation date.
    std::string address = row.Columns[0];
    address.erase(0, address.find_first_not_of(' '));
    const std::uintptr_t value = static_cast<std::uintptr_t>(std::strtoull(address.c_str(), nullptr, 16));
    double compiled = 0;
    if (const TReportSources* sources = context_.Report->Sources; sources && sources->CallStack)
        for (const TReportStackRow& e : *sources->CallStack)
            if (reinterpret_cast<std::uintptr_t>(e.Addr) == value && !e.ModuleFileName.empty()) {
                compiled = e.ModuleCompilationDate;
                break;
            }
    std::string program;
    if (auto exe = kernel::GetRealPath("/proc/self/exe")) program = rtl::ExtractFileName(*exe);
    return BuildSourceJumpRecord(program, row.Columns[2], row.Columns[3], row.Columns[4], row.Columns[5], compiled);
}

void TReportPage::SaveColumnWidths()
{
    if (!list_ || !context_.State) return;
    std::map<std::string, int> values;
    for (int c = 0; c < list_->ColumnCount(); ++c) {
        const char* key = kind_ == pkCallStack ? CallStackWidthKeys()[static_cast<size_t>(c)]
                                               : ModuleWidthKeys()[static_cast<size_t>(c)];
        values[key] = list_->ColumnWidth(c);
    }
    context_.State->WriteIntegers(values);
}

void TReportPage::Resized()
{
    header_->SetBounds(3, 2, std::max(0, Width() - 6), 16);
    content_->SetBounds(3, 20, std::max(0, Width() - 8), std::max(0, Height() - 24));
}

::ui::LRESULT TReportPage::WndProc(::ui::UINT message, ::ui::WPARAM wParam, ::ui::LPARAM lParam)
{
    if (message == ::ui::WM_DRAWITEM && items_) {
        const auto* draw = reinterpret_cast<const ::ui::DrawItemParams*>(lParam);
        return draw && items_->DrawRow(*draw) ? 1 : 0;
    }
    if (message == ::ui::WM_NOTIFY && items_) {
        if (context_.UserInput) context_.UserInput();
        const auto* header = reinterpret_cast<const ::ui::NotifyHeader*>(lParam);
        if (header && header->hwndFrom == list_->Handle()) {
            const auto* a = reinterpret_cast<const ::ui::ListViewActivate*>(lParam);
            if (header->code == ::ui::NM_CLICK) {
                items_->ToggleGroup(a->iItem, a->ptAction, true);
            } else if (header->code == ::ui::NM_DBLCLK || header->code == ::ui::NM_RETURN) {
                // A row with a line would ask the development environment to
                // show the source; groups fold and unfold.
                const TListViewItemRec* row = items_->GetRowRecord(a->iItem);
                const bool hasLine = kind_ == pkCallStack && row && row->Columns.size() > 5 && !row->Columns[5].empty();
                if (hasLine)
                    SendSourceJump(SourceJumpRecordOf(*row));
                else
                    items_->ToggleGroup(a->iItem, a->ptAction, false);
            } else if (header->code == ::ui::HDN_ENDTRACK) {
                SaveColumnWidths();
            }
        }
        return 0;
    }
    return ::ui::Window::WndProc(message, wParam, lParam);
}

} // namespace crashreport::ui
