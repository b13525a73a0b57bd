#include "crashreport/ui/list_view_items.h"

#include <algorithm>

#include "crashreport/stack/debug_info.h"
#include "crashreport/ui/row_pictures.h"

namespace crashreport::ui {

namespace {
bool Blank(const std::string& s)
{
    return std::all_of(s.begin(), s.end(), [](char c) { return c == ' ' || static_cast<unsigned char>(c) < 32; });
}

// Runs `on` when it goes out of scope: redrawing comes back on whatever happens.
struct TRedrawOnExit {
    TListViewItems& Items;
    ~TRedrawOnExit() { Items.SetRedraw(true); }
};
} // namespace

std::string FitCellText(gdi::Canvas& canvas, const std::string& text, int width)
{
    std::size_t markStart = text.size();
    for (const std::string mark : {kScannedMark, kInlinedMark})
        if (markStart > mark.size() && text.compare(markStart - mark.size(), mark.size(), mark) == 0)
            markStart -= mark.size();
    if (markStart == text.size() || canvas.TextWidth(text) <= width) return ::ui::FitWithEllipsis(canvas, text, width);
    const std::string marks = text.substr(markStart);
    const int marksWidth = canvas.TextWidth(marks);
    if (marksWidth >= width) return ::ui::FitWithEllipsis(canvas, text, width);
    return ::ui::FitWithEllipsis(canvas, text.substr(0, markStart), width - marksWidth) + marks;
}

TListViewItems::TListViewItems(::ui::ListView& list) : list_(list) {}

TListViewItems::~TListViewItems() { Clear(); }

void TListViewItems::PrepareColumns()
{
    prepared_ = true;
    aligns_.clear();
    for (int i = 0; i < list_.ColumnCount(); ++i) aligns_.push_back(list_.Column(i).Align);
    gdi::Canvas measure(1, 1);
    measure.Font = list_.Font;
    indentText_.clear();
    do indentText_ += ' ';
    while (measure.TextWidth(indentText_) < 14 && indentText_.size() < 64);
    indentStep_ = measure.TextWidth(indentText_);
    boldFont_ = list_.Font;
    boldFont_.Style |= gdi::fsBold;
}

void TListViewItems::AddRow(const std::vector<std::string>& columns, const std::string& caption, bool isGroup,
                            std::uint8_t highlight, std::int32_t imageIndex)
{
    if (!prepared_) PrepareColumns();
    auto row = std::make_unique<TListViewItemRec>();
    row->ListHandle = list_.Handle();
    row->Columns = columns;
    row->ImageIndex = imageIndex;
    row->IsGroup = isGroup;
    row->Highlight = highlight;
    std::string joined;
    for (const std::string& c : columns) joined += c;
    row->IsSeparator = !isGroup && Blank(joined);
    row->Caption = caption;
    row->Parent = lastRow_;
    if (isGroup) ++nesting_;
    if (row->IsSeparator) nesting_ = 0;
    if (row->IsSeparator || nesting_ < 2) {
        row->IndentLevel = 0;
    } else {
        if (row->Columns.empty()) row->Columns.emplace_back();
        row->Columns[0] = indentText_ + row->Columns[0];
        row->IndentLevel = 1;
    }
    lastRow_ = row->IsSeparator ? nullptr : row.get();
    rows_.push_back(std::move(row));
    InsertRow(*rows_.back(), -1);
}

void TListViewItems::InsertRow(TListViewItemRec& row, int position)
{
    if (row.Columns.empty()) return;
    ::ui::ListItem item;
    item.Texts = row.Columns;
    item.Image = row.ImageIndex;
    item.Data = reinterpret_cast<std::uintptr_t>(&row);
    list_.InsertItem(position, std::move(item));
}

void TListViewItems::DeleteRow(int position) { list_.DeleteItem(position); }
void TListViewItems::RedrawRows(int first, int last) { list_.RedrawItems(first, last); }
void TListViewItems::SetRedraw(bool on) { list_.SetRedraw(on); }

TListViewItemRec* TListViewItems::GetRow(int index)
{
    return index >= 0 && index < Count() ? rows_[static_cast<size_t>(index)].get() : nullptr;
}

TListViewItemRec* TListViewItems::GetRowRecord(int position)
{
    if (position < 0 || position >= list_.ItemCount()) return nullptr;
    return reinterpret_cast<TListViewItemRec*>(list_.Item(position).Data);
}

void TListViewItems::Delete(int index)
{
    if (index < 0 || index >= Count()) return;
    TListViewItemRec* row = rows_[static_cast<size_t>(index)].get();
    for (auto& other : rows_)
        if (other->Parent == row) other->Parent = nullptr;
    if (lastRow_ == row) lastRow_ = nullptr;
    rows_.erase(rows_.begin() + index);
}

void TListViewItems::Clear()
{
    while (!rows_.empty()) Delete(0);
}

void TListViewItems::ToggleGroup(int position, ::ui::TPoint point, bool byMouse)
{
    TListViewItemRec* group = GetRowRecord(position);
    if (!group || !group->IsGroup) return;
    const ::ui::TRect rect = list_.ItemRect(position);
    const int x = point.X - rect.Left, y = point.Y - rect.Top;
    if (byMouse) {
        const int start = group->Parent ? indentStep_ + 2 : 2;
        if (x < start || x > start + 10 || y < 2 || y > 12) return;
    }
    group->Expanded = !group->Expanded;
    SetRedraw(false);
    TRedrawOnExit redraw{*this};
    auto it = std::find_if(rows_.begin(), rows_.end(), [&](const auto& r) { return r.get() == group; });
    if (it == rows_.end()) return;
    int next = position + 1;
    for (++it; it != rows_.end(); ++it) {
        TListViewItemRec& row = **it;
        if (row.IsSeparator) break;
        const bool wasVisible = row.Visible;
        row.Visible = group->Expanded;
        if (row.Visible) {
            InsertRow(row, next++);
            if (row.IsGroup && !row.Expanded) break;
        } else if (wasVisible) {
            DeleteRow(next);
        }
    }
    RedrawRows(position, position);
}

bool TListViewItems::DrawRow(const ::ui::DrawItemParams& drawItem)
{
    if (!drawItem.canvas) return false;
    gdi::Canvas& c = *drawItem.canvas;
    const auto* row = reinterpret_cast<const TListViewItemRec*>(drawItem.itemData);
    if (!row) return false;
    const ::ui::TRect r = drawItem.rcItem;
    int left = r.Left;
    const int indent = indentStep_ * row->IndentLevel;
    const bool selected = (drawItem.itemState & ::ui::ODS_SELECTED) != 0;
    c.Brush.Style = gdi::BrushStyle::bsSolid;
    c.Brush.Color = selected ? rowcolors::Selected : rowcolors::Normal;
    c.FillRect(::ui::TRect{left + indent + 2, r.Top, r.Right, r.Bottom});
    if (row->IsGroup) {
        gdi::TColor caption;
        if (drawItem.itemId == 0) {
            caption = rowcolors::FirstGroup;
        } else if (row->Highlight != 0) {
            caption = rowcolors::HighlightGroup;
        } else {
            caption = rowcolors::PlainGroup;
            left += indentStep_;
        }
        c.Brush.Color = rowcolors::GroupUnderline;
        c.FillRect(::ui::TRect{left + 2, r.Bottom - 2, r.Right, r.Bottom});
        c.Font = boldFont_;
        c.Font.Color = caption;
        c.Brush.Style = gdi::BrushStyle::bsClear;
        const ::ui::TRect area{left + 15, r.Top - 1, r.Right, r.Bottom};
        const std::string text = ::ui::FitWithEllipsis(c, row->Caption, area.Width());
        c.TextRect(area, area.Left, area.Top + (area.Height() - c.TextHeight("Ag")) / 2, text);
        DrawTransparent(c, left + 1, r.Top + 1, RowPicture(row->Expanded ? rpMinus : rpPlus));
    } else {
        if (row->ImageIndex >= 0 && row->ImageIndex < 4)
            DrawTransparent(c, left + indent + 2, r.Top, RowPicture(static_cast<TRowPicture>(row->ImageIndex)));
        if (!row->IsSeparator) {
            c.Brush.Style = gdi::BrushStyle::bsSolid;
            c.Brush.Color = rowcolors::RowLine;
            c.FillRect(::ui::TRect{left + indent + 2, r.Bottom - 1, r.Right, r.Bottom});
        }
        c.Font = list_.Font;
        c.Font.Color = gdi::clBlack;
        c.Brush.Style = gdi::BrushStyle::bsClear;
        const int th = c.TextHeight("Ag");
        int x = r.Left;
        for (int col = 0; col < list_.ColumnCount(); ++col) {
            const int width = list_.ColumnWidth(col);
            const ::ui::TRect area = col == 0 ? ::ui::TRect{x + 20, r.Top, x + width - 2, r.Bottom}
                                              : ::ui::TRect{x + 6, r.Top, x + width - 6, r.Bottom};
            x += width;
            if (col >= static_cast<int>(row->Columns.size()) || area.Width() <= 0) continue;
            const std::string text = FitCellText(c, row->Columns[static_cast<size_t>(col)], area.Width());
            const int tw = c.TextWidth(text);
            const ::ui::ColumnAlign align =
                col < static_cast<int>(aligns_.size()) ? aligns_[static_cast<size_t>(col)] : ::ui::ColumnAlign::caLeft;
            int tx = area.Left;
            if (align == ::ui::ColumnAlign::caRight)
                tx = area.Right - tw;
            else if (align == ::ui::ColumnAlign::caCenter)
                tx = area.Left + (area.Width() - tw) / 2;
            c.TextRect(area, tx, r.Top + (r.Height() - th) / 2, text);
        }
    }
    if (drawItem.itemState & ::ui::ODS_FOCUS) {
        c.Brush.Style = gdi::BrushStyle::bsSolid;
        c.Brush.Color = selected && list_.Focused() ? rowcolors::FocusActive : rowcolors::FocusInactive;
        c.FrameRect(::ui::TRect{r.Left + indent + 2, r.Top, r.Right, r.Bottom});
    }
    return true;
}

} // namespace crashreport::ui
