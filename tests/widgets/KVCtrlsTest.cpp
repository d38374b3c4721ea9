#include "widgets/KVCtrls.h"

#include "platform/KvDrawText.h"

#include <QDialog>
#include <QLineEdit>
#include <QWidget>

#include <gtest/gtest.h>

using namespace kv;

namespace {

TColor Px(TCustomControl& C, int32_t X, int32_t Y) { return ColorToRGB(C.Canvas()->Pixels(X, Y)) & 0xFFFFFF; }
TColor Sys(TColor C) { return ColorToRGB(C) & 0xFFFFFF; }

// A glyph of Count square images of Side pixels, each filled with its colour; the
// bottom-left pixel of the whole bitmap is the magenta key.
std::unique_ptr<TBitmap> MakeGlyph(int32_t Side, std::vector<TColor> Colors)
{
    auto b = std::make_unique<TBitmap>();
    b->SetPixelFormat(pf24bit);
    b->SetSize(Side * int32_t(Colors.size()), Side);
    for (int32_t i = 0; i < int32_t(Colors.size()); ++i)
        for (int32_t y = 0; y < Side; ++y)
            for (int32_t x = 0; x < Side; ++x)
                b->SetPixelColor(i * Side + x, y, Colors[size_t(i)]);
    b->SetPixelColor(0, Side - 1, clFuchsia);
    return b;
}

int32_t Count(TCustomControl& C, TColor Color)
{
    int32_t n = 0;
    for (int32_t y = 0; y < C.Height(); ++y)
        for (int32_t x = 0; x < C.Width(); ++x)
            n += Px(C, x, y) == Color;
    return n;
}

} // namespace

// ---- Text drawing --------------------------------------------------------------------------

TEST(KvDrawText, MeasuresLinesPrefixesAndBreaks)
{
    TCanvas c;
    const int32_t h = c.TextHeight("Wg");
    TRect r = Rect(5, 7, 5, 7);
    EXPECT_EQ(DrawText(c, "&Hello", r, DT_CALCRECT), h);
    EXPECT_EQ(r, Rect(5, 7, 5 + c.TextWidth("Hello"), 7 + h));
    // With DT_NOPREFIX the "&" is text.
    r = Rect(0, 0, 0, 0);
    DrawText(c, "&Hello", r, DT_CALCRECT | DT_NOPREFIX);
    EXPECT_EQ(r.Right, c.TextWidth("&Hello"));
    // Two hard lines, and a break at the blank when the width forces it.
    r = Rect(0, 0, 0, 0);
    EXPECT_EQ(DrawText(c, "ab\r\ncdef", r, DT_CALCRECT), 2 * h);
    EXPECT_EQ(r.Right, c.TextWidth("cdef"));
    r = Rect(0, 0, c.TextWidth("aaa bb") - 1, 0);
    EXPECT_EQ(DrawText(c, "aaa bbb", r, DT_CALCRECT | DT_WORDBREAK), 2 * h);
    r = Rect(0, 0, 0, 0);
    EXPECT_EQ(DrawText(c, "", r, DT_CALCRECT), 0);
    // Tabs stop every 8 characters.
    r = Rect(0, 0, 0, 0);
    DrawText(c, "ab\tc", r, DT_CALCRECT | DT_EXPANDTABS);
    EXPECT_EQ(r.Right, c.TextWidth("ab      c"));
}

TEST(KvDrawText, AcceleratorsAndPrefixes)
{
    int32_t u = 0;
    EXPECT_EQ(StripAccelPrefix("&&a&bc", &u), "&abc");
    EXPECT_EQ(u, 2);
    EXPECT_EQ(StripAccelPrefix("plain", &u), "plain");
    EXPECT_EQ(u, -1);
    EXPECT_EQ(GetAccelChar("&Open"), U'o');
    EXPECT_EQ(GetAccelChar("A&&B"), 0u);
    EXPECT_TRUE(IsAccel(U'O', "&Open"));
    EXPECT_FALSE(IsAccel(U'p', "&Open"));
    EXPECT_TRUE(IsAccel(U'Ф', "&файл"));
}

// ---- Label -----------------------------------------------------------------------------------

TEST(KvLabel, AutoSizeCountsTheShadow)
{
    TKvLabel l;
    EXPECT_EQ(l.Width(), 65);
    l.Font()->SetName("Arial");
    l.SetShadowPos(spRightBottom);
    l.SetShadowSize(2);
    l.SetCaption("Hello");
    TCanvas c;
    c.Font()->Assign(l.Font());
    EXPECT_EQ(l.Width(), c.TextWidth("Hello") + 2);
    EXPECT_EQ(l.Height(), c.TextHeight("Hello") + 2);
    // An empty caption, or a lone "&", measures as a blank.
    l.SetCaption("");
    EXPECT_EQ(l.Width(), c.TextWidth(" ") + 2);
    l.SetCaption("&");
    EXPECT_EQ(l.Width(), c.TextWidth(" ") + 2);
    // Right-aligned labels keep their right edge.
    l.SetCaption("Hi");
    l.SetAlignment(taRightJustify);
    l.SetBounds(100, 10, l.Width(), l.Height());
    const int32_t right = l.Left() + l.Width();
    l.SetCaption("Hello there");
    EXPECT_EQ(l.Left() + l.Width(), right);
    EXPECT_EQ(l.Width(), c.TextWidth("Hello there") + 2);
}

TEST(KvLabel, PaintsShadowAndEngravedDisabledText)
{
    QWidget parent;
    TKvLabel l(&parent);
    l.SetAutoSize(false);
    l.SetBounds(0, 0, 80, 24);
    l.Font()->SetName("Arial");
    l.Font()->SetHeight(-16);
    l.Font()->SetColor(clBlack);
    l.SetShadowColor(clRed);
    l.SetShadowSize(2);
    l.SetShadowPos(spRightBottom);
    l.SetCaption("HHHH");
    l.PaintNow();
    EXPECT_GT(Count(l, Sys(clRed)), 10);
    EXPECT_GT(Count(l, 0), 10);
    // The shadow lies right of and below the text: the first shadow column is 2 pixels
    // right of the first text column.
    auto firstColumn = [&](TColor C) {
        for (int32_t x = 0; x < l.Width(); ++x)
            for (int32_t y = 0; y < l.Height(); ++y)
                if (Px(l, x, y) == C)
                    return x;
        return -1;
    };
    EXPECT_EQ(firstColumn(Sys(clRed)) - firstColumn(0), 2);

    // Disabled with no shadow: grey text over a one-pixel highlight.
    l.SetShadowSize(0);
    l.SetEnabled(false);
    l.PaintNow();
    EXPECT_GT(Count(l, Sys(clGrayText)), 10);
    EXPECT_GT(Count(l, Sys(clBtnHighlight)), 0);
    EXPECT_EQ(Count(l, Sys(clRed)), 0);
}

TEST(KvLabel, AcceleratorFocusControlAndTracking)
{
    QWidget form;
    auto* edit = new QLineEdit(&form);
    TKvLabel l(&form);
    l.SetCaption("&Name");
    EXPECT_FALSE(l.DialogChar(U'n')); // no focus control yet
    l.SetFocusControl(edit);
    EXPECT_FALSE(l.DialogChar(U'x'));
    EXPECT_TRUE(l.DialogChar(U'N'));
    l.SetShowAccelChar(false);
    EXPECT_FALSE(l.DialogChar(U'n'));
    l.SetShowAccelChar(true);
    l.SetEnabled(false);
    EXPECT_FALSE(l.DialogChar(U'n'));
    l.SetEnabled(true);
    // The focus control going away is noticed.
    delete edit;
    EXPECT_EQ(l.FocusControl(), nullptr);
    EXPECT_FALSE(l.DialogChar(U'n'));

    int enters = 0, leaves = 0;
    l.OnMouseEnter = [&](TObject*) { ++enters; };
    l.OnMouseLeave = [&](TObject*) { ++leaves; };
    l.SimulateMouseEnter();
    l.SimulateMouseEnter();
    EXPECT_EQ(enters, 1);
    // A leave with the button held on the label waits for the release.
    l.SimulateMouseDown(mbLeft, ssLeft, 2, 2);
    l.SimulateMouseLeave();
    EXPECT_EQ(leaves, 0);
    l.SimulateMouseUp(mbLeft, 0, -5, -5);
    EXPECT_EQ(leaves, 1);
}

// ---- Speed button: layout, frames, glyph states ----------------------------------------------

TEST(KvSpeedButton, GlyphTopLayoutOfTheWorkedExample)
{
    TKvSpeedButton b;
    auto glyph = MakeGlyph(16, {clRed});
    b.SetGlyph(glyph.get());
    EXPECT_EQ(b.NumGlyphs(), 1);
    TCanvas c;
    TKvButtonGlyph::TLayout L = b.ButtonGlyph()->CalcButtonLayout(c, Rect(3, 3, 22, 22), Point(0, 0), "", blGlyphTop,
                                                                  -1, 1, false, taCenter, false);
    EXPECT_EQ(L.GlyphPos, Point(4, 4));
    EXPECT_EQ(L.TextBounds.Width(), 0);
    // Painted: the glyph covers (4, 4)..(19, 19) up, and one pixel further down.
    b.PaintNow();
    EXPECT_EQ(Px(b, 4, 4), Sys(clRed));
    EXPECT_EQ(Px(b, 19, 19), Sys(clRed));
    EXPECT_NE(Px(b, 20, 20), Sys(clRed));
    EXPECT_EQ(Px(b, 4, 19), Sys(clBtnFace)); // the key pixel shows the face
    b.SimulateMouseDown(mbLeft, ssLeft, 10, 10);
    EXPECT_EQ(b.State(), bsDown);
    b.PaintNow();
    EXPECT_EQ(Px(b, 1, 1), Sys(clBtnShadow)); // the pressed frame's inner edge
    EXPECT_EQ(Px(b, 4, 4), Sys(clBtnFace));
    EXPECT_EQ(Px(b, 5, 5), Sys(clRed));
    EXPECT_EQ(Px(b, 20, 20), Sys(clRed));
}

TEST(KvSpeedButton, MarginAndSpacingRules)
{
    TKvButtonGlyph g;
    auto glyph = MakeGlyph(10, {clRed});
    g.SetGlyph(glyph.get());
    TCanvas c;
    c.Font()->SetName("Arial");
    const int32_t tw = c.TextWidth("Ab"), th = c.TextHeight("Ab");
    const TRect client = Rect(0, 0, 100, 40);
    // Margin -1 with spacing 4: the pair is centred.
    auto L = g.CalcButtonLayout(c, client, Point(0, 0), "Ab", blGlyphLeft, -1, 4, false, taCenter, false);
    const int32_t margin = 100 / 2 - (10 + 4 + tw) / 2;
    EXPECT_EQ(L.GlyphPos, Point(margin, 40 / 2 - 10 / 2));
    EXPECT_EQ(L.TextBounds.Left, margin + 10 + 4);
    EXPECT_EQ(L.TextBounds.Top, 40 / 2 - th / 2);
    // Both -1: a third of the free room each.
    L = g.CalcButtonLayout(c, client, Point(0, 0), "Ab", blGlyphLeft, -1, -1, false, taCenter, false);
    const int32_t third = (100 - 10 - tw) / 3;
    EXPECT_EQ(L.GlyphPos.X, third);
    EXPECT_EQ(L.TextBounds.Left, third + 10 + third);
    // A given margin with spacing -1, glyph on the right.
    L = g.CalcButtonLayout(c, client, Point(0, 0), "Ab", blGlyphRight, 5, -1, false, taCenter, false);
    const int32_t spacing = (100 - 5 - 10) / 2 - tw / 2;
    EXPECT_EQ(L.GlyphPos.X, 100 - 5 - 10);
    EXPECT_EQ(L.TextBounds.Left, 100 - 5 - 10 - spacing - tw);
}

TEST(KvSpeedButton, FramesByStateLookAndFlatness)
{
    TKvSpeedButton b;
    b.PaintNow();
    EXPECT_EQ(Px(b, 0, 0), Sys(clBtnHighlight));
    EXPECT_EQ(Px(b, 24, 24), Sys(clWindowFrame));
    EXPECT_EQ(Px(b, 1, 1), Sys(clBtnFace));
    EXPECT_EQ(Px(b, 23, 23), Sys(clBtnShadow));
    b.SetStyle(bsWin31);
    b.PaintNow();
    EXPECT_EQ(Px(b, 0, 0), Sys(clWindowFrame));
    EXPECT_EQ(Px(b, 1, 1), Sys(clBtnHighlight));
    // Flat and away from the mouse: no frame at all; under it: one frame.
    b.SetStyle(bsAutoDetect);
    b.SetFlat(true);
    b.PaintNow();
    EXPECT_EQ(Px(b, 0, 0), Sys(clBtnFace));
    EXPECT_EQ(Px(b, 24, 24), Sys(clBtnFace));
    b.SimulateMouseEnter();
    b.PaintNow();
    EXPECT_EQ(Px(b, 0, 0), Sys(clBtnHighlight));
    EXPECT_EQ(Px(b, 24, 24), Sys(clBtnShadow));
    EXPECT_EQ(Px(b, 1, 1), Sys(clBtnFace));
}

TEST(KvSpeedButton, ExclusiveStateFillsTheChecker)
{
    QWidget parent;
    TKvSpeedButton b(&parent);
    b.SetGroupIndex(1);
    b.SetDown(true);
    EXPECT_EQ(b.State(), bsExclusive);
    b.PaintNow();
    // Inside the pressed frames (3, 3)..(21, 21): (x + y) even is the face.
    EXPECT_EQ(Px(b, 4, 4), Sys(clBtnFace));
    EXPECT_EQ(Px(b, 5, 4), Sys(clBtnHighlight));
    EXPECT_EQ(Px(b, 0, 0), Sys(clWindowFrame));
}

TEST(KvSpeedButton, GlyphImagesPerState)
{
    TKvButtonGlyph g;
    // 4 images: up, disabled, down, exclusive.
    auto glyph = MakeGlyph(8, {clRed, clLime, clBlue, clYellow});
    g.SetGlyph(glyph.get());
    EXPECT_EQ(g.NumGlyphs(), 4);
    EXPECT_EQ(g.TransparentColor(), clFuchsia);
    auto colour = [&](TButtonState S) {
        int32_t i = g.CreateButtonGlyph(S);
        return g.GlyphList()->Image(i)->PixelColor(3, 3);
    };
    EXPECT_EQ(colour(bsUp), clRed);
    EXPECT_EQ(colour(bsDisabled), clLime);
    EXPECT_EQ(colour(bsDown), clBlue);
    EXPECT_EQ(colour(bsExclusive), clYellow);
    // The inactive image is the up image in intensity grey: red gives 255*61 shr 8 = 60.
    EXPECT_EQ(colour(bsInactive), RGB(60, 60, 60));
    EXPECT_EQ(g.GlyphList()->Count(), 5);

    // One image: down falls back to up; disabled is the embossed face/shadow drawing.
    auto one = MakeGlyph(8, {RGB(200, 100, 50)});
    g.SetGlyph(one.get());
    EXPECT_EQ(g.NumGlyphs(), 1);
    EXPECT_EQ(g.CreateButtonGlyph(bsDown), g.CreateButtonGlyph(bsUp));
    EXPECT_EQ(colour(bsInactive), RGB(119, 119, 119)); // (200*61 + 100*174 + 50*21) shr 8
    const int32_t d = g.CreateButtonGlyph(bsDisabled);
    EXPECT_EQ(g.GlyphList()->MaskColor(d), Sys(clBtnFace));
    EXPECT_EQ(g.GlyphList()->Image(d)->PixelColor(3, 3), Sys(clBtnShadow));
    EXPECT_EQ(g.GlyphList()->Image(d)->PixelColor(0, 7), Sys(clBtnFace)); // the key pixel
}

TEST(KvSpeedButton, GlyphCountsAndEmptyGlyphs)
{
    TKvButtonGlyph g;
    auto wide = MakeGlyph(16, {clRed, clRed, clRed, clRed, clRed, clRed, clRed});
    g.SetGlyph(wide.get());
    EXPECT_EQ(g.NumGlyphs(), 1); // above 5 counts as 1
    g.SetNumGlyphs(9);
    EXPECT_EQ(g.NumGlyphs(), 5);
    g.SetNumGlyphs(0);
    EXPECT_EQ(g.NumGlyphs(), 5);
    TBitmap odd;
    odd.SetPixelFormat(pf24bit);
    odd.SetSize(30, 16);
    g.SetNumGlyphs(2);
    g.SetGlyph(&odd);
    EXPECT_EQ(g.NumGlyphs(), 2); // not a whole multiple: kept

    // An empty or zero-height glyph has no images and draws nothing.
    TBitmap empty;
    empty.SetPixelFormat(pf24bit);
    empty.SetSize(10, 0);
    g.SetGlyph(&empty);
    EXPECT_EQ(g.CreateButtonGlyph(bsUp), -1);
    EXPECT_EQ(g.CreateButtonGlyph(bsDisabled), -1);
    g.SetGlyph(nullptr);
    EXPECT_EQ(g.CreateButtonGlyph(bsInactive), -1);
    TKvSpeedButton b;
    b.SetGlyph(&empty);
    b.SetEnabled(false);
    b.PaintNow(); // no division by zero
}

TEST(KvSpeedButton, GlyphCacheLivesWithTheGlyphs)
{
    ASSERT_EQ(GlyphCache(), nullptr);
    {
        TKvButtonGlyph a, b;
        ASSERT_NE(GlyphCache(), nullptr);
        auto g8 = MakeGlyph(8, {clRed});
        auto g9 = MakeGlyph(9, {clRed});
        a.SetGlyph(g8.get());
        b.SetGlyph(g8.get());
        EXPECT_EQ(a.CreateButtonGlyph(bsUp), 0);
        EXPECT_EQ(b.CreateButtonGlyph(bsUp), 1); // same list, next slot
        EXPECT_EQ(a.GlyphList(), b.GlyphList());
        a.Invalidate();
        EXPECT_EQ(b.GlyphList()->Count(), 1);
        EXPECT_EQ(a.CreateButtonGlyph(bsDisabled), 0); // the freed slot is reused
        b.SetGlyph(g9.get());
        b.CreateButtonGlyph(bsUp);
        EXPECT_EQ(GlyphCache()->ListCount(), 2);
        a.SetGlyph(nullptr); // its 8 x 8 list empties and goes
        EXPECT_EQ(GlyphCache()->ListCount(), 1);
    }
    EXPECT_EQ(GlyphCache(), nullptr);
}

// ---- Speed button: behaviour --------------------------------------------------------------------

TEST(KvSpeedButton, GroupsAndDown)
{
    QWidget parent;
    TKvSpeedButton a(&parent), b(&parent), other(&parent);
    a.SetDown(true);
    EXPECT_FALSE(a.Down()); // group 0 is never down
    a.SetGroupIndex(1);
    b.SetGroupIndex(1);
    other.SetGroupIndex(2);
    other.SetDown(true);
    a.SetDown(true);
    EXPECT_TRUE(a.Down());
    int clicks = 0;
    b.OnClick = [&](TObject*) { ++clicks; };
    b.SimulateMouseDown(mbLeft, ssLeft, 5, 5);
    b.SimulateMouseUp(mbLeft, 0, 5, 5);
    EXPECT_TRUE(b.Down());
    EXPECT_FALSE(a.Down());
    EXPECT_EQ(a.State(), bsUp);
    EXPECT_TRUE(other.Down()); // another group
    EXPECT_EQ(clicks, 1);
    // Without AllowAllUp the down button stays down.
    b.SimulateMouseDown(mbLeft, ssLeft, 5, 5);
    b.SimulateMouseUp(mbLeft, 0, 5, 5);
    EXPECT_TRUE(b.Down());
    // AllowAllUp is shared through the group.
    a.SetAllowAllUp(true);
    EXPECT_TRUE(b.AllowAllUp());
    b.SetDown(false);
    EXPECT_FALSE(b.Down());
}

TEST(KvSpeedButton, DraggingOutAndBackAndDoubleClicks)
{
    TKvSpeedButton b;
    int clicks = 0, doubles = 0;
    b.OnClick = [&](TObject*) { ++clicks; };
    b.OnDblClick = [&](TObject*) { ++doubles; };
    b.SimulateMouseDown(mbLeft, ssLeft, 5, 5);
    b.SimulateMouseMove(ssLeft, 40, 5);
    EXPECT_EQ(b.State(), bsUp);
    b.SimulateMouseMove(ssLeft, 6, 6);
    EXPECT_EQ(b.State(), bsDown);
    b.SimulateMouseMove(ssLeft, 40, 5);
    b.SimulateMouseUp(mbLeft, 0, 40, 5);
    EXPECT_EQ(clicks, 0); // released outside
    EXPECT_EQ(b.State(), bsUp);
    // A double click counts only while the button is down.
    b.SimulateMouseDown(mbLeft, ssLeft | ssDouble, 5, 5);
    b.SimulateMouseUp(mbLeft, 0, 5, 5);
    EXPECT_EQ(doubles, 0);
    b.SetGroupIndex(3);
    b.SetDown(true);
    b.SimulateMouseDown(mbLeft, ssLeft | ssDouble, 5, 5);
    EXPECT_EQ(doubles, 1);
    // A leave while held is ignored.
    b.SimulateMouseEnter();
    b.SimulateMouseLeave();
    EXPECT_TRUE(b.MouseInControl());
}

TEST(KvSpeedButton, AutoRepeatTimer)
{
    TKvSpeedButton b;
    int clicks = 0;
    b.OnClick = [&](TObject*) { ++clicks; };
    b.SetAllowTimer(true);
    b.SimulateMouseDown(mbLeft, ssLeft, 5, 5);
    ASSERT_NE(b.RepeatTimer(), nullptr);
    EXPECT_TRUE(b.RepeatTimer()->Enabled());
    EXPECT_EQ(b.RepeatTimer()->Interval(), 500u);
    EXPECT_EQ(clicks, 0); // nothing on the press
    b.TimerExpired();
    EXPECT_EQ(clicks, 1);
    EXPECT_EQ(b.RepeatTimer()->Interval(), 100u);
    b.TimerExpired();
    EXPECT_EQ(clicks, 2);
    b.SimulateMouseUp(mbLeft, 0, 5, 5);
    EXPECT_EQ(clicks, 3); // and one on the release inside
    EXPECT_FALSE(b.RepeatTimer()->Enabled());
    // No repeat while the press has moved off the button.
    b.SimulateMouseDown(mbLeft, ssLeft, 5, 5);
    b.SimulateMouseMove(ssLeft, 50, 50);
    b.TimerExpired();
    EXPECT_EQ(clicks, 3);
    b.SimulateMouseUp(mbLeft, 0, 50, 50);
    // Intervals of 0 start nothing.
    b.SetInitPause(0);
    b.SimulateMouseDown(mbLeft, ssLeft, 5, 5);
    EXPECT_FALSE(b.RepeatTimer()->Enabled());
    b.SimulateMouseUp(mbLeft, 0, 5, 5);
    b.SetInitPause(500);
    b.SetRepeatInterval(0);
    b.SimulateMouseDown(mbLeft, ssLeft, 5, 5);
    b.TimerExpired();
    EXPECT_FALSE(b.RepeatTimer()->Enabled());
    b.SimulateMouseUp(mbLeft, 0, 5, 5);
    // An error from the click stops the repeats.
    b.SetRepeatInterval(100);
    b.OnClick = [](TObject*) { throw Exception("boom"); };
    b.SimulateMouseDown(mbLeft, ssLeft, 5, 5);
    EXPECT_THROW(b.TimerExpired(), Exception);
    EXPECT_FALSE(b.RepeatTimer()->Enabled());
    b.SetAllowTimer(false);
    EXPECT_EQ(b.RepeatTimer(), nullptr);
}

namespace {

class TRecordingButton : public TKvSpeedButton {
public:
    using TKvSpeedButton::TKvSpeedButton;
    std::vector<TPoint> Popups;

protected:
    void PopupDropDownMenu(const TPoint& ScreenPos) override { Popups.push_back(ScreenPos); }
};

} // namespace

TEST(KvSpeedButton, DropDownMenuAndArrow)
{
    QWidget parent;
    TRecordingButton b(&parent);
    QMenu menu;
    b.SetBounds(10, 20, 40, 25);
    int clicks = 0;
    b.OnClick = [&](TObject*) { ++clicks; };
    b.SetDropDownMenu(&menu);
    b.SimulateMouseDown(mbLeft, ssLeft, 5, 5);
    ASSERT_EQ(b.Popups.size(), 1u);
    const QPoint origin = b.mapToGlobal(QPoint(0, 0));
    EXPECT_EQ(b.Popups[0], Point(origin.x(), origin.y() + 25));
    EXPECT_EQ(clicks, 0); // a release from the menu never clicks
    EXPECT_EQ(b.State(), bsUp);
    EXPECT_FALSE(b.Dragging());
    b.SetMenuAlignment(paRight);
    b.SimulateMouseDown(mbLeft, ssLeft, 5, 5);
    EXPECT_EQ(b.Popups[1], Point(origin.x() + 41, origin.y() + 25));
    b.SetMenuPosition(dmpRight);
    b.SimulateMouseDown(mbLeft, ssLeft, 5, 5);
    EXPECT_EQ(b.Popups[2], Point(origin.x() + 40, origin.y()));

    // The arrow: rows of 7, 5, 3, 1 pixels, the top one at y - 1 from x to x + 6.
    TBitmap bmp;
    bmp.SetPixelFormat(pf24bit);
    bmp.SetSize(12, 8);
    bmp.Canvas()->Brush()->SetColor(clWhite);
    bmp.Canvas()->FillRect(Rect(0, 0, 12, 8));
    DrawDropDownArrow(*bmp.Canvas(), 2, 3, clBlack);
    const char* rows[] = {"............", "............", "..#######...", "...#####....",
                          "....###.....", ".....#......", "............", "............"};
    for (int32_t y = 0; y < 8; ++y)
        for (int32_t x = 0; x < 12; ++x)
            EXPECT_EQ(bmp.PixelColor(x, y) == clBlack, rows[y][x] == '#') << x << "," << y;

    // Caption-less button without a glyph: the arrow sits in the middle of the area.
    TCanvas c;
    TKvButtonGlyph g;
    auto L = g.CalcButtonLayout(c, Rect(3, 3, 37, 22), Point(0, 0), "", blGlyphTop, -1, 1, true, taCenter, false);
    EXPECT_EQ(L.ArrowPos.X, (3 + 37 - 7) / 2);
}

TEST(KvSpeedButton, CaptionsAreCutToTheirRoom)
{
    TKvButtonGlyph g;
    TCanvas c;
    c.Font()->SetName("Arial");
    const std::string text = "A rather long caption";
    const int32_t room = c.TextWidth("A rather") + 2;
    auto L = g.CalcButtonLayout(c, Rect(0, 0, room, 30), Point(0, 0), text, blGlyphTop, -1, 1, false, taCenter, false);
    ASSERT_GE(L.Caption.size(), 3u);
    EXPECT_EQ(L.Caption.substr(L.Caption.size() - 3), "...");
    EXPECT_LE(c.TextWidth(L.Caption), room);
    // Line by line.
    L = g.CalcButtonLayout(c, Rect(0, 0, room, 40), Point(0, 0), "A rather long\r\nAb", blGlyphTop, -1, 1, false,
                           taCenter, false);
    EXPECT_EQ(L.Caption.substr(L.Caption.size() - 4), "\r\nAb");
    // Word wrap keeps it whole.
    L = g.CalcButtonLayout(c, Rect(0, 0, room, 60), Point(0, 0), text, blGlyphTop, -1, 1, false, taCenter, true);
    EXPECT_EQ(L.Caption, text);
    // A room of 1 pixel (narrower than "...") still ends.
    L = g.CalcButtonLayout(c, Rect(0, 0, 1, 20), Point(0, 0), text, blGlyphTop, -1, 1, false, taCenter, false);
    EXPECT_LE(L.Caption.size(), 3u);
    TKvSpeedButton b;
    b.SetBounds(0, 0, 4, 4);
    b.SetCaption(text);
    b.PaintNow();
}

TEST(KvSpeedButton, AcceleratorAndModalResult)
{
    QDialog dialog;
    TKvSpeedButton b(&dialog);
    b.SetCaption("&Apply");
    int clicks = 0;
    b.OnClick = [&](TObject*) { ++clicks; };
    EXPECT_TRUE(b.DialogChar(U'a'));
    EXPECT_FALSE(b.DialogChar(U'p'));
    EXPECT_EQ(clicks, 1);
    b.SetEnabled(false);
    EXPECT_FALSE(b.DialogChar(U'a'));
    b.SetEnabled(true);
    b.SetModalResult(mrOk);
    b.Click();
    EXPECT_EQ(dialog.result(), int(mrOk));
    EXPECT_EQ(clicks, 2);
}

TEST(KvSpeedButton, DisabledButtonPaintsDisabledAndRecovers)
{
    QWidget parent;
    TKvSpeedButton b(&parent);
    auto glyph = MakeGlyph(16, {clRed});
    b.SetGlyph(glyph.get());
    b.SetGroupIndex(1);
    b.SetDown(true);
    b.SetEnabled(false);
    b.PaintNow();
    EXPECT_EQ(b.State(), bsDisabled);
    EXPECT_EQ(Count(b, Sys(clRed)), 0);
    b.SetEnabled(true);
    b.PaintNow();
    EXPECT_EQ(b.State(), bsExclusive);
    EXPECT_GT(Count(b, Sys(clRed)), 200);
}
