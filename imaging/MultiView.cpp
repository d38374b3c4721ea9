#include "imaging/MultiView.h"

#include "imaging/IEBitmaps.h"
#include "imaging/IOParams.h"
#include "imaging/ImagingIO.h"
#include "imaging/ImagingProc.h"

#include <QKeyEvent>
#include <QScrollBar>
#include <QTimerEvent>

#include <algorithm>

namespace kv {

struct TImagingMView::TImageRec {
    int32_t Cached = -1; // the picture's handle in the cache, -1 until it is had
    std::string FileName;
    int32_t ID = -1;
    TColor Background = clBtnFace;
    int32_t Delay = 0;
    std::string TopText, BottomText, InfoText;
    bool Failed = false;
};

namespace {

constexpr int32_t BarRange = 65535;
constexpr int32_t BarThickness = 16;

} // namespace

TImagingMView::TImagingMView(QWidget* AOwner)
    : TCustomControl(AOwner), FCache(std::make_unique<TIEVirtualDIBList>()), FIO(std::make_unique<TImagingIO>()),
      FTransitionFrame(std::make_unique<TBitmap>())
{
    FTransition = std::make_unique<TIETransitionEffects>(this);
    FCache->ViewLimit = 10;
    FGeometry.GridWidth = -1;
    FHorzBar = new QScrollBar(Qt::Horizontal, this);
    FVertBar = new QScrollBar(Qt::Vertical, this);
    FHorzBar->hide();
    FVertBar->hide();
    QObject::connect(FHorzBar, &QScrollBar::valueChanged, this, [this](int V) {
        if (!FUpdating)
            SetViewXY(int32_t(int64_t(V) * (ClientWidth() + std::max(0, FExtent.cx - ClientWidth()) - 1) / 65536),
                      FScroll.Y);
    });
    QObject::connect(FVertBar, &QScrollBar::valueChanged, this, [this](int V) {
        if (!FUpdating)
            SetViewXY(FScroll.X,
                      int32_t(int64_t(V) * (ClientHeight() + std::max(0, FExtent.cy - ClientHeight()) - 1) / 65536));
    });
    setFocusPolicy(Qt::StrongFocus);
    SetBounds(0, 0, 180, 90);
}

TImagingMView::~TImagingMView()
{
    FDestroying = true;
    StopPlayTimer();
    // Observers hear that the view goes away before anything is freed, and must not
    // call back: the lists are emptied first, so a late unregister finds nothing.
    auto Callbacks = std::move(FCallbacks);
    FCallbacks.clear();
    FListObservers.clear();
    for (auto& [Handle, Callback] : Callbacks)
        if (Callback)
            Callback(ievcGoingAway);
}

// ---- The view face ----------------------------------------------------------------

void TImagingMView::SetBackground(TColor Value)
{
    FBackground = Value;
    Invalidate();
}

void TImagingMView::SetDPI(int32_t DpiX, int32_t DpiY)
{
    if (DpiX != 0)
        FDpiX = DpiX;
    if (DpiY != 0)
        FDpiY = DpiY;
}

int32_t TImagingMView::RegisterChangeCallback(TIEViewCallback Callback)
{
    FCallbacks.emplace_back(FNextHandle, std::move(Callback));
    return FNextHandle++;
}

void TImagingMView::UnregisterChangeCallback(int32_t Handle)
{
    auto It = std::find_if(FCallbacks.begin(), FCallbacks.end(), [&](const auto& C) { return C.first == Handle; });
    if (It != FCallbacks.end())
        FCallbacks.erase(It);
}

int32_t TImagingMView::RegisterListObserver(TIEListObserver Observer)
{
    FListObservers.emplace_back(FNextHandle, std::move(Observer));
    return FNextHandle++;
}

void TImagingMView::UnregisterListObserver(int32_t Handle)
{
    auto It =
        std::find_if(FListObservers.begin(), FListObservers.end(), [&](const auto& C) { return C.first == Handle; });
    if (It != FListObservers.end())
        FListObservers.erase(It);
}

void TImagingMView::NotifyList(TIEListChange Kind, int32_t Index)
{
    const auto Observers = FListObservers; // an observer may unregister itself
    for (const auto& [Handle, Observer] : Observers)
        if (Observer)
            Observer(Kind, Index);
}

void TImagingMView::NotifyChanged()
{
    const auto Callbacks = FCallbacks;
    for (const auto& [Handle, Callback] : Callbacks)
        if (Callback)
            Callback(ievcChanged);
}

void TImagingMView::ShowTransitionFrame(TBitmap& Frame)
{
    FTransitionFrame->Assign(&Frame);
    repaint();
}

// ---- Images -----------------------------------------------------------------------

int32_t TImagingMView::ImageCount() const { return int32_t(FImages.size()); }

int32_t TImagingMView::InsertImage(int32_t Index)
{
    Index = std::clamp(Index, 0, ImageCount());
    FImages.insert(FImages.begin() + Index, TImageRec{});
    FImages[size_t(Index)].Background = FBackground;
    FSelection.Inserted(Index);
    NotifyList(ielcInserted, Index);
    Update();
    return Index;
}

int32_t TImagingMView::AppendFile(const std::string& FileName)
{
    const int32_t Index = AppendImage();
    FImages[size_t(Index)].FileName = FileName;
    return Index;
}

int32_t TImagingMView::AppendImageID(int32_t ID)
{
    const int32_t Index = AppendImage();
    FImages[size_t(Index)].ID = ID;
    return Index;
}

void TImagingMView::StorePicture(TImageRec& Rec, TBitmap& Picture)
{
    TBitmap Stored;
    TBitmap* Source = &Picture;
    if (StoreType == ietThumb && Picture.Width() > 0 && Picture.Height() > 0) {
        const TSize Size =
            FitThumbnail(Picture.Width(), Picture.Height(), FGeometry.ThumbWidth(), FGeometry.ThumbHeight());
        if (Picture.PixelFormat() == pf1bit) {
            Stored.SetPixelFormat(pf24bit);
            Stored.SetSize(Size.cx, Size.cy);
            IEShrink1Bit(Picture, 0, 0, Picture.Width() - 1, Picture.Height() - 1, Stored);
        } else {
            TBitmap Wide;
            Wide.Assign(&Picture);
            Wide.SetPixelFormat(pf24bit);
            IEFastLinearResample(Wide, Stored, Size.cx, Size.cy, nullptr);
        }
        Source = &Stored;
    }
    if (Rec.Cached >= 0)
        FCache->Delete(Rec.Cached);
    Rec.Cached = -1;
    Rec.Cached = FCache->AddBitmap(Source);
}

void TImagingMView::SetImage(int32_t Index, TBitmap* Bitmap)
{
    if (Index < 0 || Index >= ImageCount() || !Bitmap)
        return;
    StorePicture(FImages[size_t(Index)], *Bitmap);
    FImages[size_t(Index)].Failed = false;
    NotifyList(ielcOther, Index);
    Invalidate();
}

void TImagingMView::DeleteImage(int32_t Index)
{
    if (Index < 0 || Index >= ImageCount())
        return;
    if (FImages[size_t(Index)].Cached >= 0)
        FCache->Delete(FImages[size_t(Index)].Cached);
    FImages.erase(FImages.begin() + Index);
    FSelection.Deleted(Index, ImageCount());
    NotifyList(ielcDeleted, Index);
    if (FPlaying && ImageCount() == 0)
        SetPlaying(false);
    Update();
}

void TImagingMView::Clear()
{
    while (ImageCount() > 0)
        DeleteImage(ImageCount() - 1);
}

bool TImagingMView::EnsureLoaded(int32_t Index)
{
    TImageRec& Rec = FImages[size_t(Index)];
    if (Rec.Cached >= 0)
        return true;
    if (Rec.ID >= 0 && OnImageIDRequest) {
        TBitmap* Supplied = OnImageIDRequest(Self(), Rec.ID);
        if (!Supplied)
            return false;
        StorePicture(Rec, *Supplied);
        return true;
    }
    if (Rec.FileName.empty())
        return false;
    TBitmap Picture;
    Picture.SetPixelFormat(pf24bit);
    Picture.SetSize(1, 1);
    FIO->SetBitmap(&Picture);
    FIO->SetBackground(Rec.Background);
    FIO->OnProgress = OnIOProgress;
    const bool Thumb = StoreType == ietThumb;
    FIO->Params().JpegScale = Thumb ? 0 : 1;
    FIO->Params().Width = Thumb ? FGeometry.ThumbWidth() : 0;
    FIO->Params().Height = Thumb ? FGeometry.ThumbHeight() : 0;
    try {
        FIO->LoadFromFile(Rec.FileName);
    } catch (const std::exception&) {
        FIO->SetBitmap(nullptr);
        return false;
    }
    FIO->SetBitmap(nullptr);
    if (FIO->Aborting())
        return false;
    Rec.Background = FIO->Background();
    StorePicture(Rec, Picture);
    return true;
}

bool TImagingMView::CopyImage(int32_t Index, TBitmap& Bitmap)
{
    if (Index < 0 || Index >= ImageCount() || !EnsureLoaded(Index))
        return false;
    FCache->CopyToTBitmap(FImages[size_t(Index)].Cached, &Bitmap);
    return true;
}

bool TImagingMView::HasPicture(int32_t Index) const
{
    return Index >= 0 && Index < ImageCount() && FImages[size_t(Index)].Cached >= 0;
}

std::string TImagingMView::ImageFileName(int32_t Index) const
{
    return Index >= 0 && Index < ImageCount() ? FImages[size_t(Index)].FileName : std::string();
}

void TImagingMView::SetImageDelay(int32_t Index, int32_t Milliseconds)
{
    if (Index >= 0 && Index < ImageCount())
        FImages[size_t(Index)].Delay = Milliseconds;
}

void TImagingMView::SetImageTopText(int32_t Index, const std::string& Text)
{
    if (Index >= 0 && Index < ImageCount())
        FImages[size_t(Index)].TopText = Text;
    Invalidate();
}

void TImagingMView::SetImageBottomText(int32_t Index, const std::string& Text)
{
    if (Index >= 0 && Index < ImageCount())
        FImages[size_t(Index)].BottomText = Text;
    Invalidate();
}

void TImagingMView::SetImageInfoText(int32_t Index, const std::string& Text)
{
    if (Index >= 0 && Index < ImageCount())
        FImages[size_t(Index)].InfoText = Text;
    Invalidate();
}

int32_t TImagingMView::ImageCacheSize() const { return FCache->ViewLimit; }

void TImagingMView::SetImageCacheSize(int32_t Value) { FCache->ViewLimit = std::max(1, Value); }

// ---- Layout and scrolling ---------------------------------------------------------

int32_t TImagingMView::ClientWidth() const { return std::max(0, Width() - (FVertBar->isVisible() ? BarThickness : 0)); }

int32_t TImagingMView::ClientHeight() const
{
    return std::max(0, Height() - (FHorzBar->isVisible() ? BarThickness : 0));
}

int32_t TImagingMView::ImageX(int32_t Index) const { return FGeometry.CellPosition(Index, ClientWidth()).X; }

int32_t TImagingMView::ImageY(int32_t Index) const { return FGeometry.CellPosition(Index, ClientWidth()).Y; }

int32_t TImagingMView::ImageAtPos(int32_t X, int32_t Y) const
{
    return FGeometry.HitTest(X, Y, FScroll, ImageCount(), ClientWidth());
}

void TImagingMView::Layout()
{
    FGeometry.SingleImage = FDisplayMode == mdSingle || FPlaying;
    FExtent = FGeometry.Extent(ImageCount(), ClientWidth());
}

void TImagingMView::SetViewXY(int32_t X, int32_t Y)
{
    const int32_t MaxX = std::max(0, FExtent.cx - ClientWidth());
    const int32_t MaxY = std::max(0, FExtent.cy - ClientHeight());
    const TPoint New{std::clamp(X, 0, MaxX), std::clamp(Y, 0, MaxY)};
    if (New == FScroll)
        return;
    FScroll = New;
    if (OnViewChange)
        OnViewChange(Self());
    UpdateBars();
    Invalidate();
}

void TImagingMView::UpdateBars()
{
    const bool WasUpdating = FUpdating;
    FUpdating = true;
    const bool WantH = FScrollBars == iesbHorizontal || FScrollBars == iesbBoth;
    const bool WantV = FScrollBars == iesbVertical || FScrollBars == iesbBoth;
    struct TAxis {
        QScrollBar* Bar;
        bool Wanted;
        int32_t Client, Extent, Offset;
    } const Axes[] = {{FHorzBar, WantH, ClientWidth(), FExtent.cx, FScroll.X},
                      {FVertBar, WantV, ClientHeight(), FExtent.cy, FScroll.Y}};
    for (const TAxis& A : Axes) {
        const int32_t MaxOffset = std::max(0, A.Extent - A.Client);
        // A client of no size has nothing to show a page of.
        if (!A.Wanted || A.Client < 1 || MaxOffset == 0) {
            A.Bar->hide();
            continue;
        }
        const double Scale = (double(A.Client) + MaxOffset - 1) / 65536.0;
        A.Bar->setRange(0, BarRange);
        A.Bar->setPageStep(std::max(1, int(A.Client / Scale)));
        A.Bar->setValue(int(A.Offset / Scale));
        A.Bar->setEnabled(true);
        A.Bar->show();
    }
    FHorzBar->setGeometry(0, Height() - BarThickness, ClientWidth(), BarThickness);
    FVertBar->setGeometry(Width() - BarThickness, 0, BarThickness, ClientHeight());
    FUpdating = WasUpdating;
}

void TImagingMView::Update()
{
    if (FUpdating || FDestroying || FPaintLock > 0)
        return;
    FUpdating = true;
    Layout();
    // The bars take room from the client, which can change the layout: settle it.
    for (int32_t Round = 0; Round < 9; ++Round) {
        const int32_t W = ClientWidth(), H = ClientHeight();
        FUpdating = false;
        UpdateBars();
        FUpdating = true;
        Layout();
        const TPoint Old = FScroll;
        FScroll.X = std::clamp(FScroll.X, 0, std::max(0, FExtent.cx - ClientWidth()));
        FScroll.Y = std::clamp(FScroll.Y, 0, std::max(0, FExtent.cy - ClientHeight()));
        if (!(Old == FScroll) && OnViewChange)
            OnViewChange(Self());
        if (W == ClientWidth() && H == ClientHeight())
            break;
    }
    FUpdating = false;
    NotifyChanged();
    Invalidate();
}

void TImagingMView::SetScrollBars(TIEScrollBars Value)
{
    FScrollBars = Value;
    Update();
}

void TImagingMView::SetDisplayMode(TIEMDisplayMode Value)
{
    if (FPlaying) {
        FSavedDisplayMode = Value;
        return;
    }
    FDisplayMode = Value;
    Update();
}

void TImagingMView::UnLockPaint()
{
    if (FPaintLock > 0 && --FPaintLock == 0)
        Update();
}

void TImagingMView::Resize()
{
    TCustomControl::Resize();
    Update();
}

// ---- Selection --------------------------------------------------------------------

void TImagingMView::SetSelectedImage(int32_t Index)
{
    FSelection.Selected = Index >= 0 && Index < ImageCount() ? Index : -1;
    FSelection.Multi.clear();
    if (VisibleSelection)
        Invalidate();
    if (OnImageSelect && FSelection.Selected >= 0)
        OnImageSelect(Self(), FSelection.Selected);
    NotifyList(ielcSelected, FSelection.Selected);
}

void TImagingMView::SelectAt(int32_t Index, TShiftState Shift)
{
    if (Index < 0 || Index >= ImageCount())
        return;
    const bool Additive = EnableMultiSelect && (Shift & (ssShift | ssCtrl)) != 0;
    if (!Additive) {
        FSelection.Multi.clear();
    } else {
        auto Add = [&](int32_t I) {
            if (!FSelection.IsSelected(I) || I == FSelection.Selected)
                if (std::find(FSelection.Multi.begin(), FSelection.Multi.end(), I) == FSelection.Multi.end())
                    FSelection.Multi.push_back(I);
        };
        const int32_t From = FSelection.Selected;
        if (From >= 0)
            Add(From);
        if ((Shift & ssShift) && From >= 0) {
            const int32_t Columns = std::max(1, FGeometry.Columns(ClientWidth()));
            if (MultiSelectRectangle) {
                const int32_t C0 = std::min(From % Columns, Index % Columns);
                const int32_t C1 = std::max(From % Columns, Index % Columns);
                const int32_t R0 = std::min(From / Columns, Index / Columns);
                const int32_t R1 = std::max(From / Columns, Index / Columns);
                for (int32_t R = R0; R <= R1; ++R)
                    for (int32_t C = C0; C <= C1; ++C)
                        if (R * Columns + C < ImageCount())
                            Add(R * Columns + C);
            } else {
                for (int32_t I = std::min(From, Index); I <= std::max(From, Index); ++I)
                    Add(I);
            }
        }
        Add(Index);
    }
    FSelection.Selected = Index;
    if (VisibleSelection)
        Invalidate();
    if (OnImageSelect)
        OnImageSelect(Self(), Index);
    NotifyList(ielcSelected, Index);
}

void TImagingMView::ShowSelected()
{
    const int32_t I = FSelection.Selected;
    if (I < 0)
        return;
    const TPoint Cell = FGeometry.CellPosition(I, ClientWidth());
    int32_t X = FScroll.X, Y = FScroll.Y;
    if (Cell.X < X)
        X = Cell.X;
    else if (Cell.X + FGeometry.ThumbWidth() > X + ClientWidth())
        X = Cell.X + FGeometry.ThumbWidth() - ClientWidth();
    if (Cell.Y < Y)
        Y = Cell.Y;
    else if (Cell.Y + FGeometry.ThumbHeight() > Y + ClientHeight())
        Y = Cell.Y + FGeometry.ThumbHeight() - ClientHeight();
    SetViewXY(X, Y);
}

void TImagingMView::MoveSelected(TIEMViewKey Key, TShiftState Shift)
{
    if (FPlaying || ImageCount() == 0)
        return;
    const int32_t Columns = FGeometry.GridWidth == 0 ? 1 : FGeometry.Columns(ClientWidth());
    const int32_t Rows = std::max(1, ClientHeight() / FGeometry.CellHeight());
    const int32_t From = std::max(0, FSelection.Selected);
    SelectAt(MoveSelection(Key, From, ImageCount(), Columns, Rows), Shift);
    ShowSelected();
}

// ---- Input ------------------------------------------------------------------------

void TImagingMView::MouseDown(TMouseButton Button, TShiftState Shift, int32_t X, int32_t Y)
{
    if (focusPolicy() != Qt::NoFocus)
        setFocus();
    FPressPoint = {X, Y};
    FPressScroll = FScroll;
    FPressImage = ImageAtPos(X, Y);
    FPressed = true;
    TCustomControl::MouseDown(Button, Shift, X, Y);
}

void TImagingMView::MouseMove(TShiftState Shift, int32_t X, int32_t Y)
{
    if (FPressed) {
        if ((MouseInteract & mmiSelect) && EnableMultiSelect) {
            const int32_t I = ImageAtPos(X, Y);
            if (I >= 0 && I != FSelection.Selected)
                SelectAt(I, Shift | ssShift);
        }
        if (MouseInteract & mmiScroll)
            SetViewXY(FPressScroll.X - (X - FPressPoint.X), FPressScroll.Y - (Y - FPressPoint.Y));
    }
    TCustomControl::MouseMove(Shift, X, Y);
}

void TImagingMView::MouseUp(TMouseButton Button, TShiftState Shift, int32_t X, int32_t Y)
{
    if (FPressed && Button == mbLeft && !FPlaying) {
        if (MouseInteract & mmiSelect)
            SelectAt(ImageAtPos(X, Y), Shift);
        if (MouseInteract & mmiScroll)
            SetViewXY(FPressScroll.X - (X - FPressPoint.X), FPressScroll.Y - (Y - FPressPoint.Y));
    }
    FPressed = false;
    TCustomControl::MouseUp(Button, Shift, X, Y);
}

bool TImagingMView::DoMouseWheel(TShiftState Shift, int32_t WheelDelta, TPoint MousePos)
{
    // One cell a message, whatever the delta: up when positive, down otherwise.
    const int32_t Step = FGeometry.CellHeight();
    SetViewXY(FScroll.X, FScroll.Y + (WheelDelta > 0 ? -Step : Step));
    return true;
}

void TImagingMView::keyPressEvent(QKeyEvent* Event)
{
    if (!(KeyInteract & mkiMoveSelected) || FPlaying) {
        TCustomControl::keyPressEvent(Event);
        return;
    }
    TShiftState Shift = 0;
    if (Event->modifiers() & Qt::ShiftModifier)
        Shift |= ssShift;
    if (Event->modifiers() & Qt::ControlModifier)
        Shift |= ssCtrl;
    switch (Event->key()) {
    case Qt::Key_Left: MoveSelected(TIEMViewKey::Left, Shift); break;
    case Qt::Key_Right: MoveSelected(TIEMViewKey::Right, Shift); break;
    case Qt::Key_Up: MoveSelected(TIEMViewKey::Up, Shift); break;
    case Qt::Key_Down: MoveSelected(TIEMViewKey::Down, Shift); break;
    case Qt::Key_Home: MoveSelected(TIEMViewKey::Home, Shift); break;
    case Qt::Key_End: MoveSelected(TIEMViewKey::End, Shift); break;
    case Qt::Key_PageUp: MoveSelected(TIEMViewKey::PageUp, Shift); break;
    case Qt::Key_PageDown: MoveSelected(TIEMViewKey::PageDown, Shift); break;
    default: TCustomControl::keyPressEvent(Event);
    }
}

// ---- Painting ---------------------------------------------------------------------

void TImagingMView::PaintImage(int32_t Index, TCanvas& Canvas)
{
    const int32_t TW = FGeometry.ThumbWidth(), TH = FGeometry.ThumbHeight();
    const TPoint Cell = FGeometry.CellPosition(Index, ClientWidth());
    const int32_t X = Cell.X - FScroll.X, Y = Cell.Y - FScroll.Y;
    if (X >= ClientWidth() || Y >= ClientHeight() || X + TW <= 0 || Y + TH <= 0)
        return;
    TImageRec& Rec = FImages[size_t(Index)];
    const bool Selected = VisibleSelection && !FGeometry.SingleImage &&
                          (Index == FSelection.Selected || (EnableMultiSelect && FSelection.IsSelected(Index)));
    const TColor Back = Selected && SelectionStyle == iessACD ? clHighlight
                        : DrawImageBackground                 ? Rec.Background
                                                              : ThumbnailsBackground;
    Canvas.Brush()->SetColor(Back);
    Canvas.FillRect(Bounds(X, Y, TW, TH));
    const int32_t CaptionHeight = Rec.BottomText.empty() ? 0 : Canvas.TextHeight("Ag");
    const int32_t Room = std::max(1, TH - UpperGap - BottomGap - CaptionHeight);
    if (Rec.Cached >= 0) {
        TBitmap* Picture = FCache->GetBitmap(Rec.Cached);
        const TSize Fit = FitThumbnail(Picture->Width(), Picture->Height(), TW, Room);
        const int32_t PX = X + (TW - Fit.cx) / 2, PY = Y + UpperGap + (Room - Fit.cy) / 2;
        if (Picture->PixelFormat() == pf1bit && (Fit.cx < Picture->Width() || Fit.cy < Picture->Height())) {
            TBitmap Shrunk;
            Shrunk.SetPixelFormat(pf24bit);
            Shrunk.SetSize(Fit.cx, Fit.cy);
            IEShrink1Bit(*Picture, 0, 0, Picture->Width() - 1, Picture->Height() - 1, Shrunk);
            Canvas.Draw(PX, PY, &Shrunk);
        } else {
            Canvas.StretchDraw(Bounds(PX, PY, Fit.cx, Fit.cy), Picture);
        }
        FCache->ReleaseBitmap(Rec.Cached);
        if (Style == iems3D) {
            Canvas.Pen()->SetColor(clWhite);
            Canvas.MoveTo(PX - 1, PY + Fit.cy);
            Canvas.LineTo(PX - 1, PY - 1);
            Canvas.LineTo(PX + Fit.cx, PY - 1);
            Canvas.Pen()->SetColor(TColor(0x808080));
            Canvas.LineTo(PX + Fit.cx, PY + Fit.cy);
            Canvas.LineTo(PX - 1, PY + Fit.cy);
        }
    }
    Canvas.Brush()->SetColor(Back);
    if (!Rec.TopText.empty())
        Canvas.TextOut(X + (TW - Canvas.TextWidth(Rec.TopText)) / 2, Y, Rec.TopText);
    if (!Rec.BottomText.empty())
        Canvas.TextOut(X + (TW - Canvas.TextWidth(Rec.BottomText)) / 2, Y + TH - BottomGap - CaptionHeight,
                       Rec.BottomText);
    if (!Rec.InfoText.empty())
        Canvas.TextOut(X + 2, Y + TH - Canvas.TextHeight(Rec.InfoText) - 3, Rec.InfoText);
    if (OnImageDraw)
        OnImageDraw(Self(), Index, &Canvas, X, Y);
    if (Selected && SelectionStyle == iessAround) {
        Canvas.Brush()->SetColor(SelectionColor);
        const int32_t Rings = hasFocus() ? SelectionWidth : 1;
        for (int32_t R = 1; R <= Rings; ++R)
            Canvas.FrameRect(Rect(X - R, Y - R, X + TW + R, Y + TH + R));
    }
    Canvas.Brush()->SetColor(ThumbnailsBorderColor);
    for (int32_t R = 1; R <= ThumbnailsBorderWidth; ++R)
        Canvas.FrameRect(Rect(X - R, Y - R, X + TW + R, Y + TH + R));
}

void TImagingMView::Paint()
{
    TCanvas& C = *Canvas();
    if (FTransition->Running()) {
        C.Draw(0, 0, FTransitionFrame.get());
        return;
    }
    C.Brush()->SetColor(FBackground);
    C.FillRect(Rect(0, 0, Width(), Height()));
    const int32_t Count = ImageCount();
    auto PaintOne = [&](int32_t I) {
        if (OnDrawProgress && Count >= 2)
            OnDrawProgress(Self(), int32_t(int64_t(I) * 100 / Count), I);
        if (!EnsureLoaded(I) && RemoveCorrupted && !FImages[size_t(I)].FileName.empty()) {
            DeleteImage(I);
            return false;
        }
        PaintImage(I, C);
        return true;
    };
    if (FGeometry.SingleImage) {
        if (Count > 0)
            PaintOne(std::clamp(FPlaying ? FFrame : std::max(0, FSelection.Selected), 0, Count - 1));
        return;
    }
    for (int32_t I = 0; I < ImageCount(); ++I)
        if (!PaintOne(I))
            --I; // the list moved down by one
}

// ---- Playback ---------------------------------------------------------------------

void TImagingMView::SetPlaying(bool Value)
{
    if (Value == FPlaying)
        return;
    if (Value) {
        if (ImageCount() == 0)
            return;
        FSavedDisplayMode = FDisplayMode;
        FSavedSelected = FSelection.Selected;
        FSelection.Selected = -1;
        FSelection.Multi.clear();
        FPlaying = true;
        FFrame = 0;
        PlayStep();
    } else {
        StopPlayTimer();
        FPlaying = false;
        FDisplayMode = FSavedDisplayMode;
        FSelection.Selected = FSavedSelected < ImageCount() ? FSavedSelected : -1;
        Update();
    }
}

void TImagingMView::PlayStep()
{
    if (FInPlayStep)
        return;
    FInPlayStep = true;
    StopPlayTimer();
    if (FPlaying && ImageCount() == 0)
        FPlaying = false; // nothing left to play
    if (FPlaying) {
        FDisplayMode = mdSingle;
        Layout();
        FFrame = std::clamp(FFrame, 0, ImageCount() - 1);
        repaint();
        const int32_t Delay = FImages[size_t(FFrame)].Delay;
        if (++FFrame >= ImageCount()) {
            FFrame = 0;
            NotifyChanged();
            if (!PlayLoop) {
                FInPlayStep = false;
                SetPlaying(false);
                return;
            }
        }
        RestartPlayTimer(std::max(Delay, 10));
    }
    FInPlayStep = false;
}

void TImagingMView::RestartPlayTimer(int32_t Delay) { FPlayTimer = startTimer(Delay); }

void TImagingMView::StopPlayTimer()
{
    if (FPlayTimer != 0)
        killTimer(FPlayTimer);
    FPlayTimer = 0;
}

void TImagingMView::timerEvent(QTimerEvent* Event)
{
    if (Event->timerId() == FPlayTimer)
        PlayStep();
    else
        TCustomControl::timerEvent(Event);
}

// ---- Multi-image I/O --------------------------------------------------------------

TImagingMIO::TImagingMIO() = default;

TImagingMIO::~TImagingMIO() { Detach(); }

void TImagingMIO::Detach()
{
    if (!FView)
        return;
    FView->UnregisterListObserver(FListHandle);
    FView->UnregisterChangeCallback(FViewHandle);
    FView = nullptr;
}

void TImagingMIO::SetAttachedMView(TImagingMView* Value)
{
    if (Value == FView)
        return;
    Detach();
    FView = Value;
    if (!FView) {
        FParams.Reset(0);
        return;
    }
    // A view that already holds images gets one parameter set for each.
    FParams.Reset(FView->ImageCount());
    FListHandle = FView->RegisterListObserver([this](TIEListChange Kind, int32_t Index) {
        if (Kind == ielcInserted)
            FParams.Inserted(Index);
        else if (Kind == ielcDeleted)
            FParams.Deleted(Index);
    });
    FViewHandle = FView->RegisterChangeCallback([this](TIEViewChange Change) {
        // The view is being destroyed: drop it and never call it again.
        if (Change == ievcGoingAway)
            FView = nullptr;
    });
}

} // namespace kv
