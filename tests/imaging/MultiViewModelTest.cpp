#include "imaging/MultiViewModel.h"

#include "imaging/IOParams.h"

#include <gtest/gtest.h>

using namespace kv;

// Defaults: thumbnails 100 x 100, borders 4.
TEST(MultiViewModel, GridLayoutExtentAndHitTest)
{
    TIEMViewGeometry G;
    G.GridWidth = -1;
    EXPECT_EQ(G.Columns(320), 3);
    EXPECT_EQ(G.CellPosition(4, 320), (TPoint{108, 108}));
    EXPECT_EQ(G.Extent(5, 320), (TSize{316, 212}));
    EXPECT_EQ(G.Extent(0, 320), (TSize{0, 0}));

    struct THit {
        int32_t X, Y, Want;
    } const Hits[] = {{150, 50, 1}, {105, 50, -1}, {2, 2, -1}, {10, 120, 3}, {150, 250, -1}, {-1, 50, -1}};
    for (const THit& H : Hits)
        EXPECT_EQ(G.HitTest(H.X, H.Y, {0, 0}, 5, 320), H.Want) << H.X << "," << H.Y;
    // Scrolled: the content point counts. Dragged left of the grid by a whole cell, the
    // point hits nothing (never image -1).
    EXPECT_EQ(G.HitTest(46, 50, {104, 0}, 5, 320), 1);
    EXPECT_EQ(G.HitTest(-150, 50, {0, 0}, 5, 320), -1);

    // GridWidth 0: one row, the index is the column.
    G.GridWidth = 0;
    EXPECT_EQ(G.CellPosition(7, 320), (TPoint{104 * 7 + 4, 4}));
    EXPECT_EQ(G.HitTest(104 * 7 + 10, 10, {0, 0}, 8, 320), 7);
    EXPECT_EQ(G.Extent(3, 320), (TSize{316, 108}));

    // Thumbnails and borders of 0 cannot divide by zero.
    G.SetThumbWidth(0);
    G.SetHorizBorder(0);
    G.GridWidth = -1;
    EXPECT_EQ(G.CellWidth(), 1);
    EXPECT_GE(G.HitTest(0, 0, {0, 0}, 3, 0), -1);
}

TEST(MultiViewModel, ThumbnailSizes)
{
    EXPECT_EQ(FitThumbnail(400, 200, 100, 100), (TSize{100, 50}));
    EXPECT_EQ(FitThumbnail(1, 1000, 100, 100), (TSize{1, 100}));
    EXPECT_EQ(FitThumbnail(0, 10, 100, 100), (TSize{0, 0}));
}

TEST(MultiViewModel, SelectionFollowsInsertionsAndDeletions)
{
    TIEMViewSelection S;
    S.Selected = 2;
    S.Deleted(0, 4);
    EXPECT_EQ(S.Selected, 1);
    S.Selected = 4;
    S.Deleted(4, 4); // the selected last image: the new last is selected
    EXPECT_EQ(S.Selected, 3);
    S.Selected = 1;
    S.Deleted(1, 3); // selected, not last: the next image takes its place
    EXPECT_EQ(S.Selected, 1);

    S.Selected = 1;
    S.Multi = {0, 2, 3};
    S.Inserted(2);
    EXPECT_EQ(S.Selected, 1);
    EXPECT_EQ(S.Multi, (std::vector<int32_t>{0, 3, 4}));
    S.Deleted(3, 4);
    EXPECT_EQ(S.Multi, (std::vector<int32_t>{0, 3}));
    EXPECT_TRUE(S.IsSelected(3));
    EXPECT_FALSE(S.IsSelected(2));
}

TEST(MultiViewModel, KeysMoveTheSelectionInsideTheList)
{
    struct TMove {
        TIEMViewKey Key;
        int32_t From, Columns, Want;
    } const Moves[] = {
        {TIEMViewKey::Right, 3, 3, 4},  {TIEMViewKey::Left, 0, 3, 0}, {TIEMViewKey::Down, 1, 3, 4},
        {TIEMViewKey::Down, 8, 3, 9},   {TIEMViewKey::Up, 1, 3, 0},   {TIEMViewKey::Down, 4, 0, 5},
        {TIEMViewKey::End, 0, 3, 9},    {TIEMViewKey::Home, 7, 3, 0}, {TIEMViewKey::PageDown, 0, 3, 6},
        {TIEMViewKey::PageUp, 9, 3, 3},
    };
    for (const TMove& M : Moves)
        EXPECT_EQ(MoveSelection(M.Key, M.From, 10, M.Columns, 2), M.Want) << int(M.Key) << " from " << M.From;
    EXPECT_EQ(MoveSelection(TIEMViewKey::Right, 0, 0, 3, 2), -1);
}

TEST(MultiViewModel, ParameterListCopiesAndRenumbers)
{
    TIEParamsList L;
    L.Reset(2); // attached to a view that already holds two images
    ASSERT_EQ(L.Count(), 2);
    L.Items(0)->GifImageCount = 7; // marks P0
    L.Inserted(0);
    ASSERT_EQ(L.Count(), 3);
    EXPECT_EQ(L.Items(0)->GifImageCount, 7); // a copy of P0
    EXPECT_EQ(L.Items(1)->GifImageCount, 7);
    for (int32_t I = 0; I < 3; ++I) {
        EXPECT_EQ(L.Items(I)->TiffImageIndex, I);
        EXPECT_EQ(L.Items(I)->GifImageIndex, I);
    }
    L.Deleted(1);
    ASSERT_EQ(L.Count(), 2);
    EXPECT_EQ(L.Items(0)->GifImageCount, 7);
    EXPECT_EQ(L.Items(1)->GifImageCount, 0);
    EXPECT_EQ(L.Items(1)->GifImageIndex, 1);
    L.Deleted(5);
    EXPECT_EQ(L.Count(), 2);
    EXPECT_EQ(L.Items(2), nullptr);
    // Inside the list the copy is of the entry at the index and goes in there; past the
    // end, of the last entry.
    L.Items(1)->GifImageCount = 9;
    L.Inserted(1);
    L.Items(2)->GifImageCount = 11;
    L.Inserted(3);
    const int32_t Want[] = {7, 9, 11, 11};
    ASSERT_EQ(L.Count(), 4);
    for (int32_t I = 0; I < 4; ++I) {
        EXPECT_EQ(L.Items(I)->GifImageCount, Want[I]) << I;
        EXPECT_EQ(L.Items(I)->TiffImageIndex, I);
    }
}
