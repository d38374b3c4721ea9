#include "imaging/MultiView.h"

#include "imaging/IEBitmaps.h"
#include "imaging/IOParams.h"
#include "imaging/ImagingIO.h"
#include "imaging/ImagingProc.h"
#include "platform/QtBridge.h"

#include <QKeyEvent>
#include <QPainter>
#include <QRegion>
#include <QScrollBar>
#include <QTimerEvent>

#include <algorithm>
#include <climits>

namespace kv {

struct TImagingMView::TImageRec {
    int32_t Cached = -1; // the picture's handle in the cache, -1 until it is had
    std::string FileName;
    int32_t ID = -1;
    TColor Background = clBtnFace;
    int32_t Delay = 0;
    TIEMCaption Captions[3]; // by TIEMCaptionKind
};

namespace {

constexpr int32_t BarRange = 65535;
constexpr int32_t BarThickness = 16;

} // namespace

TImagingMView::TImagingMView(QWidget* AOwner)
    : TIEViewControl(AOwner), FCache(std::make_unique<TIEVirtualDIBList>()), FIO(std::make_unique<TImagingIO>()),
      FTransitionFrame(std::make_unique<TBitmap>()), FWallPaper(std::make_unique<TPicture>()),
      FHScrollBarParams(std::make_unique<TIEScrollBarParams>()),
      FVScrollBarParams(std::make_unique<TIEScrollBarParams>())
{
    FTransition = std::make_unique<TIETransitionEffects>(this);
    FCache->ViewLimit = 10;
    FGeometry.GridWidth = 0; // one row until the owner asks for columns
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
    FWallPaper->OnChange = [this](TObject*) { Invalidate(); };
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
        // An empty bitmap is an image that could not be had, as a missing one is.
        if (!Supplied || Supplied->Width() < 1 || Supplied->Height() < 1)
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

TIEMCaption* TImagingMView::ImageCaption(int32_t Index, TIEMCaptionKind Kind)
{
    return Index >= 0 && Index < ImageCount() ? &FImages[size_t(Index)].Captions[Kind] : nullptr;
}

void TImagingMView::SetImageTopText(int32_t Index, const std::string& Text)
{
    if (TIEMCaption* C = ImageCaption(Index, iecTop))
        C->Text = Text;
    Invalidate();
}

void TImagingMView::SetImageBottomText(int32_t Index, const std::string& Text)
{
    if (TIEMCaption* C = ImageCaption(Index, iecBottom))
        C->Text = Text;
    Invalidate();
}

void TImagingMView::SetImageInfoText(int32_t Index, const std::string& Text)
{
    if (TIEMCaption* C = ImageCaption(Index, iecInfo))
        C->Text = Text;
    Invalidate();
}

void TImagingMView::SetWallPaperStyle(TIEWallPaperStyle Value)
{
    FWallPaperStyle = Value;
    Invalidate();
}

int32_t TImagingMView::ImageCacheSize() const { return FCache->ViewLimit; }

void TImagingMView::SetImageCacheSize(int32_t Value) { FCache->ViewLimit = std::max(1, Value); }

// ---- Layout and scrolling ---------------------------------------------------------

int32_t TImagingMView::ClientWidth() const
{
    return std::max(0, Width() - 2 * FrameWidth() - (FVertBar->isVisible() ? BarThickness : 0));
}

int32_t TImagingMView::ClientHeight() const
{
    return std::max(0, Height() - 2 * FrameWidth() - (FHorzBar->isVisible() ? BarThickness : 0));
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
        int32_t Client, Extent, Offset, Cell;
        const TIEScrollBarParams* Params;
    } const Axes[] = {
        {FHorzBar, WantH, ClientWidth(), FExtent.cx, FScroll.X, FGeometry.CellWidth(), FHScrollBarParams.get()},
        {FVertBar, WantV, ClientHeight(), FExtent.cy, FScroll.Y, FGeometry.CellHeight(), FVScrollBarParams.get()}};
    for (const TAxis& A : Axes) {
        const int32_t MaxOffset = std::max(0, A.Extent - A.Client);
        // A client of no size has nothing to show a page of.
        if (!A.Wanted || A.Client < 1 || (MaxOffset == 0 && !KeepScrollBarsVisible)) {
            A.Bar->hide();
            continue;
        }
        if (MaxOffset == 0) {
            A.Bar->setEnabled(false);
            A.Bar->show();
            continue;
        }
        const double Scale = (double(A.Client) + MaxOffset - 1) / 65536.0;
        A.Bar->setRange(0, BarRange);
        IESetScrollBar(this, A.Bar == FHorzBar ? iesbkHorizontal : iesbkVertical, std::max(1, int(A.Client / Scale)),
                       iesrKeep);
        A.Bar->setValue(int(A.Offset / Scale));
        const int32_t Line = A.Params->LineStep >= 1 ? A.Params->LineStep : A.Cell;
        A.Bar->setSingleStep(std::max(1, int(Line / Scale)));
        A.Bar->setTracking(A.Params->Tracking);
        A.Bar->setEnabled(true);
        A.Bar->show();
    }
    const int32_t F = FrameWidth();
    FHorzBar->setGeometry(F, Height() - F - BarThickness, ClientWidth(), BarThickness);
    FVertBar->setGeometry(Width() - F - BarThickness, F, BarThickness, ClientHeight());
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
    TIEViewControl::Resize();
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

// The mouse arrives in the control's coordinates; the grid, and the events' handlers,
// work in the client area's, inside the frame.
void TImagingMView::MouseDown(TMouseButton Button, TShiftState Shift, int32_t X, int32_t Y)
{
    X -= FrameWidth();
    Y -= FrameWidth();
    if (focusPolicy() != Qt::NoFocus)
        setFocus();
    FPressPoint = {X, Y};
    FPressScroll = FScroll;
    FPressImage = ImageAtPos(X, Y);
    FPressed = true;
    TIEViewControl::MouseDown(Button, Shift, X, Y);
}

void TImagingMView::MouseMove(TShiftState Shift, int32_t X, int32_t Y)
{
    X -= FrameWidth();
    Y -= FrameWidth();
    if (FPressed) {
        if ((MouseInteract & mmiSelect) && EnableMultiSelect) {
            const int32_t I = ImageAtPos(X, Y);
            if (I >= 0 && I != FSelection.Selected)
                SelectAt(I, Shift | ssShift);
        }
        if (MouseInteract & mmiScroll)
            SetViewXY(FPressScroll.X - (X - FPressPoint.X), FPressScroll.Y - (Y - FPressPoint.Y));
    }
    TIEViewControl::MouseMove(Shift, X, Y);
}

void TImagingMView::MouseUp(TMouseButton Button, TShiftState Shift, int32_t X, int32_t Y)
{
    X -= FrameWidth();
    Y -= FrameWidth();
    if (FPressed && Button == mbLeft && !FPlaying) {
        if (MouseInteract & mmiSelect)
            SelectAt(ImageAtPos(X, Y), Shift);
        if (MouseInteract & mmiScroll)
            SetViewXY(FPressScroll.X - (X - FPressPoint.X), FPressScroll.Y - (Y - FPressPoint.Y));
    }
    FPressed = false;
    TIEViewControl::MouseUp(Button, Shift, X, Y);
}

bool TImagingMView::DoMouseWheelDefault(TShiftState Shift, int32_t WheelDelta, TPoint MousePos)
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

namespace {

// The rectangle's edges, one pixel wide and inside it.
void FrameQRect(QPainter& P, const QRect& R, TColor Color)
{
    const QColor C = ToQColor(Color);
    P.fillRect(QRect(R.left(), R.top(), R.width(), 1), C);
    P.fillRect(QRect(R.left(), R.bottom(), R.width(), 1), C);
    P.fillRect(QRect(R.left(), R.top(), 1, R.height()), C);
    P.fillRect(QRect(R.right(), R.top(), 1, R.height()), C);
}

// Left and top edges in TopLeft, right and bottom in BottomRight.
void Outline(QPainter& P, const QRect& R, TColor TopLeft, TColor BottomRight)
{
    P.fillRect(QRect(R.left(), R.top(), R.width(), 1), ToQColor(TopLeft));
    P.fillRect(QRect(R.left(), R.top(), 1, R.height()), ToQColor(TopLeft));
    P.fillRect(QRect(R.right(), R.top() + 1, 1, R.height() - 1), ToQColor(BottomRight));
    P.fillRect(QRect(R.left() + 1, R.bottom(), R.width() - 1, 1), ToQColor(BottomRight));
}

int32_t CaptionHeight(const TIEMCaption& Caption)
{
    return Caption.Text.empty() ? 0 : QFontMetrics(ToQFont(*Caption.Font)).height();
}

QRect ToQRect(const TRect& R) { return QRect(R.Left, R.Top, R.Right - R.Left, R.Bottom - R.Top); }

} // namespace

TRect TImagingMView::ImagePictureRect(int32_t Index)
{
    if (!HasPicture(Index))
        return Rect(0, 0, 0, 0);
    const TImageRec& Rec = FImages[size_t(Index)];
    const int32_t TW = FGeometry.ThumbWidth(), TH = FGeometry.ThumbHeight();
    const TPoint Cell = FGeometry.CellPosition(Index, ClientWidth());
    const int32_t X = Cell.X - FScroll.X, Y = Cell.Y - FScroll.Y;
    // The room for the picture: the thumbnail less the gaps and the bottom caption.
    const int32_t Room = std::max(1, TH - UpperGap - BottomGap - CaptionHeight(Rec.Captions[iecBottom]));
    const TSize Fit = FitThumbnail(FCache->ImageWidth(Rec.Cached), FCache->ImageHeight(Rec.Cached), TW, Room);
    return Bounds(X + (TW - Fit.cx) / 2, Y + UpperGap + (Room - Fit.cy) / 2, Fit.cx, Fit.cy);
}

void TImagingMView::PaintImage(int32_t Index, QPainter& P, QRegion& Free)
{
    const int32_t TW = FGeometry.ThumbWidth(), TH = FGeometry.ThumbHeight();
    const TPoint Cell = FGeometry.CellPosition(Index, ClientWidth());
    const QRect Thumb(Cell.X - FScroll.X, Cell.Y - FScroll.Y, TW, TH);
    const int32_t X = Thumb.x(), Y = Thumb.y();
    TImageRec& Rec = FImages[size_t(Index)];
    const bool Selected = VisibleSelection && !FGeometry.SingleImage &&
                          (Index == FSelection.Selected || (EnableMultiSelect && FSelection.IsSelected(Index)));
    const bool Highlighted = Selected && SelectionStyle == iessACD;
    P.setClipRegion(Free);
    P.setRenderHint(QPainter::SmoothPixmapTransform, false);
    const TRect Picture = ImagePictureRect(Index);
    const QRect Pic = ToQRect(Picture);
    if (Pic.isEmpty()) {
        P.fillRect(Thumb, ToQColor(Highlighted ? clHighlight : ThumbnailsBackground));
    } else {
        // A copy, not a check-out: painting never writes the picture back.
        TBitmap Cached;
        FCache->CopyToTBitmap(Rec.Cached, &Cached);
        if (Cached.PixelFormat() == pf1bit && (Pic.width() < Cached.Width() || Pic.height() < Cached.Height())) {
            TBitmap Shrunk;
            Shrunk.SetPixelFormat(pf24bit);
            Shrunk.SetSize(Pic.width(), Pic.height());
            IEShrink1Bit(Cached, 0, 0, Cached.Width() - 1, Cached.Height() - 1, Shrunk);
            P.drawImage(Pic, BitmapToQImage(Shrunk));
        } else {
            P.drawImage(Pic, BitmapToQImage(Cached));
        }
        // The four margins around the picture.
        const QColor Margin = ToQColor(Highlighted           ? clHighlight
                                       : DrawImageBackground ? Rec.Background
                                                             : ThumbnailsBackground);
        P.fillRect(QRect(X, Y, TW, Pic.top() - Y), Margin);
        P.fillRect(QRect(X, Pic.bottom() + 1, TW, Y + TH - Pic.bottom() - 1), Margin);
        P.fillRect(QRect(X, Pic.top(), Pic.left() - X, Pic.height()), Margin);
        P.fillRect(QRect(Pic.right() + 1, Pic.top(), X + TW - Pic.right() - 1, Pic.height()), Margin);
    }
    // The captions stay inside the thumbnail.
    P.setClipRegion(Free.intersected(Thumb));
    auto DrawCaption = [&](const TIEMCaption& C, const QRect& Strip) {
        const QFont Font = ToQFont(*C.Font);
        const QFontMetrics Metrics(Font);
        const int32_t Width = Metrics.horizontalAdvance(QString::fromStdString(C.Text));
        const QRect Text(Strip.x() + (Strip.width() - Width) / 2, Strip.y(), Width, Metrics.height());
        P.fillRect(Strip.height() > Metrics.height() ? Strip : Text,
                   ToQColor(Highlighted ? clHighlight : C.Background));
        P.setFont(Font);
        P.setPen(ToQColor(Highlighted ? clHighlightText : C.Font->Color()));
        P.drawText(Text.x(), Text.y() + Metrics.ascent(), QString::fromStdString(C.Text));
    };
    const TIEMCaption& Top = Rec.Captions[iecTop];
    const TIEMCaption& Bottom = Rec.Captions[iecBottom];
    const TIEMCaption& Info = Rec.Captions[iecInfo];
    const int32_t BottomH = CaptionHeight(Bottom);
    if (!Top.Text.empty())
        DrawCaption(Top, QRect(X, Y, TW, CaptionHeight(Top)));
    if (!Bottom.Text.empty())
        DrawCaption(Bottom, QRect(X, Y + TH - BottomGap - BottomH, TW, BottomH));
    // The info strip: its text's height and 3 pixels, at the bottom of the cell.
    const QRect InfoStrip(X, Y + TH - CaptionHeight(Info) - 3, TW, CaptionHeight(Info) + 3);
    if (!Info.Text.empty())
        DrawCaption(Info, InfoStrip.adjusted(0, 1, 0, 0));
    if (Style == iems3D) {
        if (!Pic.isEmpty())
            Outline(P, Pic.adjusted(-1, -1, 1, 1), clWhite, TColor(0x808080));
        if (UpperGap > 0 || BottomGap > 0 || BottomH > 0)
            Outline(P, Thumb, clBlack, clWhite);
        if (!Info.Text.empty())
            Outline(P, InfoStrip, clWhite, TColor(0x808080));
    }
    P.setClipRegion(Free);
    if (OnImageDraw) {
        TPainterCanvas Canvas(P, ClientWidth(), ClientHeight());
        OnImageDraw(Self(), Index, &Canvas, X, Y);
    }
    // Selection rings, then border rings further out; all of it is kept from later
    // drawing.
    int32_t Ring = 0;
    if (Selected && SelectionStyle == iessAround)
        for (const int32_t Last = hasFocus() ? SelectionWidth : 1; Ring < Last; ++Ring)
            FrameQRect(P, Thumb.adjusted(-Ring - 1, -Ring - 1, Ring + 1, Ring + 1), SelectionColor);
    for (const int32_t Last = Ring + ThumbnailsBorderWidth; Ring < Last; ++Ring)
        FrameQRect(P, Thumb.adjusted(-Ring - 1, -Ring - 1, Ring + 1, Ring + 1), ThumbnailsBorderColor);
    Free -= QRegion(Thumb.adjusted(-Ring, -Ring, Ring, Ring));
}

void TImagingMView::PaintWallPaper(QPainter& P)
{
    TGraphic* Graphic = FWallPaper->Graphic();
    const int32_t W = FWallPaper->Width(), H = FWallPaper->Height();
    if (!Graphic || Graphic->Empty() || W < 1 || H < 1)
        return;
    TPainterCanvas Canvas(P, ClientWidth(), ClientHeight());
    switch (FWallPaperStyle) {
    case iewoNormal: Graphic->Draw(Canvas, Bounds(0, 0, W, H)); break;
    case iewoStretch: Graphic->Draw(Canvas, Rect(0, 0, ClientWidth(), ClientHeight())); break;
    case iewoTile:
        for (int32_t Y = 0; Y < ClientHeight(); Y += H)
            for (int32_t X = 0; X < ClientWidth(); X += W)
                Graphic->Draw(Canvas, Bounds(X, Y, W, H));
        break;
    }
}

// False when the image could not be had and was removed: the list has changed.
bool TImagingMView::PaintOne(int32_t Index, QPainter& P, QRegion& Free)
{
    const int32_t Count = ImageCount();
    if (OnDrawProgress && Count >= 2)
        OnDrawProgress(Self(), int32_t(int64_t(Index) * 100 / Count), Index);
    const TPoint Cell = FGeometry.CellPosition(Index, ClientWidth());
    const QRect Thumb(Cell.X - FScroll.X, Cell.Y - FScroll.Y, FGeometry.ThumbWidth(), FGeometry.ThumbHeight());
    if (!Thumb.intersects(QRect(0, 0, ClientWidth(), ClientHeight())))
        return true;
    if (!EnsureLoaded(Index) && RemoveCorrupted) {
        DeleteImage(Index);
        return false;
    }
    PaintImage(Index, P, Free);
    return true;
}

void TImagingMView::PaintContent(QPainter& P, int32_t Frame)
{
    const QRect Client(0, 0, ClientWidth(), ClientHeight());
    QRegion Free(Client);
    if (Frame >= 0 || FGeometry.SingleImage) {
        // One image; an empty list has no frame to show.
        const int32_t Shown = Frame >= 0 ? Frame : FPlaying ? FShownFrame : std::max(0, FSelection.Selected);
        if (ImageCount() > 0 && Shown >= 0)
            PaintOne(std::min(Shown, ImageCount() - 1), P, Free);
    } else {
        for (int32_t I = 0; I < ImageCount(); ++I)
            if (!PaintOne(I, P, Free)) { // the list changed: start again
                Free = QRegion(Client);
                I = -1;
            }
    }
    P.setClipRegion(Free);
    P.fillRect(Client, ToQColor(FBackground));
    PaintWallPaper(P);
}

void TImagingMView::Paint()
{
    QPainter P(&CanvasImage());
    P.fillRect(rect(), ToQColor(clBtnFace)); // the corner between the bars
    PaintFrame(P);
    P.translate(FrameWidth(), FrameWidth());
    P.setClipRect(0, 0, ClientWidth(), ClientHeight());
    if (FTransition->Running()) {
        P.drawImage(0, 0, BitmapToQImage(*FTransitionFrame));
        return;
    }
    PaintContent(P, -1);
}

void TImagingMView::RenderFrame(int32_t Index, TBitmap& Into)
{
    QImage Shot(std::max(1, Into.Width()), std::max(1, Into.Height()), QImage::Format_ARGB32);
    {
        QPainter P(&Shot);
        P.setClipRect(Shot.rect());
        PaintContent(P, Index);
    }
    for (int32_t Y = 0; Y < Into.Height(); ++Y) {
        const auto* In = reinterpret_cast<const QRgb*>(Shot.constScanLine(Y));
        uint8_t* Out = Into.ScanLine(Y);
        for (int32_t X = 0; X < Into.Width(); ++X, Out += 3) {
            Out[0] = uint8_t(qBlue(In[X]));
            Out[1] = uint8_t(qGreen(In[X]));
            Out[2] = uint8_t(qRed(In[X]));
        }
    }
}

void TImagingMView::StartTransition(int32_t From, int32_t To)
{
    if (TransitionEffect == iettNone || From < 0 || To < 0 || From == To || ClientWidth() < 1 || ClientHeight() < 1)
        return;
    if (FTransition->Running())
        FTransition->Stop();
    FTransition->Prepare(ClientWidth(), ClientHeight());
    RenderFrame(From, *FTransition->Source());
    RenderFrame(To, *FTransition->Target());
    FTransitionFrame->Assign(FTransition->Source());
    FTransition->SetTransition(TransitionEffect);
    FTransition->SetDuration(TransitionDuration);
    FTransition->Start();
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
        FShownFrame = -1;
        PlayStep();
    } else {
        StopPlayTimer();
        FTransition->Stop();
        FPlaying = false;
        FShownFrame = -1;
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
        const int32_t Previous = FShownFrame;
        FShownFrame = FFrame;
        // The change from the picture shown to the next one is animated; the paint
        // shows the transition's frames while it runs.
        StartTransition(Previous, FFrame);
        const int32_t CountBefore = ImageCount();
        repaint();
        // The paint removes a frame that failed to load (RemoveCorrupted): the next
        // frame then sits at the same index, and the list may now be empty.
        const bool Removed = ImageCount() < CountBefore;
        if (ImageCount() == 0) {
            FInPlayStep = false;
            SetPlaying(false);
            return;
        }
        const int32_t Delay = Removed ? 0 : FImages[size_t(FFrame)].Delay;
        if (!Removed)
            ++FFrame;
        if (FFrame >= ImageCount()) {
            FFrame = 0;
            NotifyChanged();
            if (!PlayLoop) {
                FInPlayStep = false;
                SetPlaying(false);
                return;
            }
        }
        // A frame's delay starts when its transition has ended, so that a short delay
        // does not cut every transition off at its start.
        const int64_t Wait = std::max(Delay, 10) + (FTransition->Running() ? std::max(0, TransitionDuration) : 0);
        RestartPlayTimer(int32_t(std::min<int64_t>(Wait, INT32_MAX)));
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

TImagingMIO::TImagingMIO()
    : FPreviewFont(std::make_unique<TFont>()), FTWainParams(std::make_unique<TIETWainParams>(this, true))
{
}

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
