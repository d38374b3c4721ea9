#include "imaging/ImagingProcComponent.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>

namespace kv {

std::string IEAngleText(double Angle)
{
    char buf[48];
    std::snprintf(buf, sizeof buf, "%.15G", Angle);
    std::string s = buf;
    const size_t e = s.find('E');
    if (e == std::string::npos)
        return s;
    // "1E+20" and "1E-05" are written "1E20" and "1E-5".
    return s.substr(0, e) + "E" + std::to_string(std::atoi(s.c_str() + e + 1));
}

TImagingProc::TImagingProc(TObject* AOwner) : FOwner(AOwner)
{
    FPreviewFont = std::make_unique<TFont>();
    FUndoCaptions = std::make_unique<TStringList>();
}

TImagingProc::~TImagingProc() { ClearUndo(); }

// ---- Attachments --------------------------------------------------------------------

void TImagingProc::UpdateAttached()
{
    if (AttachedImaging()) {
        AttachedImaging()->ImageChange();
        AttachedImaging()->Update();
    } else if (Bitmap()) {
        Bitmap()->SetModified(true);
    }
}

TProgressRec TImagingProc::MakeProgress()
{
    TProgressRec p;
    p.OnProgress = OnProgress;
    p.Sender = this;
    return p;
}

// ---- Undo ---------------------------------------------------------------------------

void TImagingProc::SetUndoLocation(uint8_t Value)
{
    if (Value <= ieLocationTBitmap) // the storage kinds a TIEBitmap has
        FUndoLocation = Value;
}

void TImagingProc::SaveUndo()
{
    if (!HasPicture())
        return;
    const size_t limit = size_t(std::max(FUndoLimit, 1));
    while (FUndoList.size() >= limit) {
        FUndoList.erase(FUndoList.begin());
        FUndoCaptions->Delete(0);
    }
    auto copy = std::make_unique<TIEBitmap>();
    copy->SetLocation(FUndoLocation);
    copy->CopyFromTBitmap(Bitmap());
    FUndoList.push_back(std::move(copy));
    FUndoCaptions->Add("");
}

void TImagingProc::SaveUndoCaptioned(const std::string& Caption)
{
    if (!HasPicture()) // no copy is made: an older copy keeps its caption
        return;
    SaveUndo();
    if (FUndoCaptions->Count() > 0)
        FUndoCaptions->SetStrings(FUndoCaptions->Count() - 1, Caption);
}

void TImagingProc::RestoreUndo(size_t Copy)
{
    if (!Bitmap() || Copy >= FUndoList.size())
        return;
    FUndoList[Copy]->CopyToTBitmap(Bitmap());
    UpdateAttached();
}

void TImagingProc::Undo()
{
    if (!FUndoList.empty())
        RestoreUndo(FUndoList.size() - 1);
}

void TImagingProc::UndoAt(int32_t Index)
{
    if (Index >= 0 && Index < UndoCount())
        RestoreUndo(size_t(UndoCount() - 1 - Index));
}

void TImagingProc::ClearUndo()
{
    for (auto& copy : FUndoList) // oldest first
        copy.reset();
    FUndoList.clear();
    FUndoCaptions->Clear();
}

// ---- Operations ---------------------------------------------------------------------

void TImagingProc::CarryMask(int32_t NewWidth, int32_t NewHeight, uint8_t Filter)
{
    if (!Mask() || Mask()->IsEmpty())
        return;
    if (Mask()->Full()) {
        Mask()->AllocateBits(NewWidth, NewHeight, 8);
        Mask()->Fill(255);
        return;
    }
    TIEMask resized;
    IEResampleMask(*Mask(), resized, NewWidth, NewHeight, Filter == 0 ? 9 : Filter);
    if (!resized.IsEmpty())
        Mask()->Assign(&resized);
}

void TImagingProc::Resample(int32_t NewWidth, int32_t NewHeight, uint8_t Filter)
{
    if (!HasPicture() || Filter > 9)
        return;
    if (FAutoUndo)
        SaveUndoCaptioned("Resample " + std::to_string(NewWidth) + "," + std::to_string(NewHeight));
    if (NewWidth < 0 && NewHeight < 0)
        return;
    const int64_t w = Bitmap()->Width(), h = Bitmap()->Height();
    if (NewWidth < 0)
        NewWidth = int32_t(std::min<int64_t>(NewHeight * w / h, INT32_MAX));
    if (NewHeight < 0)
        NewHeight = int32_t(std::min<int64_t>(h * NewWidth / w, INT32_MAX));
    // The aspect rule can give 0 (1000 x 1 to width 10); a picture keeps at least a pixel.
    NewWidth = std::max(NewWidth, 1);
    NewHeight = std::max(NewHeight, 1);
    TBitmap result;
    TProgressRec progress = MakeProgress();
    if (Filter == 0)
        IEStretchPlain(*Bitmap(), result, NewWidth, NewHeight);
    else if (Bitmap()->PixelFormat() == pf1bit)
        IEResample1Bit(*Bitmap(), result, NewWidth, NewHeight, Filter);
    else
        IEResampleFiltered(*Bitmap(), result, NewWidth, NewHeight, Filter, &progress);
    CopyBitmap(result, *Bitmap());
    CarryMask(NewWidth, NewHeight, Filter);
    UpdateAttached();
}

void TImagingProc::Rotate(double Angle, bool Antialias)
{
    if (!HasPicture() || Angle == 0 || !std::isfinite(Angle))
        return;
    if (FAutoUndo) // the 1-bit path saves its copy too, or Undo would skip this step
        SaveUndoCaptioned("Rotate " + IEAngleText(Angle));
    IEEnsure1Or24Bit(*Bitmap());
    if (Bitmap()->PixelFormat() == pf1bit) {
        IERotate1Bit(*Bitmap(), Angle, Background() != 0);
    } else {
        TProgressRec progress = MakeProgress();
        IERotate24(*Bitmap(), Angle, Antialias ? rqAntialias : rqPlain, ColorToTRGB(Background()), &progress);
    }
    UpdateAttached();
}

void TImagingProc::Flip(TFlipDirection Direction)
{
    if (!HasPicture() || (Direction != fdHorizontal && Direction != fdVertical))
        return;
    if (FAutoUndo)
        SaveUndoCaptioned("Flip");
    IEFlip(*Bitmap(), Direction);
    UpdateAttached();
}

} // namespace kv
