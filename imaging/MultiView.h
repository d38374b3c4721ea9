// The imaging library's multi-image view: a scrolling grid of thumbnails (or one image
// at a time) kept in a disk-backed cache, with selection by mouse and keys, on-demand
// loading, timed playback with transitions; and the multi-image I/O component that
// keeps one parameter set per image of the view it is attached to.
#pragma once

#include "imaging/IEViewControl.h"
#include "imaging/ImagingIO.h"
#include "imaging/MultiViewModel.h"
#include "imaging/Transitions.h"
#include "imaging/imgdefs.h"

#include <functional>
#include <memory>
#include <string>
#include <vector>

class QPainter;
class QRegion;
class QScrollBar;

namespace kv {

class TIEMask;
class TIEScrollBarParams;
class TIEVirtualDIBList;
class TImagingIO;
class TIETWainParams;

enum TIEStoreType : uint8_t { ietNormal, ietThumb };
enum TIEMDisplayMode : uint8_t { mdGrid, mdSingle };
enum TIEMStyle : uint8_t { iemsFlat, iems3D };
enum TIESStyle : uint8_t { iessAround, iessACD };
enum TIEScrollBars : uint8_t { iesbNone, iesbHorizontal, iesbVertical, iesbBoth };
// How the wallpaper covers the client area: once at the top-left, stretched over it,
// or repeated across it.
enum TIEWallPaperStyle : uint8_t { iewoNormal, iewoStretch, iewoTile };
// Bits of MouseInteract and KeyInteract.
constexpr uint32_t mmiSelect = 1, mmiScroll = 2, mkiMoveSelected = 1;
// The change kinds the view reports to its list observers.
enum TIEListChange : uint8_t { ielcInserted = 1, ielcDeleted = 2, ielcSelected = 3, ielcOther = 4 };
using TIEListObserver = std::function<void(TIEListChange Kind, int32_t Index)>;

using TIEImageIDRequestEvent = std::function<TBitmap*(TObject* Sender, int32_t ID)>;
using TIEImageSelectEvent = std::function<void(TObject* Sender, int32_t Index)>;
using TIEImageDrawEvent =
    std::function<void(TObject* Sender, int32_t Index, TCanvas* Canvas, int32_t Left, int32_t Top)>;

// One of an image's three captions: the top one, the bottom one and the info strip.
struct TIEMCaption {
    std::string Text;
    std::unique_ptr<TFont> Font = std::make_unique<TFont>();
    TColor Background = clBtnFace;
};
enum TIEMCaptionKind : uint8_t { iecTop, iecBottom, iecInfo };

class TImagingMView : public TIEViewControl {
public:
    explicit TImagingMView(QWidget* AOwner = nullptr);
    ~TImagingMView() override;
    std::string ClassName() const override { return "TImagingMView"; }

    // ---- The view face ------------------------------------------------------------
    TBitmap* IEBitmap() override { return &FCurrent; }
    TIEMask* SelectionMask() override { return nullptr; }
    TColor Background() const override { return FBackground; }
    void SetBackground(TColor Value) override;
    int32_t XDpi() const override { return FDpiX; }
    int32_t YDpi() const override { return FDpiY; }
    void SetDPI(int32_t DpiX, int32_t DpiY) override;
    void ImageChange() override { Invalidate(); }
    void Update() override;
    int32_t RegisterChangeCallback(TIEViewCallback Callback) override;
    void UnregisterChangeCallback(int32_t Handle) override;
    void ShowTransitionFrame(TBitmap& Frame) override;
    // Observers of the image list (the multi-image I/O component); returns a handle.
    int32_t RegisterListObserver(TIEListObserver Observer);
    void UnregisterListObserver(int32_t Handle);

    // ---- Images -------------------------------------------------------------------
    int32_t ImageCount() const;
    // A blank entry, filled later by SetImage, OnImageIDRequest or a file name.
    int32_t AppendImage() { return InsertImage(ImageCount()); }
    int32_t InsertImage(int32_t Index);
    int32_t AppendFile(const std::string& FileName);
    int32_t AppendImageID(int32_t ID);
    void SetImage(int32_t Index, TBitmap* Bitmap);
    void DeleteImage(int32_t Index);
    void Clear();
    // The cached picture of image Index (loaded on demand), copied into Bitmap; false
    // when it cannot be had.
    bool CopyImage(int32_t Index, TBitmap& Bitmap);
    bool HasPicture(int32_t Index) const;
    std::string ImageFileName(int32_t Index) const;
    void SetImageDelay(int32_t Index, int32_t Milliseconds);
    void SetImageTopText(int32_t Index, const std::string& Text);
    void SetImageBottomText(int32_t Index, const std::string& Text);
    void SetImageInfoText(int32_t Index, const std::string& Text);
    // The caption of that kind of image Index (text, font, background); null when there
    // is no such image. Repaint after changing it.
    TIEMCaption* ImageCaption(int32_t Index, TIEMCaptionKind Kind);
    // Where image Index's picture is painted, in client coordinates as scrolled; empty
    // when it has no picture.
    TRect ImagePictureRect(int32_t Index);

    // ---- Layout, selection, scrolling -----------------------------------------------
    TIEMViewGeometry& Geometry() { return FGeometry; }
    int32_t ImageX(int32_t Index) const;
    int32_t ImageY(int32_t Index) const;
    int32_t ImageAtPos(int32_t X, int32_t Y) const;
    TSize Extent() const { return FExtent; }
    TPoint ViewXY() const { return FScroll; }
    void SetViewXY(int32_t X, int32_t Y);
    int32_t SelectedImage() const { return FSelection.Selected; }
    void SetSelectedImage(int32_t Index);
    // Select as a click would, Shift/Ctrl making it additive when multi-selection is on.
    void SelectAt(int32_t Index, TShiftState Shift);
    const std::vector<int32_t>& MultiSelectedImages() const { return FSelection.Multi; }
    bool IsSelected(int32_t Index) const { return FSelection.IsSelected(Index); }
    void MoveSelected(TIEMViewKey Key, TShiftState Shift);
    // The client area: inside the frame, beside the scroll bars.
    int32_t ClientWidth() const;
    int32_t ClientHeight() const;

    // The bars' arrow step in pixels (-1: one cell) and whether dragging the thumb
    // scrolls as it goes; the page is always the client size.
    TIEScrollBarParams* HScrollBarParams() { return FHScrollBarParams.get(); }
    TIEScrollBarParams* VScrollBarParams() { return FVScrollBarParams.get(); }
    TIEScrollBars ScrollBars() const { return FScrollBars; }
    // A wanted bar with nothing to scroll is shown disabled instead of hidden.
    bool KeepScrollBarsVisible = false;
    void SetScrollBars(TIEScrollBars Value);
    TIEMDisplayMode DisplayMode() const { return FDisplayMode; }
    void SetDisplayMode(TIEMDisplayMode Value);
    int32_t ImageCacheSize() const;
    void SetImageCacheSize(int32_t Value);

    void LockPaint() { ++FPaintLock; }
    void UnLockPaint();
    void UnLockUpdate() { FPaintLock = FPaintLock > 0 ? FPaintLock - 1 : 0; }

    // ---- Playback -------------------------------------------------------------------
    bool Playing() const { return FPlaying; }
    void SetPlaying(bool Value);
    bool PlayLoop = true;
    int32_t CurrentFrame() const { return FFrame; }
    // One playback tick (the timer's work, callable by tests).
    void PlayStep();
    TIETransitionEffects& Transitions() { return *FTransition; }

    // ---- Settings -------------------------------------------------------------------
    TIEStoreType StoreType = ietNormal;
    int32_t UpperGap = 0, BottomGap = 0;
    bool VisibleSelection = true;
    uint32_t MouseInteract = mmiSelect;
    uint32_t KeyInteract = mkiMoveSelected;
    int32_t SelectionWidth = 3;
    TColor SelectionColor = TColor(255);
    bool RemoveCorrupted = false;
    bool DrawImageBackground = false;
    TIETransitionType TransitionEffect = iettNone;
    int32_t TransitionDuration = 1000;
    TIEMStyle Style = iems3D;
    TIESStyle SelectionStyle = iessAround;
    TColor ThumbnailsBackground = clBtnFace;
    bool EnableMultiSelect = false;
    bool MultiSelectRectangle = false;
    int32_t ThumbnailsBorderWidth = 0;
    TColor ThumbnailsBorderColor = clBtnFace;
    // Drawn behind the thumbnails in place of the background colour when not empty.
    TPicture* WallPaper() { return FWallPaper.get(); }
    TIEWallPaperStyle WallPaperStyle() const { return FWallPaperStyle; }
    void SetWallPaperStyle(TIEWallPaperStyle Value);
    TNotifyEvent OnViewChange;
    TIEImageIDRequestEvent OnImageIDRequest;
    TIEImageSelectEvent OnImageSelect;
    TIEImageDrawEvent OnImageDraw;
    std::function<void(TObject* Sender, int32_t Percent, int32_t Index)> OnDrawProgress;
    TIEProgressEvent OnIOProgress;
    // The loader of files named in the list (the internal imaging I/O component).
    TImagingIO& IO() { return *FIO; }

protected:
    void Paint() override;
    void Resize() override;
    void FrameChanged() override { Update(); }
    void MouseDown(TMouseButton Button, TShiftState Shift, int32_t X, int32_t Y) override;
    void MouseMove(TShiftState Shift, int32_t X, int32_t Y) override;
    void MouseUp(TMouseButton Button, TShiftState Shift, int32_t X, int32_t Y) override;
    bool DoMouseWheelDefault(TShiftState Shift, int32_t WheelDelta, TPoint MousePos) override;
    void keyPressEvent(QKeyEvent* Event) override;
    void timerEvent(QTimerEvent* Event) override;

private:
    struct TImageRec;
    bool EnsureLoaded(int32_t Index);
    void StorePicture(TImageRec& Rec, TBitmap& Picture);
    void Layout();
    void UpdateBars();
    void NotifyList(TIEListChange Kind, int32_t Index);
    void NotifyChanged();
    // The client area's content (Frame: the only image drawn, else -1 for the display
    // mode's choice) through a painter whose origin is the client's top-left corner.
    void PaintContent(QPainter& Painter, int32_t Frame);
    bool PaintOne(int32_t Index, QPainter& Painter, QRegion& Free);
    void PaintImage(int32_t Index, QPainter& Painter, QRegion& Free);
    void PaintWallPaper(QPainter& Painter);
    // Frame Index as it is painted alone, into a 24-bit bitmap of the client size.
    void RenderFrame(int32_t Index, TBitmap& Into);
    void StartTransition(int32_t From, int32_t To);
    void ShowSelected();
    void RestartPlayTimer(int32_t Delay);
    void StopPlayTimer();

    std::vector<TImageRec> FImages;
    std::unique_ptr<TIEVirtualDIBList> FCache;
    std::unique_ptr<TImagingIO> FIO;
    std::unique_ptr<TIETransitionEffects> FTransition;
    std::unique_ptr<TBitmap> FTransitionFrame;
    std::unique_ptr<TPicture> FWallPaper;
    TIEWallPaperStyle FWallPaperStyle = iewoNormal;
    int32_t FShownFrame = -1; // the frame the last playback tick showed
    TBitmap FCurrent;
    TIEMViewGeometry FGeometry;
    TIEMViewSelection FSelection;
    TSize FExtent;
    TPoint FScroll;
    std::unique_ptr<TIEScrollBarParams> FHScrollBarParams, FVScrollBarParams;
    QScrollBar* FHorzBar = nullptr;
    QScrollBar* FVertBar = nullptr;
    TIEScrollBars FScrollBars = iesbNone;
    TIEMDisplayMode FDisplayMode = mdGrid;
    TIEMDisplayMode FSavedDisplayMode = mdGrid;
    int32_t FSavedSelected = -1;
    TColor FBackground = clBtnFace;
    int32_t FDpiX = 0, FDpiY = 0;
    std::vector<std::pair<int32_t, TIEViewCallback>> FCallbacks;
    std::vector<std::pair<int32_t, TIEListObserver>> FListObservers;
    int32_t FNextHandle = 1;
    bool FDestroying = false;
    bool FUpdating = false;
    int32_t FPaintLock = 0;
    bool FPlaying = false;
    bool FInPlayStep = false;
    int32_t FFrame = 0;
    int32_t FPlayTimer = 0;
    TPoint FPressPoint, FPressScroll;
    int32_t FPressImage = -1;
    bool FPressed = false;
};

// One parameter set per image of the attached view, following its insertions and
// deletions; the view's going away clears the attachment.
class TImagingMIO : public TObject {
public:
    TImagingMIO();
    ~TImagingMIO() override;
    TImagingMView* AttachedMView() const { return FView; }
    void SetAttachedMView(TImagingMView* Value);
    int32_t ParamsCount() const { return FParams.Count(); }
    TIOParamsVals* Params(int32_t Index) const { return FParams.Items(Index); }
    std::string ClassName() const override { return "TImagingMIO"; }

    TIEProgressEvent OnProgress;
    TMsgLanguage MsgLanguage = msSystem;
    TIOPreviewsParams PreviewsParams = 0;
    TFont* PreviewFont() { return FPreviewFont.get(); }
    TIETWainParams* TWainParams() { return FTWainParams.get(); }

private:
    void Detach();
    TIEParamsList FParams;
    std::unique_ptr<TFont> FPreviewFont;
    std::unique_ptr<TIETWainParams> FTWainParams;
    TImagingMView* FView = nullptr;
    int32_t FListHandle = -1;
    int32_t FViewHandle = -1;
};

} // namespace kv
