#include "widgets/ThumbNail.h"

#include "formats/GIFImage.h"
#include "formats/Pcx_unit.h"
#include "formats/Targa.h"
#include "platform/Forms.h"
#include "platform/Icon.h"
#include "platform/Jpeg.h"
#include "widgets/Thumbview.h"

#include <QDate>
#include <QLocale>
#include <QTime>

#include <ctime>
#include <fcntl.h>
#include <sys/stat.h>

#include <algorithm>
#include <cmath>
#include <cstring>

namespace kv {

// ---- misc --------------------------------------------------------------------------

int32_t RoundAwayFromZero(double X)
{
    const double T = std::trunc(X);
    if (T == X)
        return int32_t(T);
    return int32_t(X > 0 ? T + 1 : T - 1);
}

TSize FitSize(TSize Size, TSize Box)
{
    const float A = Size.cx == 0 ? 0.0f : float(double(Box.cx) / Size.cx * 100.0);
    const float B = Size.cy == 0 ? 0.0f : float(double(Box.cy) / Size.cy * 100.0);
    const float P = std::min(A, B);
    return TSize{int32_t(std::trunc(double(Size.cx) / 100.0 * P)), int32_t(std::trunc(double(Size.cy) / 100.0 * P))};
}

std::string DateTimeToStr(int Year, int Month, int Day, int Hour, int Minute, int Second)
{
    const QLocale L = QLocale::system();
    const QString D = L.toString(QDate(Year, Month, Day), QLocale::ShortFormat);
    const QString T = QTime(Hour, Minute, Second).toString(QStringLiteral("hh:mm:ss"));
    return (D + QLatin1Char(' ') + T).toStdString();
}

namespace {

// A file time through local time and the two-second DOS date-time, as the platform's
// FileTimeToLocalFileTime / FileTimeToDosDateTime / FileDateToDateTime road gives it.
std::string FileTimeText(const struct statx_timestamp& Stamp)
{
    const time_t T = time_t(Stamp.tv_sec);
    struct tm Local {};
    if (!localtime_r(&T, &Local))
        return "Unknown";
    const int Year = Local.tm_year + 1900;
    if (Year < 1980 || Year > 2107)
        return "Unknown";
    return DateTimeToStr(Year, Local.tm_mon + 1, Local.tm_mday, Local.tm_hour, Local.tm_min, Local.tm_sec / 2 * 2);
}

// Reads or writes pixel X of a row of a bitmap with Bpp bits per pixel (raw value:
// a palette index, or the packed colour bytes).
uint32_t GetRaw(const uint8_t* Row, int32_t X, int Bpp)
{
    switch (Bpp) {
    case 1: return (Row[X >> 3] >> (7 - (X & 7))) & 1u;
    case 4: return (Row[X >> 1] >> ((X & 1) ? 0 : 4)) & 0x0Fu;
    default: {
        uint32_t V = 0;
        std::memcpy(&V, Row + size_t(X) * size_t(Bpp / 8), size_t(Bpp / 8));
        return V;
    }
    }
}

void SetRaw(uint8_t* Row, int32_t X, int Bpp, uint32_t V)
{
    switch (Bpp) {
    case 1: {
        const uint8_t Bit = uint8_t(0x80u >> (X & 7));
        Row[X >> 3] = uint8_t(V ? Row[X >> 3] | Bit : Row[X >> 3] & ~Bit);
        break;
    }
    case 4: {
        const int Shift = (X & 1) ? 0 : 4;
        Row[X >> 1] = uint8_t((Row[X >> 1] & ~(0x0F << Shift)) | ((V & 0x0F) << Shift));
        break;
    }
    default: std::memcpy(Row + size_t(X) * size_t(Bpp / 8), &V, size_t(Bpp / 8));
    }
}

} // namespace

// ---- Title strip and picture ---------------------------------------------------------

static Tthumbnail* ThumbParent(QWidget* W) { return dynamic_cast<Tthumbnail*>(W->parentWidget()); }

template <class TBase> void TThumbPart<TBase>::Click()
{
    if (auto* P = ThumbParent(this))
        P->Click();
    else
        TBase::Click();
}

template <class TBase> void TThumbPart<TBase>::DblClick()
{
    if (auto* P = ThumbParent(this))
        P->DblClick();
    else
        TBase::DblClick();
}

template <class TBase> void TThumbPart<TBase>::MouseDown(TMouseButton Button, TShiftState Shift, int32_t X, int32_t Y)
{
    if (auto* P = ThumbParent(this))
        P->ForwardMouseDown(Button, Shift, X + this->Left(), Y + this->Top());
    else
        TBase::MouseDown(Button, Shift, X, Y);
}

template <class TBase> void TThumbPart<TBase>::MouseMove(TShiftState Shift, int32_t X, int32_t Y)
{
    if (auto* P = ThumbParent(this))
        P->ForwardMouseMove(Shift, X + this->Left(), Y + this->Top());
    else
        TBase::MouseMove(Shift, X, Y);
}

template <class TBase> void TThumbPart<TBase>::MouseUp(TMouseButton Button, TShiftState Shift, int32_t X, int32_t Y)
{
    if (auto* P = ThumbParent(this))
        P->ForwardMouseUp(Button, Shift, X + this->Left(), Y + this->Top());
    else
        TBase::MouseUp(Button, Shift, X, Y);
}

template class TThumbPart<TPanel>;
template class TThumbPart<TImage>;

// ---- Picture control -----------------------------------------------------------------

tThumbimage::tThumbimage(QWidget* AOwner) : TThumbPart(AOwner) {}

void tThumbimage::LoadFile(const std::string& FileName)
{
    const std::string Ext = UpperCase(ExtractFileExt(FileName));
    if (Ext == ".PCX" || Ext == ".TGA") {
        auto Bitmap = std::make_unique<TBitmap>();
        TBitmap* B = Bitmap.get();
        Picture()->TakeGraphic(std::move(Bitmap));
        // The loaders report a bad file only through their message; it is a failed load.
        const bool Ok = Ext == ".PCX" ? LoadPCXFile(FileName, B) : LoadTGAFile(FileName, B);
        const std::string& Error = Ext == ".PCX" ? PCXErrorText : TGAErrorText;
        Invalidate();
        if (!Ok || !Error.empty())
            throw EInvalidGraphic(Error.empty() ? "Cannot read " + FileName : Error);
    } else {
        LoadPicture(FileName);
    }
    FAngle = AT0;
}

void tThumbimage::Shrink(int32_t MaxW, int32_t MaxH)
{
    TGraphic* G = Picture()->Graphic();
    if (!G)
        return;
    const TSize Fit = FitSize(TSize{G->Width(), G->Height()}, TSize{MaxW, MaxH});
    if (G->Width() < Fit.cx && G->Height() < Fit.cy)
        return;
    if (Fit.cx <= 0 || Fit.cy <= 0)
        return; // nothing to shrink into: keep the picture rather than an empty one
    TakeStretched(*G, Fit);
}

void tThumbimage::TakeStretched(TGraphic& Source, TSize Fit)
{
    auto Small = std::make_unique<TBitmap>();
    Small->SetPixelFormat(pf24bit);
    Small->SetSize(Fit.cx, Fit.cy);
    Small->Canvas()->StretchDraw(Rect(0, 0, Fit.cx, Fit.cy), &Source);
    Picture()->TakeGraphic(std::move(Small));
    FModified = true;
}

namespace {

bool IsRegistryJpeg(const std::string& FileName)
{
    const std::string Ext = UpperCase(ExtractFileExt(FileName));
    if (Ext == ".PCX" || Ext == ".TGA")
        return false;
    const TGraphicClass* Class = TPicture::FindGraphicClass(ExtractFileExt(FileName));
    return Class && Class->Name == "TJPEGImage";
}

// The whole file, as TJPEGImage reads it (an empty file is no JPEG).
std::vector<uint8_t> ReadJpegBytes(const std::string& FileName)
{
    TFileStream Stream(FileName, fmOpenRead | fmShareDenyWrite);
    const int64_t N = Stream.Size() - Stream.Position();
    if (N <= 0)
        throw EJPEG("JPEG error #53: Not a JPEG file");
    std::vector<uint8_t> Data(static_cast<size_t>(N));
    Stream.ReadBuffer(Data.data(), N);
    return Data;
}

} // namespace

bool tThumbimage::LoadShrunkJpeg(const std::string& FileName, int32_t MaxW, int32_t MaxH, TSize& Full)
{
    if (!IsRegistryJpeg(FileName))
        return false;
    const std::vector<uint8_t> Data = ReadJpegBytes(FileName);
    TSize Size{0, 0};
    ReadJpegSize(Data.data(), Data.size(), Size.cx, Size.cy);
    const TSize Fit = FitSize(Size, TSize{MaxW, MaxH});
    if ((Size.cx < Fit.cx && Size.cy < Fit.cy) || Fit.cx <= 0 || Fit.cy <= 0)
        return false;
    // DCT scaling costs a fraction of a whole decode and keeps every detail the
    // stretch down to the fit would keep.
    TBitmap Scaled;
    DecodeJpegScaled(Data.data(), Data.size(), Scaled,
                     TJpegDecodeOptions{false, false, JpegScaleFor(Size.cx, Size.cy, Fit.cx, Fit.cy)});
    TakeStretched(Scaled, Fit);
    FAngle = AT0;
    Full = Size;
    return true;
}

bool tThumbimage::CanModify() const
{
    TGraphic* G = const_cast<tThumbimage*>(this)->Picture()->Graphic();
    if (!G || G->Empty())
        return false;
    return !dynamic_cast<TIcon*>(G) && G->ClassName() != "TMetafile";
}

void tThumbimage::SetAngle(Tangle Value)
{
    if (!Picture()->Graphic() || !CanModify() || Value == FAngle)
        return;
    // A mathematical modulo: from AT90 back to AT0 is one counter-clockwise turn.
    const int Quarters = ((int(Value) - int(FAngle)) % 4 + 4) % 4;
    const bool Done = Turn(Quarters);
    if (Quarters != 2)
        if (auto* P = ThumbParent(this))
            P->FitImage();
    if (!Done)
        return; // broken off: the picture and its angle stay as they were
    FAngle = Value;
    FModified = Value != AT0;
}

bool tThumbimage::Turn(int Quarters)
{
    TBitmap Work;
    Work.Assign(Picture()->Graphic());
    const int32_t R = Work.Width(), B = Work.Height();
    const int Bpp = Work.BitsPerPixel();
    auto Target = std::make_unique<TBitmap>();
    Target->SetPixelFormat(Work.PixelFormat());
    if (Bpp <= 8)
        Target->SetPaletteEntries(Work.PaletteEntries());
    if (Quarters == 2)
        Target->SetSize(R, B);
    else
        Target->SetSize(B, R);
    const bool Busy = !OnRotate;
    if (Busy)
        Screen()->SetCursor(crHourGlass);
    const double Area = double(R) * double(B);
    for (int32_t X = 0; X < R; ++X) {
        for (int32_t Y = 0; Y < B; ++Y) {
            const uint32_t V = GetRaw(Work.ScanLine(Y), X, Bpp);
            int32_t TX, TY;
            switch (Quarters) {
            case 1:
                TX = B - Y - 1;
                TY = X;
                break;
            case 2:
                TX = R - X - 1;
                TY = B - Y - 1;
                break;
            default:
                TX = Y;
                TY = R - X - 1;
                break;
            }
            SetRaw(Target->ScanLine(TY), TX, Bpp, V);
            if (OnRotate) {
                FBreak = false;
                OnRotate(this, uint8_t(std::trunc(double(X) * double(Y) / Area * 100.0)), FBreak);
                if (FBreak) {
                    FBreak = false;
                    return false;
                }
            }
        }
    }
    if (Busy)
        Screen()->SetCursor(crArrow);
    Picture()->TakeGraphic(std::move(Target));
    Invalidate();
    return true;
}

// ---- Thumbnail -----------------------------------------------------------------------

Tthumbnail::Tthumbnail(QWidget* AOwner) : TPanel(AOwner), FTitleFont(std::make_unique<TFont>())
{
    FOwnerView = dynamic_cast<TTHumbview*>(AOwner);
    hide(); // shown once the view parents it
    FImage = new tThumbimage(this);
    FImage->SetAutoSize(false);
    FImage->SetStretch(true);
    FImage->OnProgress = [this](TObject*, TProgressStage Stage, uint8_t, bool, const TRect&, const std::string&) {
        FImageReady = Stage == psEnding;
    };
    FTitleStrip = new TThumbTitle(this);
    FTitleStrip->SetHeight(15);
    FTitleStrip->SetAlign(alTop);
    FTitleStrip->SetAlignment(taCenter);
    FTitleStrip->SetColor(clBtnFace);
    FTitleStrip->SetBevelOuter(bvLowered);
    FTitleStrip->SetVisible(FTitlePlacement != T_None);
    FTitleFont->OnChange = [this](TObject*) { FTitleStrip->Font()->Assign(FTitleFont.get()); };
    if (FOwnerView)
        SetBounds(10, 10, FOwnerView->MaxWidth(), FOwnerView->MaxHeight());
    else
        SetBounds(10, 10, 120, 120);
    SetBevelOuter(bvRaised);
}

Tthumbnail::~Tthumbnail()
{
    FDestroying = true;
    FImage->OnProgress = nullptr;
    FTitleFont->OnChange = nullptr;
}

void Tthumbnail::SetTitle(const std::string& Value)
{
    if (Value == FTitle)
        return;
    FTitle = Value;
    FTitleStrip->SetCaption(Value);
}

void Tthumbnail::SetTitleColor(TColor Value)
{
    FTitleColor = Value;
    FTitleStrip->SetColor(Value);
}

void Tthumbnail::SetShowTitle(bool Value)
{
    if (Value == FShowTitle)
        return;
    FShowTitle = Value;
    FTitleStrip->SetVisible(Value);
}

void Tthumbnail::SetTitlePlacement(TTitlePos Value)
{
    switch (Value) {
    case T_Up: FTitleStrip->SetAlign(alTop); break;
    case T_Down: FTitleStrip->SetAlign(alBottom); break;
    case T_None: FTitleStrip->SetVisible(false); break;
    }
    FTitlePlacement = Value;
    FitImage();
}

TSize Tthumbnail::ShrinkBox() const
{
    return FOwnerView ? TSize{FOwnerView->MaxWidth(), FOwnerView->MaxHeight()} : TSize{Width(), Height()};
}

void Tthumbnail::ShrinkToBox()
{
    const TSize Box = ShrinkBox();
    FImage->Shrink(Box.cx, Box.cy);
}

void Tthumbnail::SetFilename(const std::string& Value)
{
    const std::string Previous = FFilename;
    std::string NewName;
    bool Loaded = false;
    bool Shrunk = false;
    if (Value.empty()) {
        NewName.clear();
    } else if (FAutoload) {
        try {
            NewName = Value;
            // A JPEG about to be shrunk is decoded no larger than the shrink needs.
            const TSize Box = ShrinkBox();
            TSize Full{0, 0};
            Shrunk = FMinimizeMemory && FImage->LoadShrunkJpeg(Value, Box.cx, Box.cy, Full);
            if (!Shrunk) {
                FImage->LoadFile(Value);
                if (TGraphic* Whole = FImage->Picture()->Graphic())
                    Full = TSize{Whole->Width(), Whole->Height()};
            }
            TGraphic* G = FImage->Picture()->Graphic();
            FImageWidth = Full.cx;
            FImageHeight = Full.cy;
            FTitleAsked = false;
            // No painter thread for a thumbnail: GIFs never animate here.
            if (auto* Gif = dynamic_cast<GIFImage::TGIFImage*>(G))
                Gif->SetDrawOptions(uint16_t(Gif->DrawOptions() & ~GIFImage::doAnimate));
            FFilename = Value; // the file information is the new file's
            ReadFileInfo();
            FFilename = Previous;
            FitImage();
            FImage->SetVisible(true);
            Loaded = true;
        } catch (const std::exception&) {
            NewName.clear();
            FFilename = Previous;
        }
    } else {
        NewName = Value;
    }
    // Every successful load is shrunk, the first one too: the browser loads each
    // thumbnail once, and a whole photograph per cell would exhaust memory.
    if (FMinimizeMemory && Loaded && !Shrunk) {
        ShrinkToBox();
        FitImage();
    }
    if (NewName == Value) {
        if (FTitle.empty() || FTitle == ExtractFileName(Previous))
            SetTitle(ExtractFileName(NewName));
    }
    FFilename = NewName;
}

void Tthumbnail::SetMinimizeMemory(bool Value)
{
    if (!FImage->Picture()->Graphic()) {
        FMinimizeMemory = Value;
        return;
    }
    if (Value == FMinimizeMemory)
        return;
    if (Value) {
        if (!FFilename.empty())
            ShrinkToBox();
    } else if (!FFilename.empty()) {
        // The whole picture again, through the same road as the first load; a file
        // that no longer reads keeps the picture shown.
        try {
            tThumbimage Probe;
            Probe.LoadFile(FFilename);
            FImage->Picture()->Assign(Probe.Picture());
            FImage->FAngle = AT0;
            FImage->FModified = false;
        } catch (const std::exception&) {
        }
    }
    FMinimizeMemory = Value;
    FitImage();
}

void Tthumbnail::FitImage()
{
    if (!FImage || !FTitleStrip)
        return;
    // Plain ints clamped at 0: a thumbnail smaller than its strip has no room, not a
    // wrapped-around huge box.
    FClientHeight = std::max(0, Height() - FTitleStrip->Height() - 8);
    FClientWidth = std::max(0, Width() - 2 * BorderWidth() - 8);
    TGraphic* G = FImage->Picture()->Graphic();
    const int32_t PW = G ? G->Width() : 0, PH = G ? G->Height() : 0;
    int32_t P = 100;
    if (!(PW <= FClientWidth && PH <= FClientHeight)) {
        // A zero picture side has no term of its own.
        float Scale = 100.0f;
        if (PW > 0)
            Scale = std::min(Scale, float(double(FClientWidth) / PW * 100.0));
        if (PH > 0)
            Scale = std::min(Scale, float(double(FClientHeight) / PH * 100.0));
        P = std::clamp(int32_t(std::trunc(Scale)), 0, 100);
    }
    const int32_t IW = int32_t(std::trunc(double(PW) / 100.0 * P));
    const int32_t IH = int32_t(std::trunc(double(PH) / 100.0 * P));
    const int32_t IL = int32_t(std::trunc(double(Width()) / 2.0 - double(IW) / 2.0));
    int32_t IT = Height() / 2 - IH / 2;
    if (FTitlePlacement == T_Up)
        IT += FTitleStrip->Height() / 2;
    else if (FTitlePlacement == T_Down)
        IT -= FTitleStrip->Height() / 2;
    FImage->SetBounds(IL, IT, IW, IH);
}

void Tthumbnail::ReadFileInfo()
{
    struct statx Info {};
    if (FFilename.empty() ||
        statx(AT_FDCWD, FFilename.c_str(), AT_STATX_SYNC_AS_STAT, STATX_BASIC_STATS | STATX_BTIME, &Info) != 0)
        return;
    FFileAccessed = (Info.stx_mask & STATX_ATIME) ? FileTimeText(Info.stx_atime) : "Unknown";
    FFileChanged = (Info.stx_mask & STATX_MTIME) ? FileTimeText(Info.stx_mtime) : "Unknown";
    FFileCreated = (Info.stx_mask & STATX_BTIME) ? FileTimeText(Info.stx_btime) : "Unknown";
    FFileSize = Info.stx_size;
}

void Tthumbnail::MouseDown(TMouseButton Button, TShiftState Shift, int32_t X, int32_t Y)
{
    if (FAsbutton && Button == mbLeft) {
        FPressed = true;
        SetBevelOuter(bvLowered);
        FTitleStrip->SetBevelOuter(bvRaised);
    }
    if (FOwnerView && parentWidget() == FOwnerView)
        FOwnerView->ForwardMouseDown(Button, Shift, X + Left(), Y + Top());
    else
        TPanel::MouseDown(Button, Shift, X, Y);
}

void Tthumbnail::MouseMove(TShiftState Shift, int32_t X, int32_t Y)
{
    if (FAsbutton && FPressed) {
        const bool Inside = X >= 0 && X <= Width() && Y >= 0 && Y <= Height();
        SetBevelOuter(Inside ? bvLowered : bvRaised);
        FTitleStrip->SetBevelOuter(Inside ? bvRaised : bvLowered);
    }
    TPanel::MouseMove(Shift, X, Y);
}

void Tthumbnail::MouseUp(TMouseButton Button, TShiftState Shift, int32_t X, int32_t Y)
{
    if (FAsbutton && Button == mbLeft) {
        FPressed = false;
        SetBevelOuter(bvRaised);
        FTitleStrip->SetBevelOuter(bvLowered);
    }
    TPanel::MouseUp(Button, Shift, X, Y);
}

void Tthumbnail::Resize()
{
    FitImage();
    TPanel::Resize();
}

void Tthumbnail::SettleTitle()
{
    if (FTitleAsked)
        return;
    std::string T = FTitle;
    if (OnGetTitle)
        OnGetTitle(this, FFilename, T);
    else if (T.empty())
        T = ExtractFileName(FFilename);
    SetTitle(T);
    FTitleAsked = true;
}

void Tthumbnail::paintEvent(QPaintEvent* Event)
{
    SettleTitle();
    TPanel::paintEvent(Event);
}

} // namespace kv
