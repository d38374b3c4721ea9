// The objects stacked over an image's background: the ordered layer collection (index 0
// at the bottom), positioned and bitmap layers, and the rubber band that moves and
// resizes its target. The collection routes the image's mouse events to its layers.
#pragma once

#include "platform/Classes.h"
#include "platform/Controls.h"
#include "raster/Raster32_Types.h"

#include <functional>
#include <memory>
#include <vector>

namespace kv {

class TBitmap32;
class TCanvas;
class TCustomLayer;

// Layer option flags (LayerOptions). The low bits are free for paint-stage masks.
constexpr uint32_t LOB_VISIBLE = 0x80000000u;
constexpr uint32_t LOB_GDI_OVERLAY = 0x40000000u;
constexpr uint32_t LOB_MOUSE_EVENTS = 0x20000000u;
constexpr uint32_t LOB_NO_UPDATE = 0x10000000u;
constexpr uint32_t LOB_NO_CAPTURE = 0x08000000u;
constexpr uint32_t LOB_RESERVED_MASK = 0xF8000000u;

// The image control's mapping between bitmap and control coordinates: scales in 16.16
// (ScaleX: bitmap to control, RevScaleX: control to bitmap), shifts in control pixels.
struct TViewMapping {
    int32_t ScaleX = 65536;
    int32_t ScaleY = 65536;
    int32_t ShiftX = 0;
    int32_t ShiftY = 0;
    int32_t RevScaleX = 65536;
    int32_t RevScaleY = 65536;
    friend bool operator==(const TViewMapping&, const TViewMapping&) = default;
};

// What a collection needs of the control that owns it (the image of Raster32_Image).
class ILayerOwner {
public:
    virtual ~ILayerOwner() = default;
    // The cursor shown when the pointer is over no layer.
    virtual TCursor LayerOwnerCursor() const = 0;
    // True while the owner paints into an outside bitmap (RenderTo).
    virtual bool LayerOwnerRenderingTo() const = 0;
    // The rectangle the owner's background bitmap covers in control coordinates.
    virtual TRect LayerOwnerBitmapRect() = 0;
};

using TPaintLayerEvent = std::function<void(TObject* Sender, TBitmap32* Buffer)>;

// Rounds a single to the nearest integer (halves to even), with NaN taken as 0 and the
// result held within +-2^30, so that outside placements never overflow a conversion.
int32_t SafeRound(double Value);
// A placement rounded side by side with SafeRound.
TRect SafeRoundRect(const TSingleRect& R);

class TLayerCollection : public TPersistent {
public:
    explicit TLayerCollection(TObject* AOwner);
    ~TLayerCollection() override;

    // Creates a layer of class T on top and returns it; the collection owns it.
    template <class T> T* Add() { return new T(this); }

    void Insert(TCustomLayer* Item); // used by the layer itself
    void Remove(TCustomLayer* Item);
    void Clear();
    int32_t Count() const { return int32_t(FItems.size()); }
    // Raises EListError "List index out of bounds (n)" for a bad index.
    TCustomLayer* Items(int32_t Index) const;
    int32_t IndexOf(const TCustomLayer* Item) const;
    void Move(int32_t CurIndex, int32_t NewIndex);
    TObject* Owner() const { return FOwner; }

    void BeginUpdate();
    void EndUpdate();
    int32_t UpdateCount() const { return FUpdateCount; }
    void Changed();
    void Changing();
    void GDIUpdate();

    void Assign(TPersistent* Source) override;

    TCustomLayer* FindLayerAtPos(int32_t X, int32_t Y, uint32_t OptionsMask) const;
    TCustomLayer* MouseDown(TMouseButton Button, TShiftState Shift, int32_t X, int32_t Y);
    TCustomLayer* MouseMove(TShiftState Shift, int32_t X, int32_t Y);
    TCustomLayer* MouseUp(TMouseButton Button, TShiftState Shift, int32_t X, int32_t Y);

    bool MouseEvents() const { return FMouseEvents; }
    void SetMouseEvents(bool Value);
    TCustomLayer* MouseListener() const { return FMouseListener; }
    void SetMouseListener(TCustomLayer* Value);

    // Set by the owning image; null for a free collection.
    TViewMapping* Mapping() const { return FMapping; }
    void SetMapping(TViewMapping* Value) { FMapping = Value; }

    TNotifyEvent OnChanging;
    TNotifyEvent OnChange;
    TNotifyEvent OnGDIUpdate;

    std::string ClassName() const override { return "TLayerCollection"; }

private:
    friend class TCustomLayer;
    TViewMapping* FMapping = nullptr;
    // Owned: every layer here is freed by Clear or the destructor; a layer freed by
    // anyone else takes itself out first.
    std::vector<TCustomLayer*> FItems;
    bool FMouseEvents = true;
    TCustomLayer* FMouseListener = nullptr;
    int32_t FUpdateCount = 0;
    TObject* FOwner;
};

class TCustomLayer : public TPersistent {
public:
    explicit TCustomLayer(TLayerCollection* ALayerCollection);
    ~TCustomLayer() override;

    // A new layer of the same class in ALayerCollection (the collection's Assign).
    virtual TCustomLayer* CreateLike(TLayerCollection* ALayerCollection) const
    {
        return new TCustomLayer(ALayerCollection);
    }

    void AddNotification(TCustomLayer* ALayer);
    void RemoveNotification(TCustomLayer* ALayer);
    bool HasNotification(const TCustomLayer* ALayer) const;

    TLayerCollection* LayerCollection() const { return FLayerCollection; }
    void SetLayerCollection(TLayerCollection* Value);
    int32_t Index() const;
    virtual void SetIndex(int32_t Value);
    void BringToFront();
    void SendToBack();

    uint32_t LayerOptions() const { return FLayerOptions; }
    void SetLayerOptions(uint32_t Value);
    bool Visible() const { return (FLayerOptions & LOB_VISIBLE) != 0; }
    void SetVisible(bool Value);
    bool ReceivesMouse() const { return (FLayerOptions & LOB_MOUSE_EVENTS) != 0; }
    void SetReceivesMouse(bool Value);
    TCursor Cursor() const { return FCursor; }
    void SetCursor(TCursor Value) { FCursor = Value; }
    int32_t Tag() const { return FTag; }
    void SetTag(int32_t Value) { FTag = Value; }
    uint8_t ButtonState() const { return FButtonState; }

    void Changing();
    void Changed();

    virtual bool HitTest(int32_t X, int32_t Y);
    virtual void MouseDown(TMouseButton Button, TShiftState Shift, int32_t X, int32_t Y);
    virtual void MouseMove(TShiftState Shift, int32_t X, int32_t Y);
    virtual void MouseUp(TMouseButton Button, TShiftState Shift, int32_t X, int32_t Y);
    virtual void Notification(TCustomLayer* ALayer) {}
    virtual void Paint(TBitmap32* Buffer) {}
    virtual void PaintGDI(TCanvas* Canvas) {}
    // What the image calls: Paint, then OnPaint.
    void DoPaint(TBitmap32* Buffer);

    TMouseEvent OnMouseDown;
    TMouseMoveEvent OnMouseMove;
    TMouseEvent OnMouseUp;
    TPaintLayerEvent OnPaint;
    TNotifyEvent OnDestroy;

    std::string ClassName() const override { return "TCustomLayer"; }

protected:
    // Fires OnDestroy and tells the listeners, once. Every class with its own destructor
    // calls it first, so that handlers never meet a half-destroyed layer.
    void BeforeDestruction();
    // The creation-time flags, stored without notification.
    void InitLayerOptions(uint32_t Value) { FLayerOptions = Value; }
    TViewMapping* CollectionMapping() const { return FLayerCollection ? FLayerCollection->FMapping : nullptr; }

private:
    friend class TLayerCollection;
    TCursor FCursor = crDefault;
    std::vector<TCustomLayer*> FFreeNotifies; // not owned
    TLayerCollection* FLayerCollection = nullptr;
    uint8_t FButtonState = 0;
    uint32_t FLayerOptions = LOB_VISIBLE;
    int32_t FTag = 0;
    bool FDestroying = false;
};

class TPositionedLayer : public TCustomLayer {
public:
    explicit TPositionedLayer(TLayerCollection* ALayerCollection);
    TCustomLayer* CreateLike(TLayerCollection* C) const override { return new TPositionedLayer(C); }

    const TSingleRect& Placement() const { return FPlacement; }
    void SetPlacement(const TSingleRect& Value);
    bool ScaleWithView() const { return FScaleWithView; }
    void SetScaleWithView(bool Value);
    // The placement in control coordinates.
    TSingleRect GetViewPlacement() const;
    bool HitTest(int32_t X, int32_t Y) override;

    std::string ClassName() const override { return "TPositionedLayer"; }

protected:
    virtual void DoSetPlacement(const TSingleRect& Value) { FPlacement = Value; }

private:
    TSingleRect FPlacement{0, 0, 64, 64};
    bool FScaleWithView = false;
};

class TBitmapLayer : public TPositionedLayer {
public:
    explicit TBitmapLayer(TLayerCollection* ALayerCollection);
    ~TBitmapLayer() override;
    TCustomLayer* CreateLike(TLayerCollection* C) const override { return new TBitmapLayer(C); }

    TBitmap32* Bitmap() const { return FBitmap.get(); }
    void SetBitmap(TBitmap32* Value);
    bool HitByAlpha() const { return FHitByAlpha; }
    void SetHitByAlpha(bool Value) { FHitByAlpha = Value; }
    bool ClipToImage() const { return FClipToImage; }
    void SetClipToImage(bool Value);

    bool HitTest(int32_t X, int32_t Y) override;
    void Paint(TBitmap32* Buffer) override;

    std::string ClassName() const override { return "TBitmapLayer"; }

private:
    std::unique_ptr<TBitmap32> FBitmap;
    bool FHitByAlpha = false;
    bool FClipToImage = false;
};

// Handles a rubber band offers.
using TRBHandles = uint8_t;
constexpr TRBHandles rhMove = 1, rhSides = 2, rhCorners = 4;

// Drag states.
enum TRBDragState : uint8_t {
    dsNone,
    dsMove,
    dsSizeL,
    dsSizeT,
    dsSizeR,
    dsSizeB,
    dsSizeTL,
    dsSizeTR,
    dsSizeBL,
    dsSizeBR
};

using TRBResizingEvent = std::function<void(TObject* Sender, const TSingleRect& OldLocation, TSingleRect& NewLocation,
                                            TRBDragState DragState, TShiftState Shift)>;

class TRubberbandLayer : public TPositionedLayer {
public:
    explicit TRubberbandLayer(TLayerCollection* ALayerCollection);
    ~TRubberbandLayer() override;
    TCustomLayer* CreateLike(TLayerCollection* C) const override { return new TRubberbandLayer(C); }

    TPositionedLayer* Target() const { return FTarget; }
    void SetTarget(TPositionedLayer* Value);
    TColor32 HandleFrame() const { return FHandleFrame; }
    void SetHandleFrame(TColor32 Value) { FHandleFrame = Value; }
    TColor32 HandleFill() const { return FHandleFill; }
    void SetHandleFill(TColor32 Value) { FHandleFill = Value; }
    TRBHandles Handles() const { return FHandles; }
    void SetHandles(TRBHandles Value);
    int32_t HandleSize() const { return FHandleSize; }
    void SetHandleSize(int32_t Value);
    float MinWidth() const { return FMinWidth; }
    void SetMinWidth(float Value) { FMinWidth = Value; }
    float MaxWidth() const { return FMaxWidth; }
    void SetMaxWidth(float Value) { FMaxWidth = Value; }
    float MinHeight() const { return FMinHeight; }
    void SetMinHeight(float Value) { FMinHeight = Value; }
    float MaxHeight() const { return FMaxHeight; }
    void SetMaxHeight(float Value) { FMaxHeight = Value; }
    bool IsDragging() const { return FIsDragging; }
    TRBDragState DragState() const { return TRBDragState(FDragState); }

    virtual TRBDragState HandleUnderCursor(int32_t X, int32_t Y);
    bool HitTest(int32_t X, int32_t Y) override;
    void MouseDown(TMouseButton Button, TShiftState Shift, int32_t X, int32_t Y) override;
    void MouseMove(TShiftState Shift, int32_t X, int32_t Y) override;
    void MouseUp(TMouseButton Button, TShiftState Shift, int32_t X, int32_t Y) override;
    void Notification(TCustomLayer* ALayer) override;
    void Paint(TBitmap32* Buffer) override;

    TNotifyEvent OnUserChange;
    TRBResizingEvent OnResizing;

    std::string ClassName() const override { return "TRubberbandLayer"; }

protected:
    void DoSetPlacement(const TSingleRect& Value) override;
    virtual void Resizing(const TSingleRect& OldLocation, TSingleRect& NewLocation, TRBDragState State,
                          TShiftState Shift);

private:
    void UpdateTargetFlag();
    TPositionedLayer* FTarget = nullptr;
    TColor32 FHandleFrame = 0;
    TColor32 FHandleFill = 0x00FFFFFF;
    TRBHandles FHandles = rhMove | rhSides | rhCorners;
    int32_t FHandleSize = 3;
    float FMinWidth = 10.0f;
    float FMaxHeight = 0;
    float FMinHeight = 10.0f;
    float FMaxWidth = 0;
    bool FIsDragging = false;
    uint8_t FDragState = 0;
    TSingleRect FOldLocation;
    float FMouseShiftX = 0;
    float FMouseShiftY = 0;
};

// The platform cursor for a drag state (the layer's own cursor stands for a move).
TCursor DragStateCursor(TRBDragState State);

} // namespace kv
