// TBitmap32 drawing: pixels, sub-pixel splats, lines, patterns, antialiased lines,
// rectangles, bevels and text, and the wrappers over the transfers.
#include "raster/Raster32.h"
#include "raster/Raster32_DrawingEx.h"
#include "raster/Raster32_Transforms.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace kv {

namespace {

// Round to nearest, halves to even, for values already known to fit.
inline int64_t RoundEven(double V) { return int64_t(std::nearbyint(V)); }

// Blends one colour over Count pixels through the run routine, a chunk at a time,
// so that the table is called per run and not per pixel.
void BlendColorRun(TColor32 Color, TColor32* Dst, int32_t Count)
{
    constexpr int32_t Chunk = 256;
    TColor32 source[Chunk];
    int32_t filled = std::min(Count, Chunk);
    std::fill(source, source + filled, Color);
    auto run = BlendRoutines().BlendRun;
    while (Count > 0) {
        int32_t n = std::min(Count, Chunk);
        run(source, Dst, n);
        Dst += n;
        Count -= n;
    }
}

} // namespace

// ---- Pixels -----------------------------------------------------------------------

void TBitmap32::SetPixelBlend(int32_t X, int32_t Y, TColor32 Color)
{
    BlendPixelInPlace(Color, *PixelAddress(X, Y));
    LeaveMmxState();
}

void TBitmap32::SetPixelSubFast(int32_t X, int32_t Y, TColor32 Color)
{
    const uint8_t* G = GammaTable();
    uint32_t fx = uint32_t(X) & 255, fy = uint32_t(Y) & 255, a = Color >> 24;
    uint32_t wx0 = G[255 - fx] * a, wx1 = G[fx] * a, wy0 = G[255 - fy], wy1 = G[fy];
    TColor32* p = PixelAddress(X >> 8, Y >> 8);
    auto mix = BlendRoutines().MixPixelInPlace;
    mix(Color, p[0], (wx0 * wy0) >> 16);
    mix(Color, p[1], (wx1 * wy0) >> 16);
    mix(Color, p[FWidth + 1], (wx1 * wy1) >> 16);
    mix(Color, p[FWidth], (wx0 * wy1) >> 16);
}

void TBitmap32::SetPixelSubClipped(int32_t X, int32_t Y, TColor32 Color)
{
    if (IsEmpty() || X < -256 || Y < -256 || (X >> 8) >= FWidth || (Y >> 8) >= FHeight)
        return;
    const uint8_t* G = GammaTable();
    uint32_t fx = uint32_t(X) & 255, fy = uint32_t(Y) & 255, a = Color >> 24;
    uint32_t wx0 = G[255 - fx] * a, wx1 = G[fx] * a, wy0 = G[255 - fy], wy1 = G[fy];
    int32_t px = X >> 8, py = Y >> 8;
    auto mix = BlendRoutines().MixPixelInPlace;
    auto put = [&](int32_t x, int32_t y, uint32_t w) {
        if (InBitmap(x, y))
            mix(Color, *PixelAddress(x, y), w);
    };
    put(px, py, (wx0 * wy0) >> 16);
    put(px + 1, py, (wx1 * wy0) >> 16);
    put(px + 1, py + 1, (wx1 * wy1) >> 16);
    put(px, py + 1, (wx0 * wy1) >> 16);
}

// ---- Lines ------------------------------------------------------------------------

void TBitmap32::HorzLineFast(int32_t X1, int32_t Y, int32_t X2, TColor32 Color)
{
    TColor32* p = PixelAddress(X1, Y);
    for (int32_t i = 0, n = X2 - X1 + 1; i < n; ++i)
        p[i] = Color;
}

void TBitmap32::HorzLineClipped(int32_t X1, int32_t Y, int32_t X2, TColor32 Color)
{
    if (IsEmpty() || Y < 0 || Y >= FHeight || !OrderAndClipSpan(X1, X2, FWidth))
        return;
    HorzLineFast(X1, Y, X2, Color);
}

void TBitmap32::HorzLineBlend(int32_t X1, int32_t Y, int32_t X2, TColor32 Color)
{
    BlendColorRun(Color, PixelAddress(X1, Y), X2 - X1 + 1);
    LeaveMmxState();
}

void TBitmap32::HorzLineBlendClipped(int32_t X1, int32_t Y, int32_t X2, TColor32 Color)
{
    if (IsEmpty() || Y < 0 || Y >= FHeight || !OrderAndClipSpan(X1, X2, FWidth))
        return;
    HorzLineBlend(X1, Y, X2, Color);
}

void TBitmap32::VertLineFast(int32_t X, int32_t Y1, int32_t Y2, TColor32 Color)
{
    TColor32* p = PixelAddress(X, Y1);
    for (int32_t i = 0, n = Y2 - Y1 + 1; i < n; ++i, p += FWidth)
        *p = Color;
}

void TBitmap32::VertLineClipped(int32_t X, int32_t Y1, int32_t Y2, TColor32 Color)
{
    if (IsEmpty() || X < 0 || X >= FWidth || !OrderAndClipSpan(Y1, Y2, FHeight))
        return;
    VertLineFast(X, Y1, Y2, Color);
}

void TBitmap32::VertLineBlend(int32_t X, int32_t Y1, int32_t Y2, TColor32 Color)
{
    auto blend = BlendRoutines().BlendPixelInPlace;
    TColor32* p = PixelAddress(X, Y1);
    for (int32_t i = 0, n = Y2 - Y1 + 1; i < n; ++i, p += FWidth)
        blend(Color, *p);
    LeaveMmxState();
}

void TBitmap32::VertLineBlendClipped(int32_t X, int32_t Y1, int32_t Y2, TColor32 Color)
{
    if (IsEmpty() || X < 0 || X >= FWidth || !OrderAndClipSpan(Y1, Y2, FHeight))
        return;
    VertLineBlend(X, Y1, Y2, Color);
}

void TBitmap32::HorzLinePattern(int32_t X1, int32_t Y, int32_t X2)
{
    if (IsEmpty() || Y < 0 || Y >= FHeight)
        return;
    if ((X1 < 0 && X2 < 0) || (X1 >= FWidth && X2 >= FWidth))
        return;
    X1 = ClampInt(X1, 0, FWidth - 1);
    X2 = ClampInt(X2, 0, FWidth - 1);
    int32_t step = X2 >= X1 ? 1 : -1;
    for (int32_t x = X1;; x += step) {
        SetPixelBlend(x, Y, NextPatternColor());
        if (x == X2)
            break;
    }
}

void TBitmap32::VertLinePattern(int32_t X, int32_t Y1, int32_t Y2)
{
    if (IsEmpty() || X < 0 || X >= FWidth)
        return;
    if ((Y1 < 0 && Y2 < 0) || (Y1 >= FHeight && Y2 >= FHeight))
        return;
    Y1 = ClampInt(Y1, 0, FHeight - 1);
    Y2 = ClampInt(Y2, 0, FHeight - 1);
    int32_t step = Y2 >= Y1 ? 1 : -1;
    for (int32_t y = Y1;; y += step) {
        SetPixelBlend(X, y, NextPatternColor());
        if (y == Y2)
            break;
    }
}

// ---- Pattern and pen --------------------------------------------------------------

void TBitmap32::SetLinePattern(const std::vector<TColor32>& Colors)
{
    FLinePattern = Colors;
    FLinePatternCounter = 0;
}

void TBitmap32::SetLinePatternStep(float Value)
{
    if (std::isfinite(Value))
        FLinePatternStep = Value;
}

TColor32 TBitmap32::NextPatternColor()
{
    if (FLinePattern.empty())
        return clBlack32;
    const float n = float(FLinePattern.size());
    // One remainder instead of repeated adding or subtracting of N: the same value for
    // every counter the old loop reached, in constant time for any counter.
    if (!std::isfinite(FLinePatternCounter))
        FLinePatternCounter = 0;
    float counter = std::fmod(FLinePatternCounter, n);
    if (counter < 0)
        counter += n;
    if (counter >= n || counter < 0)
        counter = 0;
    int32_t count = int32_t(FLinePattern.size());
    int32_t i = int32_t(RoundEven(double(counter) - 0.5));
    i = ClampInt(i, 0, count - 1);
    int32_t w = 255 - int32_t(RoundEven((double(counter) - i) * 255));
    int32_t j = i + 1 >= count ? 0 : i + 1;
    TColor32 result = w == 255 ? FLinePattern[i] : MixPixel(FLinePattern[i], FLinePattern[j], uint32_t(ClampByte(w)));
    // The counter itself runs on; only the copy used here is brought into range.
    FLinePatternCounter += FLinePatternStep;
    return result;
}

void TBitmap32::MovePenF(float X, float Y)
{
    FPenPosX = ToFixed(X);
    FPenPosY = ToFixed(Y);
}

void TBitmap32::LinePenToFixed(TFixed X, TFixed Y)
{
    DrawLineAAFixed(FPenPosX, FPenPosY, X, Y, FPenColor, false);
    FPenPosX = X;
    FPenPosY = Y;
}

void TBitmap32::LinePenToF(float X, float Y) { LinePenToFixed(ToFixed(X), ToFixed(Y)); }

// ---- Antialiased lines ------------------------------------------------------------

template <class ColorSource>
void TBitmap32::DrawLineAA(TFixed X1, TFixed Y1, TFixed X2, TFixed Y2, bool LastPoint, ColorSource NextColor)
{
    if (IsEmpty())
        return;
    constexpr int64_t Int32Max = std::numeric_limits<int32_t>::max();
    const int64_t limitX = int64_t(FWidth) << 16, limitY = int64_t(FHeight) << 16;
    if (!ClipSegmentToRect(X1, Y1, X2, Y2, -65536, -65536, int32_t(std::min(limitX, Int32Max)),
                           int32_t(std::min(limitY, Int32Max))))
        return;
    auto inside = [&](int64_t x, int64_t y) {
        return x >= 0 && x < limitX - 0x20000 && y >= 0 && y < limitY - 0x20000;
    };
    const bool fast = inside(X1, Y1) && inside(X2, Y2);
    auto splat = [&](int64_t x, int64_t y, TColor32 c) {
        if (fast)
            SetPixelSubFast(int32_t(x), int32_t(y), c);
        else
            SetPixelSubClipped(int32_t(x), int32_t(y), c);
    };

    const int64_t dx = int64_t(X2) - X1, dy = int64_t(Y2) - Y1;
    int64_t n = RoundEven(std::hypot(double(dx), double(dy))) + (LastPoint ? 65536 : 0);
    if (n < 256)
        return;
    int64_t x = X1, y = Y1;
    // The last position drawn; the start when no whole pixel was drawn.
    int64_t xLast = X1, yLast = Y1;
    int64_t steps = n >> 16;
    if (steps >= 1) {
        int64_t sx = RoundEven(double(dx) / double(n) * 65536.0);
        int64_t sy = RoundEven(double(dy) / double(n) * 65536.0);
        for (int64_t k = 0; k < steps; ++k) {
            splat(x >> 8, y >> 8, NextColor());
            xLast = x;
            yLast = y;
            x += sx;
            y += sy;
        }
    }
    TColor32 c = NextColor();
    uint32_t a = uint32_t(((c >> 24) * uint64_t(n & 65535)) >> 16);
    if (a != 0)
        splat((X2 + xLast) >> 9, (Y2 + yLast) >> 9, (c & 0x00FFFFFFu) | (a << 24));
    LeaveMmxState();
    Changed();
}

void TBitmap32::DrawLineAAFixed(TFixed X1, TFixed Y1, TFixed X2, TFixed Y2, TColor32 Color, bool LastPoint)
{
    DrawLineAA(X1, Y1, X2, Y2, LastPoint, [Color] { return Color; });
}

void TBitmap32::DrawPatternLineFixed(TFixed X1, TFixed Y1, TFixed X2, TFixed Y2, bool LastPoint)
{
    DrawLineAA(X1, Y1, X2, Y2, LastPoint, [this] { return NextPatternColor(); });
}

void TBitmap32::DrawLineAAF(float X1, float Y1, float X2, float Y2, TColor32 Color, bool LastPoint)
{
    DrawLineAAFixed(ToFixed(X1), ToFixed(Y1), ToFixed(X2), ToFixed(Y2), Color, LastPoint);
}

void TBitmap32::DrawPatternLineF(float X1, float Y1, float X2, float Y2, bool LastPoint)
{
    DrawPatternLineFixed(ToFixed(X1), ToFixed(Y1), ToFixed(X2), ToFixed(Y2), LastPoint);
}

// ---- Rectangles -------------------------------------------------------------------

void TBitmap32::FillRectFast(int32_t X1, int32_t Y1, int32_t X2, int32_t Y2, TColor32 Color)
{
    for (int32_t y = Y1; y < Y2; ++y) {
        TColor32* p = PixelAddress(X1, y);
        for (int32_t i = 0, n = X2 - X1; i < n; ++i)
            p[i] = Color;
    }
    Changed();
}

void TBitmap32::FillRectClipped(int32_t X1, int32_t Y1, int32_t X2, int32_t Y2, TColor32 Color)
{
    if (IsEmpty() || !(X1 < X2 && Y1 < Y2 && X1 < FWidth && Y1 < FHeight && X2 >= 1 && Y2 >= 1))
        return;
    FillRectFast(std::max(X1, 0), std::max(Y1, 0), std::min(X2, FWidth), std::min(Y2, FHeight), Color);
}

void TBitmap32::FrameRectClipped(int32_t X1, int32_t Y1, int32_t X2, int32_t Y2, TColor32 Color)
{
    if (IsEmpty() || !(X1 < X2 && Y1 < Y2 && X1 < FWidth && Y1 < FHeight && X2 >= 1 && Y2 >= 1))
        return;
    HorzLineClipped(X1, Y1, X2 - 1, Color);
    if (Y2 - 1 > Y1)
        HorzLineClipped(X1, Y2 - 1, X2 - 1, Color);
    if (Y2 - 2 >= Y1 + 1) {
        VertLineClipped(X1, Y1 + 1, Y2 - 2, Color);
        if (X2 - 1 > X1)
            VertLineClipped(X2 - 1, Y1 + 1, Y2 - 2, Color);
    }
    Changed();
}

void TBitmap32::FrameRectPatterned(int32_t X1, int32_t Y1, int32_t X2, int32_t Y2)
{
    if (X2 <= X1 || Y2 <= Y1)
        return;
    const int32_t R = X2 - 1, B = Y2 - 1;
    if (R == X1) {
        // A lone pixel goes through the clipped pattern line too: outside the bitmap it
        // draws nothing and leaves the counter alone.
        VertLinePattern(X1, Y1, B);
    } else if (B == Y1) {
        HorzLinePattern(X1, Y1, R);
    } else {
        HorzLinePattern(X1, Y1, X2 - 2);
        VertLinePattern(R, Y1, Y2 - 2);
        HorzLinePattern(R, B, X1 + 1);
        VertLinePattern(X1, B, Y1 + 1);
    }
    Changed();
}

void TBitmap32::DrawBevel(int32_t X1, int32_t Y1, int32_t X2, int32_t Y2, int32_t Contrast)
{
    if (Contrast != 0 && X1 < X2 && Y1 < Y2) {
        TColor32 light, dark;
        const int64_t c = Contrast;
        if (c > 0) {
            light = Color32WithAlpha(clWhite32, int32_t(std::min<int64_t>(c * 512 / 100, 255)));
            dark = Color32WithAlpha(clBlack32, int32_t(std::min<int64_t>(c * 255 / 100, 255)));
        } else {
            light = Color32WithAlpha(clBlack32, int32_t(std::min<int64_t>(-c * 255 / 100, 255)));
            dark = Color32WithAlpha(clWhite32, int32_t(std::min<int64_t>(-c * 512 / 100, 255)));
        }
        HorzLineBlendClipped(X1, Y1, X2 - 1, light);
        if (Y2 - 2 >= Y1 + 1)
            VertLineBlendClipped(X1, Y1 + 1, Y2 - 2, light);
        if (Y2 - 1 > Y1)
            HorzLineBlendClipped(X1, Y2 - 1, X2 - 1, dark);
        if (Y2 - 2 >= Y1 + 1 && X2 - 1 > X1)
            VertLineBlendClipped(X2 - 1, Y1 + 1, Y2 - 2, dark);
    }
    Changed();
}

// ---- Text -------------------------------------------------------------------------

// The platform leaves the alpha of text pixels undefined. Here text is drawn as on an
// RGB view: glyphs blend with the colour already there (whatever its alpha), and every
// pixel they touch becomes opaque; untouched pixels keep their alpha.
void TBitmap32::TextOut(int32_t X, int32_t Y, const std::string& Text)
{
    if (IsEmpty())
        return;
    SelectFont();
    const TSize extent = FCanvas->TextExtent(Text);
    // The text cell with room for overhanging glyphs (italics, accents).
    const int64_t margin = std::max(extent.cy, 4);
    const int64_t l = std::max<int64_t>(int64_t(X) - margin, 0), t = std::max<int64_t>(int64_t(Y) - margin, 0);
    const int64_t r = std::min<int64_t>(int64_t(X) + extent.cx + margin, FWidth);
    const int64_t b = std::min<int64_t>(int64_t(Y) + extent.cy + margin, FHeight);
    if (r > l && b > t) {
        const int32_t w = int32_t(r - l), h = int32_t(b - t);
        std::vector<TColor32> opaque(static_cast<size_t>(w) * h);
        for (int32_t y = 0; y < h; ++y) {
            const TColor32* s = PixelAddress(int32_t(l), int32_t(t) + y);
            for (int32_t x = 0; x < w; ++x)
                opaque[size_t(y) * w + x] = s[x] | 0xFF000000u;
        }
        TCanvas view;
        view.AttachBuffer(opaque.data(), w, h, w * 4);
        view.SetFont(FCanvas->Font());
        view.SetTransparentText(true);
        view.Brush()->SetStyle(bsClear);
        view.TextOut(int32_t(X - l), int32_t(Y - t), Text);
        for (int32_t y = 0; y < h; ++y) {
            TColor32* d = PixelAddress(int32_t(l), int32_t(t) + y);
            for (int32_t x = 0; x < w; ++x) {
                TColor32 drawn = opaque[size_t(y) * w + x];
                if (drawn != (d[x] | 0xFF000000u))
                    d[x] = drawn;
            }
        }
    }
    Changed();
}

TSize TBitmap32::MeasureText(const std::string& Text)
{
    if (FCanvas) {
        SelectFont();
        return FCanvas->TextExtent(Text);
    }
    TCanvas screen; // metrics come from the font alone
    screen.SetFont(FFont.get());
    return screen.TextExtent(Text);
}

namespace {

// White text on opaque black: the blue byte of every pixel is the glyph coverage,
// whatever way the surface keeps alpha.
void DrawCoverage(TBitmap32& T, TFont* Font, const std::string& Text)
{
    T.SetFont(Font);
    T.Font()->SetColor(clWhite);
    T.ClearTo(clBlack32);
    T.TextOut(0, 0, Text);
}

} // namespace

void TBitmap32::DrawTextAA(int32_t X, int32_t Y, const std::string& Text, int32_t Level, TColor32 Color)
{
    if (IsEmpty())
        return;
    Level = ClampInt(Level, 0, 4);
    const uint32_t alpha = Color >> 24;
    const TColor32 rgb = Color & 0x00FFFFFFu;
    TBitmap32 T;
    if (Level == 0) {
        TSize extent = MeasureText(Text + " ");
        T.SetSize(extent.cx, extent.cy);
        if (T.IsEmpty())
            return;
        DrawCoverage(T, FFont.get(), Text);
        TColor32* p = T.Bits();
        for (int64_t i = 0, n = int64_t(T.Width()) * T.Height(); i < n; ++i) {
            uint32_t coverage = p[i] & 0xFF;
            p[i] = coverage ? (coverage << 24) | rgb : 0;
        }
    } else {
        TBitmap32 T2;
        T2.SetFont(FFont.get());
        T2.Font()->SetSize(FFont->Size() * (1 << Level));
        TSize extent = T2.MeasureText(Text + " ");
        // The supersampled block goes through the size check like any bitmap: too large
        // a text raises the allocation error instead of exhausting memory.
        T2.SetSize(extent.cx, extent.cy);
        if (T2.IsEmpty())
            return;
        DrawCoverage(T2, T2.Font(), Text);
        T.SetSize(T2.Width() >> Level, T2.Height() >> Level);
        if (T.IsEmpty())
            return;
        const int32_t block = 1 << Level;
        for (int32_t y = 0; y < T.Height(); ++y) {
            TColor32* d = T.RowAddress(y);
            for (int32_t x = 0; x < T.Width(); ++x) {
                uint32_t sum = 0;
                for (int32_t by = 0; by < block; ++by) {
                    const TColor32* s = T2.RowAddress(y * block + by) + x * block;
                    for (int32_t bx = 0; bx < block; ++bx)
                        sum += s[bx] & 0xFF;
                }
                d[x] = (((sum >> Level) >> Level) << 24) | rgb;
            }
        }
    }
    T.SetDrawMode(dmBlend);
    T.SetMasterAlpha(alpha);
    T.DrawOntoAt(this, X, Y);
}

// ---- Transfers --------------------------------------------------------------------

void TBitmap32::DrawOnto(TBitmap32* Dst) { DrawOntoAt(Dst, 0, 0); }

void TBitmap32::DrawOntoAt(TBitmap32* Dst, int32_t X, int32_t Y)
{
    if (IsEmpty() || !Dst || Dst->IsEmpty())
        return;
    CopyRectBlend(Dst, X, Y, this, Rect(0, 0, FWidth, FHeight));
    Dst->Changed();
}

void TBitmap32::DrawFrom(int32_t X, int32_t Y, TBitmap32* Src)
{
    if (Src)
        Src->DrawOntoAt(this, X, Y);
}

void TBitmap32::DrawOntoRect(TBitmap32* Dst, const TRect& DstRect)
{
    DrawOntoRectFrom(Dst, DstRect, Rect(0, 0, FWidth, FHeight));
}

void TBitmap32::DrawOntoRectFrom(TBitmap32* Dst, const TRect& DstRect, const TRect& SrcRect)
{
    if (IsEmpty() || !Dst || Dst->IsEmpty())
        return;
    StretchRectBlend(Dst, DstRect, this, SrcRect);
    Dst->Changed();
}

} // namespace kv
