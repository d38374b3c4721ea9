#include "effects/EffectFrame.h"

#include "effects/MainWindowFace.h"
#include "raster/Raster32_Filters.h"

#include <memory>

namespace kv {

namespace {

// The bitmap PreviewBackup was last filled from. Compared, never dereferenced: a
// backup taken from another target (a layer since deleted, the background before a
// layer was selected) must not be pasted over the current one.
const TBitmap32* GBackupSource = nullptr;

// The two 24-bit working copies, kept from one preview to the next while a command
// holds its preview backup, so that repeated previews on a large picture reuse the
// mapped pages instead of faulting in fresh ones; released when the command ends.
// Owned here, made by the first frame call and dropped by TPreviewBackupGuard.
struct TWorkingCopies {
    TBitmap First, Second;
};
std::unique_ptr<TWorkingCopies> GWorking;

// A 24-bit bitmap of the given size whose pixels the caller will overwrite: the
// buffer is kept when the size already fits, else taken fresh (never converted).
void SizeWorkingCopy(TBitmap& Copy, int32_t Width, int32_t Height)
{
    if (Copy.PixelFormat() != pf24bit) {
        Copy.SetSize(0, 0);
        Copy.SetPixelFormat(pf24bit);
    }
    if (Copy.Width() != Width || Copy.Height() != Height) {
        Copy.SetSize(0, 0); // the old block goes first: nothing of it is worth keeping
        Copy.SetSizeForOverwrite(Width, Height);
    }
}

// The target's colours as blue, green, red rows: what assigning it to a bitmap and
// setting that to 24 bits gives, in one pass.
void FillWorkingCopy(const TBitmap32& Target, TBitmap& Copy)
{
    const int32_t W = Target.Width(), H = Target.Height();
    SizeWorkingCopy(Copy, W, H);
    const TColor32* Source = Target.Bits();
    for (int32_t Y = 0; Y < H; ++Y, Source += W) {
        uint8_t* Row = Copy.ScanLine(Y);
        for (int32_t X = 0; X < W; ++X, Row += 3) {
            const TColor32 C = Source[X];
            Row[0] = uint8_t(C);
            Row[1] = uint8_t(C >> 8);
            Row[2] = uint8_t(C >> 16);
        }
    }
}

} // namespace

void CopyPixelsExactly(const TBitmap32& Source, TBitmap32& Dest)
{
    // Every pixel is copied over, so a fresh block need not be cleared first.
    Dest.SetSizeForOverwrite(Source.Width(), Source.Height());
    if (!Source.IsEmpty())
        std::copy_n(Source.Bits(), int64_t(Source.Width()) * Source.Height(), Dest.Bits());
}

TBitmap32* EffectTarget(IMainForm& Main)
{
    TPositionedLayer* Selected = Main.SelectedLayer();
    if (!Selected)
        return Main.View()->Bitmap();
    auto* Picture = dynamic_cast<TBitmapLayer*>(Selected);
    return Picture ? Picture->Bitmap() : nullptr;
}

TBitmap32* CommandTarget(IMainForm& Main)
{
    TBitmap32* Target = EffectTarget(Main);
    return Target && !Main.View()->Bitmap()->IsEmpty() ? Target : nullptr;
}

void RunFilterCommand(IMainForm& Main, const std::function<void()>& Apply)
{
    if (!CommandTarget(Main))
        return;
    TPreviewBackupGuard Guard(Main);
    Main.SaveUndoEffect();
    Apply();
}

void RunEffectFrame(IMainForm& Main, const TEffectRoutine& Routine, TSecondCopy Uses)
{
    TBitmap32* Target = EffectTarget(Main);
    if (!Target)
        return;
    const bool OnLayer = Main.SelectedLayer() != nullptr;
    if (!GWorking)
        GWorking = std::make_unique<TWorkingCopies>();
    TBitmap& First = GWorking->First;
    TBitmap& Second = GWorking->Second;
    FillWorkingCopy(*Target, First);
    if (OnLayer)
        GrayFromAlpha(Main.AlphaScratch(), Target);
    CopyPixelsExactly(*Target, *Main.PreviewBackup());
    GBackupSource = Target;
    if (Uses == TSecondCopy::Used)
        SizeWorkingCopy(Second, Target->Width(), Target->Height());
    const TEffectResult Result = Routine(First, Second);
    if (Result == TEffectResult::None)
        return;
    Target->Assign(Result == TEffectResult::First ? &First : &Second);
    if (OnLayer)
        AlphaFromIntensity(Target, Main.AlphaScratch());
}

void TakePreviewBackup(IMainForm& Main)
{
    TBitmap32* Target = EffectTarget(Main);
    if (!Target)
        return;
    CopyPixelsExactly(*Target, *Main.PreviewBackup());
    GBackupSource = Target;
}

void RestorePreviewBackup(IMainForm& Main)
{
    TBitmap32* Backup = Main.PreviewBackup();
    TBitmap32* Target = EffectTarget(Main);
    if (Backup->IsEmpty() || !Target || Target != GBackupSource)
        return;
    // Pixels only: the target keeps its own draw mode and master alpha.
    CopyPixelsExactly(*Backup, *Target);
    Target->Changed();
}

TPreviewBackupGuard::~TPreviewBackupGuard()
{
    FMain.PreviewBackup()->SetSize(0, 0);
    GBackupSource = nullptr;
    GWorking.reset();
}

} // namespace kv
