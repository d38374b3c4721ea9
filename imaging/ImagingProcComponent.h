// The processing component of the imaging library: resamples, rotates and flips one
// platform TBitmap (its own, an attached view's or an attached TImage's) and keeps an
// undo stack of copies of it.
#pragma once

#include "imaging/IEBitmaps.h"
#include "imaging/IEView.h"
#include "imaging/ImagingProc.h"
#include "imaging/imgdefs.h"
#include "platform/Classes.h"
#include "platform/Graphics.h"

#include <memory>
#include <string>
#include <vector>

namespace kv {

enum TPRPreviewsParamsItem : uint8_t { prppDefaultLockPreview = 1 };
using TPRPreviewsParams = uint8_t; // set of TPRPreviewsParamsItem
using TIEPreviewEvent = std::function<void(TObject* Sender, TObject* PreviewForm)>;

class TImagingProc : public TObject {
public:
    explicit TImagingProc(TObject* AOwner = nullptr);
    ~TImagingProc() override;

    // ---- Properties
    TObject* Owner() const { return FOwner; }
    TBitmap* Bitmap() const { return FAttachment.Bitmap(); }
    // A bitmap detaches any view or image; nil while one is attached changes nothing.
    void SetBitmap(TBitmap* Value) { FAttachment.SetBitmap(Value); }
    TIEView* AttachedImaging() const { return FAttachment.View(); }
    void SetAttachedImaging(TIEView* Value) { FAttachment.SetView(Value); }
    TImage* AttachedTImage() const { return FAttachment.Image(); }
    void SetAttachedTImage(TImage* Value) { FAttachment.SetImage(Value); }
    TIEMask* Mask() const { return FAttachment.Mask(); }
    bool AutoUndo() const { return FAutoUndo; }
    void SetAutoUndo(bool Value) { FAutoUndo = Value; }
    // The view's background while a view is attached.
    TColor Background() const { return FAttachment.Background(); }
    void SetBackground(TColor Value) { FAttachment.SetBackground(Value); }
    TMsgLanguage MsgLanguage() const { return FMsgLanguage; }
    void SetMsgLanguage(TMsgLanguage Value) { FMsgLanguage = Value; }
    TPRPreviewsParams PreviewsParams() const { return FPreviewsParams; }
    void SetPreviewsParams(TPRPreviewsParams Value) { FPreviewsParams = Value; }
    TFont* PreviewFont() { return FPreviewFont.get(); }
    void SetPreviewFont(TFont* Value) { FPreviewFont->Assign(Value); }
    // Where undo copies live (a TIEBitmap location; 1, a temporary file, by default).
    uint8_t UndoLocation() const { return FUndoLocation; }
    void SetUndoLocation(uint8_t Value);
    // Below 1 counts as 1.
    int32_t UndoLimit() const { return FUndoLimit; }
    void SetUndoLimit(int32_t Value) { FUndoLimit = Value; }
    int32_t UndoCount() const { return int32_t(FUndoList.size()); }
    const TStringList& UndoCaptions() const { return *FUndoCaptions; }

    TIEProgressEvent OnProgress;
    TIEPreviewEvent OnPreview;

    // ---- Undo
    virtual void SaveUndo();
    virtual void Undo();
    // Index 0 is the newest copy.
    virtual void UndoAt(int32_t Index);
    void SaveUndoCaptioned(const std::string& Caption);
    void ClearUndo();

    // ---- Operations (each ends with UpdateAttached)
    // A negative side keeps the aspect ratio; Filter 0 plain stretch, 1..8 kernels,
    // 9 fast linear.
    void Resample(int32_t NewWidth, int32_t NewHeight, uint8_t Filter);
    // Degrees, counter-clockwise.
    void Rotate(double Angle, bool Antialias);
    void Flip(TFlipDirection Direction);
    void UpdateAttached();

private:
    bool HasPicture() const { return Bitmap() && !Bitmap()->Empty(); }
    TProgressRec MakeProgress();
    void CarryMask(int32_t NewWidth, int32_t NewHeight, uint8_t Filter);
    void RestoreUndo(size_t Copy);

    TObject* FOwner;
    TIEAttachment FAttachment;
    bool FAutoUndo = true;
    TMsgLanguage FMsgLanguage = msSystem;
    TPRPreviewsParams FPreviewsParams = 0;
    std::unique_ptr<TFont> FPreviewFont;
    std::vector<std::unique_ptr<TIEBitmap>> FUndoList;
    uint8_t FUndoLocation = ieLocationFile;
    int32_t FUndoLimit = 1;
    std::unique_ptr<TStringList> FUndoCaptions;
};

// The angle as the undo caption shows it: up to 15 significant digits, no trailing
// zeros ("30", "22.5", "1E20").
std::string IEAngleText(double Angle);

} // namespace kv
