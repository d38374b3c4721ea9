#include "raster/Raster32_ViewStretch.h"

#include "raster/Raster32.h"
#include "raster/Raster32_Blend.h"
#include "raster/Raster32_CPUid.h"
#include "raster/Raster32_LowLevel.h"
#include "raster/Raster32_Transforms.h"

#include <algorithm>
#include <vector>

namespace kv {

#if defined(__x86_64__) || defined(__i386__)
void Avx2MixRows(const uint32_t* R0, const uint32_t* R1, uint32_t* Out, int32_t Count, uint32_t W);
void Avx2MixColumns(const uint32_t* V, const int32_t* X0, const int32_t* X1, const uint32_t* WX, uint32_t* Out,
                    int32_t Count);
#endif

namespace {

// Chosen once: the blend table's choice already honours KELVANE_NO_SIMD.
bool GSimd =
#if defined(__x86_64__) || defined(__i386__)
    MmxActive() && CpuHasAvx2();
#else
    false;
#endif

// A * B / C rounded half away from zero, in 128 bits (positions of huge rectangles).
int64_t MulDivRound(int64_t A, int64_t B, int64_t C)
{
    const __int128 N = __int128(A) * B;
    const bool Neg = (N < 0) != (C < 0);
    const unsigned __int128 UN = N < 0 ? -N : N, UC = C < 0 ? -__int128(C) : C;
    unsigned __int128 Q = UN / UC;
    if (UC - UN % UC <= UN % UC)
        ++Q;
    return Neg ? -int64_t(Q) : int64_t(Q);
}

// The bilinear stretch: 16.16 positions stepped per destination pixel, each source
// column mixed vertically once per row, then the horizontal mixes, then the landing.
void StretchLinearSimd(TBitmap32* Dst, const TRect& DstRect, TBitmap32* Src, const TRect& SrcRect)
{
    CheckTransferBitmaps(Dst, Src);
    if (!CheckTransferSrcRect(Src, SrcRect) || RectIsEmpty(DstRect))
        return;
    TRect C;
    if (!IntersectRects(C, DstRect, Rect(0, 0, Dst->Width(), Dst->Height())) || RectIsEmpty(C))
        return;
    const uint32_t M = Src->MasterAlpha();
    if (M == 0)
        return;
    const bool Opaque = Src->DrawMode() == dmOpaque;
    const int64_t SrcW = int64_t(SrcRect.Right) - SrcRect.Left, SrcH = int64_t(SrcRect.Bottom) - SrcRect.Top;
    const int64_t DstW = int64_t(DstRect.Right) - DstRect.Left, DstH = int64_t(DstRect.Bottom) - DstRect.Top;
    const int64_t StartX = MulDivRound((int64_t(C.Left) - DstRect.Left) * (SrcW - 1), 65535, DstW);
    const int64_t StartY = MulDivRound((int64_t(C.Top) - DstRect.Top) * (SrcH - 1), 65535, DstH);
    const int64_t StepX = ((SrcW - 1) << 16) / DstW, StepY = ((SrcH - 1) << 16) / DstH;
    const int32_t W = C.Width();

    std::vector<int32_t> X0(static_cast<size_t>(W)), X1(static_cast<size_t>(W));
    std::vector<uint32_t> WX(static_cast<size_t>(W));
    int64_t Pos = StartX;
    for (int32_t I = 0; I < W; ++I, Pos += StepX) {
        const int64_t IX = std::clamp<int64_t>(Pos >> 16, 0, SrcW - 1);
        X0[size_t(I)] = int32_t(IX);
        X1[size_t(I)] = int32_t(std::min<int64_t>(IX + 1, SrcW - 1));
        WX[size_t(I)] = 255 - uint32_t((Pos >> 8) & 255);
    }
    const int32_t Lo = X0.front(), Hi = X1.back();
    for (int32_t I = 0; I < W; ++I) {
        X0[size_t(I)] -= Lo;
        X1[size_t(I)] -= Lo;
    }
    std::vector<uint32_t> Vert(size_t(Hi - Lo + 1) + 16); // slack for the 16-wide reads
    std::vector<uint32_t> Row(Opaque ? 0 : size_t(W));
    const TBlendRoutines& Blend = BlendRoutines();
    int64_t PosY = StartY;
    for (int32_t K = 0; K < C.Height(); ++K, PosY += StepY) {
        const int32_t Row0 = int32_t(std::clamp<int64_t>(PosY >> 16, 0, SrcH - 1)) + SrcRect.Top;
        const int32_t Row1 = Row0 == SrcRect.Bottom - 1 ? Row0 : Row0 + 1;
        const uint32_t WY = 255 - uint32_t((PosY >> 8) & 255);
        const TColor32* R0 = Src->RowAddress(Row0) + SrcRect.Left + Lo;
        const TColor32* R1 = Src->RowAddress(Row1) + SrcRect.Left + Lo;
        TColor32* D = Dst->PixelAddress(C.Left, C.Top + K);
#if defined(__x86_64__) || defined(__i386__)
        Avx2MixRows(R0, R1, Vert.data(), Hi - Lo + 1, WY);
        Avx2MixColumns(Vert.data(), X0.data(), X1.data(), WX.data(), Opaque ? D : Row.data(), W);
#endif
        if (!Opaque) {
            if (M < 255)
                Blend.BlendRunMaster(Row.data(), D, W, M);
            else
                Blend.BlendRun(Row.data(), D, W);
        }
    }
    LeaveMmxState();
}

} // namespace

bool ViewStretchSimdActive() { return GSimd; }

bool SetViewStretchSimd(bool Enabled)
{
    const bool Old = GSimd;
#if defined(__x86_64__) || defined(__i386__)
    GSimd = Enabled && CpuHasAvx2();
#else
    GSimd = false;
#endif
    return Old;
}

void ViewDrawOntoRect(TBitmap32* Src, TBitmap32* Dst, const TRect& DstRect, const TRect& SrcRect)
{
    if (!Src || Src->IsEmpty() || !Dst || Dst->IsEmpty())
        return;
    const TDrawMode Mode = Src->DrawMode();
    if (!GSimd || Src->StretchFilter() != sfLinear || (Mode != dmOpaque && Mode != dmBlend)) {
        Src->DrawOntoRectFrom(Dst, DstRect, SrcRect);
        return;
    }
    StretchLinearSimd(Dst, DstRect, Src, SrcRect);
    Dst->Changed();
}

} // namespace kv
