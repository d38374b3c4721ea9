#include "raster/Raster32_RangeBars.h"
#include "raster/Raster32_Types.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QImage>

#include <gtest/gtest.h>

using namespace kv;

TEST(GaugeBar, Clamping)
{
    TGaugeBar G;
    G.SetMin(0);
    G.SetMax(255);
    G.SetPosition(300);
    EXPECT_EQ(G.Position(), 255);
    G.SetMax(-5);
    EXPECT_EQ(G.Max(), 1);
    EXPECT_EQ(G.Position(), 1);
    G.SetMin(7);
    EXPECT_EQ(G.Min(), 0);
    G.SetLargeChange(0);
    G.SetSmallChange(-3);
    EXPECT_EQ(G.LargeChange(), 1);
    EXPECT_EQ(G.SmallChange(), 1);
    G.SetHandleSize(-4);
    EXPECT_EQ(G.HandleSize(), 0);
}

TEST(GaugeBar, HandleGeometryAndDrag)
{
    TGaugeBar G;
    EXPECT_EQ(G.Width(), 100);
    EXPECT_EQ(G.Height(), 16);
    EXPECT_EQ(G.GetButtonSize(), 16);
    EXPECT_EQ(G.GetTrackBoundary(), (TRect{16, 0, 84, 16}));
    G.SetPosition(50);
    EXPECT_EQ(G.GetHandleRect(), (TRect{42, 0, 58, 16}));
    EXPECT_EQ(G.GetZone(45, 8), zHandle);
    EXPECT_EQ(G.GetZone(20, 8), zTrackPrev);
    EXPECT_EQ(G.GetZone(70, 8), zTrackNext);
    EXPECT_EQ(G.GetZone(5, 8), zBtnPrev);
    EXPECT_EQ(G.GetZone(95, 8), zBtnNext);

    int User = 0, Change = 0;
    G.OnUserChange = [&](TObject*) { ++User; };
    G.OnChange = [&](TObject*) { ++Change; };
    G.SimulateMouseDown(mbLeft, ssLeft, 45, 8);
    EXPECT_EQ(G.DragZone(), zHandle);
    EXPECT_FALSE(G.Timer()->Enabled());
    G.SimulateMouseMove(ssLeft, 58, 8);
    EXPECT_EQ(G.Position(), 75);
    G.SimulateMouseUp(mbLeft, 0, 58, 8);
    EXPECT_EQ(User, 1);

    // Code and the wheel are not the user's changes.
    G.SetPosition(10);
    G.SimulateMouseWheel(0, 240, {50, 8});
    EXPECT_EQ(G.Position(), 12);
    G.SimulateMouseWheel(0, -120, {50, 8});
    EXPECT_EQ(G.Position(), 11);
    EXPECT_EQ(User, 1);
    EXPECT_EQ(Change, 4);
}

TEST(GaugeBar, AutoRepeatTiming)
{
    TGaugeBar G;
    G.SetPosition(50);
    int User = 0;
    G.OnUserChange = [&](TObject*) { ++User; };
    G.SimulateMouseDown(mbLeft, ssLeft, 95, 8); // the second arrow
    EXPECT_EQ(G.Position(), 51);                // a step at the press
    EXPECT_TRUE(G.Timer()->Enabled());
    EXPECT_EQ(G.Timer()->Interval(), 600u);
    G.TimerHandler(G.Timer()); // the tick at 600 ms
    EXPECT_EQ(G.Position(), 52);
    EXPECT_EQ(G.Timer()->Interval(), 100u);
    G.TimerHandler(G.Timer()); // the tick at 700 ms
    EXPECT_EQ(G.Position(), 53);
    EXPECT_EQ(G.Timer()->Interval(), 100u);
    G.TimerHandler(G.Timer()); // the tick at 800 ms
    EXPECT_EQ(G.Position(), 54);
    EXPECT_EQ(User, 4);
    G.SimulateMouseUp(mbLeft, 0, 95, 8);
    EXPECT_FALSE(G.Timer()->Enabled());
    EXPECT_EQ(G.DragZone(), zNone);

    // Paging stops once the handle has passed the held point.
    G.SetLargeChange(20);
    G.SetPosition(10);
    G.SimulateMouseDown(mbLeft, ssLeft, 80, 8);
    EXPECT_EQ(G.Position(), 30);
    for (int I = 0; I < 10 && G.Timer()->Enabled(); ++I)
        G.TimerHandler(G.Timer());
    EXPECT_FALSE(G.Timer()->Enabled());
    EXPECT_EQ(G.Position(), 100); // 30, 50, 70, 90, 100, then the handle covers x = 80
    EXPECT_EQ(G.DragZone(), zNone);
    G.SimulateMouseUp(mbLeft, 0, 80, 8);
}

TEST(GaugeBar, RealTimerStepsWhileHeld)
{
    TGaugeBar G;
    G.SetPosition(50);
    G.SimulateMouseDown(mbLeft, ssLeft, 95, 8);
    QElapsedTimer Clock;
    Clock.start();
    while (Clock.elapsed() < 930)
        QApplication::processEvents(QEventLoop::AllEvents, 5);
    G.SimulateMouseUp(mbLeft, 0, 95, 8);
    // 51 at the press, 52 at 600 ms, 53 at 700, 54 at 800, 55 at 900: never more.
    EXPECT_GE(G.Position(), 52);
    EXPECT_LE(G.Position(), 55);
}

TEST(GaugeBar, EmptyTrackHasNoHandle)
{
    TGaugeBar G;
    G.SetBounds(0, 0, 32, 16); // both buttons, no track
    EXPECT_TRUE(RectIsEmpty(G.GetHandleRect()));
    G.SimulateMouseDown(mbLeft, ssLeft, 16, 8);
    G.SimulateMouseMove(ssLeft, 30, 8);
    G.SimulateMouseUp(mbLeft, 0, 30, 8);
    QImage Img(G.size(), QImage::Format_RGB32);
    G.render(&Img);
}

TEST(RangeBar, HandleGeometry)
{
    TRangeBar R;
    EXPECT_FLOAT_EQ(R.EffectiveWindow(), 100);
    R.SetRange(400);
    R.SetPosition(50);
    EXPECT_EQ(R.GetHandleRect(), (TRect{24, 0, 41, 16})); // 17 px from 16 + Round(8.5) = 24
    R.SetRange(1000);
    R.SetPosition(900);
    EXPECT_EQ(R.GetHandleRect(), (TRect{62, 0, 79, 16}));
    R.SetRange(400);
    R.SetPosition(350);
    EXPECT_FLOAT_EQ(R.Position(), 300);

    R.SetBounds(0, 0, 49, 16);
    EXPECT_EQ(R.GetHandleRect(), (TRect{}));
    R.SetBounds(0, 0, 50, 16);
    EXPECT_NE(R.GetHandleRect(), (TRect{}));
}

TEST(RangeBar, HandleDragArithmetic)
{
    TRangeBar R;
    R.SetRange(1000);
    int User = 0;
    R.OnUserChange = [&](TObject*) { ++User; };
    TRect H = R.GetHandleRect();
    R.SimulateMouseDown(mbLeft, ssLeft, H.Left + 2, 8);
    R.SimulateMouseMove(ssLeft, H.Left + 19, 8);
    R.SimulateMouseUp(mbLeft, 0, H.Left + 19, 8);
    EXPECT_FLOAT_EQ(R.Position(), 300);
    EXPECT_EQ(User, 1);

    R.SetRange(400);
    R.SetPosition(0);
    H = R.GetHandleRect();
    R.SimulateMouseDown(mbLeft, ssLeft, H.Left + 2, 8);
    R.SimulateMouseMove(ssLeft, H.Left + 19, 8);
    R.SimulateMouseUp(mbLeft, 0, H.Left + 19, 8);
    EXPECT_FLOAT_EQ(R.Position(), 100);
}

TEST(RangeBar, WindowAtLeastRangeIgnoresPresses)
{
    TRangeBar R;
    R.SetRange(80);
    EXPECT_FALSE(R.DrawEnabled());
    EXPECT_EQ(R.GetHandleRect(), (TRect{16, 0, 84, 16}));
    R.SimulateMouseDown(mbLeft, ssLeft, 50, 8);
    EXPECT_EQ(R.DragZone(), zNone);
    R.SimulateMouseMove(ssLeft, 70, 8);
    R.SimulateMouseUp(mbLeft, 0, 70, 8);
    R.SimulateMouseDown(mbLeft, ssLeft, 95, 8);
    R.SimulateMouseUp(mbLeft, 0, 95, 8);
    EXPECT_FLOAT_EQ(R.Position(), 0);
}

TEST(RangeBar, WheelIsAUserChangeAndCentringKeepsTheMiddle)
{
    TRangeBar R;
    R.SetRange(1000);
    int User = 0;
    R.OnUserChange = [&](TObject*) { ++User; };
    R.SimulateMouseWheel(0, 240, {50, 8});
    EXPECT_FLOAT_EQ(R.Position(), 16);
    EXPECT_EQ(User, 1);
    R.SetIncrement(0);
    EXPECT_FLOAT_EQ(R.Increment(), 0.001f);

    // A centred bar keeps its relative centre when its range changes.
    R.SetCentered(true);
    R.SetPosition(450); // centre at 500 of 1000
    R.SetRange(2000);
    EXPECT_FLOAT_EQ(R.Position(), 950);
}

// A horizontal bar of 100 x 16 with a single border: buttons 14 long, the track from 15
// to 85 framed in the window-frame colour, the handle 17 long (the window, 100 of 500,
// would be 14) at the track's start, the rest of the track the mix
// (face * 127 + colour * 128) div 255 of each channel.
TEST(RangeBar, PaintsWithoutAWindow)
{
    auto Rgb = [](TColor C) {
        C = ColorToRGB(C);
        return qRgb(GetRValue(C), GetGValue(C), GetBValue(C));
    };
    auto Mixed = [&](TColor Own) {
        const TColor Face = ColorToRGB(clBtnFace);
        auto Mix = [](int C1, int C2) { return (C1 * 127 + C2 * 128) / 255; };
        return qRgb(Mix(GetRValue(Face), GetRValue(Own)), Mix(GetGValue(Face), GetGValue(Own)),
                    Mix(GetBValue(Face), GetBValue(Own)));
    };
    auto Pixel = [](const QImage& I, int X, int Y) { return I.pixel(X, Y) | 0xFF000000u; };
    const TColor Own = 0x00FF8000, Handle = 0x00204080;

    TRangeBar R;
    R.SetRange(500);
    R.SetBorderStyle(bsSingleBorder);
    R.SetBackgnd(bgMix);
    R.SetColor(Own);
    R.SetHandleColor(Handle);
    QImage Img(R.size(), QImage::Format_RGB32);
    R.render(&Img);
    ASSERT_EQ(R.GetHandleRect(), (TRect{15, 1, 32, 15}));
    EXPECT_EQ(Pixel(Img, 60, 8), Mixed(Own));
    EXPECT_EQ(Pixel(Img, 83, 13), Mixed(Own));
    EXPECT_EQ(Pixel(Img, 50, 1), Rgb(clWindowFrame));
    EXPECT_EQ(Pixel(Img, 50, 14), Rgb(clWindowFrame));
    EXPECT_EQ(Pixel(Img, 17, 3), Rgb(Handle));
    // The handle's raised edge: lightened by 48 at the top, darkened by 32 at the bottom.
    EXPECT_EQ(Pixel(Img, 24, 1), qRgb(0x80 + 48, 0x40 + 48, 0x20 + 48));
    EXPECT_EQ(Pixel(Img, 24, 14), qRgb(0x80 - 32, 0x40 - 32, 0x00));
    // The 3D border (Ctl3D): shadow at the top and left, highlight at the bottom and right.
    EXPECT_EQ(Pixel(Img, 50, 0), Rgb(clBtnShadow));
    EXPECT_EQ(Pixel(Img, 99, 8), Rgb(clBtnHighlight));

    R.SetKind(sbVertical);
    R.SetBounds(0, 0, 16, 100);
    R.SetCtl3D(false);
    R.SetBackgnd(bgSolid);
    QImage Tall(R.size(), QImage::Format_RGB32);
    R.render(&Tall);
    ASSERT_EQ(R.GetHandleRect(), (TRect{1, 15, 15, 32}));
    EXPECT_EQ(Pixel(Tall, 8, 60), Rgb(Own));
    EXPECT_EQ(Pixel(Tall, 3, 17), Rgb(Handle));
    EXPECT_EQ(Pixel(Tall, 0, 50), Rgb(clBlack));
    EXPECT_EQ(Pixel(Tall, 15, 50), Rgb(clBlack));
    EXPECT_EQ(Pixel(Tall, 8, 99), Rgb(clBlack));
}
