// The parts of the multi-image view that need no window: where each thumbnail cell sits,
// which image a point hits, how big a thumbnail is, how the selection follows the keys
// and follows insertions and deletions, and the per-image parameter list of the
// multi-image I/O component. The view control and the component are built on these.
#pragma once

#include "platform/Types.h"

#include <cstdint>
#include <memory>
#include <vector>

namespace kv {

class TIOParamsVals;

// The grid's settings. The setters keep thumbnails at least 1 pixel and borders at
// least 0, so no division below can be by zero.
class TIEMViewGeometry {
public:
    int32_t ThumbWidth() const { return FThumbWidth; }
    int32_t ThumbHeight() const { return FThumbHeight; }
    int32_t HorizBorder() const { return FHorizBorder; }
    int32_t VertBorder() const { return FVertBorder; }
    void SetThumbWidth(int32_t Value) { FThumbWidth = Value < 1 ? 1 : Value; }
    void SetThumbHeight(int32_t Value) { FThumbHeight = Value < 1 ? 1 : Value; }
    void SetHorizBorder(int32_t Value) { FHorizBorder = Value < 0 ? 0 : Value; }
    void SetVertBorder(int32_t Value) { FVertBorder = Value < 0 ? 0 : Value; }
    // 0: every image in one row; -1: as many columns as the client width holds.
    int32_t GridWidth = 0;
    // The single-image display mode puts every image at (0, 0) without borders.
    bool SingleImage = false;

    int32_t CellWidth() const { return FThumbWidth + FHorizBorder; }
    int32_t CellHeight() const { return FThumbHeight + FVertBorder; }
    // GridWidth, or the automatic count for the client width when it is -1 (which can
    // be 0 or less for a narrow client: one row then).
    int32_t Columns(int32_t ClientWidth) const;
    // The top-left corner of image Index's cell in content coordinates.
    TPoint CellPosition(int32_t Index, int32_t ClientWidth) const;
    // The size of the content: the largest cell corner plus one cell; 0 x 0 when empty.
    TSize Extent(int32_t Count, int32_t ClientWidth) const;
    // The image whose thumbnail rectangle holds the client point (scrolled by Scroll),
    // or -1. Points left of or above the content hit nothing.
    int32_t HitTest(int32_t X, int32_t Y, TPoint Scroll, int32_t Count, int32_t ClientWidth) const;

private:
    int32_t FThumbWidth = 100, FThumbHeight = 100, FHorizBorder = 4, FVertBorder = 4;
};

// A Width x Height picture scaled by the smaller of BoxWidth / Width and BoxHeight /
// Height, each side at least 1 pixel (0 x 0 for an empty picture).
TSize FitThumbnail(int32_t Width, int32_t Height, int32_t BoxWidth, int32_t BoxHeight);

// The selected image and the multi-selection list, kept pointing at the same images
// while images come and go.
class TIEMViewSelection {
public:
    int32_t Selected = -1;
    std::vector<int32_t> Multi;

    // An image inserted at Index: every index at or after it moves up by one.
    void Inserted(int32_t Index);
    // Image Index deleted from a list that now holds NewCount images: it leaves the
    // multi-selection and later indexes move down; the selection goes to the new last
    // image when the deleted one was selected and last, and down by one when it was
    // after the deleted one.
    void Deleted(int32_t Index, int32_t NewCount);
    bool IsSelected(int32_t Index) const;
};

// The keys the view moves its selection with.
enum class TIEMViewKey : uint8_t { Left, Right, Up, Down, Home, End, PageUp, PageDown };

// Where the selection goes from Current for Key: rows are Columns long (one image when
// the grid is a single row, Columns 0 or less), a page is Columns x VisibleRows; the
// result stays inside 0..Count-1 (-1 for an empty list).
int32_t MoveSelection(TIEMViewKey Key, int32_t Current, int32_t Count, int32_t Columns, int32_t VisibleRows);

// The per-image parameters of the multi-image I/O component: one entry per image of the
// view it is attached to, each entry's TIFF and GIF image index set to its position.
class TIEParamsList {
public:
    TIEParamsList();
    ~TIEParamsList();
    int32_t Count() const { return int32_t(FItems.size()); }
    TIOParamsVals* Items(int32_t Index) const;
    // Attaching to a view that already holds Count images: one default entry each.
    void Reset(int32_t Count);
    // An image inserted at Index: a copy of the entry at Index (or of the last one when
    // Index is past the end) goes in there, or a default entry into an empty list.
    void Inserted(int32_t Index);
    void Deleted(int32_t Index);

private:
    void Renumber();
    std::vector<std::unique_ptr<TIOParamsVals>> FItems;
};

} // namespace kv
