#include "raster/Raster32_Layers.h"

#include "raster/Raster32.h"
#include "raster/Raster32_Transforms.h"

#include <algorithm>
#include <cmath>

namespace kv {

// ---- Helpers -------------------------------------------------------------------------

int32_t SafeRound(double Value)
{
    constexpr double Limit = double(1 << 30);
    if (std::isnan(Value))
        return 0;
    if (Value > Limit)
        return int32_t(Limit);
    if (Value < -Limit)
        return -int32_t(Limit);
    return int32_t(std::nearbyint(Value)); // the default rounding mode: halves to even
}

TRect SafeRoundRect(const TSingleRect& R)
{
    return TRect{SafeRound(R.Left), SafeRound(R.Top), SafeRound(R.Right), SafeRound(R.Bottom)};
}

TCursor DragStateCursor(TRBDragState State)
{
    switch (State) {
    case dsSizeL:
    case dsSizeR: return crSizeWE;
    case dsSizeT:
    case dsSizeB: return crSizeNS;
    case dsSizeTL:
    case dsSizeBR: return crSizeNWSE;
    case dsSizeTR:
    case dsSizeBL: return crSizeNESW;
    default: return crDefault;
    }
}

namespace {

constexpr uint8_t ButtonBit(TMouseButton Button) { return uint8_t(1u << unsigned(Button)); }

// Keeps a drawing rectangle within what the pixel routines can step through without
// overflowing: a placement this far out has nothing visible to draw anyway.
bool DrawableRect(const TRect& R)
{
    constexpr int32_t Limit = 1 << 24;
    return R.Left > -Limit && R.Top > -Limit && R.Right < Limit && R.Bottom < Limit;
}

} // namespace

// ---- TLayerCollection ------------------------------------------------------------------

TLayerCollection::TLayerCollection(TObject* AOwner) : FOwner(AOwner) {}

TLayerCollection::~TLayerCollection()
{
    FUpdateCount = 1; // no more notifications
    OnChange = nullptr;
    OnChanging = nullptr;
    OnGDIUpdate = nullptr;
    Clear();
}

void TLayerCollection::Insert(TCustomLayer* Item)
{
    BeginUpdate();
    FItems.push_back(Item);
    Item->FLayerCollection = this;
    EndUpdate();
}

void TLayerCollection::Remove(TCustomLayer* Item)
{
    BeginUpdate();
    auto It = std::find(FItems.begin(), FItems.end(), Item);
    if (It != FItems.end())
        FItems.erase(It);
    Item->FLayerCollection = nullptr;
    if (FMouseListener == Item)
        FMouseListener = nullptr;
    EndUpdate();
}

void TLayerCollection::Clear()
{
    BeginUpdate();
    try {
        while (!FItems.empty())
            delete FItems.back(); // the layer takes itself out
    } catch (...) {
        EndUpdate();
        throw;
    }
    EndUpdate();
}

TCustomLayer* TLayerCollection::Items(int32_t Index) const
{
    if (Index < 0 || Index >= Count())
        throw EListError("List index out of bounds (" + IntToStr(Index) + ")");
    return FItems[size_t(Index)];
}

int32_t TLayerCollection::IndexOf(const TCustomLayer* Item) const
{
    auto It = std::find(FItems.begin(), FItems.end(), Item);
    return It == FItems.end() ? -1 : int32_t(It - FItems.begin());
}

void TLayerCollection::Move(int32_t CurIndex, int32_t NewIndex)
{
    TCustomLayer* L = Items(CurIndex);
    Items(NewIndex);
    FItems.erase(FItems.begin() + CurIndex);
    FItems.insert(FItems.begin() + NewIndex, L);
}

void TLayerCollection::BeginUpdate()
{
    if (FUpdateCount == 0)
        Changing();
    ++FUpdateCount;
}

// Checked before the decrement: an unpaired call leaves the count at 0, so later
// notifications still pair up.
void TLayerCollection::EndUpdate()
{
    Assert(FUpdateCount > 0, "Unpaired EndUpdate");
    --FUpdateCount;
    if (FUpdateCount == 0)
        Changed();
}

void TLayerCollection::Changed()
{
    if (OnChange)
        OnChange(this);
}

void TLayerCollection::Changing()
{
    if (OnChanging)
        OnChanging(this);
}

void TLayerCollection::GDIUpdate()
{
    if (FUpdateCount == 0 && OnGDIUpdate)
        OnGDIUpdate(this);
}

void TLayerCollection::Assign(TPersistent* Source)
{
    auto* Src = dynamic_cast<TLayerCollection*>(Source);
    if (!Src) {
        TPersistent::Assign(Source);
        return;
    }
    if (Src == this)
        return;
    BeginUpdate();
    try {
        while (!FItems.empty())
            delete FItems.back();
        for (int32_t I = 0; I < Src->Count(); ++I) {
            TCustomLayer* SrcLayer = Src->Items(I);
            TCustomLayer* L = SrcLayer->CreateLike(this);
            L->Assign(SrcLayer);
        }
    } catch (...) {
        EndUpdate();
        throw;
    }
    EndUpdate();
}

TCustomLayer* TLayerCollection::FindLayerAtPos(int32_t X, int32_t Y, uint32_t OptionsMask) const
{
    for (int32_t I = Count() - 1; I >= 0; --I) {
        TCustomLayer* L = FItems[size_t(I)];
        if ((L->FLayerOptions & OptionsMask) != 0 && L->HitTest(X, Y))
            return L;
    }
    return nullptr;
}

void TLayerCollection::SetMouseEvents(bool Value)
{
    FMouseEvents = Value;
    SetMouseListener(nullptr);
}

void TLayerCollection::SetMouseListener(TCustomLayer* Value)
{
    if (Value == FMouseListener)
        return;
    if (FMouseListener)
        FMouseListener->FButtonState = 0;
    FMouseListener = Value;
}

TCustomLayer* TLayerCollection::MouseDown(TMouseButton Button, TShiftState Shift, int32_t X, int32_t Y)
{
    TCustomLayer* L = FMouseListener ? FMouseListener : FindLayerAtPos(X, Y, LOB_MOUSE_EVENTS);
    if (Button == mbLeft && L != FMouseListener) {
        if (!L)
            SetMouseListener(nullptr);
        else if ((L->FLayerOptions & LOB_NO_CAPTURE) == 0)
            SetMouseListener(L);
    }
    if (FMouseListener) {
        FMouseListener->FButtonState |= ButtonBit(Button);
        FMouseListener->MouseDown(Button, Shift, X, Y);
    }
    return L;
}

TCustomLayer* TLayerCollection::MouseMove(TShiftState Shift, int32_t X, int32_t Y)
{
    TCustomLayer* L = FMouseListener ? FMouseListener : FindLayerAtPos(X, Y, LOB_MOUSE_EVENTS);
    if (L)
        L->MouseMove(Shift, X, Y);
    else if (auto* Owner = dynamic_cast<ILayerOwner*>(FOwner))
        Screen()->SetCursor(Owner->LayerOwnerCursor());
    return L;
}

TCustomLayer* TLayerCollection::MouseUp(TMouseButton Button, TShiftState Shift, int32_t X, int32_t Y)
{
    TCustomLayer* L = FMouseListener ? FMouseListener : FindLayerAtPos(X, Y, LOB_MOUSE_EVENTS);
    if (L) {
        L->FButtonState &= uint8_t(~ButtonBit(Button));
        L->MouseUp(Button, Shift, X, Y);
    }
    if (FMouseListener && (FMouseListener->FButtonState & 7) == 0)
        SetMouseListener(nullptr);
    return L;
}

// ---- TCustomLayer ------------------------------------------------------------------------

TCustomLayer::TCustomLayer(TLayerCollection* ALayerCollection)
{
    if (ALayerCollection)
        ALayerCollection->Insert(this);
}

TCustomLayer::~TCustomLayer()
{
    BeforeDestruction();
    if (FLayerCollection)
        FLayerCollection->Remove(this);
}

void TCustomLayer::BeforeDestruction()
{
    if (FDestroying)
        return;
    FDestroying = true;
    if (OnDestroy)
        OnDestroy(this);
    // Last first; each listener also forgets us, so neither side keeps a dangling entry.
    while (!FFreeNotifies.empty()) {
        TCustomLayer* L = FFreeNotifies.back();
        FFreeNotifies.pop_back();
        L->RemoveNotification(this);
        L->Notification(this);
    }
}

void TCustomLayer::AddNotification(TCustomLayer* ALayer)
{
    if (ALayer && !HasNotification(ALayer))
        FFreeNotifies.push_back(ALayer);
}

void TCustomLayer::RemoveNotification(TCustomLayer* ALayer)
{
    auto It = std::find(FFreeNotifies.begin(), FFreeNotifies.end(), ALayer);
    if (It != FFreeNotifies.end())
        FFreeNotifies.erase(It);
}

bool TCustomLayer::HasNotification(const TCustomLayer* ALayer) const
{
    return std::find(FFreeNotifies.begin(), FFreeNotifies.end(), ALayer) != FFreeNotifies.end();
}

void TCustomLayer::SetLayerCollection(TLayerCollection* Value)
{
    if (Value == FLayerCollection)
        return;
    if (FLayerCollection)
        FLayerCollection->Remove(this);
    if (Value)
        Value->Insert(this);
}

int32_t TCustomLayer::Index() const { return FLayerCollection ? FLayerCollection->IndexOf(this) : -1; }

void TCustomLayer::SetIndex(int32_t Value)
{
    if (!FLayerCollection)
        return;
    const int32_t Cur = Index();
    if (Value == Cur)
        return;
    Value = std::clamp(Value, 0, FLayerCollection->Count() - 1);
    if (Value == Cur)
        return;
    if (Visible()) {
        FLayerCollection->BeginUpdate();
        FLayerCollection->Move(Cur, Value);
        FLayerCollection->EndUpdate();
    } else {
        FLayerCollection->Move(Cur, Value);
    }
}

void TCustomLayer::BringToFront()
{
    if (FLayerCollection)
        SetIndex(FLayerCollection->Count());
}

void TCustomLayer::SendToBack() { SetIndex(0); }

void TCustomLayer::SetLayerOptions(uint32_t Value)
{
    Changing();
    FLayerOptions = Value;
    Changed();
}

void TCustomLayer::SetVisible(bool Value)
{
    SetLayerOptions(Value ? (FLayerOptions | LOB_VISIBLE) : (FLayerOptions & ~LOB_VISIBLE));
}

void TCustomLayer::SetReceivesMouse(bool Value)
{
    SetLayerOptions(Value ? (FLayerOptions | LOB_MOUSE_EVENTS) : (FLayerOptions & ~LOB_MOUSE_EVENTS));
}

void TCustomLayer::Changing()
{
    if (Visible() && FLayerCollection && (FLayerOptions & LOB_NO_UPDATE) == 0)
        FLayerCollection->Changing();
}

void TCustomLayer::Changed()
{
    if (!FLayerCollection || (FLayerOptions & LOB_NO_UPDATE) != 0)
        return;
    if (Visible())
        FLayerCollection->Changed();
    else if (FLayerOptions & LOB_GDI_OVERLAY)
        FLayerCollection->GDIUpdate();
}

bool TCustomLayer::HitTest(int32_t, int32_t) { return true; }

void TCustomLayer::MouseDown(TMouseButton Button, TShiftState Shift, int32_t X, int32_t Y)
{
    if (OnMouseDown)
        OnMouseDown(this, Button, Shift, X, Y);
}

void TCustomLayer::MouseMove(TShiftState Shift, int32_t X, int32_t Y)
{
    Screen()->SetCursor(FCursor);
    if (OnMouseMove)
        OnMouseMove(this, Shift, X, Y);
}

void TCustomLayer::MouseUp(TMouseButton Button, TShiftState Shift, int32_t X, int32_t Y)
{
    Screen()->SetCursor(crDefault);
    if (OnMouseUp)
        OnMouseUp(this, Button, Shift, X, Y);
}

void TCustomLayer::DoPaint(TBitmap32* Buffer)
{
    Paint(Buffer);
    if (OnPaint)
        OnPaint(this, Buffer);
}

// ---- TPositionedLayer --------------------------------------------------------------------

TPositionedLayer::TPositionedLayer(TLayerCollection* ALayerCollection) : TCustomLayer(ALayerCollection)
{
    InitLayerOptions(LOB_VISIBLE | LOB_MOUSE_EVENTS);
}

void TPositionedLayer::SetPlacement(const TSingleRect& Value)
{
    Changing();
    DoSetPlacement(Value);
    Changed();
}

void TPositionedLayer::SetScaleWithView(bool Value)
{
    if (Value == FScaleWithView)
        return;
    Changing();
    FScaleWithView = Value;
    Changed();
}

TSingleRect TPositionedLayer::GetViewPlacement() const
{
    TSingleRect R = FPlacement;
    const TViewMapping* M = CollectionMapping();
    if (FScaleWithView && M) {
        R.Left = float(double(M->ScaleX) * R.Left / 65536.0 + M->ShiftX);
        R.Top = float(double(M->ScaleY) * R.Top / 65536.0 + M->ShiftY);
        R.Right = float(double(M->ScaleX) * R.Right / 65536.0 + M->ShiftX);
        R.Bottom = float(double(M->ScaleY) * R.Bottom / 65536.0 + M->ShiftY);
    }
    return R;
}

bool TPositionedLayer::HitTest(int32_t X, int32_t Y)
{
    const TSingleRect R = GetViewPlacement();
    return R.Left <= X && X < R.Right && R.Top <= Y && Y < R.Bottom;
}

// ---- TBitmapLayer ------------------------------------------------------------------------

TBitmapLayer::TBitmapLayer(TLayerCollection* ALayerCollection)
    : TPositionedLayer(ALayerCollection), FBitmap(std::make_unique<TBitmap32>())
{
    FBitmap->OnChange = [this](TObject*) { Changed(); };
}

TBitmapLayer::~TBitmapLayer()
{
    BeforeDestruction();
    FBitmap->OnChange = nullptr;
    FBitmap->OnResize = nullptr;
}

void TBitmapLayer::SetBitmap(TBitmap32* Value) { FBitmap->Assign(Value); }

void TBitmapLayer::SetClipToImage(bool Value)
{
    if (Value == FClipToImage)
        return;
    FClipToImage = Value;
    Changed();
}

bool TBitmapLayer::HitTest(int32_t X, int32_t Y)
{
    if (!TPositionedLayer::HitTest(X, Y))
        return false;
    if (!FHitByAlpha)
        return true;
    const TSingleRect R = GetViewPlacement();
    const int32_t W = SafeRound(double(R.Right) - R.Left);
    const int32_t H = SafeRound(double(R.Bottom) - R.Top);
    if (W < 0.5 || H < 0.5)
        return false;
    // The source pixel that contains the point, as the renderer draws it: rounding would
    // move every hit half a source pixel towards the next one.
    const int32_t BX = SafeRound(std::floor((X - double(R.Left)) * FBitmap->Width() / W));
    const int32_t BY = SafeRound(std::floor((Y - double(R.Top)) * FBitmap->Height() / H));
    return (FBitmap->GetPixelClipped(BX, BY) & 0xFF000000u) != 0;
}

void TBitmapLayer::Paint(TBitmap32* Buffer)
{
    if (FBitmap->IsEmpty() || !Buffer || Buffer->IsEmpty())
        return;
    TRect R = SafeRoundRect(GetViewPlacement());
    TRect SrcRect{0, 0, FBitmap->Width(), FBitmap->Height()};
    auto* Owner = LayerCollection() ? dynamic_cast<ILayerOwner*>(LayerCollection()->Owner()) : nullptr;
    if (FClipToImage && Owner && !Owner->LayerOwnerRenderingTo()) {
        const double W = double(R.Right) - R.Left, H = double(R.Bottom) - R.Top;
        if (W < 0.5 || H < 0.5)
            return;
        TRect C;
        IntersectRects(C, R, Owner->LayerOwnerBitmapRect());
        SrcRect = TRect{SafeRound((C.Left - double(R.Left)) * FBitmap->Width() / W),
                        SafeRound((C.Top - double(R.Top)) * FBitmap->Height() / H),
                        SafeRound((C.Right - double(R.Left)) * FBitmap->Width() / W),
                        SafeRound((C.Bottom - double(R.Top)) * FBitmap->Height() / H)};
        R = C;
    }
    if (RectIsEmpty(R) || RectIsEmpty(SrcRect) || !DrawableRect(R))
        return;
    FBitmap->DrawOntoRectFrom(Buffer, R, SrcRect);
}

// ---- TRubberbandLayer --------------------------------------------------------------------

TRubberbandLayer::TRubberbandLayer(TLayerCollection* ALayerCollection) : TPositionedLayer(ALayerCollection)
{
    InitLayerOptions(LOB_VISIBLE | LOB_MOUSE_EVENTS);
}

TRubberbandLayer::~TRubberbandLayer() { BeforeDestruction(); }

void TRubberbandLayer::UpdateTargetFlag()
{
    const uint32_t Flags = FTarget ? (LayerOptions() | LOB_NO_UPDATE) : (LayerOptions() & ~LOB_NO_UPDATE);
    if (Flags != LayerOptions())
        SetLayerOptions(Flags);
}

// The band and its target watch each other: whichever goes first is forgotten by the
// other, so neither keeps a dangling pointer.
void TRubberbandLayer::SetTarget(TPositionedLayer* Value)
{
    if (Value == FTarget)
        return;
    if (FTarget) {
        RemoveNotification(FTarget);
        FTarget->RemoveNotification(this);
    }
    FTarget = Value;
    if (Value) {
        SetPlacement(Value->Placement());
        SetScaleWithView(Value->ScaleWithView());
        AddNotification(Value);
        Value->AddNotification(this);
    }
    UpdateTargetFlag();
}

void TRubberbandLayer::Notification(TCustomLayer* ALayer)
{
    if (ALayer == FTarget) {
        FTarget = nullptr;
        FIsDragging = false;
        UpdateTargetFlag();
    }
}

void TRubberbandLayer::DoSetPlacement(const TSingleRect& Value)
{
    TPositionedLayer::DoSetPlacement(Value);
    if (FTarget)
        FTarget->SetPlacement(Placement());
}

void TRubberbandLayer::SetHandles(TRBHandles Value)
{
    if (Value == FHandles)
        return;
    FHandles = Value;
    Changed();
}

void TRubberbandLayer::SetHandleSize(int32_t Value)
{
    Value = std::max(0, Value);
    if (Value == FHandleSize)
        return;
    FHandleSize = Value;
    Changed();
}

TRBDragState TRubberbandLayer::HandleUnderCursor(int32_t X, int32_t Y)
{
    TRect R = SafeRoundRect(GetViewPlacement());
    R.Right -= 1;
    R.Bottom -= 1;
    const int64_t D = int64_t(FHandleSize) + 1;
    const int64_t CX = (int64_t(R.Left) + R.Right) / 2; // truncating toward zero
    const int64_t CY = (int64_t(R.Top) + R.Bottom) / 2;
    const bool NearL = std::llabs(int64_t(X) - R.Left) <= D;
    const bool NearR = std::llabs(int64_t(X) - R.Right) <= D;
    const bool NearCX = std::llabs(int64_t(X) - CX) <= D;
    const bool NearT = std::llabs(int64_t(Y) - R.Top) <= D;
    const bool NearB = std::llabs(int64_t(Y) - R.Bottom) <= D;
    const bool NearCY = std::llabs(int64_t(Y) - CY) <= D;
    const bool Corners = (FHandles & rhCorners) != 0, Sides = (FHandles & rhSides) != 0;
    if (Corners && NearR && NearB)
        return dsSizeBR;
    if (Corners && NearL && NearB)
        return dsSizeBL;
    if (Corners && NearR && NearT)
        return dsSizeTR;
    if (Corners && NearL && NearT)
        return dsSizeTL;
    if (Sides && NearR && NearCY)
        return dsSizeR;
    if (Sides && NearCX && NearB)
        return dsSizeB;
    if (Sides && NearL && NearCY)
        return dsSizeL;
    if (Sides && NearT && NearCX)
        return dsSizeT;
    if ((FHandles & rhMove) && R.Left <= X && X < R.Right && R.Top <= Y && Y < R.Bottom)
        return dsMove;
    return dsNone;
}

bool TRubberbandLayer::HitTest(int32_t X, int32_t Y) { return HandleUnderCursor(X, Y) != dsNone; }

void TRubberbandLayer::MouseDown(TMouseButton Button, TShiftState Shift, int32_t X, int32_t Y)
{
    if (FIsDragging)
        return;
    FDragState = HandleUnderCursor(X, Y);
    FIsDragging = FDragState != dsNone;
    if (FIsDragging) {
        FOldLocation = Placement();
        if (FDragState == dsMove) {
            const TSingleRect V = GetViewPlacement();
            FMouseShiftX = X - V.Left;
            FMouseShiftY = Y - V.Top;
        } else {
            FMouseShiftX = 0;
            FMouseShiftY = 0;
        }
    }
    TPositionedLayer::MouseDown(Button, Shift, X, Y);
}

void TRubberbandLayer::MouseMove(TShiftState Shift, int32_t X, int32_t Y)
{
    if (!FIsDragging) {
        FDragState = HandleUnderCursor(X, Y);
        Screen()->SetCursor(FDragState == dsMove ? Cursor() : DragStateCursor(TRBDragState(FDragState)));
        return;
    }
    float Mx = X - FMouseShiftX;
    float My = Y - FMouseShiftY;
    if (ScaleWithView()) {
        const TSingleRect V = GetViewPlacement();
        if (SingleRectIsEmpty(V))
            return;
        const TSingleRect P = Placement();
        Mx = (Mx - V.Left) / (V.Right - V.Left) * (P.Right - P.Left) + P.Left;
        My = (My - V.Top) / (V.Bottom - V.Top) * (P.Bottom - P.Top) + P.Top;
    }
    TSingleRect N = FOldLocation;
    const uint8_t S = FDragState;
    if (S == dsMove) {
        const float W = N.Right - N.Left, H = N.Bottom - N.Top;
        N.Left = Mx;
        N.Top = My;
        N.Right = Mx + W;
        N.Bottom = My + H;
    } else {
        if (S == dsSizeL || S == dsSizeTL || S == dsSizeBL) {
            N.Left = Mx;
            if (N.Right - N.Left < FMinWidth)
                N.Left = N.Right - FMinWidth;
            if (FMaxWidth > FMinWidth && N.Right - N.Left > FMaxWidth)
                N.Left = N.Right - FMaxWidth;
        }
        if (S == dsSizeR || S == dsSizeTR || S == dsSizeBR) {
            N.Right = Mx;
            if (N.Right - N.Left < FMinWidth)
                N.Right = N.Left + FMinWidth;
            if (FMaxWidth > FMinWidth && N.Right - N.Left > FMaxWidth)
                N.Right = N.Left + FMaxWidth;
        }
        if (S == dsSizeT || S == dsSizeTL || S == dsSizeTR) {
            N.Top = My;
            if (N.Bottom - N.Top < FMinHeight)
                N.Top = N.Bottom - FMinHeight;
            if (FMaxHeight > FMinHeight && N.Bottom - N.Top > FMaxHeight)
                N.Top = N.Bottom - FMaxHeight;
        }
        if (S == dsSizeB || S == dsSizeBL || S == dsSizeBR) {
            N.Bottom = My;
            if (N.Bottom - N.Top < FMinHeight)
                N.Bottom = N.Top + FMinHeight;
            if (FMaxHeight > FMinHeight && N.Bottom - N.Top > FMaxHeight)
                N.Bottom = N.Top + FMaxHeight;
        }
    }
    Resizing(FOldLocation, N, TRBDragState(S), Shift);
    if (N == Placement())
        return;
    SetPlacement(N);
    if (FTarget)
        FTarget->SetPlacement(Placement());
    if (OnUserChange)
        OnUserChange(this);
}

void TRubberbandLayer::MouseUp(TMouseButton Button, TShiftState Shift, int32_t X, int32_t Y)
{
    FIsDragging = false;
    TPositionedLayer::MouseUp(Button, Shift, X, Y);
}

void TRubberbandLayer::Resizing(const TSingleRect& OldLocation, TSingleRect& NewLocation, TRBDragState State,
                                TShiftState Shift)
{
    if (OnResizing)
        OnResizing(this, OldLocation, NewLocation, State, Shift);
}

void TRubberbandLayer::Paint(TBitmap32* Buffer)
{
    if (!Buffer || Buffer->IsEmpty())
        return;
    const TRect R = SafeRoundRect(GetViewPlacement());
    if (!DrawableRect(R))
        return;
    Buffer->SetLinePattern({0xFFFFFFFFu, 0xFFFFFFFFu, 0xFF000000u, 0xFF000000u});
    Buffer->SetLinePatternCounter(0);
    Buffer->SetLinePatternStep(1.0f);
    Buffer->FrameRectPatterned(R.Left, R.Top, R.Right, R.Bottom);
    const int32_t S = FHandleSize;
    auto DrawHandle = [&](int32_t X, int32_t Y) {
        Buffer->FillRectClipped(X - S, Y - S, X + S, Y + S, 0xFFFFFFFFu);
        Buffer->FrameRectClipped(X - S, Y - S, X + S, Y + S, 0xFF000000u);
    };
    if (FHandles & rhCorners) {
        DrawHandle(R.Left, R.Top);
        DrawHandle(R.Right, R.Top);
        DrawHandle(R.Left, R.Bottom);
        DrawHandle(R.Right, R.Bottom);
    }
    if (FHandles & rhSides) {
        const int32_t Cx = int32_t((int64_t(R.Left) + R.Right) / 2);
        const int32_t Cy = int32_t((int64_t(R.Top) + R.Bottom) / 2);
        DrawHandle(Cx, R.Top);
        DrawHandle(R.Left, Cy);
        DrawHandle(R.Right, Cy);
        DrawHandle(Cx, R.Bottom);
    }
}

} // namespace kv
