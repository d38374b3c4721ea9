#include "fx/GeometryRoutines.h"

#include "platform/SysUtils.h"
#include "raster/Raster32_Transforms.h"

#include <algorithm>
#include <cmath>
#include <optional>

namespace kv {

namespace {

// Draws with Src's own settings but as dmOpaque with master alpha 255, so sampled
// pixels are stored as they are, then puts the settings back.
class TOpaqueDraw {
public:
    explicit TOpaqueDraw(TBitmap32& Src) : FSrc(Src), FMode(Src.DrawMode()), FAlpha(Src.MasterAlpha())
    {
        FSrc.SetDrawMode(dmOpaque);
        FSrc.SetMasterAlpha(255);
    }
    ~TOpaqueDraw()
    {
        FSrc.SetDrawMode(FMode);
        FSrc.SetMasterAlpha(FAlpha);
    }
    TOpaqueDraw(const TOpaqueDraw&) = delete;
    TOpaqueDraw& operator=(const TOpaqueDraw&) = delete;

private:
    TBitmap32& FSrc;
    TDrawMode FMode;
    uint32_t FAlpha;
};

TStretchFilter FilterOf(TResampling Resampling) { return Resampling == TResampling::Bilinear ? sfLinear : sfNearest; }

void RequireSize(int64_t W, int64_t H)
{
    const std::string refused = RefusedSize(W, H);
    if (!refused.empty())
        throw Exception(refused);
}

// Rows of Src from Area copied to Dst at (DstX, DstY); both rectangles already lie on
// their bitmaps.
void CopyBlock(const TBitmap32& Src, const TRect& Area, TBitmap32& Dst, int32_t DstX, int32_t DstY)
{
    for (int32_t y = Area.Top; y < Area.Bottom; ++y)
        std::copy_n(Src.RowAddress(y) + Area.Left, Area.Width(), Dst.RowAddress(DstY + y - Area.Top) + DstX);
}

} // namespace

int32_t RoundHalfEven(double Value) { return int32_t(std::nearbyint(Value)); }

std::string RefusedSize(int64_t W, int64_t H)
{
    if (W < 1 || H < 1)
        return "The picture would be empty.";
    return PixelBufferSizeOk(W, H) ? std::string() : PixelBufferSizeMessage(W, H, "picture");
}

void ReplacePixels(TBitmap32& Target, TBitmap32& New)
{
    New.SetDrawMode(Target.DrawMode());
    New.SetMasterAlpha(Target.MasterAlpha());
    New.SetOuterColor(Target.OuterColor());
    New.SetStretchFilter(Target.StretchFilter());
    Target.TakeOver(New);
}

// ---- Quarter turns and flips ------------------------------------------------------------

void TurnBitmap(const TBitmap32& Src, TBitmap32& Dst, TQuarterTurn Turn)
{
    const int32_t W = Src.Width(), H = Src.Height();
    if (Turn == TQuarterTurn::Half)
        Dst.SetSize(W, H);
    else
        Dst.SetSize(H, W);
    if (Src.IsEmpty())
        return;
    for (int32_t y = 0; y < H; ++y) {
        const TColor32* row = Src.RowAddress(y);
        switch (Turn) {
        case TQuarterTurn::Clockwise:
            for (int32_t x = 0; x < W; ++x)
                Dst.SetPixelFast(H - 1 - y, x, row[x]);
            break;
        case TQuarterTurn::CounterClockwise:
            for (int32_t x = 0; x < W; ++x)
                Dst.SetPixelFast(y, W - 1 - x, row[x]);
            break;
        case TQuarterTurn::Half: std::reverse_copy(row, row + W, Dst.RowAddress(H - 1 - y)); break;
        }
    }
}

void FlipBitmap(const TBitmap32& Src, TBitmap32& Dst, TFlipAxis Axis)
{
    const int32_t W = Src.Width(), H = Src.Height();
    Dst.SetSize(W, H);
    if (Src.IsEmpty())
        return;
    for (int32_t y = 0; y < H; ++y) {
        const TColor32* row = Src.RowAddress(y);
        if (Axis == TFlipAxis::Horizontal)
            std::reverse_copy(row, row + W, Dst.RowAddress(y));
        else
            std::copy_n(row, W, Dst.RowAddress(H - 1 - y));
    }
}

// ---- Rotation by any angle ----------------------------------------------------------------

namespace {

// A whole quarter turn (or none) of AngleDegrees, clockwise positive; empty otherwise.
std::optional<int32_t> QuarterTurns(double AngleDegrees)
{
    const double q = AngleDegrees / 90.0;
    if (q != std::floor(q) || std::fabs(q) > 1e6)
        return std::nullopt;
    return ((int32_t(q) % 4) + 4) % 4;
}

} // namespace

TRotatedSize RotatedSize(int32_t W, int32_t H, double AngleDegrees)
{
    // The sine and cosine of a quarter turn are not exact in floating point; the sizes are.
    if (const auto turns = QuarterTurns(AngleDegrees))
        return *turns % 2 ? TRotatedSize{double(H), double(W)} : TRotatedSize{double(W), double(H)};
    const double r = -AngleDegrees * M_PI / 180.0;
    return {std::fabs(std::cos(r) * W) + std::fabs(std::sin(r) * H),
            std::fabs(std::sin(r) * W) + std::fabs(std::cos(r) * H)};
}

TRotatedSize RotateBitmap(TBitmap32& Bitmap, double AngleDegrees, TResampling Resampling)
{
    const int32_t W = Bitmap.Width(), H = Bitmap.Height();
    const TRotatedSize size = RotatedSize(W, H, AngleDegrees);
    if (Bitmap.IsEmpty())
        return size;
    // A quarter turn moves every pixel, alpha included, exactly as the background's own
    // turns do; sampling it would shift it by the half pixel the map rounds.
    if (const auto turns = QuarterTurns(AngleDegrees)) {
        if (*turns == 0)
            return size;
        static constexpr TQuarterTurn kinds[] = {TQuarterTurn::Clockwise, TQuarterTurn::Half,
                                                 TQuarterTurn::CounterClockwise};
        TBitmap32 turned;
        TurnBitmap(Bitmap, turned, kinds[*turns - 1]);
        ReplacePixels(Bitmap, turned);
        return size;
    }
    const int32_t RW = RoundHalfEven(size.NW), RH = RoundHalfEven(size.NH);
    RequireSize(RW, RH);

    TAffineTransformation T;
    T.SetSourceRect(TSingleRect{0, 0, float(W), float(H)});
    T.Translate(-W / 2.0f, -H / 2.0f);
    T.Rotate(0, 0, float(-AngleDegrees));
    T.Translate(float(size.NW / 2), float(size.NH / 2));

    // The colour pass samples an opaque copy onto opaque black; the alpha pass samples
    // the alpha (as grey, its two outermost rows and columns cleared so the turned edge
    // fades out) onto zero, and its intensity becomes the alpha. Both passes share the
    // map and the filter, and the sampling works channel by channel with the same
    // weights, so one pass over a copy that carries the colour and the cleared alpha
    // gives the same bytes: outside the turned picture colour black and alpha 0.
    TBitmap32 Source;
    Source.Assign(&Bitmap);
    Source.SetStretchFilter(FilterOf(Resampling));
    Source.SetDrawMode(dmOpaque);
    Source.SetMasterAlpha(255);
    Source.SetOuterColor(Bitmap.OuterColor() & 0x00FFFFFFu);
    auto clearAlpha = [&](int32_t X1, int32_t Y1, int32_t X2, int32_t Y2) {
        for (int32_t y = std::max(Y1, 0); y < std::min(Y2, H); ++y)
            for (int32_t x = std::max(X1, 0); x < std::min(X2, W); ++x)
                Source.RowAddress(y)[x] &= 0x00FFFFFFu;
    };
    clearAlpha(0, 0, W, 2);
    clearAlpha(0, H - 2, W, H);
    clearAlpha(0, 0, 2, H);
    clearAlpha(W - 2, 0, W, H);
    TBitmap32 R;
    R.SetSize(RW, RH);
    DrawTransformed(&R, &Source, &T);
    ReplacePixels(Bitmap, R);
    return size;
}

// ---- Image and canvas size ----------------------------------------------------------------

void ResizeBitmap(TBitmap32& Bitmap, int32_t NewW, int32_t NewH, TStretchFilter Filter)
{
    RequireSize(NewW, NewH);
    TBitmap32 N;
    // An opaque stretch over the whole of N writes every pixel of it.
    if (Bitmap.IsEmpty())
        N.SetSize(NewW, NewH);
    else
        N.SetSizeForOverwrite(NewW, NewH);
    if (!Bitmap.IsEmpty()) {
        const TStretchFilter old = Bitmap.StretchFilter();
        Bitmap.SetStretchFilter(Filter);
        {
            TOpaqueDraw opaque(Bitmap);
            Bitmap.DrawOntoRect(&N, TRect{0, 0, NewW, NewH});
        }
        Bitmap.SetStretchFilter(old);
    }
    ReplacePixels(Bitmap, N);
}

TPoint CanvasOffset(int32_t W, int32_t H, int32_t NewW, int32_t NewH, TCanvasPlace Place)
{
    if (Place == TCanvasPlace::TopLeft)
        return {0, 0};
    return {RoundHalfEven((double(NewW) - W) / 2), RoundHalfEven((double(NewH) - H) / 2)};
}

void ResizeCanvas(TBitmap32& Bitmap, int32_t NewW, int32_t NewH, TCanvasPlace Place, TColor32 Extension)
{
    RequireSize(NewW, NewH);
    TBitmap32 N;
    N.SetSize(NewW, NewH);
    N.ClearTo(Extension | 0xFF000000u);
    const TPoint at = CanvasOffset(Bitmap.Width(), Bitmap.Height(), NewW, NewH, Place);
    // The part of the old picture that lands on the new canvas.
    const TRect area{std::max(0, -at.X), std::max(0, -at.Y), std::min(Bitmap.Width(), NewW - at.X),
                     std::min(Bitmap.Height(), NewH - at.Y)};
    if (!Bitmap.IsEmpty() && area.Width() > 0 && area.Height() > 0)
        CopyBlock(Bitmap, area, N, area.Left + at.X, area.Top + at.Y);
    ReplacePixels(Bitmap, N);
}

TRect ClampToBitmap(const TBitmap32& Bitmap, TRect R)
{
    if (R.Left > R.Right)
        std::swap(R.Left, R.Right);
    if (R.Top > R.Bottom)
        std::swap(R.Top, R.Bottom);
    R.Left = std::clamp(R.Left, 0, Bitmap.Width());
    R.Right = std::clamp(R.Right, 0, Bitmap.Width());
    R.Top = std::clamp(R.Top, 0, Bitmap.Height());
    R.Bottom = std::clamp(R.Bottom, 0, Bitmap.Height());
    if (R.Width() <= 0 || R.Height() <= 0)
        return TRect{};
    return R;
}

void CropBitmap(TBitmap32& Bitmap, const TRect& Area)
{
    RequireSize(Area.Width(), Area.Height());
    TBitmap32 N;
    N.SetSize(Area.Width(), Area.Height());
    CopyBlock(Bitmap, Area, N, 0, 0);
    ReplacePixels(Bitmap, N);
}

// ---- Four corners -------------------------------------------------------------------------

TPoint FourCornerSize(const TQuad& Q, double S)
{
    const double w = std::abs(double(std::min(Q.P[0].X, Q.P[3].X)) - std::max(Q.P[1].X, Q.P[2].X)) * S;
    const double h = std::abs(double(std::min(Q.P[0].Y, Q.P[1].Y)) - std::max(Q.P[3].Y, Q.P[2].Y)) * S;
    // Kept within what a double converts to an int32 without overflow; the callers cap it.
    return {RoundHalfEven(std::min(w, 1e9)), RoundHalfEven(std::min(h, 1e9))};
}

namespace {

void SetQuad(TProjectiveTransformation& T, const double (&X)[4], const double (&Y)[4])
{
    T.SetQuadX0(float(X[0]));
    T.SetQuadY0(float(Y[0]));
    T.SetQuadX1(float(X[1]));
    T.SetQuadY1(float(Y[1]));
    T.SetQuadX2(float(X[2]));
    T.SetQuadY2(float(Y[2]));
    T.SetQuadX3(float(X[3]));
    T.SetQuadY3(float(Y[3]));
}

void ScaledQuad(const TQuad& Q, double S, TProjectiveTransformation& T)
{
    const double mx = std::min(Q.P[0].X, Q.P[3].X), my = std::min(Q.P[0].Y, Q.P[1].Y);
    double X[4], Y[4];
    for (int i = 0; i < 4; ++i) {
        X[i] = (Q.P[i].X - mx) * S;
        Y[i] = (Q.P[i].Y - my) * S;
    }
    SetQuad(T, X, Y);
}

} // namespace

bool QuadUsable(const TQuad& Q, int32_t W, int32_t H)
{
    if (W < 1 || H < 1)
        return false;
    TProjectiveTransformation T;
    T.SetSourceRect(TSingleRect{0, 0, float(W), float(H)});
    ScaledQuad(Q, 1, T);
    T.Prepare();
    return T.Usable();
}

bool DrawFourCorner(TBitmap32& Source, const TQuad& Q, double S, TResampling Resampling, TBitmap32& Result)
{
    if (!QuadUsable(Q, Source.Width(), Source.Height()))
        return false;
    TProjectiveTransformation T;
    T.SetSourceRect(TSingleRect{0, 0, float(Source.Width()), float(Source.Height())});
    ScaledQuad(Q, S, T);
    const TStretchFilter old = Source.StretchFilter();
    Source.SetStretchFilter(FilterOf(Resampling));
    {
        TOpaqueDraw opaque(Source);
        DrawTransformed(&Result, &Source, &T);
    }
    Source.SetStretchFilter(old);
    return true;
}

} // namespace kv
