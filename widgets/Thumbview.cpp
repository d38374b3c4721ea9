#include "widgets/Thumbview.h"

#include "platform/Dialogs.h"
#include "platform/Forms.h"
#include "platform/KvKeys.h"

#include <QKeyEvent>
#include <QMetaObject>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <system_error>

namespace kv {

namespace {

int CompareTextAscii(const std::string& A, const std::string& B)
{
    const size_t N = std::min(A.size(), B.size());
    for (size_t I = 0; I < N; ++I) {
        unsigned char CA = uint8_t(A[I]), CB = uint8_t(B[I]);
        if (CA >= 'a' && CA <= 'z')
            CA = uint8_t(CA - 32);
        if (CB >= 'a' && CB <= 'z')
            CB = uint8_t(CB - 32);
        if (CA != CB)
            return CA < CB ? -1 : 1;
    }
    return A.size() == B.size() ? 0 : (A.size() < B.size() ? -1 : 1);
}

// The nine masks of the scan, in their order.
const char* const ScanExtensions[] = {".BMP", ".JPG", ".WMF", ".EMF", ".ICO", ".GIF", ".PCX", ".TGA", ".PNG"};

// The folder part of a file name without its trailing separator; a root keeps it.
std::string FolderOf(const std::string& FileName)
{
    std::string Dir = ExtractFilePath(FileName);
    if (Dir.size() > 1 && Dir.back() == '/')
        Dir.pop_back();
    return Dir;
}

} // namespace

bool ThumbNameLess(const std::string& A, const std::string& B)
{
    const int C = CompareTextAscii(A, B);
    if (C != 0)
        return C < 0;
    return A < B;
}

TTHumbview::TTHumbview(QWidget* AOwner) : TScrollBox(AOwner), FAlive(std::make_shared<bool>(true))
{
    SetTabStop(true);
    SetBounds(Left(), Top(), 600, 480);
    HorzScrollBar()->SetTracking(true);
    VertScrollBar()->SetTracking(true);
    SetCaption("");
    ComputeCellSize();
    ComputePerLine();
}

TTHumbview::~TTHumbview()
{
    // A scan that is pumping events when the view goes ends at its next check.
    *FAlive = false;
}

Tthumbnail* TTHumbview::Thumb(int32_t Index) const
{
    if (Index < 0 || Index >= Count())
        return nullptr;
    return FThumbs.Items[size_t(Index)].Thumb;
}

// ---- Cells and grid -----------------------------------------------------------------

void TTHumbview::ComputeCellSize()
{
    FCellWidth = std::max(0, int32_t(std::trunc(double(FMaxWidth) / 100.0 * FSize)));
    FCellHeight = std::max(0, int32_t(std::trunc(double(FMaxHeight) / 100.0 * FSize)));
}

void TTHumbview::ComputePerLine()
{
    const int32_t G = FThumbGap;
    int32_t K = 1;
    switch (FScrollMode) {
    case SMHorizontal: K = G + FCellHeight > 0 ? (Height() - 20) / (G + FCellHeight) : 1; break;
    case SMVertical: K = G + FCellWidth > 0 ? (Width() - 20) / (G + FCellWidth) : 1; break;
    case SMboth: K = RoundAwayFromZero(std::sqrt(double(Count()))); break;
    }
    FPerLine = std::max(1, K);
}

TPoint TTHumbview::GridPosition(int32_t N) const
{
    if (N <= 0)
        return TPoint{0, 0};
    const int32_t K = std::max(1, FPerLine), G = FThumbGap, CW = FCellWidth, CH = FCellHeight;
    const int32_t W = Width(), H = Height();
    TPoint P{0, 0};
    if (FScrollMode == SMHorizontal) {
        const int32_t C = RoundAwayFromZero(double(N) / K);
        const int32_t R = N - K * C + K;
        P.X = (C - 1) * CW + C * G;
        const int32_t GY = FAlignView == VTFitToScreen ? (H - 20 - (G + CH) * K) / (K + 1) : G;
        P.Y = (R - 1) * CH + R * GY;
        if (FAlignView == VTCenter)
            P.Y += (H - 20) / 2 - (K * CH) / 2;
    } else {
        const int32_t R = RoundAwayFromZero(double(N) / K);
        const int32_t C = N - K * R + K;
        P.Y = (R - 1) * CH + R * G;
        const TViewType Align = FScrollMode == SMboth ? VTNormal : FAlignView;
        const int32_t GX = Align == VTFitToScreen ? (W - 20 - K * CW) / (K + 1) : G;
        P.X = (C - 1) * CW + C * GX;
        if (Align == VTCenter)
            P.X += (W - 20) / 2 - ((G + CW) * K) / 2;
    }
    return P;
}

void TTHumbview::Arrange(int32_t FromIndex)
{
    const int32_t HX = HorzScrollBar()->Position(), VY = VertScrollBar()->Position();
    HorzScrollBar()->SetPosition(0);
    VertScrollBar()->SetPosition(0);
    if (Count() > 0 && FromIndex < Count()) {
        for (int32_t I = std::max(0, FromIndex); I < Count(); ++I) {
            const TPoint P = GridPosition(I + 1);
            Thumb(I)->SetBounds(P.X, P.Y, FCellWidth, FCellHeight);
        }
    }
    Realign();
    HorzScrollBar()->SetPosition(HX);
    VertScrollBar()->SetPosition(VY);
}

// ---- Thumbnails ---------------------------------------------------------------------

void TTHumbview::AddThumb(const std::string& Name, bool DoArrange) { AddThumbEntry(Name, Name, Count(), DoArrange); }

Tthumbnail* TTHumbview::AddThumbEntry(const std::string& Name, const std::string& FullName, int32_t ScanIndex,
                                      bool DoArrange)
{
    auto* T = new Tthumbnail(this); // owned by the view (Qt parent)
    // Children live in visible-area coordinates: place it where the grid is now seen.
    const TPoint P = GridPosition(Count() + 1);
    T->SetBounds(P.X - HorzScrollBar()->Position(), P.Y - VertScrollBar()->Position(), FCellWidth, FCellHeight);
    T->SetAsbutton(FAsButtons);
    T->SetTitlePlacement(FTitlePlacement);
    T->OnClick = TClickControl::OnClick;
    T->OnDblClick = OnDblClick;
    T->Image()->OnClick = TClickControl::OnClick;
    T->Image()->OnDblClick = OnDblClick;
    T->SetMinimizeMemory(FMinMemory);
    T->SetTitle(Name);
    TThumbEntry E{T->Title(), T, FullName, ScanIndex};
    if (FThumbs.Sorted) {
        auto At = std::upper_bound(
            FThumbs.Items.begin(), FThumbs.Items.end(), E,
            [](const TThumbEntry& A, const TThumbEntry& B) { return ThumbNameLess(A.Title, B.Title); });
        FThumbs.Items.insert(At, E);
    } else {
        FThumbs.Items.push_back(E);
    }
    T->SetParent(this);
    T->show();
    if (DoArrange) {
        ComputeCellSize();
        ComputePerLine();
        Arrange(0);
    }
    return T;
}

void TTHumbview::ClearThumbs()
{
    std::vector<TThumbEntry> Old;
    Old.swap(FThumbs.Items);
    for (TThumbEntry& E : Old) {
        if (!E.Thumb)
            continue;
        E.Thumb->setParent(nullptr);
        delete E.Thumb;
    }
}

// ---- Folder scan ----------------------------------------------------------------------

void TTHumbview::ScanDirectory(const std::string& Dir)
{
    FNames.clear();
    FSortedNames.clear();
    if (!DirectoryExists(Dir))
        return;
    const std::string Folder = Dir.empty() || Dir.back() != '/' ? Dir + "/" : Dir;
    // The folder listed once, in name order, so the scan order is fixed; the folder
    // path itself is never used as a pattern.
    std::vector<std::string> Files;
    std::error_code EC;
    for (std::filesystem::directory_iterator It(Folder, EC), End; !EC && It != End; It.increment(EC)) {
        const std::string Name = It->path().filename().string();
        if (Name.empty() || Name[0] == '.') // hidden
            continue;
        std::error_code TypeError;
        if (!std::filesystem::is_regular_file(It->path(), TypeError)) // follows links
            continue;
        Files.push_back(Name);
    }
    std::sort(Files.begin(), Files.end());
    for (const char* Mask : ScanExtensions)
        for (const std::string& Name : Files)
            if (UpperCase(ExtractFileExt(Name)) == Mask)
                FNames.push_back(Folder + Name);
    FSortedNames = FNames;
    std::stable_sort(FSortedNames.begin(), FSortedNames.end(), ThumbNameLess);
}

void TTHumbview::SetDirectory(const std::string& Path)
{
    // A nested assignment during a scan is ignored whole, the selection included.
    if (FScanning)
        return;
    FSelected = -1;
    if (!FPainted) {
        FDirectory = Path;
        return;
    }
    std::shared_ptr<bool> Alive = FAlive;
    if (Path.empty())
        ClearThumbs();
    else
        Rescan(Path);
    if (!*Alive)
        return; // the view went away while the scan pumped events
    FDirectory = Path;
    if (Count() >= 1 && FSelected < 0)
        SetSelected(0);
}

void TTHumbview::Rescan(const std::string& Path)
{
    std::shared_ptr<bool> Alive = FAlive;
    FScanning = true;
    ScanDirectory(Path);
    // Each name with its place in the scan order.
    std::vector<std::pair<std::string, int32_t>> Names;
    if (FSorted) {
        for (const std::string& N : FSortedNames)
            Names.emplace_back(N, 0);
    } else {
        for (const std::string& N : FNames)
            Names.emplace_back(N, 0);
    }
    {
        std::vector<std::pair<std::string, int32_t>> Order;
        for (int32_t I = 0; I < int32_t(FNames.size()); ++I)
            Order.emplace_back(FNames[size_t(I)], I);
        std::stable_sort(Order.begin(), Order.end(),
                         [](const auto& A, const auto& B) { return ThumbNameLess(A.first, B.first); });
        if (FSorted)
            for (size_t I = 0; I < Names.size(); ++I)
                Names[I].second = Order[I].second;
        else
            for (size_t I = 0; I < Names.size(); ++I)
                Names[I].second = int32_t(I);
    }
    ClearThumbs();
    const int32_t N = int32_t(Names.size());
    if (N > 0) {
        if (OnStartScanning)
            SafeCall([&] { OnStartScanning(this, N - 1); }, this);
        if (!*Alive)
            return;
        bool Break = false;
        // Pass 1: every thumbnail with its title and its own full name.
        for (int32_t I = 0; I < N; ++I) {
            try {
                AddThumbEntry(ExtractFileName(Names[size_t(I)].first), Names[size_t(I)].first, Names[size_t(I)].second,
                              false);
            } catch (const std::exception&) {
            }
            Application()->ProcessMessages();
            if (!*Alive)
                return;
        }
        Realign();
        // Pass 2: load each thumbnail from the name it was made for.
        std::vector<std::pair<Tthumbnail*, std::string>> Work;
        for (const TThumbEntry& E : FThumbs.Items)
            Work.emplace_back(E.Thumb, E.FullName);
        for (int32_t I = 0; !Break && I < int32_t(Work.size()); ++I) {
            try {
                if (OnScanProgress)
                    OnScanProgress(this, I + 1, Break);
                if (!*Alive)
                    return;
                Work[size_t(I)].first->SetFilename(Work[size_t(I)].second);
            } catch (const std::exception&) {
            }
            Application()->ProcessMessages();
            if (!*Alive)
                return;
        }
        if (OnStopScanning)
            SafeCall([&] { OnStopScanning(this); }, this);
        if (!*Alive)
            return;
    }
    FScanning = false;
    if (FPendingSorted) {
        const bool Value = *FPendingSorted;
        FPendingSorted.reset();
        ApplySorted(Value);
    }
}

// ---- Selection ----------------------------------------------------------------------

void TTHumbview::Highlight(int32_t Index, bool On)
{
    Tthumbnail* T = Thumb(Index);
    if (!T)
        return;
    T->SetTitleColor(On ? clHighlight : clBtnFace);
    T->TitleFont()->SetColor(On ? clHighlightText : clWindowText);
}

void TTHumbview::SetSelected(int32_t Index)
{
    if (Count() == 0)
        return;
    if (Index != -1 && (Index < 0 || Index >= Count()))
        throw EStringListError("List index out of bounds (" + std::to_string(Index) + ")");
    if (FSelected != -1)
        Highlight(FSelected, false); // an old index beyond the list has nothing to clear
    if (Index != -1) {
        Highlight(Index, true);
        if (FAutoScrolling) {
            Tthumbnail* T = Thumb(Index);
            if (!(T->Top() >= 0 && T->Top() + T->Height() <= Height()))
                ScrollIntoView(Index);
            if (!(T->Left() >= 0 && T->Left() + T->Width() <= Width()))
                ScrollIntoView(Index);
        }
    }
    FSelected = Index;
}

std::string TTHumbview::SelectedFile() const
{
    if (FSelected == -1 || !Thumb(FSelected))
        return std::string();
    return Thumb(FSelected)->Filename();
}

void TTHumbview::SetSelectedFile(const std::string& FileName)
{
    SetDirectory(FolderOf(FileName));
    if (!FPainted) {
        FPendingFile = FileName; // selected once the first scan has run
        return;
    }
    for (int32_t I = 0; I < Count(); ++I) {
        if (Thumb(I)->Filename() == FileName) {
            SetSelected(I);
            if (!FAutoScrolling)
                ScrollIntoView(I);
            break;
        }
    }
}

void TTHumbview::ScrollIntoView(int32_t Index)
{
    Tthumbnail* T = Thumb(Index);
    if (!T)
        return;
    auto Vertical = [&] {
        if (T->Top() < 0)
            VertScrollBar()->SetPosition(VertScrollBar()->Position() + T->Top() - T->Height() / 2);
        if (T->Top() + T->Height() > Height())
            VertScrollBar()->SetPosition(VertScrollBar()->Position() + T->Top() -
                                         ((Height() - T->Height()) - T->Height() / 2));
    };
    auto Horizontal = [&] {
        if (T->Left() < 0)
            HorzScrollBar()->SetPosition(HorzScrollBar()->Position() + T->Left() - T->Width() / 2);
        if (T->Left() + T->Width() > Width())
            HorzScrollBar()->SetPosition(HorzScrollBar()->Position() + T->Left() -
                                         ((Width() - T->Width()) - T->Width() / 2));
    };
    switch (FScrollMode) {
    case SMHorizontal: Horizontal(); break;
    case SMVertical: Vertical(); break;
    case SMboth:
        Vertical();
        Horizontal();
        break;
    }
}

// ---- Properties ---------------------------------------------------------------------

void TTHumbview::SetSize(TPercent Value)
{
    FSize = std::min<TPercent>(Value, 100);
    ComputeCellSize();
    ComputePerLine();
    Arrange(0);
}

void TTHumbview::SetMaxWidth(int32_t Value)
{
    FMaxWidth = Value;
    ComputeCellSize();
    ComputePerLine();
    Arrange(0);
}

void TTHumbview::SetMaxHeight(int32_t Value)
{
    if (Value > FMaxHeight)
        FMaxHeight = Value;
    ComputeCellSize();
    ComputePerLine();
    Arrange(0);
}

void TTHumbview::SetScrollMode(TScrollMode Value)
{
    if (Value == FScrollMode)
        return;
    FScrollMode = Value;
    ComputeCellSize();
    ComputePerLine();
    Arrange(0);
    if (FSelected >= 0)
        ScrollIntoView(FSelected);
}

void TTHumbview::SetAlignView(TViewType Value)
{
    if (Value == FAlignView)
        return;
    FAlignView = Value;
    Arrange(0);
}

void TTHumbview::SetThumbGap(uint8_t Value)
{
    FThumbGap = Value;
    if (FAlignView == VTFitToScreen)
        return;
    ComputePerLine();
    Arrange(0);
}

void TTHumbview::SetAsButtons(bool Value)
{
    for (const TThumbEntry& E : FThumbs.Items)
        E.Thumb->SetAsbutton(Value);
    FAsButtons = Value;
}

void TTHumbview::SetTitlePlacement(TTitlePos Value)
{
    for (const TThumbEntry& E : FThumbs.Items)
        E.Thumb->SetTitlePlacement(Value);
    FTitlePlacement = Value;
}

void TTHumbview::SetSorted(bool Value)
{
    if (!FPainted)
        return;
    if (FScanning) {
        FPendingSorted = Value; // the passes walk the list: re-order it after them
        return;
    }
    ApplySorted(Value);
}

void TTHumbview::ApplySorted(bool Value)
{
    if (Value == FSorted)
        return;
    FSorted = Value;
    FThumbs.Sorted = Value;
    Tthumbnail* Current = Thumb(FSelected);
    if (!Value && !FDirectory.empty())
        std::stable_sort(FThumbs.Items.begin(), FThumbs.Items.end(),
                         [](const TThumbEntry& A, const TThumbEntry& B) { return A.ScanIndex < B.ScanIndex; });
    else
        SortThumbs();
    // The selection follows its thumbnail to its new place.
    FSelected = -1;
    for (int32_t I = 0; Current && I < Count(); ++I)
        if (Thumb(I) == Current)
            FSelected = I;
    ComputeCellSize();
    ComputePerLine();
    Arrange(0);
}

void TTHumbview::SortThumbs()
{
    std::stable_sort(FThumbs.Items.begin(), FThumbs.Items.end(),
                     [](const TThumbEntry& A, const TThumbEntry& B) { return ThumbNameLess(A.Title, B.Title); });
}

// ---- Events -------------------------------------------------------------------------

int32_t TTHumbview::HitTest(int32_t X, int32_t Y) const
{
    for (int32_t I = 0; I < Count(); ++I) {
        const Tthumbnail* T = Thumb(I);
        if (T->Left() < X && X < T->Left() + T->Width() && T->Top() < Y && Y < T->Top() + T->Height())
            return I;
    }
    return -1;
}

void TTHumbview::MouseDown(TMouseButton Button, TShiftState Shift, int32_t X, int32_t Y)
{
    SetFocus();
    if (Count() > 0)
        SetSelected(HitTest(X, Y));
    TScrollBox::MouseDown(Button, Shift, X, Y);
}

void TTHumbview::Resize()
{
    ComputePerLine();
    Arrange(0);
    TScrollBox::Resize();
}

void TTHumbview::MoveSelection(int32_t Target)
{
    SetSelected(Target >= 0 && Target < Count() ? Target : FSelected);
    ScrollIntoView(FSelected);
}

void TTHumbview::KeyDown(uint16_t& Key, TShiftState Shift)
{
    if (OnKeyDown)
        OnKeyDown(this, Key, Shift);
    if (!FAutoHandleKeyb || Count() == 0)
        return;
    const bool H = FScrollMode == SMHorizontal;
    const int32_t K = FPerLine;
    switch (Key) {
    case VK_PRIOR: ShowMessage("Page Up"); break;
    case VK_NEXT: ShowMessage("Page Down"); break;
    case VK_END: MoveSelection(Count() - 1); break;
    case VK_HOME: MoveSelection(0); break;
    case VK_LEFT: MoveSelection(FSelected - (H ? K : 1)); break;
    case VK_UP: MoveSelection(FSelected - (H ? 1 : K)); break;
    case VK_RIGHT: MoveSelection(FSelected + (H ? K : 1)); break;
    case VK_DOWN: MoveSelection(FSelected + (H ? 1 : K)); break;
    default: break;
    }
}

void TTHumbview::KeyUp(uint16_t& Key, TShiftState Shift)
{
    if (Onkeyup)
        Onkeyup(this, Key, Shift);
}

void TTHumbview::KeyPress(char& Key)
{
    if (OnKeyPress)
        OnKeyPress(this, Key);
}

void TTHumbview::keyPressEvent(QKeyEvent* Event)
{
    // Escape belongs to the dialog the view sits in: taken here, no picker could be
    // closed from the keyboard.
    if (Event->key() == Qt::Key_Escape) {
        Event->ignore();
        return;
    }
    SafeCall(
        [&] {
            uint16_t Key = VirtualKeyFromQt(Event->key());
            KeyDown(Key, ShiftFromQtModifiers(Event->modifiers()));
            const QByteArray Text = Event->text().toUtf8();
            if (Text.size() == 1) {
                char C = Text[0];
                KeyPress(C);
            }
        },
        this);
    Event->accept();
}

void TTHumbview::keyReleaseEvent(QKeyEvent* Event)
{
    SafeCall(
        [&] {
            uint16_t Key = VirtualKeyFromQt(Event->key());
            KeyUp(Key, ShiftFromQtModifiers(Event->modifiers()));
        },
        this);
    Event->accept();
}

void TTHumbview::paintEvent(QPaintEvent* Event)
{
    TScrollBox::paintEvent(Event);
    if (FPainted)
        return;
    FPainted = true;
    // The first scan runs right after this paint, never inside it: the scan pumps events.
    QMetaObject::invokeMethod(
        this,
        [this] {
            std::shared_ptr<bool> Alive = FAlive;
            SafeCall(
                [this, &Alive] {
                    SetDirectory(FDirectory);
                    if (!*Alive)
                        return; // closed while the scan ran
                    if (FPendingFile) {
                        const std::string Name = *FPendingFile;
                        FPendingFile.reset();
                        for (int32_t I = 0; I < Count(); ++I)
                            if (Thumb(I)->Filename() == Name) {
                                SetSelected(I);
                                if (!FAutoScrolling)
                                    ScrollIntoView(I);
                                break;
                            }
                    }
                },
                this);
        },
        Qt::QueuedConnection);
}

} // namespace kv
