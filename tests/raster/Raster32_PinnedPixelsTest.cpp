// Pixels of the hot paths pinned by checksum: the image view's repaint at its zooms and the
// scaled and rotated transfers. The sums were taken from the plain (KELVANE_NO_SIMD=1)
// routines; whichever set the processor gets must give the same pixels, so a faster path
// that changes a single pixel fails here.
#include "raster/Raster32.h"
#include "raster/Raster32_Image.h"
#include "raster/Raster32_Transforms.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <memory>
#include <random>
#include <string>

using namespace kv;

namespace {

// FNV-1a over the pixels, row by row.
uint64_t Checksum(TBitmap32& B)
{
    uint64_t h = 0xcbf29ce484222325ull;
    for (int64_t i = 0; i < int64_t(B.Width()) * B.Height(); ++i) {
        h ^= B.Bits()[i];
        h *= 0x100000001b3ull;
    }
    return h;
}

std::string Hex(uint64_t V)
{
    char s[20];
    std::snprintf(s, sizeof s, "%016llx", static_cast<unsigned long long>(V));
    return s;
}

void FillRandom(TBitmap32& B, int32_t W, int32_t H, uint32_t Seed, uint32_t AlphaOr)
{
    B.SetSize(W, H);
    std::mt19937 rng(Seed);
    for (int64_t i = 0; i < int64_t(W) * H; ++i)
        B.Bits()[i] = rng() | AlphaOr;
}

// Layers as a picture editor has them: opaque stripes, transparent squares and
// half-transparent squares side by side.
void FillLayer(TBitmap32& B, int32_t W, int32_t H, uint32_t Seed)
{
    B.SetSize(W, H);
    std::mt19937 rng(Seed);
    for (int32_t y = 0; y < H; ++y)
        for (int32_t x = 0; x < W; ++x) {
            const uint32_t a = (x + y) / 8 % 3 == 0 ? 255 : ((x / 16 + y / 16) % 2 ? 0 : 96 + rng() % 128);
            B.SetPixelFast(x, y, (a << 24) | (rng() & 0xFFFFFF));
        }
}

class TPinnedView : public TImgView32 {
public:
    void Repaint()
    {
        Invalidate();
        ResizeBuffer();
        DoPaintBuffer();
    }
};

// A 2400 x 1500 background under four linear layers (two with master alpha) in an
// 800 x 600 viewport, as the editor shows a document.
std::unique_ptr<TPinnedView> MakeView()
{
    auto v = std::make_unique<TPinnedView>();
    v->ScrollBars()->SetSize(16);
    v->SetBounds(0, 0, 816, 616);
    v->Bitmap()->SetStretchFilter(sfLinear);
    FillRandom(*v->Bitmap(), 2400, 1500, 3, 0xFF000000u);
    const TSingleRect places[4] = {
        {700, 400, 1500, 1000}, {1000, 600, 1800, 1150}, {850, 700, 1300, 900}, {300, 200, 2100, 1300}};
    const uint32_t alphas[4] = {255, 255, 200, 128};
    for (int i = 0; i < 4; ++i) {
        auto* l = v->Layers()->Add<TBitmapLayer>();
        FillLayer(*l->Bitmap(), int32_t(places[i].Right - places[i].Left), int32_t(places[i].Bottom - places[i].Top),
                  uint32_t(i + 10));
        l->Bitmap()->SetDrawMode(dmBlend);
        l->Bitmap()->SetMasterAlpha(alphas[i]);
        l->Bitmap()->SetStretchFilter(sfLinear);
        l->SetPlacement(places[i]);
        l->SetScaleWithView(true);
    }
    return v;
}

} // namespace

// The view at 1:1 (where the linear stretch's step still interpolates every pixel), at
// half and at four times, centred and scrolled to a corner.
TEST(PinnedPixels, ViewRepaint)
{
    struct TCase {
        float Scale;
        int32_t X, Y;
        uint64_t Sum;
    };
    const TCase cases[] = {
        {1.0f, 1200, 750, 0xab2a8f446b03b9d9ull},  {1.0f, 350, 250, 0x496cc24f419b198full},
        {0.5f, 1200, 750, 0x72ec70bc804a6f1eull},  {4.0f, 1200, 750, 0x21e592d0c88cdd0bull},
        {4.0f, 1000, 1000, 0x892a38866a31b78bull},
    };
    std::unique_ptr<TPinnedView> v = MakeView();
    for (const TCase& c : cases) {
        v->SetScale(c.Scale);
        v->ScrollToCenter(c.X, c.Y);
        v->Repaint();
        EXPECT_EQ(Hex(Checksum(*v->Buffer())), Hex(c.Sum)) << c.Scale << " at " << c.X << "," << c.Y;
    }
}

// Nearest stretches (opaque and blended, shrinking by a half and by other factors,
// clipped on the left and top) and a rotation by 30 degrees, bilinear and nearest,
// opaque and blended.
TEST(PinnedPixels, Transfers)
{
    TBitmap32 src;
    FillRandom(src, 960, 540, 21, 0);
    struct TStretchCase {
        TDrawMode Mode;
        uint32_t Master;
        TRect DstRect;
        uint64_t Sum;
    };
    const TStretchCase stretches[] = {
        {dmOpaque, 255, Rect(0, 0, 480, 270), 0x53a46045d702750cull},
        {dmOpaque, 255, Rect(-37, -11, 443, 259), 0x1fc85517ab952d49ull},
        {dmOpaque, 255, Rect(5, 3, 360, 200), 0x3130689ad6679775ull},
        {dmOpaque, 255, Rect(0, 0, 700, 400), 0x0f6c27c19595b4faull},
        {dmOpaque, 255, Rect(-3, 0, 1920, 1080), 0x74bde3e694d5f155ull},
        {dmBlend, 255, Rect(0, 0, 480, 270), 0xfd0a3bffb06e8823ull},
        {dmBlend, 160, Rect(-37, -11, 443, 259), 0x09bf6837097565d3ull},
    };
    int n = 0;
    for (const TStretchCase& c : stretches) {
        TBitmap32 dst;
        FillRandom(dst, 500, 300, 5, 0xFF000000u);
        src.SetStretchFilter(sfNearest);
        src.SetDrawMode(c.Mode);
        src.SetMasterAlpha(c.Master);
        StretchRectBlend(&dst, c.DstRect, &src, Rect(0, 0, 960, 540));
        EXPECT_EQ(Hex(Checksum(dst)), Hex(c.Sum)) << "stretch " << n++;
    }
    struct TRotateCase {
        TStretchFilter Filter;
        TDrawMode Mode;
        float Angle;
        uint64_t Sum;
    };
    const TRotateCase rotations[] = {
        {sfLinear, dmOpaque, 30, 0x1b2d656c2e209a6eull},
        {sfLinear, dmBlend, 30, 0xddd9b7433a449b66ull},
        {sfNearest, dmOpaque, 30, 0xec4965f54aec08e1ull},
        {sfLinear, dmOpaque, -117, 0x0371b3005bf25020ull},
    };
    TBitmap32 pic;
    FillRandom(pic, 700, 500, 8, 0);
    n = 0;
    for (const TRotateCase& c : rotations) {
        TBitmap32 dst;
        FillRandom(dst, 650, 560, 6, 0xFF000000u);
        pic.SetStretchFilter(c.Filter);
        pic.SetDrawMode(c.Mode);
        pic.SetMasterAlpha(c.Mode == dmBlend ? 200 : 255);
        TAffineTransformation t;
        t.SetSourceRect(MakeSingleRect(0, 0, 700, 500));
        t.Rotate(350, 250, c.Angle);
        t.Translate(-20, 15);
        DrawTransformed(&dst, &pic, &t);
        EXPECT_EQ(Hex(Checksum(dst)), Hex(c.Sum)) << "rotation " << n++;
    }
}
