// The arithmetic of the print layout: the page with its margin frame, where each preset
// puts the picture, the printed size in centimetres and inches, the resize that keeps the
// centre or the proportion, and the zoom box's text.
#pragma once

#include "raster/Raster32_Layers.h"
#include "raster/Raster32_Types.h"

#include <cstdint>
#include <string>

namespace kv {

class TBitmap32;

// Page pixels per unit the dialog shows, whatever the printer's resolution (the printer
// object presents every page at the inch figure).
constexpr double PagePixelsPerCm = 226.67;
constexpr double PagePixelsPerInch = 575.74;

enum TSizeUnit : uint8_t { suCm, suInches };

// The page: W x H cleared to transparent white, a 20-pixel black frame whose outer edge
// lies 100 pixels inside the page edge, white inside it.
void DrawPageFrame(TBitmap32& Page, int32_t W, int32_t H);
// The view scale that shows the whole page with room to spare in a ClientW x ClientH view.
double PageViewScale(int32_t W, int32_t H, int32_t ClientW, int32_t ClientH);

// "Actual Size": one picture pixel to one page pixel, centred on (Cx, Cy).
TSingleRect ActualSizePlacement(int32_t Cx, int32_t Cy, int32_t PictureW, int32_t PictureH);
// "Fit to Page": the largest rectangle of the picture's proportion inside the margin
// frame, at its top-left corner.
TSingleRect FitPlacement(int32_t W, int32_t H, int32_t PictureW, int32_t PictureH);
// "Fill th Page": the whole margin frame.
TSingleRect FillPlacement(int32_t W, int32_t H);

// A placement's printed size in whole page pixels: |Round(right - left)|, |Round(top - bottom)|.
int32_t PrintedWidth(const TSingleRect& R);
int32_t PrintedHeight(const TSingleRect& R);
// Page pixels as the unit shows them, and back.
double PixelsToUnits(double Pixels, TSizeUnit Unit);
double UnitsToPixels(double Value, TSizeUnit Unit);

enum TResizeCentre : uint8_t { rcKeepEdge, rcKeepCentre };
// What a resize of the picture's rubber band becomes: with rcKeepCentre the rectangle
// grows on both sides of Old's centre (each half at least 2); with Aspect > 0 the bottom
// follows the width at that proportion (width / height).
TSingleRect ResizedPlacement(const TSingleRect& Old, const TSingleRect& New, TRBDragState State, TResizeCentre Centre,
                             double Aspect);

// The zoom box: the text without '%' and blanks as a whole number 1..2000, else -1.
int32_t ParseZoomPercent(const std::string& Text);

} // namespace kv
