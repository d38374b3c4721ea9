#include "imaging/IEBitmaps.h"
#include "imaging/IETwain.h"
#include "imaging/MultiView.h"
#include "platform/QtBridge.h"

#include <QCoreApplication>
#include <QEnterEvent>
#include <QScrollArea>
#include <QScrollBar>

#include <cstring>

#include <QCoreApplication>
#include <gtest/gtest.h>

using namespace kv;

namespace {

void Solid(TBitmap& B, int32_t W, int32_t H, TColor Color)
{
    B.SetPixelFormat(pf24bit);
    B.SetSize(W, H);
    for (int32_t Y = 0; Y < H; ++Y)
        for (int32_t X = 0; X < W; ++X) {
            uint8_t* P = B.ScanLine(Y) + 3 * X;
            P[0] = uint8_t(Color >> 16);
            P[1] = uint8_t(Color >> 8);
            P[2] = uint8_t(Color);
        }
}

TColor At(const QImage& Shot, int32_t X, int32_t Y) { return FromQColor(Shot.pixelColor(X, Y)); }

TColor At(TBitmap& B, int32_t X, int32_t Y)
{
    const uint8_t* P = B.ScanLine(Y) + 3 * X;
    return TColor(P[2] | P[1] << 8 | P[0] << 16);
}

constexpr TColor Red = 0x0000FF, Blue = 0xFF0000, Green = 0x00FF00, Grey = 0x808080, Yellow = 0x00FFFF;

// A frameless, flat view of 320 x 240 on a white background.
struct TPlainView {
    TImagingMView View;
    TPlainView()
    {
        View.SetBorderStyle(bsNoBorder);
        View.SetBounds(0, 0, 320, 240);
        View.Style = iemsFlat;
        View.SetBackground(clWhite);
        View.ThumbnailsBackground = clBlack;
    }
    int32_t Add(int32_t W, int32_t H, TColor Color)
    {
        TBitmap B;
        Solid(B, W, H, Color);
        const int32_t I = View.AppendImage();
        View.SetImage(I, &B);
        return I;
    }
    QImage Shot() { return View.grab().toImage(); }
};

} // namespace

TEST(IEWindowHelpers, NearestWindowAndPageStep)
{
    EXPECT_EQ(IEFindHandle(nullptr), nullptr);
    QObject Loose;
    EXPECT_EQ(IEFindHandle(&Loose), nullptr);
    QWidget Window;
    auto* Holder = new QObject(&Window);
    auto* Component = new QObject(Holder);
    EXPECT_EQ(IEFindHandle(Component), nullptr); // no window created yet
    Window.show();
    EXPECT_EQ(IEFindHandle(Component), &Window);

    auto* Bar = new QScrollBar(Qt::Horizontal, &Window);
    Bar->setRange(0, 500);
    Bar->setValue(30);
    IESetScrollBar(&Window, iesbkHorizontal, 17, iesrRedraw);
    EXPECT_EQ(Bar->pageStep(), 17);
    EXPECT_EQ(Bar->maximum(), 500);
    EXPECT_EQ(Bar->value(), 30);
    IESetScrollBar(&Window, iesbkVertical, 99, iesrKeep); // no vertical bar: nothing
    EXPECT_EQ(Bar->pageStep(), 17);
    IESetScrollBar(nullptr, iesbkVertical, 5, iesrKeep);
    QScrollArea Area;
    IESetScrollBar(&Area, iesbkVertical, 44, iesrKeep);
    EXPECT_EQ(Area.verticalScrollBar()->pageStep(), 44);
}

TEST(IEWindowHelpers, ScannerAndVideoAreUnavailable)
{
    EXPECT_EQ(IETWainClose(nullptr), iedcNotAvailable);
    EXPECT_EQ(AVIFileExit(), iedcNotAvailable);
    EXPECT_FALSE(IEVideoInitialised());
    TImagingMIO IO; // owns scanner settings, whose end closes (nothing)
    ASSERT_NE(IO.TWainParams(), nullptr);
    EXPECT_EQ(IO.TWainParams()->Owner, &IO);
}

// A 100 x 50 thumbnail is centred in its 100 x 100 cell at +25; the margins take the
// thumbnails' background, the rest of the client the view's.
TEST(MultiViewPaint, PictureMarginsAndBackground)
{
    TPlainView V;
    V.Add(400, 200, Red);
    V.View.StoreType = ietThumb;
    V.Add(1, 1000, Blue);
    EXPECT_EQ(V.View.ImagePictureRect(0), Bounds(4, 29, 100, 50));
    EXPECT_EQ(V.View.ImagePictureRect(1), Bounds(108 + 49, 4, 1, 100));
    const QImage Shot = V.Shot();
    EXPECT_EQ(At(Shot, 4, 29), Red);
    EXPECT_EQ(At(Shot, 103, 78), Red);
    EXPECT_EQ(At(Shot, 4, 28), clBlack);  // top margin
    EXPECT_EQ(At(Shot, 50, 79), clBlack); // bottom margin
    EXPECT_EQ(At(Shot, 157, 50), Blue);
    EXPECT_EQ(At(Shot, 156, 50), clBlack); // left margin
    EXPECT_EQ(At(Shot, 158, 50), clBlack); // right margin
    EXPECT_EQ(At(Shot, 2, 2), clWhite);
    EXPECT_EQ(At(Shot, 300, 200), clWhite);

    // A 1-bit picture that must shrink is reduced before it is drawn.
    TBitmap Mono;
    Mono.SetPixelFormat(pf1bit);
    Mono.SetSize(400, 200);
    for (int32_t Y = 0; Y < 200; ++Y)
        std::memset(Mono.ScanLine(Y), 0xFF, 50); // every pixel white
    V.View.StoreType = ietNormal;
    V.View.SetImage(V.View.AppendImage(), &Mono);
    EXPECT_EQ(V.View.ImagePictureRect(2), Bounds(212, 29, 100, 50));
    EXPECT_EQ(At(V.Shot(), 262, 50), clWhite);
    EXPECT_EQ(At(V.Shot(), 262, 20), clBlack);

    V.View.DrawImageBackground = true; // each image's own background (the view's)
    V.View.Repaint();
    EXPECT_EQ(At(V.Shot(), 4, 28), clWhite);
}

TEST(MultiViewPaint, OutlinesSelectionAndBorderRings)
{
    TPlainView V;
    V.Add(100, 50, Red);
    V.Add(100, 50, Red);
    V.View.Style = iems3D;
    V.View.SelectionColor = Blue;
    V.View.ThumbnailsBorderWidth = 2;
    V.View.ThumbnailsBorderColor = Green;
    V.View.SetSelectedImage(0);
    const QImage Shot = V.Shot();
    // The picture's outline: white top and left, grey bottom and right.
    EXPECT_EQ(At(Shot, 3 + 50, 28), clWhite);
    EXPECT_EQ(At(Shot, 50, 79), Grey);
    // Unfocused: one selection ring, then the two border rings further out.
    EXPECT_EQ(At(Shot, 3, 50), Blue);
    EXPECT_EQ(At(Shot, 2, 50), Green);
    EXPECT_EQ(At(Shot, 1, 50), Green);
    EXPECT_EQ(At(Shot, 0, 50), clWhite);
    // The unselected image gets its border rings at once.
    EXPECT_EQ(At(Shot, 107, 50), Green);
    EXPECT_EQ(At(Shot, 106, 50), Green);

    // The second selection style fills the margins with the highlight instead.
    V.View.SelectionStyle = iessACD;
    V.View.Style = iemsFlat;
    V.View.Repaint();
    const QImage Highlighted = V.Shot();
    EXPECT_EQ(At(Highlighted, 50, 10), ColorToRGB(clHighlight));
    EXPECT_EQ(At(Highlighted, 3, 50), Green); // no selection ring
    EXPECT_EQ(At(Highlighted, 150, 10), clBlack);
}

// What an image has painted is kept from everything drawn later: a later image's own
// drawing and the background.
TEST(MultiViewPaint, PaintedImagesAreExcludedFromLaterDrawing)
{
    TPlainView V;
    V.Add(100, 100, Red);
    V.Add(100, 100, Red);
    int32_t Seen = -1;
    V.View.OnImageDraw = [&](TObject*, int32_t Index, TCanvas* Canvas, int32_t X, int32_t Y) {
        Seen = X;
        if (Index == 1) {
            Canvas->Brush()->SetColor(Yellow);
            Canvas->FillRect(Rect(0, 0, 320, 240));
        }
    };
    const QImage Shot = V.Shot();
    EXPECT_EQ(Seen, 108);
    EXPECT_EQ(At(Shot, 50, 50), Red);     // image 0 was painted before
    EXPECT_EQ(At(Shot, 150, 50), Yellow); // image 1's own drawing
    EXPECT_EQ(At(Shot, 300, 200), clWhite);
}

TEST(MultiViewPaint, CaptionsTakeTheirBackgroundsAndRoom)
{
    TPlainView V;
    V.Add(100, 100, Red);
    V.View.SetImageTopText(0, "        ");
    V.View.ImageCaption(0, iecTop)->Background = Green;
    V.View.SetImageInfoText(0, "        ");
    V.View.ImageCaption(0, iecInfo)->Background = Blue;
    V.View.SetImageBottomText(0, "x");
    ASSERT_EQ(V.View.ImageCaption(1, iecTop), nullptr);
    const int32_t Fh = QFontMetrics(ToQFont(*V.View.ImageCaption(0, iecBottom)->Font)).height();
    const int32_t Room = 100 - Fh;
    EXPECT_EQ(V.View.ImagePictureRect(0), Bounds(4 + (100 - Room) / 2, 4, Room, Room));
    const QImage Shot = V.Shot();
    EXPECT_EQ(At(Shot, 54, 5), Green);
    EXPECT_EQ(At(Shot, 5, 4 + 100 - 2), Blue); // the info strip spans the cell
}

TEST(MultiViewPaint, WallPaperFrameAndMouse)
{
    TPlainView V;
    TBitmap Paper;
    Solid(Paper, 3, 3, Yellow);
    V.View.WallPaper()->SetGraphic(&Paper);
    V.View.SetWallPaperStyle(iewoTile);
    EXPECT_EQ(At(V.Shot(), 300, 200), Yellow);

    // The sunken frame takes two pixels a side from the client area.
    V.View.SetBorderStyle(bsSingleBorder);
    EXPECT_EQ(V.View.ClientWidth(), 316);
    V.Add(100, 100, Red);
    V.Add(100, 100, Red);
    EXPECT_EQ(At(V.Shot(), 2 + 4, 2 + 4), Red);
    // Mouse points are the control's: a click at 150 + 2 hits image 1.
    TPoint Pressed{-1, -1};
    V.View.OnMouseDown = [&](TObject*, TMouseButton, TShiftState, int32_t X, int32_t Y) { Pressed = {X, Y}; };
    V.View.SimulateMouseDown(mbLeft, 0, 152, 52);
    V.View.SimulateMouseUp(mbLeft, 0, 152, 52);
    EXPECT_EQ(V.View.SelectedImage(), 1);
    EXPECT_EQ(Pressed, (TPoint{150, 50})); // handlers hear client points too

    int32_t Entered = 0, Left = 0;
    V.View.OnMouseEnter = [&](TObject*) { ++Entered; };
    V.View.OnMouseLeave = [&](TObject*) { ++Left; };
    QEnterEvent Enter(QPointF(5, 5), QPointF(5, 5), QPointF(5, 5));
    QCoreApplication::sendEvent(&V.View, &Enter);
    QEvent Leave(QEvent::Leave);
    QCoreApplication::sendEvent(&V.View, &Leave);
    EXPECT_EQ(Entered, 1);
    EXPECT_EQ(Left, 1);
}

TEST(MultiViewPaint, ScrollBarPageFollowsTheClient)
{
    TImagingMView View;
    View.SetBorderStyle(bsNoBorder);
    View.SetBounds(0, 0, 336, 230);
    View.SetScrollBars(iesbVertical);
    View.Geometry().GridWidth = -1; // as many columns as fit
    for (int32_t I = 0; I < 8; ++I)
        View.AppendImage();
    QScrollBar* Bar = nullptr;
    for (QScrollBar* B : View.findChildren<QScrollBar*>())
        if (B->orientation() == Qt::Vertical)
            Bar = B;
    ASSERT_NE(Bar, nullptr);
    EXPECT_TRUE(Bar->isVisibleTo(&View));
    // Nothing to scroll: hidden, or shown disabled when the bars are kept.
    View.SetBounds(0, 0, 336, 400);
    EXPECT_FALSE(Bar->isVisibleTo(&View));
    View.KeepScrollBarsVisible = true;
    View.Update();
    EXPECT_TRUE(Bar->isVisibleTo(&View));
    EXPECT_FALSE(Bar->isEnabled());
    View.KeepScrollBarsVisible = false;
    View.SetBounds(0, 0, 336, 230);
    EXPECT_TRUE(Bar->isEnabled());
    // Three rows of 104 + 4 = 316 high in a client of 230: 86 to scroll.
    EXPECT_EQ(View.Extent().cy, 316);
    const double Scale = (230.0 + 86 - 1) / 65536;
    EXPECT_EQ(Bar->pageStep(), int(230 / Scale));
    EXPECT_EQ(Bar->maximum(), 65535);
    EXPECT_EQ(Bar->singleStep(), int(104 / Scale)); // an arrow moves one cell
    View.VScrollBarParams()->LineStep = 10;
    View.VScrollBarParams()->Tracking = false;
    View.Update();
    EXPECT_EQ(Bar->singleStep(), int(10 / Scale));
    EXPECT_FALSE(Bar->hasTracking());
    View.SimulateMouseWheel(0, -120, {0, 0});
    EXPECT_EQ(View.ViewXY().Y, 86); // one cell of 104, clamped to what there is

    // With rows enough, each message is one cell whatever its delta; 0 scrolls down.
    for (int32_t I = 0; I < 12; ++I)
        View.AppendImage();
    View.SetViewXY(0, 0);
    View.SimulateMouseWheel(0, -1, {0, 0});
    EXPECT_EQ(View.ViewXY().Y, 104);
    View.SimulateMouseWheel(0, 0, {0, 0});
    EXPECT_EQ(View.ViewXY().Y, 208);
    View.SimulateMouseWheel(0, 1200, {0, 0});
    EXPECT_EQ(View.ViewXY().Y, 104);
    // A handler that takes the message keeps the view's own step off.
    View.OnMouseWheel = [](TObject*, TShiftState, int32_t, TPoint, bool& Handled) { Handled = true; };
    View.SimulateMouseWheel(0, -120, {0, 0});
    EXPECT_EQ(View.ViewXY().Y, 104);
}

// Playback with a transition: each tick after the first animates from the picture shown
// to the next, rendered as painted at the client size; the repaint after the end shows
// the new picture, and stopping playback stops the transition.
TEST(MultiViewPaint, PlaybackRunsTheTransition)
{
    TPlainView V;
    V.Add(10, 10, Red);
    V.Add(10, 10, Blue);
    uint32_t Now = 1000;
    V.View.Transitions().TickCount = [&] { return Now; };
    V.View.TransitionEffect = iettCrossDissolve;
    V.View.TransitionDuration = 1000;
    V.View.SetPlaying(true);
    EXPECT_FALSE(V.View.Transitions().Running()); // the first frame is shown plainly
    V.View.PlayStep();
    ASSERT_TRUE(V.View.Transitions().Running());
    EXPECT_EQ(V.View.Transitions().Width(), 320);
    EXPECT_EQ(V.View.Transitions().Height(), 240);
    // The single-image mode paints the picture at (0, 0), fitted to 100 x 100.
    EXPECT_EQ(At(*V.View.Transitions().Source(), 50, 50), Red);
    EXPECT_EQ(At(*V.View.Transitions().Target(), 50, 50), Blue);
    EXPECT_EQ(At(*V.View.Transitions().Target(), 200, 50), clWhite);
    V.View.Transitions().Step(); // p = 0
    Now += 500;
    V.View.Transitions().Step(); // composes p = 0 again, then p = 512 is due
    V.View.Transitions().Step();
    EXPECT_EQ(At(*V.View.Transitions().Frame(), 50, 50), TColor(0x7F007F)); // (255 x 512) shr 10 each way
    EXPECT_EQ(At(V.Shot(), 50, 50), TColor(0x7F007F));
    Now += 500;
    V.View.Transitions().Step();
    EXPECT_FALSE(V.View.Transitions().Running());
    EXPECT_EQ(V.View.Transitions().Source()->Width(), 1);
    EXPECT_EQ(At(V.Shot(), 50, 50), Blue);

    V.View.PlayStep(); // back to the first picture, animated again
    ASSERT_TRUE(V.View.Transitions().Running());
    V.View.SetPlaying(false);
    EXPECT_FALSE(V.View.Transitions().Running());
}

// An image whose request hands back an empty bitmap could not be had: painted as the
// thumbnails' background, or removed with RemoveCorrupted, even while it is the frame
// being played (the next frame then sits at its index).
TEST(MultiViewPaint, EmptyRequestedImageIsACorruptedOne)
{
    TPlainView V;
    TBitmap Good, Empty;
    Solid(Good, 10, 10, Red);
    V.View.OnImageIDRequest = [&](TObject*, int32_t ID) { return ID == 1 ? &Empty : &Good; };
    V.View.AppendImageID(0);
    V.View.AppendImageID(1);
    V.View.AppendImageID(2);
    QImage Shot;
    ASSERT_NO_THROW(Shot = V.Shot());
    EXPECT_EQ(At(Shot, 4 + 104 + 50, 54), clBlack);
    EXPECT_EQ(At(Shot, 4 + 50, 54), Red);
    EXPECT_EQ(V.View.ImageCount(), 3);

    V.View.RemoveCorrupted = true;
    V.View.PlayLoop = true;
    V.View.show();
    for (int32_t I = 0; I < 20 && !V.View.isVisible(); ++I)
        QCoreApplication::processEvents();
    QCoreApplication::processEvents();
    V.View.SetPlaying(true);
    V.View.PlayStep(); // frame 0
    V.View.PlayStep(); // frame 1 fails and is removed; frame 2 moves to its index
    EXPECT_EQ(V.View.ImageCount(), 2);
    V.View.PlayStep();
    V.View.PlayStep();
    EXPECT_TRUE(V.View.Playing());
    V.View.SetPlaying(false);
}
