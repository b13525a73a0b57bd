#pragma once
// The grouped rows of a report list: group rows with a bold caption and a
// plus or minus sign that fold and unfold the rows below them up to the next
// separator, normal rows with a module-kind picture, an indent and a row
// line, separator rows, and the list's own selection and focus colours.
// The list view is the toolkit's; this keeps every row's record, inserts and
// removes the list's items as groups fold, and draws each item when the list
// asks its owner. Used only on the dialog's thread.
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/gdi/canvas.h"
#include "platform/ui/list_view.h"

namespace crashreport::ui {

// A cell's text fitted to `width` with an ellipsis. The marks a call-stack
// row's procedure ends with (" [inlined]", " [scan]") stay whole: the name
// before them is shortened instead.
std::string FitCellText(gdi::Canvas& canvas, const std::string& text, int width);

struct TListViewItemRec {
    ::ui::HWND ListHandle = 0;
    std::vector<std::string> Columns;
    std::int32_t ImageIndex = -1; // 0 library, 1 package, 2 program, 3 source line; -1 none
    std::int32_t IndentLevel = 0;
    std::uint8_t Highlight = 0;
    bool IsGroup = false;
    bool Expanded = true;
    bool IsSeparator = false;
    bool Visible = true;
    std::string Caption;
    TListViewItemRec* Parent = nullptr; // the row before, unless that was a separator
};

// The list's colours.
namespace rowcolors {
inline constexpr gdi::TColor Selected = gdi::RGB(204, 218, 241);
inline constexpr gdi::TColor Normal = gdi::RGB(255, 255, 255);
inline constexpr gdi::TColor FocusActive = gdi::RGB(49, 106, 197);
inline constexpr gdi::TColor FocusInactive = gdi::RGB(152, 181, 226);
inline constexpr gdi::TColor GroupUnderline = gdi::RGB(123, 164, 224);
inline constexpr gdi::TColor RowLine = gdi::RGB(206, 203, 194);
inline constexpr gdi::TColor FirstGroup = gdi::RGB(128, 0, 0);
inline constexpr gdi::TColor HighlightGroup = gdi::RGB(0, 0, 128);
inline constexpr gdi::TColor PlainGroup = gdi::RGB(96, 96, 96);
} // namespace rowcolors

class TListViewItems {
public:
    explicit TListViewItems(::ui::ListView& list);
    ~TListViewItems();
    TListViewItems(const TListViewItems&) = delete;
    TListViewItems& operator=(const TListViewItems&) = delete;

    void AddRow(const std::vector<std::string>& columns, const std::string& caption, bool isGroup,
                std::uint8_t highlight, std::int32_t imageIndex);
    void InsertRow(TListViewItemRec& row, int position);
    void DeleteRow(int position);
    void RedrawRows(int first, int last);
    void SetRedraw(bool on);
    void ToggleGroup(int position, ::ui::TPoint point, bool byMouse);
    void Delete(int index);
    void Clear();
    TListViewItemRec* GetRow(int index);
    TListViewItemRec* GetRowRecord(int position);
    int Count() const { return static_cast<int>(rows_.size()); }
    bool DrawRow(const ::ui::DrawItemParams& drawItem);

    int IndentStep() const { return indentStep_; }
    const std::string& IndentText() const { return indentText_; }
    int NestingCount() const { return nesting_; }

private:
    void PrepareColumns();

    std::vector<std::unique_ptr<TListViewItemRec>> rows_;
    bool prepared_ = false;
    TListViewItemRec* lastRow_ = nullptr;
    ::ui::ListView& list_;
    std::string indentText_;
    int nesting_ = 0;
    int indentStep_ = 0;
    gdi::TFont boldFont_;
    std::vector<::ui::ColumnAlign> aligns_;
};

} // namespace crashreport::ui
