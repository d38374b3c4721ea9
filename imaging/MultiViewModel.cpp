#include "imaging/MultiViewModel.h"

#include "imaging/IOParams.h"

#include <algorithm>

namespace kv {

// ---- Geometry ---------------------------------------------------------------------

int32_t TIEMViewGeometry::Columns(int32_t ClientWidth) const
{
    if (GridWidth != -1)
        return GridWidth;
    return (ClientWidth - FHorizBorder) / CellWidth();
}

TPoint TIEMViewGeometry::CellPosition(int32_t Index, int32_t ClientWidth) const
{
    if (SingleImage)
        return {0, 0};
    // A row is complete when its column count reaches the number of columns, so a count
    // of 0 or less never completes one: every image in the first row.
    const int32_t C = Columns(ClientWidth);
    const int32_t Column = C > 0 ? Index % C : Index;
    const int32_t Row = C > 0 ? Index / C : 0;
    return {CellWidth() * Column + FHorizBorder, CellHeight() * Row + FVertBorder};
}

TSize TIEMViewGeometry::Extent(int32_t Count, int32_t ClientWidth) const
{
    if (Count <= 0)
        return {0, 0};
    int32_t MaxX = 0, MaxY = 0;
    // The last image of the first row and the last image hold the largest corners.
    const int32_t C = Columns(ClientWidth);
    const int32_t Widest = C > 0 ? std::min(Count, C) - 1 : Count - 1;
    MaxX = CellPosition(Widest, ClientWidth).X;
    MaxY = CellPosition(Count - 1, ClientWidth).Y;
    return {MaxX + CellWidth(), MaxY + CellHeight()};
}

int32_t TIEMViewGeometry::HitTest(int32_t X, int32_t Y, TPoint Scroll, int32_t Count, int32_t ClientWidth) const
{
    const int64_t CX = int64_t(X) + Scroll.X, CY = int64_t(Y) + Scroll.Y;
    if (CX < 0 || CY < 0)
        return -1;
    const int64_t Column = CX / CellWidth(), Row = CY / CellHeight();
    const int64_t Index = Column + Row * Columns(ClientWidth);
    if (Index < 0 || Index >= Count)
        return -1;
    const TPoint Cell = CellPosition(int32_t(Index), ClientWidth);
    const bool Inside =
        CX >= Cell.X && CX < int64_t(Cell.X) + FThumbWidth && CY >= Cell.Y && CY < int64_t(Cell.Y) + FThumbHeight;
    return Inside ? int32_t(Index) : -1;
}

TSize FitThumbnail(int32_t Width, int32_t Height, int32_t BoxWidth, int32_t BoxHeight)
{
    if (Width <= 0 || Height <= 0)
        return {0, 0};
    const double Scale = std::min(double(BoxWidth) / Width, double(BoxHeight) / Height);
    return {std::max(1, int32_t(Width * Scale)), std::max(1, int32_t(Height * Scale))};
}

// ---- Selection --------------------------------------------------------------------

void TIEMViewSelection::Inserted(int32_t Index)
{
    if (Selected >= Index)
        ++Selected;
    for (int32_t& I : Multi)
        if (I >= Index)
            ++I;
}

void TIEMViewSelection::Deleted(int32_t Index, int32_t NewCount)
{
    if (Selected == Index && Index >= NewCount)
        Selected = NewCount - 1;
    else if (Selected > Index)
        --Selected;
    Multi.erase(std::remove(Multi.begin(), Multi.end(), Index), Multi.end());
    for (int32_t& I : Multi)
        if (I > Index)
            --I;
}

bool TIEMViewSelection::IsSelected(int32_t Index) const
{
    return Index == Selected || std::find(Multi.begin(), Multi.end(), Index) != Multi.end();
}

int32_t MoveSelection(TIEMViewKey Key, int32_t Current, int32_t Count, int32_t Columns, int32_t VisibleRows)
{
    if (Count <= 0)
        return -1;
    const int32_t Row = Columns > 0 ? Columns : 1;
    const int32_t Page = Row * std::max(1, VisibleRows);
    int64_t Next = Current;
    switch (Key) {
    case TIEMViewKey::Left: Next = Current - 1; break;
    case TIEMViewKey::Right: Next = Current + 1; break;
    case TIEMViewKey::Up: Next = int64_t(Current) - Row; break;
    case TIEMViewKey::Down: Next = int64_t(Current) + Row; break;
    case TIEMViewKey::Home: Next = 0; break;
    case TIEMViewKey::End: Next = Count - 1; break;
    case TIEMViewKey::PageUp: Next = int64_t(Current) - Page; break;
    case TIEMViewKey::PageDown: Next = int64_t(Current) + Page; break;
    }
    return int32_t(std::clamp<int64_t>(Next, 0, Count - 1));
}

// ---- Per-image parameters ---------------------------------------------------------

TIEParamsList::TIEParamsList() = default;
TIEParamsList::~TIEParamsList() = default;

TIOParamsVals* TIEParamsList::Items(int32_t Index) const
{
    return Index >= 0 && Index < Count() ? FItems[size_t(Index)].get() : nullptr;
}

void TIEParamsList::Reset(int32_t NewCount)
{
    FItems.clear();
    for (int32_t I = 0; I < NewCount; ++I)
        FItems.push_back(std::make_unique<TIOParamsVals>(nullptr));
    Renumber();
}

void TIEParamsList::Inserted(int32_t Index)
{
    Index = std::clamp(Index, 0, Count());
    auto Entry = std::make_unique<TIOParamsVals>(nullptr);
    if (!FItems.empty())
        Entry->Assign(FItems[size_t(std::min(Index, Count() - 1))].get());
    FItems.insert(FItems.begin() + Index, std::move(Entry));
    Renumber();
}

void TIEParamsList::Deleted(int32_t Index)
{
    if (Index < 0 || Index >= Count())
        return;
    FItems.erase(FItems.begin() + Index);
    Renumber();
}

void TIEParamsList::Renumber()
{
    for (int32_t I = 0; I < Count(); ++I) {
        FItems[size_t(I)]->TiffImageIndex = I;
        FItems[size_t(I)]->GifImageIndex = I;
    }
}

} // namespace kv
