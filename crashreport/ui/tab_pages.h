#pragma once
// The five pages of the exception dialog's tab control: General and CPU
// (the report's rich text), Call Stack and Modules (grouped report lists
// whose column widths live in the state file) and Other (the custom data as
// plain text). A page is a child window made when its tab is selected and
// destroyed when another one is; a list page writes its column widths back
// when it goes. The row builders are apart so that tests see the rows.
#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "crashreport/report/report_dialogs.h"
#include "crashreport/ui/dialog_fonts.h"
#include "crashreport/ui/list_view_items.h"
#include "crashreport/ui/source_jump.h"
#include "crashreport/ui/state_file.h"
#include "platform/ui/button.h"
#include "platform/ui/list_view.h"
#include "platform/ui/rich_text_view.h"

namespace crashreport::ui {

enum TPageKind { pkGeneral, pkCallStack, pkModules, pkCPU, pkOther };
inline constexpr int PageKindCount = 5;

// Control identifiers of a page.
enum : int { idPageHeader = 102, idPageContent = 103 };

// One row for TListViewItems.
struct TPageRow {
    std::vector<std::string> Columns;
    std::string Caption;
    bool IsGroup = false;
    std::uint8_t Highlight = 0;
    std::int32_t ImageIndex = -1;
};

// "5.1.5.0" -> "5.1.x"; fewer than two dots: unchanged.
std::string ShortModuleVersion(const std::string& version);
// Kilobytes rounded to nearest (halves to even) and " Kb".
std::string ModuleSizeText(std::uint64_t bytes);
// 1 package (.BPL, .DPL), 2 program (.EXE), 0 library otherwise.
std::int32_t ModuleImageIndex(const std::string& fileName);
// 3 for a source line, else by the module kind.
std::int32_t StackImageIndex(const TReportStackRow& entry);

std::vector<TPageRow> BuildCallStackRows(const TReportSources& sources, const TTavrelModuleOptions& options);
std::vector<TPageRow> BuildModuleRows(const TReportSources& sources);

// State-file keys of the columns, in screen order.
const std::array<const char*, 6>& CallStackWidthKeys();
const std::array<const char*, 7>& ModuleWidthKeys();
const std::array<int, 6>& CallStackDefaultWidths();
const std::array<int, 7>& ModuleDefaultWidths();

// What a page needs of its dialog.
struct TPageContext {
    const TDialogReport* Report = nullptr;
    const TTavrelModuleOptions* Options = nullptr;
    TDialogFonts Fonts;
    TStateFile* State = nullptr;
    std::function<void()> UserInput; // restarts the dialog's auto-close count
};

class TReportPage : public ::ui::Window {
public:
    TReportPage(::ui::Window* parent, TPageKind kind, const TPageContext& context);
    ~TReportPage() override;

    TPageKind Kind() const { return kind_; }
    ::ui::StaticText* Header() const { return header_; }
    ::ui::Window* Content() const { return content_; }
    ::ui::ListView* List() const { return list_; }
    ::ui::RichTextView* Text() const { return text_; }
    TListViewItems* Items() const { return items_.get(); }
    // Writes the list's column widths to the state file (done when destroyed).
    void SaveColumnWidths();
    // The source-jump request of a call stack row with a line.
    TSourceJumpRecord SourceJumpRecordOf(const TListViewItemRec& row) const;

    ::ui::LRESULT WndProc(::ui::UINT message, ::ui::WPARAM wParam, ::ui::LPARAM lParam) override;

protected:
    void Resized() override;

private:
    void BuildList();
    TPageKind kind_;
    TPageContext context_;
    ::ui::StaticText* header_ = nullptr;
    ::ui::Window* content_ = nullptr;
    ::ui::ListView* list_ = nullptr;
    ::ui::RichTextView* text_ = nullptr;
    std::unique_ptr<TListViewItems> items_;
};

} // namespace crashreport::ui
