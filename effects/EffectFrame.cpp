#include "effects/EffectFrame.h"

#include "effects/MainWindowFace.h"
#include "raster/Raster32_Filters.h"

namespace kv {

namespace {

// The bitmap PreviewBackup was last filled from. Compared, never dereferenced: a
// backup taken from another target (a layer since deleted, the background before a
// layer was selected) must not be pasted over the current one.
const TBitmap32* GBackupSource = nullptr;

} // namespace

void CopyPixelsExactly(const TBitmap32& Source, TBitmap32& Dest)
{
    Dest.SetSize(Source.Width(), Source.Height());
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

void RunEffectFrame(IMainForm& Main, const TEffectRoutine& Routine)
{
    TBitmap32* Target = EffectTarget(Main);
    if (!Target)
        return;
    const bool OnLayer = Main.SelectedLayer() != nullptr;
    TBitmap First;
    TBitmap Second;
    First.Assign(Target);
    if (OnLayer) {
        TBitmap32* Alpha = Main.AlphaScratch();
        Alpha->SetSize(0, 0);
        Alpha->SetSize(Target->Width(), Target->Height());
        GrayFromAlpha(Alpha, Target);
    }
    CopyPixelsExactly(*Target, *Main.PreviewBackup());
    GBackupSource = Target;
    Second.SetWidth(First.Width());
    Second.SetHeight(First.Height());
    First.SetPixelFormat(pf24bit);
    Second.SetPixelFormat(pf24bit);
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
}

} // namespace kv
