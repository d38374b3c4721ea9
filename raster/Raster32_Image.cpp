#include "raster/Raster32_Image.h"

#include "raster/Raster32.h"
#include "raster/Raster32_Transforms.h"

#include <QPainter>

#include <algorithm>
#include <cmath>
#include <cstring>

namespace kv {

namespace {

// A * B / C in 64 bits, rounded half away from zero like the platform's MulDiv, but
// held within 32 bits instead of answering -1 on overflow.
int32_t MulDivSat(int64_t A, int64_t B, int64_t C)
{
    if (C == 0)
        return 0;
    const int64_t N = A * B;
    const bool Negative = (N < 0) != (C < 0);
    const uint64_t UN = uint64_t(N < 0 ? -N : N), UC = uint64_t(C < 0 ? -C : C);
    uint64_t Q = UN / UC;
    if ((UN % UC) * 2 >= UC)
        ++Q;
    const int64_t R = Negative ? -int64_t(Q) : int64_t(Q);
    return int32_t(std::clamp<int64_t>(R, INT32_MIN, INT32_MAX));
}

int32_t Sat32(int64_t V) { return int32_t(std::clamp<int64_t>(V, INT32_MIN, INT32_MAX)); }

// The platform focus rectangle: a dotted XOR frame, so drawing it twice removes it.
void DrawFocusRect(TBitmap32* Dest, const TRect& R)
{
    if (RectIsEmpty(R))
        return;
    auto XorPixel = [Dest](int32_t X, int32_t Y) {
        if (X >= 0 && Y >= 0 && X < Dest->Width() && Y < Dest->Height())
            Dest->SetPixelFast(X, Y, Dest->GetPixelFast(X, Y) ^ 0x00FFFFFFu);
    };
    const int32_t L = std::max(R.Left, -1), T = std::max(R.Top, -1);
    const int32_t Rt = std::min(R.Right, Dest->Width() + 1), B = std::min(R.Bottom, Dest->Height() + 1);
    for (int32_t X = L; X < Rt; X += 2) {
        XorPixel(X, R.Top);
        if (R.Bottom - 1 > R.Top)
            XorPixel(X, R.Bottom - 1);
    }
    for (int32_t Y = T + 2 - ((T - R.Top) & 1); Y < B - 1; Y += 2) {
        XorPixel(R.Left, Y);
        if (R.Right - 1 > R.Left)
            XorPixel(R.Right - 1, Y);
    }
}

} // namespace

// ---- TCustomPaintBox32 -----------------------------------------------------------------

TCustomPaintBox32::TCustomPaintBox32(QWidget* AOwner) : TCustomControl(AOwner), FBuffer(std::make_unique<TBitmap32>())
{
    FBuffer->BeginUpdate(); // the buffer never notifies
    SetBounds(0, 0, 192, 192);
}

TCustomPaintBox32::~TCustomPaintBox32()
{
    FBuffer->OnChange = nullptr;
    FBuffer->OnResize = nullptr;
}

TRect TCustomPaintBox32::GetViewportRect() { return Rect(0, 0, Width(), Height()); }

void TCustomPaintBox32::Invalidate()
{
    FBufferValid = false;
    TCustomControl::Invalidate();
}

void TCustomPaintBox32::SetBounds(int32_t ALeft, int32_t ATop, int32_t AWidth, int32_t AHeight)
{
    TCustomControl::SetBounds(ALeft, ATop, AWidth, AHeight);
    FBufferValid = false;
}

void TCustomPaintBox32::Loaded()
{
    FBufferValid = false;
    TCustomControl::Loaded();
}

void TCustomPaintBox32::Resize()
{
    FBufferValid = false;
    TCustomControl::Resize();
}

void TCustomPaintBox32::ResizeBuffer()
{
    const TRect R = GetViewportRect();
    const int32_t W = std::max(0, R.Right - R.Left), H = std::max(0, R.Bottom - R.Top);
    if (FBuffer->Width() == W && FBuffer->Height() == H)
        return;
    int32_t NewW = W, NewH = H;
    if (FBufferOversize != -1) {
        NewW = FBuffer->Width();
        if (NewW < W)
            NewW = W + FBufferOversize;
        else if (W < NewW - FBufferOversize)
            NewW = W;
        NewH = FBuffer->Height();
        if (NewH < H)
            NewH = H + FBufferOversize;
        else if (H < NewH - FBufferOversize)
            NewH = H;
    }
    if (NewW != FBuffer->Width() || NewH != FBuffer->Height()) {
        FBuffer->SetSize(NewW, NewH);
        FBufferValid = false;
    }
}

void TCustomPaintBox32::Paint()
{
    ResizeBuffer();
    if (!FBufferValid)
        DoPaintBuffer();
    const TRect R = GetViewportRect();
    QImage& Surface = CanvasImage();
    FBuffer->Lock();
    if (!FBuffer->IsEmpty()) {
        // The bit-block copy of the buffer's top-left onto the control's surface.
        const int32_t X0 = std::max(0, R.Left), Y0 = std::max(0, R.Top);
        const int32_t X1 = std::min({R.Right, int32_t(Surface.width()), R.Left + FBuffer->Width()});
        const int32_t Y1 = std::min({R.Bottom, int32_t(Surface.height()), R.Top + FBuffer->Height()});
        for (int32_t Y = Y0; Y < Y1; ++Y)
            if (X1 > X0)
                std::memcpy(Surface.scanLine(Y) + size_t(X0) * 4, FBuffer->PixelAddress(X0 - R.Left, Y - R.Top),
                            size_t(X1 - X0) * 4);
    }
    FBuffer->Unlock();
    DoPaintGDIOverlay();
}

void TCustomPaintBox32::DoPaintBuffer() { FBufferValid = true; }

void TCustomPaintBox32::DoPaintGDIOverlay()
{
    if (OnGDIOverlay)
        OnGDIOverlay(this);
}

void TPaintBox32::DoPaintBuffer()
{
    if (OnPaintBuffer)
        OnPaintBuffer(this);
    TCustomPaintBox32::DoPaintBuffer();
}

// ---- TPaintStages ----------------------------------------------------------------------

TPaintStage* TPaintStages::Add()
{
    TPaintStage S;
    S.RTTime = 1;
    FItems.push_back(S);
    return &FItems.back();
}

TPaintStage* TPaintStages::Items(int32_t Index)
{
    if (Index < 0 || Index >= Count())
        throw EListError("List index out of bounds (" + IntToStr(Index) + ")");
    return &FItems[size_t(Index)];
}

void TPaintStages::Delete(int32_t Index)
{
    Items(Index);
    FItems.erase(FItems.begin() + Index);
}

TPaintStage* TPaintStages::Insert(int32_t Index)
{
    if (Index < 0 || Index > Count())
        throw EListError("List index out of bounds (" + IntToStr(Index) + ")");
    TPaintStage S;
    S.RTTime = 1;
    return &*FItems.insert(FItems.begin() + Index, S);
}

// ---- TCustomImage32 --------------------------------------------------------------------

TCustomImage32::TCustomImage32(QWidget* AOwner)
    : TCustomPaintBox32(AOwner), FBitmap(std::make_unique<TBitmap32>()),
      FLayers(std::make_unique<TLayerCollection>(static_cast<TCustomControl*>(this))),
      FPaintStages(std::make_unique<TPaintStages>())
{
    FBitmap->OnChange = [this](TObject*) { Changed(); };
    FBitmap->OnResize = [this](TObject*) { BitmapResized(); };
    FLayers->OnChange = [this](TObject*) { Changed(); };
    // An overlay-only change shows the buffer again without repainting it.
    FLayers->OnGDIUpdate = [this](TObject*) { TCustomControl::Invalidate(); };
    FLayers->SetMapping(&FMapping);
    InitDefaultStages();
}

// Handlers go before the objects they watch, so nothing reaches a half-destroyed image.
TCustomImage32::~TCustomImage32()
{
    BeginUpdate();
    FBitmap->OnChange = nullptr;
    FBitmap->OnResize = nullptr;
    FLayers->OnChange = nullptr;
    FLayers->OnGDIUpdate = nullptr;
    FLayers->OnChanging = nullptr;
    FPaintStages.reset();
    FLayers.reset();
    FBitmap.reset();
}

void TCustomImage32::InitDefaultStages()
{
    auto AddStage = [this](uint8_t Dsgn, uint8_t RT, uint32_t Code, uint32_t Param) {
        TPaintStage* S = FPaintStages->Add();
        S->DsgnTime = Dsgn;
        S->RTTime = RT;
        S->Stage = Code;
        S->Parameter = Param;
    };
    AddStage(1, 1, PST_CLEAR_BACKGND, 0);
    AddStage(1, 0, PST_CONTROL_FRAME, 0);
    AddStage(1, 1, PST_DRAW_BITMAP, 0);
    AddStage(1, 0, PST_BITMAP_FRAME, 0);
    AddStage(1, 1, PST_DRAW_LAYERS, LOB_VISIBLE);
}

void TCustomImage32::Loaded()
{
    TCustomPaintBox32::Loaded();
    DoInitStages();
}

void TCustomImage32::DoInitStages()
{
    if (OnInitStages)
        OnInitStages(this);
}

void TCustomImage32::BeginUpdate() { ++FUpdateCount; }

void TCustomImage32::EndUpdate()
{
    Assert(FUpdateCount > 0, "Unpaired EndUpdate call");
    --FUpdateCount;
}

void TCustomImage32::Changed()
{
    if (FUpdateCount != 0)
        return;
    Invalidate();
    if (OnChange)
        OnChange(this);
}

void TCustomImage32::Invalidate()
{
    SetBufferValid(false);
    FCacheValid = false;
    TCustomControl::Invalidate();
}

void TCustomImage32::SetBitmap(TBitmap32* Value)
{
    FCacheValid = false;
    FBitmap->Assign(Value);
}

void TCustomImage32::SetBitmapAlign(TBitmapAlign Value)
{
    if (Value == FBitmapAlign)
        return;
    FCacheValid = false;
    FBitmapAlign = Value;
    Changed();
}

void TCustomImage32::SetScaleMode(TScaleMode Value)
{
    if (Value == FScaleMode)
        return;
    FCacheValid = false;
    FScaleMode = Value;
    Changed();
}

void TCustomImage32::SetOffsetHorz(float Value)
{
    if (Value == FOffsetHorz)
        return;
    FCacheValid = false;
    FOffsetHorz = Value;
    Changed();
}

void TCustomImage32::SetOffsetVert(float Value)
{
    if (Value == FOffsetVert)
        return;
    FCacheValid = false;
    FOffsetVert = Value;
    Changed();
}

void TCustomImage32::SetScale(float Value)
{
    if (!(Value >= 0.001f)) // NaN too
        Value = 0.001f;
    if (Value == FScale)
        return;
    FCacheValid = false;
    FScale = Value;
    ScaleChanged();
    Changed();
}

void TCustomImage32::BitmapResized()
{
    if (AutoSize()) {
        int32_t W = FBitmap->Width(), H = FBitmap->Height();
        if (FScaleMode == smScale) {
            W = SafeRound(double(W) * FScale);
            H = SafeRound(double(H) * FScale);
        }
        if (W >= 1 && H >= 1)
            SetBounds(Left(), Top(), W, H);
    }
    if (FUpdateCount != 0 && OnBitmapResize)
        OnBitmapResize(this);
    FCacheValid = false;
    Invalidate();
}

bool TCustomImage32::CanAutoSize(int32_t& NewWidth, int32_t& NewHeight)
{
    FCacheValid = false;
    int32_t W = FBitmap->Width(), H = FBitmap->Height();
    if (FScaleMode == smScale) {
        W = SafeRound(double(W) * FScale);
        H = SafeRound(double(H) * FScale);
    }
    switch (Align()) {
    case alNone:
        NewWidth = W;
        NewHeight = H;
        break;
    case alTop:
    case alBottom: NewHeight = H; break;
    case alLeft:
    case alRight: NewWidth = W; break;
    case alClient: break;
    }
    return true;
}

void TCustomImage32::FitBitmapToControl(bool DoClear, TColor32 ClearColor)
{
    FBitmap->BeginUpdate();
    FBitmap->SetSize(Width(), Height());
    if (DoClear)
        FBitmap->ClearTo(ClearColor);
    FBitmap->EndUpdate();
    FCacheValid = false;
    Changed();
}

TSize TCustomImage32::GetBitmapSize()
{
    if (FBitmap->IsEmpty() || Width() == 0 || Height() == 0)
        return TSize{0, 0};
    const int32_t W = FBitmap->Width(), H = FBitmap->Height();
    switch (FScaleMode) {
    case smNormal: return TSize{W, H};
    case smStretch: return TSize{Width(), Height()};
    case smScale: return TSize{SafeRound(double(W) * FScale), SafeRound(double(H) * FScale)};
    case smResize: {
        const double Sx = double(Width()) / W, Sy = double(Height()) / H;
        if (Sx < Sy)
            return TSize{Width(), SafeRound(H * Sx)};
        return TSize{SafeRound(W * Sy), Height()};
    }
    }
    return TSize{W, H};
}

TRect TCustomImage32::GetBitmapRect()
{
    if (FBitmap->IsEmpty())
        return TRect{};
    const TSize S = GetBitmapSize();
    TRect R{0, 0, S.cx, S.cy};
    if (FBitmapAlign == baCenter)
        OffsetIntRect(R, (Width() - S.cx) / 2, (Height() - S.cy) / 2);
    else if (FBitmapAlign == baCustom)
        OffsetIntRect(R, SafeRound(FOffsetHorz), SafeRound(FOffsetVert));
    return R;
}

void TCustomImage32::ComputeMapping(const TRect& R)
{
    const int64_t W = int64_t(R.Right) - R.Left, H = int64_t(R.Bottom) - R.Top;
    if (W > 0 && H > 0 && !FBitmap->IsEmpty()) {
        FMapping.ShiftX = R.Left;
        FMapping.ShiftY = R.Top;
        FMapping.ScaleX = MulDivSat(W, 65536, FBitmap->Width());
        FMapping.ScaleY = MulDivSat(H, 65536, FBitmap->Height());
        FMapping.RevScaleX = MulDivSat(FBitmap->Width(), 65536, W);
        FMapping.RevScaleY = MulDivSat(FBitmap->Height(), 65536, H);
    } else {
        FMapping = TViewMapping{};
    }
}

void TCustomImage32::UpdateViewMapping()
{
    if (FCacheValid)
        return;
    FCachedBitmapRect = GetBitmapRect();
    ComputeMapping(FCachedBitmapRect);
    FCacheValid = true;
}

TPoint TCustomImage32::ViewToBitmap(const TPoint& P)
{
    UpdateViewMapping();
    // Products in 64 bits: at 1 % zoom RevScale is about 6.5 million.
    const int64_t X = (int64_t(P.X) - FMapping.ShiftX) * FMapping.RevScaleX / 65536;
    const int64_t Y = (int64_t(P.Y) - FMapping.ShiftY) * FMapping.RevScaleY / 65536;
    return TPoint{Sat32(X), Sat32(Y)};
}

TRect TCustomImage32::LayerOwnerBitmapRect()
{
    UpdateViewMapping();
    return FCachedBitmapRect;
}

void TCustomImage32::RenderTo(TBitmap32* Dest, const TRect& DestRect)
{
    FCachedBitmapRect = DestRect;
    ComputeMapping(DestRect);
    FCacheValid = true;
    FRenderingTo = true;
    try {
        for (int32_t I = 0; I < FPaintStages->Count(); ++I) {
            const TPaintStage* S = FPaintStages->Items(I);
            if (S->RTTime)
                RunStage(Dest, S->Stage, uint32_t(I));
        }
    } catch (...) {
        FRenderingTo = false;
        FCacheValid = false;
        throw;
    }
    FRenderingTo = false;
    FCacheValid = false;
}

void TCustomImage32::RunStage(TBitmap32* Dest, uint32_t Code, uint32_t StageNum)
{
    switch (Code) {
    case PST_CUSTOM: ExecCustom(Dest, StageNum); break;
    case PST_CLEAR_BUFFER: ExecClearBuffer(Dest, StageNum); break;
    case PST_CLEAR_BACKGND: ExecClearBackgnd(Dest, StageNum); break;
    case PST_DRAW_BITMAP: ExecDrawBitmap(Dest, StageNum); break;
    case PST_DRAW_LAYERS: ExecDrawLayers(Dest, StageNum); break;
    case PST_CONTROL_FRAME: ExecControlFrame(Dest, StageNum); break;
    case PST_BITMAP_FRAME: ExecBitmapFrame(Dest, StageNum); break;
    default: break;
    }
}

void TCustomImage32::DoPaintBuffer()
{
    UpdateViewMapping();
    const bool Design = Designing();
    for (int32_t I = 0; I < FPaintStages->Count(); ++I) {
        const TPaintStage* S = FPaintStages->Items(I);
        if ((Design && S->DsgnTime) || (!Design && S->RTTime))
            RunStage(Buffer(), S->Stage, uint32_t(I));
    }
    TCustomPaintBox32::DoPaintBuffer();
}

void TCustomImage32::DoPaintGDIOverlay()
{
    for (int32_t I = 0; I < FLayers->Count(); ++I) {
        TCustomLayer* L = FLayers->Items(I);
        if (L->LayerOptions() & LOB_GDI_OVERLAY)
            L->PaintGDI(Canvas());
    }
    TCustomPaintBox32::DoPaintGDIOverlay();
}

void TCustomImage32::ExecCustom(TBitmap32* Dest, uint32_t StageNum)
{
    if (OnPaintStage)
        OnPaintStage(this, Dest, StageNum);
}

void TCustomImage32::ExecClearBuffer(TBitmap32* Dest, uint32_t) { Dest->ClearTo(WinColorToColor32(Color())); }

void TCustomImage32::ExecClearBackgnd(TBitmap32* Dest, uint32_t)
{
    const TColor32 C = WinColorToColor32(Color());
    if (!FBitmap->IsEmpty() && FBitmap->DrawMode() == dmOpaque) {
        const TRect& B = FCachedBitmapRect;
        if (B.Left < 1 && B.Right >= Width() && B.Top < 1 && (B.Bottom >= Height() || FBitmapAlign == baTile))
            return;
        const int32_t W = Width(), H = Height();
        Dest->FillRectClipped(0, 0, W, B.Top, C);
        Dest->FillRectClipped(0, B.Bottom, W, H, C);
        Dest->FillRectClipped(0, B.Top, B.Left, B.Bottom, C);
        Dest->FillRectClipped(B.Right, B.Top, W, B.Bottom, C);
    } else {
        Dest->ClearTo(C);
    }
}

void TCustomImage32::ExecDrawBitmap(TBitmap32* Dest, uint32_t)
{
    TRect B = FCachedBitmapRect;
    if (FBitmap->IsEmpty() || RectIsEmpty(B) || Dest->IsEmpty())
        return;
    // Beyond this the resamplers' fixed-point steps lose their meaning; such a rectangle
    // only arises from outside values, never from a zoom the editor offers.
    constexpr int32_t Limit = 1 << 24;
    if (B.Left <= -Limit || B.Top <= -Limit || B.Right >= Limit || B.Bottom >= Limit)
        return;
    FBitmap->Lock();
    try {
        if (FBitmapAlign == baTile) {
            const int32_t W = B.Right - B.Left, H = B.Bottom - B.Top;
            B = TRect{0, 0, W, H};
            for (int32_t J = 0; J <= Dest->Height() / H; ++J)
                for (int32_t I = 0; I <= Dest->Width() / W; ++I) {
                    TRect T = B;
                    OffsetIntRect(T, W * I, H * J);
                    FBitmap->DrawOntoRect(Dest, T);
                }
        } else {
            FBitmap->DrawOntoRect(Dest, B);
        }
    } catch (...) {
        FBitmap->Unlock();
        throw;
    }
    FBitmap->Unlock();
}

void TCustomImage32::ExecDrawLayers(TBitmap32* Dest, uint32_t StageNum)
{
    const uint32_t Mask = FPaintStages->Items(int32_t(StageNum))->Parameter;
    for (int32_t I = 0; I < FLayers->Count(); ++I) {
        TCustomLayer* L = FLayers->Items(I);
        if (L->LayerOptions() & Mask)
            L->DoPaint(Dest);
    }
}

void TCustomImage32::ExecControlFrame(TBitmap32* Dest, uint32_t) { DrawFocusRect(Dest, Rect(0, 0, Width(), Height())); }

void TCustomImage32::ExecBitmapFrame(TBitmap32* Dest, uint32_t) { DrawFocusRect(Dest, FCachedBitmapRect); }

void TCustomImage32::MouseDown(TMouseButton Button, TShiftState Shift, int32_t X, int32_t Y)
{
    if (CanFocus())
        SetFocus();
    UpdateViewMapping(); // layers that scale with the view hit-test through it
    TCustomLayer* Layer = FLayers->MouseEvents() ? FLayers->MouseDown(Button, Shift, X, Y) : nullptr;
    if (Button == mbLeft || FLayers->MouseListener())
        SetMouseCapture(true);
    if (OnMouseDown)
        OnMouseDown(this, Button, Shift, X, Y, Layer);
}

void TCustomImage32::MouseMove(TShiftState Shift, int32_t X, int32_t Y)
{
    UpdateViewMapping();
    TCustomLayer* Layer = FLayers->MouseEvents() ? FLayers->MouseMove(Shift, X, Y) : nullptr;
    if (OnMouseMove)
        OnMouseMove(this, Shift, X, Y, Layer);
}

void TCustomImage32::MouseUp(TMouseButton Button, TShiftState Shift, int32_t X, int32_t Y)
{
    UpdateViewMapping();
    TCustomLayer* Layer = FLayers->MouseEvents() ? FLayers->MouseUp(Button, Shift, X, Y) : nullptr;
    if (Button == mbLeft && !FLayers->MouseListener())
        SetMouseCapture(false);
    if (OnMouseUp)
        OnMouseUp(this, Button, Shift, X, Y, Layer);
}

void TCustomImage32::MouseEnter()
{
    if (OnMouseEnter)
        OnMouseEnter(this);
}

void TCustomImage32::MouseLeave()
{
    if (FLayers->MouseEvents() && !FLayers->MouseListener())
        Screen()->SetCursor(crDefault);
    if (OnMouseLeave)
        OnMouseLeave(this);
}

// ---- TIVScrollProperties ---------------------------------------------------------------

TIVScrollProperties::TIVScrollProperties(TCustomImgView32* View, TArrowBar* H, TArrowBar* V)
    : TArrowBarAccess(H, V), FView(View)
{
}

int32_t TIVScrollProperties::Increment() const { return SafeRound(FView->HScroll()->Increment()); }

void TIVScrollProperties::SetIncrement(int32_t Value)
{
    FView->HScroll()->SetIncrement(float(Value));
    FView->VScroll()->SetIncrement(float(Value));
}

int32_t TIVScrollProperties::Size() const { return FView->ScrollBarSize(); }

void TIVScrollProperties::SetSize(int32_t Value) { FView->SetScrollBarSize(Value); }

void TIVScrollProperties::Assign(TPersistent* Source)
{
    TArrowBarAccess::Assign(Source);
    if (auto* Src = dynamic_cast<TIVScrollProperties*>(Source)) {
        SetIncrement(Src->Increment());
        SetSize(Src->Size());
    }
}

// ---- TCustomImgView32 ------------------------------------------------------------------

TCustomImgView32::TCustomImgView32(QWidget* AOwner) : TCustomImage32(AOwner)
{
    FHScroll = new TRangeBar(this); // owned by the view as its Qt child
    FVScroll = new TRangeBar(this);
    for (TCustomRangeBar* Bar : {FHScroll, FVScroll}) {
        Bar->SetFramed(true);
        Bar->SetColor(clBtnShadow);
        Bar->SetHandleColor(clBtnShadow);
        Bar->SetCentered(true);
        Bar->OnUserChange = [this](TObject* Sender) { ScrollHandler(Sender); };
    }
    FVScroll->SetKind(sbVertical);
    SetScaleMode(smScale);
    SetBitmapAlign(baCustom);
    const TRect V = GetViewportRect();
    FOldSize = TSize{V.Right - V.Left, V.Bottom - V.Top};
    FScrollBars = std::make_unique<TIVScrollProperties>(this, FHScroll, FVScroll);
    AlignAll();
}

TCustomImgView32::~TCustomImgView32()
{
    FDestroying = true;
    FHScroll->OnUserChange = nullptr;
    FVScroll->OnUserChange = nullptr;
}

int32_t TCustomImgView32::EffectiveScrollBarSize() const
{
    return FScrollBarSize != 0 ? FScrollBarSize : ScrollBarExtent();
}

TRect TCustomImgView32::GetViewportRect()
{
    const int32_t S = EffectiveScrollBarSize();
    return Rect(0, 0, std::max(0, Width() - S), std::max(0, Height() - S));
}

void TCustomImgView32::SetScrollBarSize(int32_t Value)
{
    if (Value == FScrollBarSize)
        return;
    FScrollBarSize = Value;
    AlignAll();
    FCacheValid = false;
    UpdateScrollBars();
    UpdateImage();
    Invalidate();
}

void TCustomImgView32::AlignAll()
{
    if (!FHScroll || !FVScroll)
        return;
    const TRect V = GetViewportRect();
    FHScroll->SetBounds(V.Left, V.Bottom, V.Right - V.Left, Height() - V.Bottom);
    FVScroll->SetBounds(V.Right, V.Top, Width() - V.Right, V.Bottom - V.Top);
    FHScroll->Invalidate();
    FVScroll->Invalidate();
}

void TCustomImgView32::UpdateScrollBars()
{
    if (!FHScroll || !FVScroll)
        return;
    const TSize Sz = GetBitmapSize();
    FHScroll->SetRange(float(Sz.cx));
    FVScroll->SetRange(float(Sz.cy));
}

void TCustomImgView32::UpdateImage()
{
    if (!FHScroll || !FVScroll || FDestroying)
        return;
    const TSize Sz = GetBitmapSize();
    const TRect V = GetViewportRect();
    const int32_t VW = V.Right - V.Left, VH = V.Bottom - V.Top;
    BeginUpdate();
    if (FCentered) {
        SetOffsetHorz(VW > Sz.cx ? (VW - Sz.cx) / 2.0f : -FHScroll->Position());
        SetOffsetVert(VH > Sz.cy ? (VH - Sz.cy) / 2.0f : -FVScroll->Position());
    } else {
        SetOffsetHorz(-FHScroll->Position());
        SetOffsetVert(-FVScroll->Position());
    }
    FCacheValid = false;
    EndUpdate();
    Changed();
}

void TCustomImgView32::ScrollToCenter(int32_t X, int32_t Y)
{
    const TRect V = GetViewportRect();
    FScrollLock = true;
    AlignAll();
    FHScroll->SetPosition(float(double(X) * Scale() - (V.Right - V.Left) / 2.0));
    FVScroll->SetPosition(float(double(Y) * Scale() - (V.Bottom - V.Top) / 2.0));
    FScrollLock = false;
    UpdateImage();
}

void TCustomImgView32::SetCentered(bool Value)
{
    FCacheValid = false;
    FCentered = Value;
    FHScroll->SetCentered(Value);
    FVScroll->SetCentered(Value);
    UpdateScrollBars();
    UpdateImage();
    if (Value)
        ScrollToCenter(Bitmap()->Width() / 2, Bitmap()->Height() / 2);
    else
        ScrollToCenter(0, 0);
}

void TCustomImgView32::SetSizeGrip(TSizeGripStyle Value)
{
    if (Value == FSizeGrip)
        return;
    FSizeGrip = Value;
    Invalidate();
}

void TCustomImgView32::BitmapResized()
{
    TCustomImage32::BitmapResized();
    if (FDestroying || !FHScroll)
        return;
    UpdateScrollBars();
    if (FCentered) {
        ScrollToCenter(Bitmap()->Width() / 2, Bitmap()->Height() / 2);
    } else {
        FHScroll->SetPosition(0);
        FVScroll->SetPosition(0);
        UpdateImage();
    }
}

void TCustomImgView32::ScaleChanged()
{
    FCacheValid = false;
    UpdateScrollBars();
    UpdateImage();
    Invalidate();
}

void TCustomImgView32::Loaded()
{
    AlignAll();
    Invalidate();
    UpdateScrollBars();
    if (FCentered)
        ScrollToCenter(Bitmap()->Width() / 2, Bitmap()->Height() / 2);
    TCustomImage32::Loaded();
}

void TCustomImgView32::Resize()
{
    AlignAll();
    FCacheValid = false;
    UpdateScrollBars();
    UpdateImage();
    Invalidate();
    TCustomImage32::Resize();
}

void TCustomImgView32::DoScroll()
{
    if (OnScroll)
        OnScroll(this);
}

void TCustomImgView32::ScrollHandler(TObject* Sender)
{
    if (FScrollLock)
        return;
    if (auto* Bar = dynamic_cast<TCustomControl*>(Sender))
        Bar->Invalidate();
    UpdateImage();
    DoScroll();
    Repaint();
}

TRect TCustomImgView32::GripRect() const
{
    const int32_t S = EffectiveScrollBarSize();
    return Rect(Width() - S, Height() - S, Width(), Height());
}

bool TCustomImgView32::GripVisible() const
{
    switch (FSizeGrip) {
    case sgAlways: return true;
    case sgNone: return false;
    case sgAuto: break;
    }
    if (Align() != alClient)
        return false;
    for (QWidget* P = parentWidget(); P && !P->isWindow(); P = P->parentWidget()) {
        auto* C = dynamic_cast<TCustomControl*>(P);
        if (!C || C->Align() != alClient)
            return false;
    }
    return true;
}

void TCustomImgView32::Paint()
{
    TCustomImage32::Paint();
    const TRect G = GripRect();
    QPainter P(&CanvasImage());
    if (GripVisible())
        DrawSizeGripFrame(P, this, G);
    else
        P.fillRect(QRect(G.Left, G.Top, G.Right - G.Left, G.Bottom - G.Top), ToQColor(clBtnFace));
}

void TCustomImgView32::MouseDown(TMouseButton Button, TShiftState Shift, int32_t X, int32_t Y)
{
    if (Button == mbLeft && GripVisible() && PtInRect(GripRect(), TPoint{X, Y}) && parentWidget() &&
        parentWidget()->isWindow()) {
        SetMouseCapture(false);
        StartWindowSizing(this);
        return;
    }
    TCustomImage32::MouseDown(Button, Shift, X, Y);
}

void TCustomImgView32::MouseMove(TShiftState Shift, int32_t X, int32_t Y)
{
    if (GripVisible() && PtInRect(GripRect(), TPoint{X, Y}) && !Layers()->MouseListener()) {
        Screen()->SetCursor(crSizeNWSE);
        return;
    }
    TCustomImage32::MouseMove(Shift, X, Y);
}

} // namespace kv
