// The geometry and border routines on exact pixels: quarter turns and flips, rotation by
// any angle, image and canvas size, relief rings, the pattern border and the
// four-corner projective redraw against an independent forward map.
#include "fx/GeometryRoutines.h"
#include "fx/BorderRoutines.h"
#include "raster/Raster32.h"
#include "raster/Raster32_Filters.h"
#include "raster/Raster32_Transforms.h"
#include "raster/Raster32_Types.h"

#include <gtest/gtest.h>

#include <cmath>
#include <random>

using namespace kv;

namespace {

// Each pixel names its own position: red = x, green = y, opaque.
TColor32 Code(int32_t X, int32_t Y) { return 0xFF000000u | (uint32_t(X & 255) << 16) | (uint32_t(Y & 255) << 8); }
int32_t CodeX(TColor32 C) { return int32_t((C >> 16) & 255); }
int32_t CodeY(TColor32 C) { return int32_t((C >> 8) & 255); }
uint32_t AlphaOf(TColor32 C) { return C >> 24; }

void FillCoded(TBitmap32& B, int32_t W, int32_t H)
{
    B.SetSize(W, H);
    for (int32_t y = 0; y < H; ++y)
        for (int32_t x = 0; x < W; ++x)
            B.SetPixelFast(x, y, Code(x, y));
}

} // namespace

TEST(GeometryRoutines, QuarterTurnsAndFlipsMoveEveryByteExactly)
{
    TBitmap32 src;
    FillCoded(src, 3, 2);
    src.SetPixelFast(1, 1, 0x12345678u); // a half-transparent pixel keeps its bytes
    struct TCase {
        const char* Name;
        std::function<void(TBitmap32&)> Run;
        int32_t W, H;
        TPoint From, To;
    };
    const TCase cases[] = {
        {"clockwise", [&](TBitmap32& d) { TurnBitmap(src, d, TQuarterTurn::Clockwise); }, 2, 3, {0, 0}, {1, 0}},
        {"clockwise 2", [&](TBitmap32& d) { TurnBitmap(src, d, TQuarterTurn::Clockwise); }, 2, 3, {2, 1}, {0, 2}},
        {"counter", [&](TBitmap32& d) { TurnBitmap(src, d, TQuarterTurn::CounterClockwise); }, 2, 3, {0, 0}, {0, 2}},
        {"half", [&](TBitmap32& d) { TurnBitmap(src, d, TQuarterTurn::Half); }, 3, 2, {0, 0}, {2, 1}},
        {"mirror", [&](TBitmap32& d) { FlipBitmap(src, d, TFlipAxis::Horizontal); }, 3, 2, {0, 0}, {2, 0}},
        {"vertical", [&](TBitmap32& d) { FlipBitmap(src, d, TFlipAxis::Vertical); }, 3, 2, {0, 0}, {0, 1}},
    };
    for (const TCase& c : cases) {
        TBitmap32 d;
        c.Run(d);
        ASSERT_EQ(d.Width(), c.W) << c.Name;
        ASSERT_EQ(d.Height(), c.H) << c.Name;
        EXPECT_EQ(d.GetPixelFast(c.To.X, c.To.Y), src.GetPixelFast(c.From.X, c.From.Y)) << c.Name;
        int found = 0;
        for (int32_t i = 0; i < 6; ++i)
            found += d.Bits()[i] == 0x12345678u;
        EXPECT_EQ(found, 1) << c.Name;
    }
}

TEST(GeometryRoutines, RotationByQuarterAnglesMovesEveryPixelExactly)
{
    struct TCase {
        double Angle;
        int32_t W, H;
        // Result (X, Y) takes source (Sx(X, Y), Sy(X, Y)).
        std::function<TPoint(int32_t, int32_t)> Source;
    };
    const TCase cases[] = {
        {90, 50, 100,
         [](int32_t X, int32_t Y) {
             return TPoint{Y, 49 - X};
         }},
        {-90, 50, 100,
         [](int32_t X, int32_t Y) {
             return TPoint{99 - Y, X};
         }},
        {270, 50, 100,
         [](int32_t X, int32_t Y) {
             return TPoint{99 - Y, X};
         }},
        {180, 100, 50,
         [](int32_t X, int32_t Y) {
             return TPoint{99 - X, 49 - Y};
         }},
        {-180, 100, 50,
         [](int32_t X, int32_t Y) {
             return TPoint{99 - X, 49 - Y};
         }},
        {0, 100, 50,
         [](int32_t X, int32_t Y) {
             return TPoint{X, Y};
         }},
    };
    for (const TCase& c : cases)
        for (TResampling r : {TResampling::Nearest, TResampling::Bilinear}) {
            TBitmap32 b;
            FillCoded(b, 100, 50);
            b.SetPixelFast(0, 0, 0x00123456u); // alpha moves with its pixel, rim included
            TBitmap32 src;
            src.Assign(&b);
            const TRotatedSize size = RotateBitmap(b, c.Angle, r);
            ASSERT_EQ(b.Width(), c.W) << c.Angle;
            ASSERT_EQ(b.Height(), c.H) << c.Angle;
            EXPECT_EQ(size.NW, c.W);
            EXPECT_EQ(size.NH, c.H);
            for (int32_t y = 0; y < c.H; ++y)
                for (int32_t x = 0; x < c.W; ++x) {
                    const TPoint s = c.Source(x, y);
                    ASSERT_EQ(b.GetPixelFast(x, y), src.GetPixelFast(s.X, s.Y)) << c.Angle << " at " << x << "," << y;
                }
        }
}

TEST(GeometryRoutines, RotationByAnyAngleSizesAndSamplesAsTheMatrixSays)
{
    TBitmap32 b;
    FillCoded(b, 100, 50);
    const TRotatedSize size = RotateBitmap(b, 30, TResampling::Nearest);
    EXPECT_NEAR(size.NW, 111.60, 0.005);
    EXPECT_NEAR(size.NH, 93.30, 0.005);
    ASSERT_EQ(b.Width(), 112);
    ASSERT_EQ(b.Height(), 93);
    EXPECT_EQ(CodeX(b.GetPixelFast(56, 46)), 50);
    EXPECT_EQ(CodeY(b.GetPixelFast(56, 46)), 24);

    FillCoded(b, 100, 50);
    RotateBitmap(b, 45, TResampling::Nearest);
    EXPECT_EQ(b.Width(), 106);
    EXPECT_EQ(b.Height(), 106);
    EXPECT_EQ(AlphaOf(b.GetPixelFast(0, 0)), 0u);
    EXPECT_EQ(AlphaOf(b.GetPixelFast(53, 53)), 255u);

    // A flat colour comes through bilinear sampling unchanged (no blend onto black).
    b.SetSize(100, 50);
    b.ClearTo(0xFFFF8040u);
    b.SetDrawMode(dmBlend);
    b.SetMasterAlpha(128);
    RotateBitmap(b, 30, TResampling::Bilinear);
    EXPECT_EQ(b.GetPixelFast(56, 46), 0xFFFF8040u);
    EXPECT_EQ(b.DrawMode(), dmBlend); // the layer keeps its settings
    EXPECT_EQ(b.MasterAlpha(), 128u);
}

// The rotation as two passes, written out step by step: the colours of an opaque copy
// onto opaque black, then the alpha as grey (two outer rows and columns black) onto
// zero, its intensity becoming the alpha.
void RotateInTwoPasses(TBitmap32& B, double Angle, TStretchFilter Filter)
{
    const int32_t W = B.Width(), H = B.Height();
    const TRotatedSize size = RotatedSize(W, H, Angle);
    TAffineTransformation T;
    T.SetSourceRect(TSingleRect{0, 0, float(W), float(H)});
    T.Translate(-W / 2.0f, -H / 2.0f);
    T.Rotate(0, 0, float(-Angle));
    T.Translate(float(size.NW / 2), float(size.NH / 2));
    TBitmap32 A;
    A.SetSize(W, H);
    GrayFromAlpha(&A, &B);
    B.SetStretchFilter(Filter);
    B.MakeOpaque();
    TBitmap32 R;
    R.SetSize(RoundHalfEven(size.NW), RoundHalfEven(size.NH));
    R.ClearTo(clBlack32);
    DrawTransformed(&R, &B, &T);
    for (int32_t i = 0; i < 2; ++i) {
        A.FillRectClipped(0, i, W, i + 1, clBlack32);
        A.FillRectClipped(0, H - 1 - i, W, H - i, clBlack32);
        A.FillRectClipped(i, 0, i + 1, H, clBlack32);
        A.FillRectClipped(W - 1 - i, 0, W - i, H, clBlack32);
    }
    A.SetStretchFilter(Filter);
    TBitmap32 M;
    M.SetSize(R.Width(), R.Height());
    DrawTransformed(&M, &A, &T);
    AlphaFromIntensity(&R, &M);
    B.Assign(&R);
}

TEST(GeometryRoutines, OnePassRotationEqualsTheTwoPasses)
{
    std::mt19937 rng(7);
    for (double angle : {30.0, -45.0, 89.0, 17.0, 179.0})
        for (TResampling r : {TResampling::Nearest, TResampling::Bilinear}) {
            TBitmap32 a;
            a.SetSize(37, 23);
            for (int32_t i = 0; i < 37 * 23; ++i)
                a.Bits()[i] = rng();
            TBitmap32 b;
            b.Assign(&a);
            RotateBitmap(a, angle, r);
            RotateInTwoPasses(b, angle, r == TResampling::Bilinear ? sfLinear : sfNearest);
            ASSERT_EQ(a.Width(), b.Width());
            ASSERT_EQ(a.Height(), b.Height());
            for (int32_t i = 0; i < a.Width() * a.Height(); ++i)
                ASSERT_EQ(a.Bits()[i], b.Bits()[i]) << angle << " pixel " << i;
        }
}

TEST(GeometryRoutines, ImageSizeByFilter)
{
    TBitmap32 b;
    FillCoded(b, 4, 3);
    ResizeBitmap(b, 8, 6, sfNearest);
    ASSERT_EQ(b.Width(), 8);
    for (int32_t y = 0; y < 6; ++y)
        for (int32_t x = 0; x < 8; ++x)
            ASSERT_EQ(b.GetPixelFast(x, y), Code(x / 2, y / 2)) << x << "," << y;
    // The filters' integer weights (sums of 255 or 256) may lose a step or two of a
    // channel; the source's draw mode and master alpha never enter.
    auto near = [](TColor32 P, TColor32 Q) {
        for (int shift = 0; shift < 32; shift += 8)
            if (std::abs(int((P >> shift) & 255) - int((Q >> shift) & 255)) > 4)
                return false;
        return true;
    };
    for (TStretchFilter f : {sfLinear2, sfSpline}) {
        TBitmap32 flat;
        flat.SetSize(40, 30);
        flat.ClearTo(0xFF336699u);
        flat.SetDrawMode(dmBlend);
        flat.SetMasterAlpha(60);
        ResizeBitmap(flat, 20, 15, f);
        EXPECT_EQ(flat.Width(), 20);
        EXPECT_EQ(flat.Height(), 15);
        EXPECT_TRUE(near(flat.GetPixelFast(0, 0), 0xFF336699u)) << std::hex << flat.GetPixelFast(0, 0);
        EXPECT_TRUE(near(flat.GetPixelFast(19, 14), 0xFF336699u));
        ResizeBitmap(flat, 80, 60, f);
        EXPECT_TRUE(near(flat.GetPixelFast(79, 59), 0xFF336699u));
        EXPECT_TRUE(near(flat.GetPixelFast(40, 30), 0xFF336699u)) << std::hex << flat.GetPixelFast(40, 30);
        EXPECT_EQ(flat.MasterAlpha(), 60u);
    }
    // Every filter writes every pixel of the result, shrinking and enlarging: a freed
    // block of the result's size left dirty must not show through a clear picture.
    for (TStretchFilter f : {sfNearest, sfLinear, sfLinear2, sfSpline})
        for (int32_t w : {500, 2000}) {
            TBitmap32 clear;
            clear.SetSize(1000, 600);
            TBitmap32 dirty;
            dirty.SetSize(w, w * 3 / 5);
            dirty.ClearTo(0xABCDEF12u);
            dirty.MakeEmpty();
            ResizeBitmap(clear, w, w * 3 / 5, f);
            for (int64_t i = 0; i < int64_t(w) * (w * 3 / 5); ++i)
                ASSERT_EQ(clear.Bits()[i], 0u) << int(f) << " " << w << " pixel " << i;
        }
    EXPECT_THROW(ResizeBitmap(b, 70000, 1, sfNearest), Exception);
    EXPECT_EQ(b.Width(), 8); // refused before anything changed
}

TEST(GeometryRoutines, CanvasSizePlacesThePictureOnEachAxis)
{
    struct TCase {
        int32_t W, H, NW, NH;
        TCanvasPlace Place;
        TPoint OldOrigin; // where old (0, 0) lands (may be off the canvas)
    };
    const TCase cases[] = {
        {640, 480, 800, 600, TCanvasPlace::Centre, {80, 60}},     {640, 480, 801, 601, TCanvasPlace::Centre, {80, 60}},
        {641, 481, 320, 240, TCanvasPlace::Centre, {-160, -120}}, {640, 480, 800, 600, TCanvasPlace::TopLeft, {0, 0}},
        {10, 1000, 10, 1040, TCanvasPlace::Centre, {0, 20}},
    };
    for (const TCase& c : cases) {
        TBitmap32 b;
        FillCoded(b, c.W, c.H);
        ResizeCanvas(b, c.NW, c.NH, c.Place, 0x00112233u);
        ASSERT_EQ(b.Width(), c.NW);
        ASSERT_EQ(b.Height(), c.NH);
        const TPoint o = c.OldOrigin;
        // The pixel at new (max(o, 0)) is old (max(-o, 0)).
        const int32_t nx = std::max(o.X, 0), ny = std::max(o.Y, 0);
        EXPECT_EQ(b.GetPixelFast(nx, ny), Code(std::max(-o.X, 0), std::max(-o.Y, 0))) << c.NW;
        if (o.X > 0) {
            EXPECT_EQ(b.GetPixelFast(o.X - 1, ny), 0xFF112233u) << c.NW; // the extension, opaque
        }
        if (o.Y > 0) {
            EXPECT_EQ(b.GetPixelFast(nx, o.Y - 1), 0xFF112233u) << c.NW;
        }
    }
}

TEST(GeometryRoutines, ClampAndCropKeepToTheBitmap)
{
    TBitmap32 b;
    FillCoded(b, 100, 50);
    EXPECT_EQ(ClampToBitmap(b, TRect{-5, -5, 20, 20}), (TRect{0, 0, 20, 20}));
    EXPECT_EQ(ClampToBitmap(b, TRect{120, 10, 150, 20}), TRect{});
    EXPECT_EQ(ClampToBitmap(b, TRect{50, 40, 10, 10}), (TRect{10, 10, 50, 40}));
    b.SetPixelFast(10, 10, 0x40102030u);
    CropBitmap(b, TRect{10, 10, 50, 40});
    ASSERT_EQ(b.Width(), 40);
    ASSERT_EQ(b.Height(), 30);
    EXPECT_EQ(b.GetPixelFast(0, 0), 0x40102030u);
    EXPECT_EQ(b.GetPixelFast(39, 29), Code(49, 39));
}

TEST(BorderRoutines, ReliefRingsCountContrastAndColours)
{
    EXPECT_EQ(ReliefRingCount(35, 1), 5);
    EXPECT_EQ(ReliefRingCount(35, 7), 35);
    EXPECT_EQ(ReliefRingCount(10, 4), 2); // 2.5 to even
    EXPECT_EQ(ReliefRingCount(14, 4), 4);
    const int32_t expected[] = {35, 21, 7, -7, -21};
    for (int32_t i = 0; i < 5; ++i)
        EXPECT_EQ(ReliefRingContrast(35, 1, TReliefUse::PictureFrame, i), expected[i]);
    EXPECT_EQ(ReliefRingContrast(35, 7, TReliefUse::Plain, 3), 32);

    TBitmap32 b;
    b.SetSize(200, 200);
    b.ClearTo(clBlack32);
    EXPECT_EQ(DrawReliefRings(b, 35, 1, TReliefUse::PictureFrame), 5);
    EXPECT_EQ(b.GetPixelFast(0, 0), 0xCAB2B2B2u); // grey 178 at alpha 202
    EXPECT_EQ(b.GetPixelFast(5, 5), clBlack32);

    // Rings stop at the first empty rectangle: nothing beyond the middle of a flat layer.
    TBitmap32 flat;
    flat.SetSize(100, 30);
    flat.ClearTo(clBlack32);
    EXPECT_EQ(DrawReliefRings(flat, 35, 7, TReliefUse::Plain), 15);
}

TEST(BorderRoutines, PatternBorderGeometry)
{
    TBitmap32 b;
    FillCoded(b, 100, 50);
    TPatternBorderSettings s;
    s.Width = 20;
    s.Contour = 3;
    s.Color = WinColorToColor32(TColor(0xE35400));
    s.ContourColor = clWhite32;
    PatternBorderPixels(b, s, TBorderTarget::Background);
    ASSERT_EQ(b.Width(), 140);
    ASSERT_EQ(b.Height(), 90);
    EXPECT_EQ(b.GetPixelFast(0, 0), 0xFF0054E3u);
    EXPECT_EQ(b.GetPixelFast(16, 16), 0xFF0054E3u);
    EXPECT_EQ(b.GetPixelFast(123, 73), 0xFF0054E3u);
    EXPECT_EQ(b.GetPixelFast(17, 17), clWhite32);
    EXPECT_EQ(b.GetPixelFast(122, 72), clWhite32);
    EXPECT_EQ(b.GetPixelFast(20, 20), Code(0, 0));
    EXPECT_EQ(b.GetPixelFast(119, 69), Code(99, 49));

    // A missing pattern leaves the border transparent black; a layer's transparent
    // pixels show the contour colour.
    TBitmap32 l;
    l.SetSize(4, 4);
    l.SetPixelFast(2, 2, 0xFFFF0000u); // opaque: drawn as it is, whatever the master alpha
    l.SetDrawMode(dmBlend);
    l.SetMasterAlpha(100);
    s.Width = 2;
    s.Contour = 1;
    s.PatternFile = "/nonexistent/pat1.bmp";
    PatternBorderPixels(l, s, TBorderTarget::Layer);
    ASSERT_EQ(l.Width(), 8);
    EXPECT_EQ(l.GetPixelFast(0, 0), 0u);
    EXPECT_EQ(l.GetPixelFast(3, 3), clWhite32);
    EXPECT_EQ(l.GetPixelFast(4, 4), 0xFFFF0000u);
    EXPECT_EQ(l.MasterAlpha(), 100u);
}

namespace {

// The forward projective map of the unit square onto a quad, written out as the
// textbook does; the routine is checked against it.
struct TForward {
    double a, b, c, d, e, f, g, h;
    TForward(const double (&X)[4], const double (&Y)[4])
    {
        const double sx = X[0] - X[1] + X[2] - X[3], sy = Y[0] - Y[1] + Y[2] - Y[3];
        g = h = 0;
        if (sx != 0 || sy != 0) {
            const double dx1 = X[1] - X[2], dx2 = X[3] - X[2], dy1 = Y[1] - Y[2], dy2 = Y[3] - Y[2];
            const double det = dx1 * dy2 - dx2 * dy1;
            g = (sx * dy2 - sy * dx2) / det;
            h = (dx1 * sy - dy1 * sx) / det;
        }
        a = X[1] - X[0] + g * X[1];
        b = X[3] - X[0] + h * X[3];
        c = X[0];
        d = Y[1] - Y[0] + g * Y[1];
        e = Y[3] - Y[0] + h * Y[3];
        f = Y[0];
    }
    void Map(double U, double V, double& X, double& Y) const
    {
        const double w = g * U + h * V + 1;
        X = (a * U + b * V + c) / w;
        Y = (d * U + e * V + f) / w;
    }
};

} // namespace

TEST(FourCorner, SquareOntoItselfAndOntoATrapezoid)
{
    TBitmap32 src;
    FillCoded(src, 100, 100);
    // The reduced copy is half size (S = 2): corners at 50 map to the full 100.
    const TQuad square{{{0, 0}, {50, 0}, {50, 50}, {0, 50}}};
    EXPECT_EQ(FourCornerSize(square, 2), (TPoint{100, 100}));
    TBitmap32 r;
    r.SetSize(100, 100);
    ASSERT_TRUE(DrawFourCorner(src, square, 2, TResampling::Nearest, r));
    for (int32_t y = 1; y < 99; y += 7)
        for (int32_t x = 1; x < 99; x += 7)
            ASSERT_EQ(r.GetPixelFast(x, y), Code(x, y)) << x << "," << y;

    const TQuad trapezoid{{{25, 0}, {75, 0}, {100, 100}, {0, 100}}};
    EXPECT_EQ(FourCornerSize(trapezoid, 1), (TPoint{100, 100}));
    r.ClearTo(0xFF0000FFu);
    ASSERT_TRUE(DrawFourCorner(src, trapezoid, 1, TResampling::Nearest, r));
    const double X[4] = {25, 75, 100, 0}, Y[4] = {0, 0, 100, 100};
    const TForward fwd(X, Y);
    for (double v = 0.05; v < 0.95; v += 0.1)
        for (double u = 0.05; u < 0.95; u += 0.1) {
            double x, y;
            fwd.Map(u, v, x, y);
            const TColor32 p = r.GetPixelFast(int32_t(x), int32_t(y));
            EXPECT_NEAR(CodeX(p), u * 100, 2.0) << u << "," << v;
            EXPECT_NEAR(CodeY(p), v * 100, 2.0) << u << "," << v;
        }
    EXPECT_EQ(r.GetPixelFast(5, 1), 0xFF0000FFu); // outside the quad: the fill stays

    // A corner dragged onto its neighbour leaves no map.
    const TQuad collapsed{{{0, 0}, {49, 49}, {49, 49}, {0, 49}}};
    EXPECT_FALSE(QuadUsable(collapsed, 100, 100));
    EXPECT_FALSE(DrawFourCorner(src, collapsed, 2, TResampling::Nearest, r));
}
