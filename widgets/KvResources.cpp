#include "widgets/KvResources.h"

#include "platform/SysUtils.h"

#include <cmath>
#include <cstdlib>
#include <functional>

namespace kv {

namespace {

constexpr TColor KeyColor = 0xFF00FF;

std::unique_ptr<TBitmap> NewGlyph(int32_t Width, int32_t Height)
{
    auto B = std::make_unique<TBitmap>();
    B->SetPixelFormat(pf24bit);
    B->SetSize(Width, Height);
    for (int32_t y = 0; y < Height; ++y)
        for (int32_t x = 0; x < Width; ++x)
            B->SetPixelColor(x, y, KeyColor);
    return B;
}

// A 7 x 4 arrow (rows of 7, 5, 3, 1 pixels, pointing down or up) inside a one-pixel
// margin of the key colour, so the bottom-left pixel is the transparent one.
std::unique_ptr<TBitmap> SpinArrow(bool Up)
{
    auto B = NewGlyph(9, 6);
    for (int32_t row = 0; row < 4; ++row) {
        const int32_t y = 1 + (Up ? 3 - row : row);
        for (int32_t x = row; x < 7 - row; ++x)
            B->SetPixelColor(1 + x, y, clBlack);
    }
    return B;
}

// A 16 x 16 cell drawn by a predicate over its pixels, in Colour; the disabled copy is
// grey with a white shadow one pixel down-right.
using TShape = std::function<bool(int32_t X, int32_t Y)>;

void PaintCell(TBitmap& B, int32_t Left, const TShape& Shape, TColor Colour, bool Disabled)
{
    for (int32_t y = 0; y < 16; ++y)
        for (int32_t x = 0; x < 16; ++x) {
            if (!Shape(x, y))
                continue;
            if (Disabled) {
                if (x + 1 < 16 && y + 1 < 15)
                    B.SetPixelColor(Left + x + 1, y + 1, clWhite);
                B.SetPixelColor(Left + x, y, clGray);
            } else {
                B.SetPixelColor(Left + x, y, Colour);
            }
        }
}

std::unique_ptr<TBitmap> KindStrip(const TShape& Shape, TColor Colour)
{
    auto B = NewGlyph(32, 16);
    PaintCell(*B, 0, Shape, Colour, false);
    PaintCell(*B, 16, Shape, Colour, true);
    return B;
}

bool Near(double D) { return std::abs(D) <= 1.0; }

// The bottom row stays the key colour so the glyph's transparent colour is the ground.
bool Check(int32_t X, int32_t Y)
{
    return Y < 15 && ((Near(Y - (X + 4.0)) && X <= 6) || (Near(Y - (16.0 - X)) && X >= 6 && X < 14));
}
bool Cross(int32_t X, int32_t Y) { return X >= 3 && X <= 12 && Y >= 3 && Y <= 12 && (Near(X - Y) || Near(X + Y - 15)); }
bool Question(int32_t X, int32_t Y)
{
    const double dx = X - 7.5, dy = Y - 5.5, r = std::sqrt(dx * dx + dy * dy);
    if (Y <= 6 && r >= 2.5 && r <= 4.2 && !(X < 6 && Y > 5))
        return true;
    return (X >= 7 && X <= 8 && Y >= 8 && Y <= 10) || (X >= 7 && X <= 8 && Y >= 12 && Y <= 13);
}
bool Door(int32_t X, int32_t Y)
{
    return X >= 4 && X <= 11 && Y >= 2 && Y <= 13 && (X == 4 || X == 11 || Y == 2 || Y == 13 || (X == 9 && Y == 8));
}
bool Circle(int32_t X, int32_t Y)
{
    const double dx = X - 7.5, dy = Y - 7.5, r = std::sqrt(dx * dx + dy * dy);
    return r >= 4.5 && r <= 6.2;
}
bool Stop(int32_t X, int32_t Y) { return Circle(X, Y) || (Near(X - Y) && X >= 4 && X <= 11); }
bool Retry(int32_t X, int32_t Y)
{
    return (Circle(X, Y) && !(X > 8 && Y < 7)) || (Y == 2 && X >= 8 && X <= 11) || (X == 11 && Y >= 2 && Y <= 5);
}
bool Ignore(int32_t X, int32_t Y)
{
    return (Y == 7 && X >= 2 && X <= 13) || ((Near(Y - 7 - (X - 13)) || Near(Y - 7 + (X - 13))) && X >= 10 && X <= 13);
}
bool All(int32_t X, int32_t Y) { return Check(X, Y) || (Y < 15 && Near(Y - (X - 2)) && X >= 8 && X <= 15 && Y <= 6); }
bool Eye(int32_t X, int32_t Y)
{
    const double dx = (X - 7.5) / 7.0, dy = (Y - 7.5) / 4.0, e = dx * dx + dy * dy;
    const double px = X - 7.5, py = Y - 7.5;
    return Y < 15 && ((e >= 0.75 && e <= 1.15) || px * px + py * py <= 4.0);
}

} // namespace

std::unique_ptr<TBitmap> LoadBitmapResource(const std::string& Name)
{
    if (Name == "KVSPINUP")
        return SpinArrow(true);
    if (Name == "KVSPINDOWN")
        return SpinArrow(false);
    if (Name == "PREVIEWGLYPH") {
        auto B = NewGlyph(16, 16);
        PaintCell(*B, 0, Eye, clNavy, false);
        return B;
    }
    static const struct {
        const char* Name;
        bool (*Shape)(int32_t, int32_t);
        TColor Colour;
    } Kinds[] = {
        {"LBOK", Check, clGreen},  {"LBCANCEL", Cross, clRed},  {"LBHELP", Question, clNavy},
        {"LBYES", Check, clGreen}, {"LBNO", Stop, clRed},       {"LBCLOSE", Door, clOlive},
        {"LBABORT", Stop, clRed},  {"LBRETRY", Retry, clGreen}, {"LBIGNORE", Ignore, clNavy},
        {"LBALL", All, clGreen},
    };
    for (const auto& K : Kinds)
        if (Name == K.Name)
            return KindStrip(K.Shape, K.Colour);
    throw EResNotFound("Resource " + Name + " not found");
}

} // namespace kv
