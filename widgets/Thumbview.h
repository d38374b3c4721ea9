// TTHumbview: a scroll box showing one thumbnail for every picture file of a folder on
// a grid, with a selection, keyboard navigation and progress events while the folder is
// read. The scan runs after the first paint and yields to the event loop after every
// file; a Break from OnScanProgress stops it.
#pragma once

#include "platform/KvExtCtrls.h"
#include "widgets/ThumbNail.h"

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace kv {

enum TScrollMode : uint8_t { SMHorizontal, SMVertical, SMboth };
enum TViewType : uint8_t { VTNormal, VTCenter, VTFitToScreen };
using TPercent = uint8_t; // 0..100

using TProgressStartNotify = std::function<void(TObject* Sender, int32_t Max)>;
using TProgressNotify = std::function<void(TObject* Sender, int32_t Position, bool& Break)>;
// The view's own title event: published but never fired (each thumbnail fires its own).
using TViewTitleNotify = std::function<void(TObject* Sender, const std::string& FileName, std::string& ThumbNailTitle,
                                            TFont*& ThumbNailFont, TColor& ThumbNailColor)>;

// One entry of the thumbnail list: the title, the thumbnail, and the full name the
// thumbnail was made for together with its place in the scan order, so that loading
// and re-sorting never depend on two lists staying in step.
struct TThumbEntry {
    std::string Title;
    Tthumbnail* Thumb = nullptr;
    std::string FullName;
    int32_t ScanIndex = 0;
};

// The thumbnail list. With Sorted the entries are kept in title order (case-insensitive,
// then case-sensitive, so the order is total); duplicates are kept.
struct TThumblist {
    std::vector<TThumbEntry> Items;
    bool Sorted = true;
};

// The order of the name lists and of the sorted thumbnail list.
bool ThumbNameLess(const std::string& A, const std::string& B);

class TTHumbview : public TScrollBox {
public:
    explicit TTHumbview(QWidget* AOwner = nullptr);
    ~TTHumbview() override;
    std::string ClassName() const override { return "TTHumbview"; }

    const std::string& Directory() const { return FDirectory; }
    void SetDirectory(const std::string& Path);
    bool Sorted() const { return FSorted; }
    void SetSorted(bool Value);
    int32_t Selected() const { return FSelected; }
    void SetSelected(int32_t Index);
    std::string SelectedFile() const;
    void SetSelectedFile(const std::string& FileName);
    TViewType AlignView() const { return FAlignView; }
    void SetAlignView(TViewType Value);
    bool AutoScrolling() const { return FAutoScrolling; }
    void SetAutoScrolling(bool Value) { FAutoScrolling = Value; }
    uint8_t ThumbGap() const { return FThumbGap; }
    void SetThumbGap(uint8_t Value);
    bool AutoHandleKeyb() const { return FAutoHandleKeyb; }
    void SetAutoHandleKeyb(bool Value) { FAutoHandleKeyb = Value; }
    bool MinMemory() const { return FMinMemory; }
    void SetMinMemory(bool Value) { FMinMemory = Value; }
    int32_t Count() const { return int32_t(FThumbs.Items.size()); }
    int32_t MaxWidth() const { return FMaxWidth; }
    void SetMaxWidth(int32_t Value);
    int32_t MaxHeight() const { return FMaxHeight; }
    void SetMaxHeight(int32_t Value);
    TPercent Size() const { return FSize; }
    void SetSize(TPercent Value);
    TScrollMode ScrollMode() const { return FScrollMode; }
    void SetScrollMode(TScrollMode Value);
    bool AsButtons() const { return FAsButtons; }
    void SetAsButtons(bool Value);
    TTitlePos TitlePlacement() const { return FTitlePlacement; }
    void SetTitlePlacement(TTitlePos Value);

    TProgressStartNotify OnStartScanning;
    TProgressNotify OnScanProgress;
    TNotifyEvent OnStopScanning;
    TViewTitleNotify OnGetTitle;
    TKeyEvent OnKeyDown;
    TKeyEvent Onkeyup;
    TKeyPressEvent OnKeyPress;

    // Thumbnail Index of the list (null outside it), the cell size and the per-line count.
    Tthumbnail* Thumb(int32_t Index) const;
    int32_t CellWidth() const { return FCellWidth; }
    int32_t CellHeight() const { return FCellHeight; }
    int32_t PerLine() const { return FPerLine; }
    bool Scanning() const { return FScanning; }
    // Grid position (content coordinates) of the n-th thumbnail, n counted from 1.
    TPoint GridPosition(int32_t N) const;

    void AddThumb(const std::string& Name, bool DoArrange);
    void ClearThumbs();
    void Arrange(int32_t FromIndex);
    void ScrollIntoView(int32_t Index);
    void ScanDirectory(const std::string& Dir);
    // The names of the last scan: in scan order, and sorted.
    const std::vector<std::string>& ScanNames() const { return FNames; }
    const std::vector<std::string>& SortedNames() const { return FSortedNames; }

    // What the event loop delivers, for tests and tools.
    void SimulateKeyDown(uint16_t& Key, TShiftState Shift) { KeyDown(Key, Shift); }
    void SimulateKeyUp(uint16_t& Key, TShiftState Shift) { KeyUp(Key, Shift); }
    void SimulateKeyPress(char& Key) { KeyPress(Key); }

protected:
    void MouseDown(TMouseButton Button, TShiftState Shift, int32_t X, int32_t Y) override;
    void Resize() override;
    virtual void KeyDown(uint16_t& Key, TShiftState Shift);
    virtual void KeyUp(uint16_t& Key, TShiftState Shift);
    virtual void KeyPress(char& Key);
    void paintEvent(QPaintEvent* Event) override;
    void keyPressEvent(QKeyEvent* Event) override;
    void keyReleaseEvent(QKeyEvent* Event) override;

private:
    Tthumbnail* AddThumbEntry(const std::string& Name, const std::string& FullName, int32_t ScanIndex, bool DoArrange);
    void ComputeCellSize();
    void ComputePerLine();
    void Rescan(const std::string& Path);
    void SortThumbs();
    void ApplySorted(bool Value);
    void MoveSelection(int32_t Target);
    int32_t HitTest(int32_t X, int32_t Y) const;
    void Highlight(int32_t Index, bool On);

    std::string FDirectory;
    bool FSorted = true;
    int32_t FSelected = -1;
    TViewType FAlignView = VTNormal;
    bool FAutoScrolling = true;
    uint8_t FThumbGap = 4;
    bool FAutoHandleKeyb = true;
    bool FMinMemory = true;
    int32_t FMaxWidth = 200;
    int32_t FMaxHeight = 200;
    TPercent FSize = 100;
    TScrollMode FScrollMode = SMHorizontal;
    bool FAsButtons = false;
    TTitlePos FTitlePlacement = T_Up;

    int32_t FCellWidth = 0;
    int32_t FCellHeight = 0;
    int32_t FPerLine = 1;
    std::vector<std::string> FNames;
    std::vector<std::string> FSortedNames;
    TThumblist FThumbs;
    bool FPainted = false;
    bool FScanning = false;
    std::optional<bool> FPendingSorted;      // a Sorted change that arrived during a scan
    std::optional<std::string> FPendingFile; // a SelectedFile set before the first scan
    std::shared_ptr<bool> FAlive;            // false once the view is gone (checked by the scan)
};

} // namespace kv
