#include "imaging/ImagingProcComponent.h"

#include "platform/KvExtCtrls.h"

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

TImagingProc::~TImagingProc()
{
    UnregisterView();
    ClearUndo();
}

// ---- Attachments --------------------------------------------------------------------

void TImagingProc::UnregisterView()
{
    if (FAttachedImaging && FViewCallback >= 0)
        FAttachedImaging->UnregisterChangeCallback(FViewCallback);
    FViewCallback = -1;
}

void TImagingProc::ReadViewFields()
{
    if (!FAttachedImaging)
        return;
    FBitmap = FAttachedImaging->IEBitmap();
    FMask = FAttachedImaging->SelectionMask();
}

void TImagingProc::DetachImage()
{
    FImageWatch.Reset();
    FAttachedTImage = nullptr;
}

void TImagingProc::SetBitmap(TBitmap* Value)
{
    // The view's callback is its only notice of going away: nil keeps everything.
    if (!Value && (FAttachedImaging || FAttachedTImage))
        return;
    UnregisterView();
    DetachImage();
    FAttachedImaging = nullptr;
    FMask = nullptr;
    FBitmap = Value;
}

void TImagingProc::SetAttachedImaging(TIEView* Value)
{
    UnregisterView();
    const bool hadView = FAttachedImaging != nullptr;
    FAttachedImaging = Value;
    if (!Value) {
        // The old view's bitmap may go with the view, unnoticed from now on.
        if (hadView)
            FBitmap = nullptr;
        FMask = nullptr;
        return;
    }
    DetachImage();
    ReadViewFields();
    FViewCallback = Value->RegisterChangeCallback([this](TIEViewChange Change) {
        if (Change == ievcGoingAway) {
            FAttachedImaging = nullptr;
            FBitmap = nullptr;
            FMask = nullptr;
            FViewCallback = -1;
        } else {
            ReadViewFields();
        }
    });
}

void TImagingProc::SetAttachedTImage(TImage* Value)
{
    UnregisterView();
    FAttachedImaging = nullptr;
    FMask = nullptr;
    const bool hadImage = FAttachedTImage != nullptr;
    DetachImage();
    if (!Value) {
        if (hadImage)
            FBitmap = nullptr;
        return;
    }
    FAttachedTImage = Value;
    FBitmap = Value->Picture()->Bitmap();
    FImageWatch.Watch(Value, [this] {
        FAttachedTImage = nullptr;
        FBitmap = nullptr;
    });
}

TColor TImagingProc::Background() const { return FAttachedImaging ? FAttachedImaging->Background() : FBackground; }

void TImagingProc::SetBackground(TColor Value)
{
    if (FAttachedImaging)
        FAttachedImaging->SetBackground(Value);
    else
        FBackground = Value;
}

void TImagingProc::UpdateAttached()
{
    if (FAttachedImaging) {
        FAttachedImaging->ImageChange();
        FAttachedImaging->Update();
    } else if (FBitmap) {
        FBitmap->SetModified(true);
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
    copy->CopyFromTBitmap(FBitmap);
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
    if (!FBitmap || Copy >= FUndoList.size())
        return;
    FUndoList[Copy]->CopyToTBitmap(FBitmap);
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
    if (!FMask || FMask->IsEmpty())
        return;
    if (FMask->Full()) {
        FMask->AllocateBits(NewWidth, NewHeight, 8);
        FMask->Fill(255);
        return;
    }
    TIEMask resized;
    IEResampleMask(*FMask, resized, NewWidth, NewHeight, Filter == 0 ? 9 : Filter);
    if (!resized.IsEmpty())
        FMask->Assign(&resized);
}

void TImagingProc::Resample(int32_t NewWidth, int32_t NewHeight, uint8_t Filter)
{
    if (!HasPicture() || Filter > 9)
        return;
    if (FAutoUndo)
        SaveUndoCaptioned("Resample " + std::to_string(NewWidth) + "," + std::to_string(NewHeight));
    if (NewWidth < 0 && NewHeight < 0)
        return;
    const int64_t w = FBitmap->Width(), h = FBitmap->Height();
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
        IEStretchPlain(*FBitmap, result, NewWidth, NewHeight);
    else if (FBitmap->PixelFormat() == pf1bit)
        IEResample1Bit(*FBitmap, result, NewWidth, NewHeight, Filter);
    else
        IEResampleFiltered(*FBitmap, result, NewWidth, NewHeight, Filter, &progress);
    CopyBitmap(result, *FBitmap);
    CarryMask(NewWidth, NewHeight, Filter);
    UpdateAttached();
}

void TImagingProc::Rotate(double Angle, bool Antialias)
{
    if (!HasPicture() || Angle == 0 || !std::isfinite(Angle))
        return;
    if (FAutoUndo) // the 1-bit path saves its copy too, or Undo would skip this step
        SaveUndoCaptioned("Rotate " + IEAngleText(Angle));
    IEEnsure1Or24Bit(*FBitmap);
    if (FBitmap->PixelFormat() == pf1bit) {
        IERotate1Bit(*FBitmap, Angle, Background() != 0);
    } else {
        TProgressRec progress = MakeProgress();
        IERotate24(*FBitmap, Angle, Antialias ? rqAntialias : rqPlain, ColorToTRGB(Background()), &progress);
    }
    UpdateAttached();
}

void TImagingProc::Flip(TFlipDirection Direction)
{
    if (!HasPicture() || (Direction != fdHorizontal && Direction != fdVertical))
        return;
    if (FAutoUndo)
        SaveUndoCaptioned("Flip");
    IEFlip(*FBitmap, Direction);
    UpdateAttached();
}

} // namespace kv
