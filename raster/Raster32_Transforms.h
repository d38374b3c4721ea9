// Moving pixels between bitmaps: unscaled copies and blends, scaled copies with four
// resampling filters, copies through affine and projective transformations.
#pragma once

#include "raster/Raster32.h"

#include <vector>

namespace kv {

KV_DECLARE_EXCEPTION(ETransformError, Exception)

// "Destination bitmap is nil or empty", then "Source bitmap is nil or empty".
void CheckTransferBitmaps(TBitmap32* Dst, TBitmap32* Src);
// False for an empty SrcRect; "Source rectangle is invalid" when it leaves Src.
bool CheckTransferSrcRect(TBitmap32* Src, const TRect& SrcRect);

// Src's DrawMode, OnPixelCombine and MasterAlpha decide how pixels land.
void CopyRectBlend(TBitmap32* Dst, int32_t DstX, int32_t DstY, TBitmap32* Src, TRect SrcRect);
// By Src's StretchFilter, DrawMode, OnPixelCombine and MasterAlpha.
void StretchRectBlend(TBitmap32* Dst, TRect DstRect, TBitmap32* Src, TRect SrcRect);
// The single stretches, for callers that choose one themselves. Called directly,
// StretchLinear treats dmCustom without a handler as dmBlend.
void StretchNearest(TBitmap32* Dst, TRect DstRect, TBitmap32* Src, TRect SrcRect);
void StretchNearestBlend(TBitmap32* Dst, TRect DstRect, TBitmap32* Src, TRect SrcRect);
void StretchLinear(TBitmap32* Dst, TRect DstRect, TBitmap32* Src, TRect SrcRect);
void StretchFiltered(TBitmap32* Dst, TRect DstRect, TBitmap32* Src, TRect SrcRect);

// One list per destination column (or row): source indices, clamped to the bitmap,
// with their integer weights; zero weights are not stored.
struct TMappingEntry {
    int32_t Index;
    int32_t Weight;
    friend bool operator==(const TMappingEntry&, const TMappingEntry&) = default;
};
using TMappingList = std::vector<TMappingEntry>;
using TMappingTable = std::vector<TMappingList>;
// Shrinking lists are normalised to 255, enlarging lists use a 256 scale. Every list
// has at least one entry with a positive weight.
TMappingTable BuildMappingTable(int32_t DstSize, int32_t SrcSize, int32_t SrcLo, int32_t SrcHi, TStretchFilter Filter);

// Sets alpha 0 on the outline of Rect (corners inclusive, clamped to the bitmap), then
// Bitmap->Changed. Nothing on an empty bitmap.
void ClearBorderAlpha(TBitmap32* Bitmap, TRect Rect);

// ---- Matrices ---------------------------------------------------------------------

// Column by column: M[c][r]; (x, y, 1) maps to x' = M[0][0]x + M[1][0]y + M[2][0],
// y' = M[0][1]x + M[1][1]y + M[2][1].
struct TFloatMatrix {
    float M[3][3] = {{1, 0, 0}, {0, 1, 0}, {0, 0, 1}};
    float* operator[](int C) { return M[C]; }
    const float* operator[](int C) const { return M[C]; }
};
extern const TFloatMatrix IdentityMatrix;
// Column i of the product is A applied to column i of B.
TFloatMatrix Mult(const TFloatMatrix& A, const TFloatMatrix& B);
float Determinant(const TFloatMatrix& M);
TFloatMatrix Adjoint(const TFloatMatrix& M);
// Adjoint / det when |det| > 1e-5, else identity.
TFloatMatrix Invert(const TFloatMatrix& M);
// The same, answering False (and identity) for a singular matrix.
bool TryInvert(const TFloatMatrix& M, TFloatMatrix& Result);

// ---- Transformations --------------------------------------------------------------

class TTransformation : public TObject {
public:
    const TSingleRect& SrcRect() const { return FSrcRect; }
    void SetSourceRect(const TSingleRect& Value);
    bool Prepared() const { return FPrepared; }

    // Destination pixel to source pixel; False when there is no source point.
    virtual bool ReverseMapInt(int32_t DstX, int32_t DstY, int32_t& SrcX, int32_t& SrcY) = 0;
    // The same in 24.8 fixed point.
    virtual bool ReverseMapFixed(int32_t DstX, int32_t DstY, int32_t& SrcX, int32_t& SrcY) = 0;
    virtual void Prepare() = 0;
    virtual TRect GetDestBounds() = 0;
    std::string ClassName() const override { return "TTransformation"; }

protected:
    TSingleRect FSrcRect;
    bool FPrepared = false;
};

class TAffineTransformation : public TTransformation {
public:
    TAffineTransformation() { Reset(); }
    void Reset();
    // Alpha in degrees, about (Cx, Cy) when either is non-zero.
    void Rotate(float Cx, float Cy, float Alpha);
    void Scale(float Sx, float Sy);
    void Skew(float Fx, float Fy);
    void Translate(float Dx, float Dy);
    const TFloatMatrix& Matrix() const { return FMatrix; }

    bool ReverseMapInt(int32_t DstX, int32_t DstY, int32_t& SrcX, int32_t& SrcY) override;
    bool ReverseMapFixed(int32_t DstX, int32_t DstY, int32_t& SrcX, int32_t& SrcY) override;
    void Prepare() override;
    TRect GetDestBounds() override;
    std::string ClassName() const override { return "TAffineTransformation"; }

    // The prepared inverse in 20.12: sx = (x*A + y*B + C + 2047) shr 12, likewise D, E, F.
    int32_t A = 0, B = 0, C = 0, D = 0, E = 0, F = 0;

private:
    TFloatMatrix FMatrix;
};

// Maps the source rectangle onto the quad (corner 0 top-left, 1 top-right,
// 2 bottom-right, 3 bottom-left). A degenerate quad (corners collapsed or collinear)
// or an empty source rectangle leaves it unusable: nothing maps, nothing is drawn.
class TProjectiveTransformation : public TTransformation {
public:
    float X0() const { return FX[0]; }
    float X1() const { return FX[1]; }
    float X2() const { return FX[2]; }
    float X3() const { return FX[3]; }
    float Y0() const { return FY[0]; }
    float Y1() const { return FY[1]; }
    float Y2() const { return FY[2]; }
    float Y3() const { return FY[3]; }
    void SetQuadX0(float V) { SetCorner(FX[0], V); }
    void SetQuadX1(float V) { SetCorner(FX[1], V); }
    void SetQuadX2(float V) { SetCorner(FX[2], V); }
    void SetQuadX3(float V) { SetCorner(FX[3], V); }
    void SetQuadY0(float V) { SetCorner(FY[0], V); }
    void SetQuadY1(float V) { SetCorner(FY[1], V); }
    void SetQuadY2(float V) { SetCorner(FY[2], V); }
    void SetQuadY3(float V) { SetCorner(FY[3], V); }
    bool Usable() const { return FUsable; }
    const TFloatMatrix& InverseMatrix() const { return FMatrix; }

    bool ReverseMapInt(int32_t DstX, int32_t DstY, int32_t& SrcX, int32_t& SrcY) override;
    bool ReverseMapFixed(int32_t DstX, int32_t DstY, int32_t& SrcX, int32_t& SrcY) override;
    void Prepare() override;
    TRect GetDestBounds() override;
    std::string ClassName() const override { return "TProjectiveTransformation"; }

private:
    void SetCorner(float& Corner, float V)
    {
        Corner = V;
        FPrepared = false;
    }
    bool Map(int32_t DstX, int32_t DstY, double Factor, int32_t& SrcX, int32_t& SrcY);
    float FX[4] = {0, 0, 0, 0};
    float FY[4] = {0, 0, 0, 0};
    TFloatMatrix FMatrix;
    bool FUsable = false;
};

// Src through T onto Dst; T is prepared first when needed. Does not call Dst->Changed.
// Nothing is drawn from or onto an empty bitmap.
void DrawTransformed(TBitmap32* Dst, TBitmap32* Src, TTransformation* T);

} // namespace kv
