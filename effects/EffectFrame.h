// The frame every pixel effect runs in: the target (the selected picture layer, else
// the background) copied to 24-bit working bitmaps, the layer's alpha kept aside as
// grey and given back, and the preview backup the effect dialogs restore from.
#pragma once

#include "platform/Graphics.h"

#include <functional>

namespace kv {

class IMainForm;
class TBitmap32;

// Dest's size and pixels become Source's, all four bytes of every pixel; Dest keeps its
// own draw mode and master alpha.
void CopyPixelsExactly(const TBitmap32& Source, TBitmap32& Dest);

// The selected picture layer's bitmap, the background when nothing is selected, and
// null when a magnifier or frame is selected (effects then do nothing).
TBitmap32* EffectTarget(IMainForm& Main);
// The target when a command may change it: also null while the background is empty.
TBitmap32* CommandTarget(IMainForm& Main);

// Which working copy an effect left its result in; None leaves the target alone.
enum class TEffectResult { None, First, Second };
using TEffectRoutine = std::function<TEffectResult(TBitmap& First, TBitmap& Second)>;
// Whether the routine writes the second working copy. A routine that works in the first
// alone says so, and the second is then not sized (on a large picture's first command
// it would be tens of megabytes of fresh pages for nothing): its size is left as is.
enum class TSecondCopy { Used, Unused };

// Fills PreviewBackup with an exact copy of the target, hands the routine two 24-bit
// working copies (the first holding the target's colours, the second of the same size
// for a routine that writes every pixel of it) and puts the chosen result back. The
// copies are kept for the next preview until the command's TPreviewBackupGuard ends.
// A layer gets its own alpha back; the background comes back opaque. Does nothing
// without a target.
void RunEffectFrame(IMainForm& Main, const TEffectRoutine& Routine, TSecondCopy Second = TSecondCopy::Used);

// Fills PreviewBackup with an exact copy of the target, for dialogs that change the
// target themselves. Does nothing without a target.
void TakePreviewBackup(IMainForm& Main);

// A filter command without a dialog: nothing without a command target; else the undo
// record, then Apply, with PreviewBackup empty afterwards however it ends.
void RunFilterCommand(IMainForm& Main, const std::function<void()>& Apply);

// The dialogs' restore: the target takes PreviewBackup back, exactly, when the backup
// is not empty and was taken from this same target.
void RestorePreviewBackup(IMainForm& Main);

// Empties PreviewBackup however the command that holds it ends.
class TPreviewBackupGuard {
public:
    explicit TPreviewBackupGuard(IMainForm& Main) : FMain(Main) {}
    ~TPreviewBackupGuard();
    TPreviewBackupGuard(const TPreviewBackupGuard&) = delete;
    TPreviewBackupGuard& operator=(const TPreviewBackupGuard&) = delete;

private:
    IMainForm& FMain;
};

} // namespace kv
