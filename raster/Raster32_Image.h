// The on-screen controls of the raster core: the paint box that paints through a 32-bit
// back buffer, the image control with its background bitmap, layers, paint stages and
// view mapping, and the scrolling, centring image view with its two range bars.
#pragma once

#include "platform/Controls.h"
#include "raster/Raster32_Layers.h"
#include "raster/Raster32_RangeBars.h"
#include "raster/Raster32_Types.h"

#include <memory>
#include <vector>

namespace kv {

class TBitmap32;

// ---- Paint box --------------------------------------------------------------------

class TCustomPaintBox32 : public TCustomControl {
public:
    explicit TCustomPaintBox32(QWidget* AOwner = nullptr);
    ~TCustomPaintBox32() override;

    TBitmap32* Buffer() const { return FBuffer.get(); }
    int32_t BufferOversize() const { return FBufferOversize; }
    void SetBufferOversize(int32_t Value) { FBufferOversize = Value; }
    bool BufferValid() const { return FBufferValid; }
    virtual TRect GetViewportRect();

    void Invalidate() override;
    void SetBounds(int32_t ALeft, int32_t ATop, int32_t AWidth, int32_t AHeight) override;
    void Loaded() override;
    // Brings the buffer to the viewport's size (with slack) and repaints it when invalid.
    void ResizeBuffer();

    TNotifyEvent OnGDIOverlay;

    std::string ClassName() const override { return "TCustomPaintBox32"; }

protected:
    void Paint() override;
    virtual void DoPaintBuffer();
    virtual void DoPaintGDIOverlay();
    void Resize() override;
    void SetBufferValid(bool Value) { FBufferValid = Value; }

private:
    std::unique_ptr<TBitmap32> FBuffer;
    int32_t FBufferOversize = 40;
    bool FBufferValid = false;
};

class TPaintBox32 : public TCustomPaintBox32 {
public:
    using TCustomPaintBox32::TCustomPaintBox32;
    TNotifyEvent OnPaintBuffer;
    std::string ClassName() const override { return "TPaintBox32"; }

protected:
    void DoPaintBuffer() override;
};

// ---- Paint stages -----------------------------------------------------------------

constexpr uint32_t PST_CUSTOM = 1, PST_CLEAR_BUFFER = 2, PST_CLEAR_BACKGND = 3, PST_DRAW_BITMAP = 4,
                   PST_DRAW_LAYERS = 5, PST_CONTROL_FRAME = 6, PST_BITMAP_FRAME = 7;

struct TPaintStage {
    uint8_t DsgnTime = 0; // Boolean: run while the control is in design mode
    uint8_t RTTime = 0;   // Boolean: run at run time
    uint16_t Alignment = 0;
    uint32_t Stage = 0;
    uint32_t Parameter = 0; // the layer flag mask of the draw-layers stage
};
static_assert(sizeof(TPaintStage) == 12, "a paint stage entry is 12 bytes");

class TPaintStages {
public:
    // Appends (DsgnTime False, RTTime True, Stage 0, Parameter 0).
    TPaintStage* Add();
    void Clear() { FItems.clear(); }
    int32_t Count() const { return int32_t(FItems.size()); }
    // The entry itself, changeable in place; EListError for a bad index.
    TPaintStage* Items(int32_t Index);
    void Delete(int32_t Index);
    TPaintStage* Insert(int32_t Index);

private:
    std::vector<TPaintStage> FItems;
};

// ---- Image -------------------------------------------------------------------------

enum TBitmapAlign : uint8_t { baTopLeft, baCenter, baTile, baCustom };
enum TScaleMode : uint8_t { smNormal, smStretch, smScale, smResize };

using TImgMouseEvent = std::function<void(TObject* Sender, TMouseButton Button, TShiftState Shift, int32_t X, int32_t Y,
                                          TCustomLayer* Layer)>;
using TImgMouseMoveEvent =
    std::function<void(TObject* Sender, TShiftState Shift, int32_t X, int32_t Y, TCustomLayer* Layer)>;
using TPaintStageEvent = std::function<void(TObject* Sender, TBitmap32* Buffer, uint32_t StageNum)>;

class TCustomImage32 : public TCustomPaintBox32, public ILayerOwner {
public:
    explicit TCustomImage32(QWidget* AOwner = nullptr);
    ~TCustomImage32() override;

    TBitmap32* Bitmap() const { return FBitmap.get(); }
    void SetBitmap(TBitmap32* Value);
    TBitmapAlign BitmapAlign() const { return FBitmapAlign; }
    void SetBitmapAlign(TBitmapAlign Value);
    TLayerCollection* Layers() const { return FLayers.get(); }
    TPaintStages* PaintStages() const { return FPaintStages.get(); }
    float OffsetHorz() const { return FOffsetHorz; }
    void SetOffsetHorz(float Value);
    float OffsetVert() const { return FOffsetVert; }
    void SetOffsetVert(float Value);
    float Scale() const { return FScale; }
    void SetScale(float Value);
    TScaleMode ScaleMode() const { return FScaleMode; }
    void SetScaleMode(TScaleMode Value);

    virtual void BeginUpdate();
    virtual void EndUpdate();
    virtual void Changed();
    int32_t UpdateCount() const { return FUpdateCount; }

    void Invalidate() override;
    void Loaded() override;
    virtual TRect GetBitmapRect();
    virtual TSize GetBitmapSize();
    void FitBitmapToControl(bool DoClear, TColor32 ClearColor);
    void UpdateViewMapping();
    void InvalidateViewMapping() { FCacheValid = false; }
    const TViewMapping& ViewMapping() const { return FMapping; }
    const TRect& CachedBitmapRect() const { return FCachedBitmapRect; }
    bool CacheValid() const { return FCacheValid; }
    // Control to bitmap coordinates: 64-bit products, truncation toward zero, the result
    // held within 32 bits.
    TPoint ViewToBitmap(const TPoint& P);
    void RenderTo(TBitmap32* Dest, const TRect& DestRect);
    bool RenderingTo() const { return FRenderingTo; }

    TNotifyEvent OnBitmapResize;
    TNotifyEvent OnChange;
    TNotifyEvent OnInitStages;
    TNotifyEvent OnMouseEnter;
    TNotifyEvent OnMouseLeave;
    TImgMouseEvent OnMouseDown;
    TImgMouseMoveEvent OnMouseMove;
    TImgMouseEvent OnMouseUp;
    TPaintStageEvent OnPaintStage;

    // ILayerOwner
    TCursor LayerOwnerCursor() const override { return Cursor(); }
    bool LayerOwnerRenderingTo() const override { return FRenderingTo; }
    TRect LayerOwnerBitmapRect() override;

    std::string ClassName() const override { return "TCustomImage32"; }

protected:
    virtual void BitmapResized();
    virtual void DoInitStages();
    virtual void ScaleChanged() {}
    virtual void InitDefaultStages();
    virtual void ExecBitmapFrame(TBitmap32* Dest, uint32_t StageNum);
    virtual void ExecClearBuffer(TBitmap32* Dest, uint32_t StageNum);
    virtual void ExecClearBackgnd(TBitmap32* Dest, uint32_t StageNum);
    virtual void ExecControlFrame(TBitmap32* Dest, uint32_t StageNum);
    virtual void ExecCustom(TBitmap32* Dest, uint32_t StageNum);
    virtual void ExecDrawBitmap(TBitmap32* Dest, uint32_t StageNum);
    virtual void ExecDrawLayers(TBitmap32* Dest, uint32_t StageNum);
    bool CanAutoSize(int32_t& NewWidth, int32_t& NewHeight) override;
    void DoPaintBuffer() override;
    void DoPaintGDIOverlay() override;
    void MouseDown(TMouseButton Button, TShiftState Shift, int32_t X, int32_t Y) override;
    void MouseMove(TShiftState Shift, int32_t X, int32_t Y) override;
    void MouseUp(TMouseButton Button, TShiftState Shift, int32_t X, int32_t Y) override;
    void MouseEnter() override;
    void MouseLeave() override;

    bool FCacheValid = false;

private:
    void RunStage(TBitmap32* Dest, uint32_t Code, uint32_t StageNum);
    void ComputeMapping(const TRect& R);
    std::unique_ptr<TBitmap32> FBitmap;
    TBitmapAlign FBitmapAlign = baTopLeft;
    std::unique_ptr<TLayerCollection> FLayers;
    float FOffsetHorz = 0;
    float FOffsetVert = 0;
    std::unique_ptr<TPaintStages> FPaintStages;
    float FScale = 1.0f;
    TScaleMode FScaleMode = smNormal;
    int32_t FUpdateCount = 0;
    TRect FCachedBitmapRect;
    TViewMapping FMapping;
    bool FRenderingTo = false;
};

class TImage32 : public TCustomImage32 {
public:
    using TCustomImage32::TCustomImage32;
    std::string ClassName() const override { return "TImage32"; }
};

// ---- Image view ------------------------------------------------------------------------

enum TSizeGripStyle : uint8_t { sgAuto, sgNone, sgAlways };

class TCustomImgView32;

// The view's ScrollBars: the look of both bars, the scroll increment and the bar size.
class TIVScrollProperties : public TArrowBarAccess {
public:
    TIVScrollProperties(TCustomImgView32* View, TArrowBar* H, TArrowBar* V);
    int32_t Increment() const;
    void SetIncrement(int32_t Value);
    int32_t Size() const;
    void SetSize(int32_t Value);
    void Assign(TPersistent* Source) override;
    std::string ClassName() const override { return "TIVScrollProperties"; }

private:
    TCustomImgView32* FView;
};

class TCustomImgView32 : public TCustomImage32 {
public:
    explicit TCustomImgView32(QWidget* AOwner = nullptr);
    ~TCustomImgView32() override;

    bool Centered() const { return FCentered; }
    void SetCentered(bool Value);
    int32_t ScrollBarSize() const { return FScrollBarSize; }
    void SetScrollBarSize(int32_t Value);
    TIVScrollProperties* ScrollBars() const { return FScrollBars.get(); }
    void SetScrollBars(TIVScrollProperties* Value) { FScrollBars->Assign(Value); }
    TSizeGripStyle SizeGrip() const { return FSizeGrip; }
    void SetSizeGrip(TSizeGripStyle Value);
    TCustomRangeBar* HScroll() const { return FHScroll; }
    TCustomRangeBar* VScroll() const { return FVScroll; }

    TRect GetViewportRect() override;
    void ScrollToCenter(int32_t X, int32_t Y);
    void Loaded() override;
    // The bar size in use: ScrollBarSize, or the system's when 0.
    int32_t EffectiveScrollBarSize() const;
    bool GripVisible() const;
    TRect GripRect() const;

    TNotifyEvent OnScroll;

    std::string ClassName() const override { return "TCustomImgView32"; }

    void AlignAll();
    void UpdateScrollBars();
    void UpdateImage();

protected:
    virtual void DoScroll();
    virtual void ScrollHandler(TObject* Sender);
    void BitmapResized() override;
    void ScaleChanged() override;
    void Resize() override;
    void Paint() override;
    void MouseDown(TMouseButton Button, TShiftState Shift, int32_t X, int32_t Y) override;
    void MouseMove(TShiftState Shift, int32_t X, int32_t Y) override;

private:
    bool FCentered = true;
    int32_t FScrollBarSize = 0;
    std::unique_ptr<TIVScrollProperties> FScrollBars;
    TSizeGripStyle FSizeGrip = sgAuto;
    bool FScrollLock = false;
    TCustomRangeBar* FHScroll = nullptr; // children of the view (Qt parent ownership)
    TCustomRangeBar* FVScroll = nullptr;
    TSize FOldSize;
    bool FDestroying = false;
};

class TImgView32 : public TCustomImgView32 {
public:
    using TCustomImgView32::TCustomImgView32;
    std::string ClassName() const override { return "TImgView32"; }
};

} // namespace kv
