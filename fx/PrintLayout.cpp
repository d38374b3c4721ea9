#include "fx/PrintLayout.h"

#include "platform/SysUtils.h"
#include "raster/Raster32.h"

#include <algorithm>
#include <cmath>

namespace kv {

namespace {

constexpr int32_t Margin = 100;      // the frame's outer edge, inside the page edge
constexpr int32_t FrameWidth = 20;   // black from Margin to Margin + FrameWidth
constexpr double PreviewSlack = 1.2; // the whole page shows with room around it

// A page side less both margins, never below 1, so a page smaller than its margins still
// gives a picture of some size rather than a division by zero.
double Inside(int32_t Side) { return std::max(1.0, double(Side) - 2.0 * Margin); }

} // namespace

void DrawPageFrame(TBitmap32& Page, int32_t W, int32_t H)
{
    Page.SetSize(W, H);
    Page.ClearTo(0x00FFFFFF);
    Page.FillRectClipped(Margin, Margin, W - Margin, H - Margin, 0xFF000000);
    Page.FillRectClipped(Margin + FrameWidth, Margin + FrameWidth, W - Margin - FrameWidth, H - Margin - FrameWidth,
                         0xFFFFFFFF);
}

double PageViewScale(int32_t W, int32_t H, int32_t ClientW, int32_t ClientH)
{
    const double w = std::max(1, W), h = std::max(1, H);
    const double cw = std::max(1, ClientW), ch = std::max(1, ClientH);
    const double s = w / h < cw / ch ? ch / h : cw / w;
    return s / PreviewSlack;
}

TSingleRect ActualSizePlacement(int32_t Cx, int32_t Cy, int32_t PictureW, int32_t PictureH)
{
    const float hw = float(PictureW) / 2, hh = float(PictureH) / 2;
    return TSingleRect{float(Cx) - hw, float(Cy) - hh, float(Cx) + hw, float(Cy) + hh};
}

TSingleRect FitPlacement(int32_t W, int32_t H, int32_t PictureW, int32_t PictureH)
{
    const double a = double(std::max(1, PictureW)) / double(std::max(1, PictureH));
    const double iw = Inside(W), ih = Inside(H);
    if (a >= iw / ih)
        return TSingleRect{float(Margin), float(Margin), float(Margin + iw), float(Margin + iw / a)};
    return TSingleRect{float(Margin), float(Margin), float(Margin + ih * a), float(Margin + ih)};
}

TSingleRect FillPlacement(int32_t W, int32_t H)
{
    return TSingleRect{float(Margin), float(Margin), float(Margin + Inside(W)), float(Margin + Inside(H))};
}

int32_t PrintedWidth(const TSingleRect& R) { return std::abs(SafeRound(double(R.Right) - R.Left)); }
int32_t PrintedHeight(const TSingleRect& R) { return std::abs(SafeRound(double(R.Top) - R.Bottom)); }

double PixelsToUnits(double Pixels, TSizeUnit Unit)
{
    // 226.67 pixels a centimetre, written the way the sizes have always been worked out.
    return Unit == suCm ? Pixels / 22.667 / 10 : Pixels / PagePixelsPerInch;
}

double UnitsToPixels(double Value, TSizeUnit Unit)
{
    return Value * (Unit == suCm ? PagePixelsPerCm : PagePixelsPerInch);
}

TSingleRect ResizedPlacement(const TSingleRect& Old, const TSingleRect& New, TRBDragState State, TResizeCentre Centre,
                             double Aspect)
{
    TSingleRect R = New;
    if (Centre == rcKeepCentre) {
        const double cx = (double(Old.Left) + Old.Right) / 2, cy = (double(Old.Top) + Old.Bottom) / 2;
        double hw = (double(Old.Right) - Old.Left) / 2, hh = (double(Old.Bottom) - Old.Top) / 2;
        if (State == dsSizeL || State == dsSizeTL || State == dsSizeBL)
            hw = cx - New.Left;
        else if (State == dsSizeR || State == dsSizeTR || State == dsSizeBR)
            hw = New.Right - cx;
        if (State == dsSizeT || State == dsSizeTL || State == dsSizeTR)
            hh = cy - New.Top;
        else if (State == dsSizeB || State == dsSizeBL || State == dsSizeBR)
            hh = New.Bottom - cy;
        hw = std::max(hw, 2.0);
        hh = std::max(hh, 2.0);
        R = TSingleRect{float(cx - hw), float(cy - hh), float(cx + hw), float(cy + hh)};
    }
    if (Aspect > 0 && std::isfinite(Aspect))
        R.Bottom = float(double(R.Top) + SafeRound(std::fabs(double(R.Right) - R.Left) / Aspect));
    return R;
}

int32_t ParseZoomPercent(const std::string& Text)
{
    std::string digits;
    for (char c : Text)
        if (c != '%' && c != ' ')
            digits += c;
    const int32_t value = StrToIntDef(digits, -1);
    return value >= 1 && value <= 2000 ? value : -1;
}

} // namespace kv
