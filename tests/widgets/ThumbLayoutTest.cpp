// The thumbnail browser's grid with Fit to Screen spacing, worked out from the layout
// rules for several view sizes, and where each thumbnail's title goes.
#include "widgets/ThumbNail.h"
#include "widgets/Thumbview.h"

#include "ThumbTestUtil.h"

#include <gtest/gtest.h>

using namespace kv;
using namespace kvtest;

TEST(ThumbFitToScreen, GapsShareTheSpareRoomOfEachLine)
{
    // Cells 100 x 100 (size 50 of 200), gap 4. Columns first (horizontal scrolling):
    // k = (H - 20) div (g + ch) per column, g' = (H - 20 - (g + ch) k) div (k + 1), Top =
    // (r - 1) ch + r g'. Rows first (vertical): k = (W - 20) div (g + cw), g' = (W - 20 -
    // k cw) div (k + 1), Left = (c - 1) cw + c g'.
    struct Case {
        TScrollMode Mode;
        int32_t W, H, PerLine;
        int32_t N;
        TPoint Want;
    };
    const Case Cases[] = {
        // 600 x 480, columns: k = 460 div 104 = 4, g' = (460 - 416) div 5 = 8.
        {SMHorizontal, 600, 480, 4, 1, {4, 8}},
        {SMHorizontal, 600, 480, 4, 4, {4, 332}},
        {SMHorizontal, 600, 480, 4, 5, {108, 8}},
        {SMHorizontal, 600, 480, 4, 8, {108, 332}},
        // 600 x 400: k = 380 div 104 = 3, g' = (380 - 312) div 4 = 17.
        {SMHorizontal, 600, 400, 3, 3, {4, 251}},
        {SMHorizontal, 600, 400, 3, 7, {212, 17}},
        // 600 x 480, rows: k = 580 div 104 = 5, g' = (580 - 500) div 6 = 13.
        {SMVertical, 600, 480, 5, 1, {13, 4}},
        {SMVertical, 600, 480, 5, 5, {465, 4}},
        {SMVertical, 600, 480, 5, 7, {126, 108}},
        // 450 x 480: k = 430 div 104 = 4, g' = (430 - 400) div 5 = 6.
        {SMVertical, 450, 480, 4, 4, {324, 4}},
        {SMVertical, 450, 480, 4, 9, {6, 212}},
    };
    for (const Case& C : Cases) {
        SCOPED_TRACE(std::to_string(C.W) + "x" + std::to_string(C.H) + " n " + std::to_string(C.N));
        TTHumbview V;
        V.SetSize(50);
        V.SetBounds(0, 0, C.W, C.H);
        V.SetScrollMode(C.Mode);
        V.SetAlignView(VTFitToScreen);
        ASSERT_EQ(V.CellWidth(), 100);
        ASSERT_EQ(V.PerLine(), C.PerLine);
        EXPECT_EQ(V.GridPosition(C.N), C.Want);
    }
}

TEST(ThumbTitles, TitleStripFollowsThePlacementAndTheName)
{
    TTempFolder F;
    WriteBmp(F.File("Picture.BMP"), 4, 4);
    Tthumbnail T;
    T.SetBounds(0, 0, 108, 103);
    T.SetFilename(F.File("Picture.BMP"));
    EXPECT_EQ(T.Title(), "Picture.BMP"); // the file name as written, without its folder
    EXPECT_EQ(T.TitleStrip()->Caption(), "Picture.BMP");
    EXPECT_EQ(T.TitleStrip()->Height(), 15);

    T.SetTitlePlacement(T_Up);
    EXPECT_TRUE(T.TitleStrip()->isVisibleTo(&T));
    const int32_t UpTop = T.TitleStrip()->Top();
    T.SetTitlePlacement(T_Down);
    const int32_t DownTop = T.TitleStrip()->Top();
    EXPECT_LT(UpTop, DownTop);
    EXPECT_GE(DownTop + T.TitleStrip()->Height(), T.Height() - 2 * T.BorderWidth() - 2);
    T.SetTitlePlacement(T_None);
    EXPECT_FALSE(T.TitleStrip()->isVisibleTo(&T));

    // The view hands its placement to each thumbnail, new and old, and names each by
    // what it was added as; the list is kept in title order.
    TTHumbview V;
    V.SetSize(50);
    V.AddThumb("b.png", false);
    V.SetTitlePlacement(T_Down);
    V.AddThumb("a.JPG", false);
    ASSERT_EQ(V.Count(), 2);
    EXPECT_EQ(V.Thumb(0)->Title(), "a.JPG");
    EXPECT_EQ(V.Thumb(1)->Title(), "b.png");
    EXPECT_EQ(V.Thumb(0)->TitlePlacement(), T_Down);
    EXPECT_EQ(V.Thumb(1)->TitlePlacement(), T_Down);
    // Selecting shows in the title strip's colours, and goes when another is selected.
    V.SetSelected(1);
    EXPECT_EQ(V.Thumb(1)->TitleColor(), clHighlight);
    EXPECT_EQ(V.Thumb(1)->TitleFont()->Color(), clHighlightText);
    V.SetSelected(0);
    EXPECT_EQ(V.Thumb(1)->TitleColor(), clBtnFace);
    EXPECT_EQ(V.Thumb(1)->TitleFont()->Color(), clWindowText);
    EXPECT_EQ(V.Thumb(0)->TitleColor(), clHighlight);
}
