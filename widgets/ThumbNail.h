// One cell of the thumbnail browser: Tthumbnail, a panel holding the picture control
// tThumbimage and the title strip TThumbTitle. It loads one picture file (PCX and TGA
// through their loaders, everything else through the graphic-class registry), fits it
// into its box, can shrink the stored picture, reads the file's dates and size, can act
// as a push button, and the picture can be turned in quarter turns.
#pragma once

#include "platform/KvExtCtrls.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

namespace kv {

class TTHumbview;

enum TGRF_type : uint8_t { GR_BMP, GR_JPG, GR_WMF, GR_EMF, GR_ICO, GR_GIF, GR_PNG };
enum TTitlePos : uint8_t { T_Up, T_Down, T_None };
enum Tangle : uint8_t { AT0, AT90, AT180, AT270 };

using TTitleNotify = std::function<void(TObject* Sender, const std::string& FileName, std::string& ThumbNailTitle)>;
using TRotateNotify = std::function<void(TObject* Sender, uint8_t Percent, bool& Break)>;

// Trunc(X) when X is integral, else one further away from zero.
int32_t RoundAwayFromZero(double X);
// Size scaled by one percentage (held in single precision) so that it fits Box; a
// term whose Size side is 0 counts as 0.
TSize FitSize(TSize Size, TSize Box);
// Local date and time as the platform's DateTimeToStr writes it (short date, long time).
std::string DateTimeToStr(int Year, int Month, int Day, int Hour, int Minute, int Second);

// A part of the thumbnail (its title strip, its picture) that hands clicks and the mouse
// to the thumbnail, in the thumbnail's coordinates, so the cell acts as one control.
// Outside a thumbnail it handles them itself. (Made for TPanel and TImage in ThumbNail.cpp.)
template <class TBase> class TThumbPart : public TBase {
public:
    using TBase::TBase;
    void Click() override;
    void DblClick() override;

protected:
    void MouseDown(TMouseButton Button, TShiftState Shift, int32_t X, int32_t Y) override;
    void MouseMove(TShiftState Shift, int32_t X, int32_t Y) override;
    void MouseUp(TMouseButton Button, TShiftState Shift, int32_t X, int32_t Y) override;
};

class TThumbTitle : public TThumbPart<TPanel> {
public:
    explicit TThumbTitle(QWidget* AOwner = nullptr) : TThumbPart(AOwner) {}
    std::string ClassName() const override { return "TThumbTitle"; }
};

class tThumbimage : public TThumbPart<TImage> {
public:
    explicit tThumbimage(QWidget* AOwner = nullptr);
    std::string ClassName() const override { return "tThumbimage"; }

    // Reads the file into the picture by its extension (any letter case): ".PCX" and
    // ".TGA" through their loaders (a bad file raises EInvalidGraphic with the loader's
    // message, leaving the fresh bitmap the loader got), anything else through the
    // registry. The angle goes back to AT0.
    void LoadFile(const std::string& FileName);
    // Replaces the picture by a pf24bit copy fitted into MaxW x MaxH (nothing when the
    // picture is smaller than the fit on both sides).
    void Shrink(int32_t MaxW, int32_t MaxH);
    // For a JPEG (by the registry) that Shrink(MaxW, MaxH) would make smaller: LoadFile
    // and Shrink in one, decoding at the largest DCT reduction that still covers the
    // fit rather than whole; Full gets the picture's full size. False, with nothing
    // changed, for every other file; a bad JPEG raises as LoadFile would.
    bool LoadShrunkJpeg(const std::string& FileName, int32_t MaxW, int32_t MaxH, TSize& Full);

    Tangle Angle() const { return FAngle; }
    void SetAngle(Tangle Value);
    bool Modified() const { return FModified; }
    bool CanModify() const;
    TRotateNotify OnRotate;

private:
    friend class Tthumbnail;
    // Turns by Quarters (1 clockwise, 2 half, 3 counter-clockwise); false when OnRotate
    // broke it off (the picture is then unchanged).
    bool Turn(int Quarters);
    // Replaces the picture by a pf24bit copy of Source stretched over Fit.
    void TakeStretched(TGraphic& Source, TSize Fit);
    Tangle FAngle = AT0;
    bool FModified = false;
    bool FBreak = false;
};

class Tthumbnail : public TPanel {
public:
    explicit Tthumbnail(QWidget* AOwner = nullptr);
    ~Tthumbnail() override;
    std::string ClassName() const override { return "Tthumbnail"; }

    const std::string& Filename() const { return FFilename; }
    void SetFilename(const std::string& Value);
    const std::string& Title() const { return FTitle; }
    void SetTitle(const std::string& Value);
    TColor TitleColor() const { return FTitleColor; }
    void SetTitleColor(TColor Value);
    TFont* TitleFont() { return FTitleFont.get(); }
    void SetTitleFont(TFont* Value) { FTitleFont->Assign(Value); }
    bool ImageReady() const { return FImageReady; }
    // The inner box for the picture (FitImage computes them; assigning only recomputes).
    int32_t ClientWidth() const { return FClientWidth; }
    int32_t ClientHeight() const { return FClientHeight; }
    void SetClientWidth(int32_t) { FitImage(); }
    void SetClientHeight(int32_t) { FitImage(); }
    uint64_t FileSize() const { return FFileSize; }
    const std::string& FIleCreated() const { return FFileCreated; }
    const std::string& FileChanged() const { return FFileChanged; }
    const std::string& FileAccessed() const { return FFileAccessed; }
    int32_t ImageWidth() const { return FImageWidth; }
    int32_t ImageHeight() const { return FImageHeight; }
    bool Asbutton() const { return FAsbutton; }
    void SetAsbutton(bool Value) { FAsbutton = Value; }
    bool MinimizeMemory() const { return FMinimizeMemory; }
    void SetMinimizeMemory(bool Value);
    TGRF_type StreamFileType() const { return FStreamFileType; }
    void SetStreamFileType(TGRF_type Value) { FStreamFileType = Value; }
    bool ShowTitle() const { return FShowTitle; }
    void SetShowTitle(bool Value);
    TTitlePos TitlePlacement() const { return FTitlePlacement; }
    void SetTitlePlacement(TTitlePos Value);
    bool Autoload() const { return FAutoload; }
    void SetAutoload(bool Value) { FAutoload = Value; }
    const std::string& DefaultExtension() const { return FDefaultExtension; }
    void SetDefaultExtension(const std::string& Value) { FDefaultExtension = Value; }
    TTitleNotify OnGetTitle;

    tThumbimage* Image() const { return FImage; }
    TThumbTitle* TitleStrip() const { return FTitleStrip; }

    virtual void FitImage();
    void ReadFileInfo();

protected:
    void MouseDown(TMouseButton Button, TShiftState Shift, int32_t X, int32_t Y) override;
    void MouseMove(TShiftState Shift, int32_t X, int32_t Y) override;
    void MouseUp(TMouseButton Button, TShiftState Shift, int32_t X, int32_t Y) override;
    void Resize() override;
    void paintEvent(QPaintEvent* Event) override;

private:
    void ShrinkToBox();
    TSize ShrinkBox() const;
    void SettleTitle();
    TTHumbview* OwnerView() const { return FOwnerView; }
    TTHumbview* FOwnerView = nullptr;
    tThumbimage* FImage = nullptr;      // Qt child
    TThumbTitle* FTitleStrip = nullptr; // Qt child
    std::unique_ptr<TFont> FTitleFont;
    std::string FFilename;
    std::string FTitle;
    TColor FTitleColor = clBtnFace;
    bool FImageReady = false;
    int32_t FClientWidth = 0;
    int32_t FClientHeight = 0;
    uint64_t FFileSize = 0;
    std::string FFileCreated, FFileChanged, FFileAccessed;
    int32_t FImageWidth = 0;
    int32_t FImageHeight = 0;
    bool FAsbutton = false;
    bool FMinimizeMemory = true;
    TGRF_type FStreamFileType = GR_BMP;
    bool FShowTitle = false;
    TTitlePos FTitlePlacement = T_Up;
    bool FAutoload = true;
    std::string FDefaultExtension;
    bool FPressed = false;
    bool FTitleAsked = false;
    bool FDestroying = false;
};

} // namespace kv
