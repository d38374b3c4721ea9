// The main window and its document: the view with background and layers, the selected
// layer and the rubber band that follows it, the layer roles, the magnifier and frame
// painters, the change state, the one-level undo and redo, and the project file.
//
// The document logic needs no shown window: tests build a TMainForm, size its view and
// drive it through the same handlers the event loop calls.
#pragma once

#include "editor/Settings.h"
#include "effects/MainWindowFace.h"
#include "platform/Classes.h"
#include "platform/Dialogs.h"
#include "raster/Raster32.h"
#include "raster/Raster32_Image.h"
#include "raster/Raster32_Layers.h"

#include <QMainWindow>

#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

class QAction;
class QCheckBox;
class QComboBox;
class QGroupBox;
class QLabel;
class QMenu;

namespace kv {
struct TCommandRow;
class TAboutKVN;
class TBackLa;
class TBrid;
class TTexter;
class TCompress;
class TDeFoc;
class TEffect;
class TEffectDialog;
class TFull;
class TGamma;
class TGifType;
class TImagingIO;
class TKVNPrint;
class TMarb;
class TNewImageForm;
class TPosta;
class TSprayWin;
class TWaves;
class TSTC;
class TBorder;
class TCropLa;
class THolst;
class TMaski;
class TPovor;
class TProGeomo;
class TRaiser;
class TRasm;
class TSbor;
} // namespace kv
class QPushButton;
class QSlider;
class QStatusBar;
class QWidget;

namespace kv {

// Layer roles, kept in every layer's Tag.
constexpr int32_t TagPicture = 0;
constexpr int32_t TagMagnifier = 2;
constexpr int32_t TagSelectionFrame = 3;
constexpr int32_t TagCropFrame = 4;

// ModifiedState values.
constexpr int32_t msUntouched = 0;
constexpr int32_t msSaved = 100;
constexpr int32_t msChanged = 777;

// The undo slots' name for the background.
constexpr int32_t BackgroundIndex = 777;
// RestoreLayerBitmap's name for the background.
constexpr int32_t RestoreBackgroundIndex = 999;

// A reference to a layer that lets go of it when the layer is freed, so nothing ever
// holds a dangling layer. OnLost runs once when the layer goes.
class TLayerRef {
public:
    TLayerRef();
    ~TLayerRef();
    TLayerRef(const TLayerRef&) = delete;
    TLayerRef& operator=(const TLayerRef&) = delete;

    TCustomLayer* Get() const { return FTarget; }
    void Set(TCustomLayer* Value);
    void Reset() { Set(nullptr); }

    std::function<void()> OnLost;

private:
    class TWatcher;
    void Lost(TCustomLayer* Layer);
    std::unique_ptr<TWatcher> FWatcher; // a free-standing layer on the target's free list
    TCustomLayer* FTarget = nullptr;
};

// What an undo or redo slot holds. Each kind's name in the program's own terms stands
// beside it; the kinds live in memory only and are never written to a file.
enum class TUndoKind : uint8_t {
    None,     // "none": the slot is empty
    Effect,   // "effect": a picture layer's or the background's pixels
    Size,     // "size": the background before a change of image size
    Crop,     // "crop": the background before a crop, with the crop offset
    Canvas,   // "holst": the background before a canvas operation
    Geometry, // "geom": a picture layer's pixels and placement
    Frame,    // "frame": the background before a whole-picture frame, and the frame layer
};

// The frame an undo slot of kind Frame undoes.
enum class TFrameKind : uint8_t {
    Mask, // "no": laid over the picture; the canvas kept its size
    Rect, // "rect": the rectangular frame, which grew the canvas by its margin
};

// One undo or redo slot. The layer is named by identity: a reorder or the removal of
// another layer never makes the slot point at a different layer, and a slot whose layer
// is freed becomes empty.
struct Glop {
    Glop();
    std::unique_ptr<TBitmap32> Bitmap;
    std::unique_ptr<TBitmap32> FrameBitmap;
    TUndoKind Kind = TUndoKind::None;
    TLayerRef Layer;           // the layer the slot holds; unset for the background
    bool OnBackground = false; // the slot holds the background (index 777)
    TFrameKind FrameKind = TFrameKind::Mask;
    TSingleRect Placement;
    int32_t CropX = 0;
    int32_t CropY = 0;

    bool Empty() const { return Kind == TUndoKind::None; }
    // 777 for the background, the named layer's current index, or -1 when it is gone.
    int32_t Index() const;
    // Kind None, no layer, bitmaps emptied.
    void Clear();
};

KV_DECLARE_EXCEPTION(EProjectError, Exception)

// A frame's placement rounded side by side and put in order: what the crop cuts (before
// it keeps to the picture) and what the status bar measures while the frame is dragged.
TRect FramePixels(const TSingleRect& Frame);

class TMainForm : public QMainWindow, public TObject, public IMainForm {
public:
    explicit TMainForm(QWidget* Parent = nullptr);
    ~TMainForm() override;
    std::string ClassName() const override { return "TMainForm"; }

    // ---- Controls (Qt parent ownership) -------------------------------------------------
    TImgView32* ImgView = nullptr;
    QWidget* SidePanel = nullptr;
    QGroupBox* pnlImage = nullptr;
    QGroupBox* pnlBitmapLayer = nullptr;
    QSlider* LayerOpacity = nullptr; // 0..255
    QCheckBox* LayerInterpolate = nullptr;
    QCheckBox* Cropped = nullptr;
    QCheckBox* Propos = nullptr; // "Keep Proportions"
    QPushButton* LayerRescale = nullptr;
    QPushButton* LayerResetScale = nullptr;
    QGroupBox* pnlMagn = nullptr;
    QSlider* MagnOpacity = nullptr;       // 0..255, 255
    QSlider* MagnMagnification = nullptr; // 0..50, 10
    QSlider* MagnRotation = nullptr;      // -180..180, 0
    QCheckBox* MagnInterpolate = nullptr;
    QGroupBox* Crops = nullptr;
    QComboBox* CropsP = nullptr; // "Free Crop", "Squar", "Golden Ratio", "Cinema 16:9"
    QCheckBox* Obrat = nullptr;  // "Portrait"
    QStatusBar* StatusBar1 = nullptr;
    // Commands whose enabling the document drives; the menus and tool bars share them
    // (Edit > Undo is also the tool button BUndo, Edit > Redo BRedo).
    QAction* N17 = nullptr;   // Edit > Undo
    QAction* N18 = nullptr;   // Edit > Redo
    QAction* N22 = nullptr;   // Edit > Paste
    QAction* N47 = nullptr;   // Edit > Paste As New
    QAction* Shar = nullptr;  // Sharpen
    QAction* Soft = nullptr;  // Soften
    QAction* Monoh = nullptr; // Grayscale

    // ---- Document state -------------------------------------------------------------
    int32_t ModifiedState = msUntouched;
    int32_t FrameAlpha = 0; // master alpha of the frame layers' grey
    int32_t LayerCountBeforeTextValue = 0;
    // Editor background: the checkerboard ("CHESS") or a colour.
    bool ChessBackground = true;
    TColor EditorBackgroundColor = clGray;

    TPositionedLayer* Selection() const { return static_cast<TPositionedLayer*>(FSelectionRef.Get()); }
    TRubberbandLayer* RBLayer() const { return static_cast<TRubberbandLayer*>(FRBLayerRef.Get()); }
    Glop UndoSlot;
    Glop RedoSlot;

    // Status bar panels 0 and 1.
    std::string StatusText(int32_t Panel) const;
    void SetStatusText(int32_t Panel, const std::string& Text);

    // ---- Document model -------------------------------------------------------------
    void SetSelection(TPositionedLayer* Value) override;
    void LayerMouseDown(TObject* Sender, TMouseButton Button, TShiftState Shift, int32_t X, int32_t Y) override;
    // Every picture, magnifier and frame layer joins the document this way: scaled with
    // the view, receiving the mouse, selected by a click.
    void SetUpContentLayer(TPositionedLayer* L);
    TPositionedLayer* CreatePositionedLayer();
    // Frees the selection or crop frame, deselecting whatever is selected.
    void RemoveFrameLayers() override { FreeFirstFrameLayer(TDeselect::Always); }
    TBitmap32* RenderFlattened() override;
    TBitmap32* FlatImage() override { return FFlatImage.get(); }
    void ReleaseFlatImage() override { FFlatImage.reset(); }
    void NewBackground(int32_t Width, int32_t Height, TColor32 Color);
    // Loads into a fresh bitmap; the document changes only when the load succeeded.
    // False when the file opened but part of its picture could not be read.
    bool LoadBackground(const std::string& FileName, bool KeepLayers);
    // The document is about to be replaced (New, the opens, Paste As New): no
    // selection, no layers, no undo or redo, scale 1.
    void ClearDocument();
    // The centred placement of a W x H layer about the bitmap point under the centre of
    // the viewport.
    TSinglePoint ViewportCentreInBitmap();
    TSingleRect CentredPlacement(int32_t W, int32_t H);

    void ImgViewChange(TObject* Sender);
    void ImgViewMouseDown(TObject* Sender, TMouseButton Button, TShiftState Shift, int32_t X, int32_t Y,
                          TCustomLayer* Layer);
    void ImgViewPaintStage(TObject* Sender, TBitmap32* Buffer, uint32_t StageNum);
    void RBResizing(TObject* Sender, const TSingleRect& OldLocation, TSingleRect& NewLocation, TRBDragState DragState,
                    TShiftState Shift);
    void PaintMagnifierHandler(TObject* Sender, TBitmap32* Buffer);
    void PaintFrameHandler(TObject* Sender, TBitmap32* Buffer);
    void MagnChange();
    // The side panel's crop ratio for CropsP's item (1..3) and Obrat; 0 for a free crop.
    double CropRatio() const;

    // The transparent-colour pick (the tool window sets the view's cursor to crCross).
    // Called at the end of the pick, whatever its outcome (the tool window closes).
    std::function<void()> OnPickEnded;
    void PickTransparentColor(TColor32 Color);

    // ---- Undo and redo --------------------------------------------------------------
    void SaveUndoEffect() override;
    void SaveUndoSize() override;
    void SaveUndoCrop() override;
    void SaveUndoCanvas() override;
    void SaveUndoGeometry() override;
    // The frame layer is named afterwards with SetUndoFrameLayer.
    void SaveUndoFrame(TFrameKind FrameKind);
    void SetUndoFrameLayer(TBitmapLayer* Frame);
    void SetUndoCropOffset(int32_t CropX, int32_t CropY) override;
    void RestoreLayerBitmap(TBitmap32* Bitmap, int32_t Index, const TSingleRect& R) override;
    void N17Click(); // Edit > Undo
    void N18Click(); // Edit > Redo
    // Both slots empty (document replaced, Flatten).
    void ResetUndo();
    // Grows the canvas for a rectangular frame (Layers > New Frame, and Redo).
    void ApplyRectFrame();
    void UpdateUndoRedoEnabling();

    // ---- Project file ---------------------------------------------------------------
    void SaveProject(const std::string& FileName);
    // Reads into a fresh document and swaps it in on success; on failure raises
    // EProjectError and leaves the open document as it was.
    void LoadProject(const std::string& FileName);
    void SaveProjectToStream(TStream& Stream);
    void LoadProjectFromStream(TStream& Stream, const std::string& Name);

    // ---- IMainForm ------------------------------------------------------------------
    TImgView32* View() override { return ImgView; }
    TPositionedLayer* SelectedLayer() override { return Selection(); }
    int32_t LayerOpacityPosition() override;
    void SetLayerOpacityPosition(int32_t Value) override;
    int32_t LayerCountBeforeText() override { return LayerCountBeforeTextValue; }
    TBitmap32* AlphaScratch() override { return FAlphaScratch.get(); }
    TBitmap32* PreviewBackup() override { return FPreviewBackup.get(); }

private:
    void CreateControls();
    void CreateView();
    void CreateSidePanel();
    void CreateActions();
    void HideLayerSections();
    void DetachRubberband();
    void SelectionLost();
    bool SectionShown(const QWidget* Section) const;
    // What freeing the frame deselects: a click on the view keeps the selection unless it
    // is the frame itself; every command that drops the frame deselects.
    enum class TDeselect : uint8_t { IfFrameSelected, Always };
    // Frees the first selection or crop frame, if there is one.
    void FreeFirstFrameLayer(TDeselect Deselect);
    TBitmapLayer* PickTarget();
    void PickAt(int32_t X, int32_t Y);
    void EndPick();
    // The magnifier and frame painters: the buffer's area under the layer, through the
    // transformation (zoom M, rotation A), clipped to the buffer.
    bool TransformUnderLayer(TPositionedLayer* Layer, TBitmap32* Buffer, double M, double A, TBitmap32& Dest,
                             TRect& Target);
    // Every positioned layer but the rubber band.
    void ForEachContentLayer(const std::function<void(TPositionedLayer*)>& Fn);
    void MoveContentLayers(float Dx, float Dy);
    void RescaleLayersToImage(const Glop& Slot);
    void ReselectIfSelected(TCustomLayer* Layer);

    // Undo internals.
    TBitmapLayer* SlotPicture(const Glop& Slot) const;
    bool SnapshotSelectionInto(Glop& Slot, TUndoKind Kind, bool RequirePicture);
    void SnapshotBackgroundInto(Glop& Slot, TUndoKind Kind);
    enum class TUndoDirection : uint8_t { Undo, Redo };
    void UndoRedoStep(Glop& From, Glop& To, TUndoDirection Direction);
    // Restores the slot From into the document, keeping the present state in To; false
    // when there is nothing to restore into. One function a kind.
    bool RestoreSlot(Glop& From, Glop& To, TUndoDirection Direction);
    bool RestoreEffect(Glop& From, Glop& To);
    bool RestoreGeometry(Glop& From, Glop& To);
    bool RestoreSize(Glop& From, Glop& To);
    bool RestoreCanvas(Glop& From, Glop& To);
    bool RestoreCrop(Glop& From, Glop& To, TUndoDirection Direction);
    bool UndoFrame(Glop& From, Glop& To);
    bool RedoFrame(Glop& From, Glop& To);
    void RestorePixels(Glop& From, Glop& To, TBitmapLayer* BL);
    void RestoreBackground(Glop& From, Glop& To, std::unique_ptr<TBitmap32> Present);
    void SlotLost(Glop& Slot);

    // Project internals (MainUnit_Project.cpp).
    friend class TProjectReader;

    // Both forget their layer when it is freed, whoever frees it.
    TLayerRef FSelectionRef;
    TLayerRef FRBLayerRef;
    std::unique_ptr<TBitmap32> FAlphaScratch;
    std::unique_ptr<TBitmap32> FPreviewBackup;
    std::unique_ptr<TBitmap32> FFlatImage;
    std::unique_ptr<TBitmap32> FScratch; // the painters' working bitmap, reused
    bool FRenderingFlat = false;         // frames paint nothing into RenderFlattened
    QLabel* FStatusPanels[2] = {nullptr, nullptr};
    static constexpr int32_t StatusPanel0Width = 350;

    // ---- Start-up, files, menus, view ---------------------------------------------------
    // (MainUnit_Startup.cpp, MainUnit_Files.cpp, MainUnit_Menus.cpp)
public:
    // Start-up and shut-down. FormCreate runs once after the constructor: it makes the
    // menus, tool bars, start panel and dialogs, then reads the three settings files.
    void FormCreate();
    void FormShow();     // once, at the first show: opens the command-line file
    void FormActivate(); // every activation: crop ratio reset, the association when missing
    bool FormCloseQuery();
    void FormClose(); // settings written (best effort), document emptied
    void FormDestroy();
    void RegisterFileType();
    std::vector<std::string> CommandLine; // the program's arguments, without its name
    bool RefreshDesktopOnAssociation = true;
    std::unique_ptr<TColorDialog> BufColor;
    TEditorBackground EditorBackground() const;
    TWindowRecord WindowRecord() const;
    void ApplyWindowRecord(const TWindowRecord& Record);
    void N5Click();   // File > Exit
    void N26Click();  // Help > Help
    void N28Click();  // Help > On the Web
    void N96Click();  // Help > Download Textures
    void N97Click();  // Help > Technical Support
    void N102Click(); // View > Editor Background > Select Color
    void N103Click(); // View > Editor Background > White - Gray

    // Opening and saving, the recent list, the save question.
    std::unique_ptr<TOpenDialog> OpenPictureDialog1;
    std::unique_ptr<TOpenDialog> SavePictureDialog1;
    std::shared_ptr<TImagingIO> PARY; // shared: deleted where the type is complete
    std::unique_ptr<TPrinterSetupDialog> PrinterSetupDialog1;
    TNewImageForm* NewImageForm = nullptr; // the "New Project" dialog, made by the entry point
    // The windows of Save As, Image and Help, made by the entry point after the main
    // window (they live until the program ends); a command whose window is not set
    // stays disabled.
    TGifType* GifType = nullptr;   // "Save as GIF...": writes the GIF itself
    TCompress* Compress = nullptr; // "JPEG Options": writes the JPEG itself
    TFull* Full = nullptr;         // the full-screen preview
    TAboutKVN* AboutKVN = nullptr; // "About"
    // The Effects menu's parameter dialogs and the rain-drops window nothing opens.
    TSprayWin* SprayWin = nullptr; // "Spray"
    TPosta* Posta = nullptr;       // "Posterize"
    TWaves* Waves = nullptr;       // "Wave"
    TMarb* Marb = nullptr;
    void N50Click();  // Filters > Effects > Spray
    void N51Click();  // Filters > Effects > Posterize
    void N86Click();  // Filters > Effects > Wave
    void N85Click();  // Filters > Effects > Mosaic
    void N87Click();  // Filters > Effects > Emboss
    void N91Click();  // Filters > Effects > Ripple Tooth > Wide
    void N92Click();  // Filters > Effects > Ripple Tooth > Medium
    void N93Click();  // Filters > Effects > Ripple Tooth > Narrow
    void N84Click();  // Filters > Invert Colors
    void N81Click();  // Filters > Add Noise > Color Noise
    void N82Click();  // Filters > Add Noise > Mono Noise
    void N49Click();  // Filters > Colorize
    void N111Click(); // Filters > Sepia
    // The colour dialog of Fill With Color (the Background menu's picture dialog is
    // OpenLayer, shared with New Layer From File).
    std::unique_ptr<TColorDialog> AllColor;
    void N72Click();  // Image > Count Image Colors
    void N34Click();  // Image > Full Screen Preview
    void N30Click();  // Help > About
    void N112Click(); // Background > Fill With Color
    void N120Click(); // Background > Load From File
    void N115Click(); // Background > Load form Texture
    TRecentList Recent;
    bool AskSaveChanges();
    bool OpenPicture();
    bool OpenPictureByName();
    bool OpenFileSteps(const std::string& FileName);
    bool IsNewRecent(const std::string& FileName) const { return Recent.IsNewRecent(FileName); }
    void AddRecentFile(const std::string& FileName);
    void OpenRecentItem(int32_t Index);
    void HookRecentItems();
    void N14Click();
    void mnFileNewClick();
    void mnFileOpenClick();
    bool Save1Click();                                      // true when a file was written
    bool N3Click();                                         // File > Save As; true when a file was written
    bool AskSaveAsName(std::string& Name, int32_t& Filter); // Save As: the final name, agreed to
    void N62Click();                                        // File > Printer Setup
    void N70Click();                                        // File > Print
    TKVNPrint* KVNPrint = nullptr;                          // "Print", made by the entry point
    void FitAfterOpen();
    // The name Save writes to: the open dialog's, else the save dialog's.
    std::string CurrentFileName() const;
    bool SaveAllowed() const { return FSaveAllowed; }
    bool SaveAsAllowed() const { return FSaveAsAllowed; }

    // Menus, tool bars, zoom and the start panel.
    QWidget* Start = nullptr;
    QPushButton* Lab[4] = {nullptr, nullptr, nullptr, nullptr}; // Lab1..Lab4
    QPushButton* Label9 = nullptr;                              // "Another File ...."
    QPushButton* Label11 = nullptr;                             // "New Project"
    QComboBox* ScaleCombo = nullptr;
    QCheckBox* ImageInterpolate = nullptr;
    QMenu* LayerPopup = nullptr;
    QMenu* N14 = nullptr; // File > Recent Files
    // Every command by its menu item's name ("Save1", "N3", "mnFileOpen"...); tool bar
    // buttons and the pop-up share these actions. Null for an unknown name.
    QAction* Command(const std::string& Name) const;
    std::vector<std::string> CommandNames() const;
    QMenu* Menu(const std::string& Name) const;
    // Recomputes every command's enabling from the document and the selection; while a
    // project is being read, only once it is complete.
    void UpdateCommandEnabling();
    // How many times the enabling has been recomputed (each walk visits every layer).
    uint64_t EnablingRuns() const { return FEnablingRuns; }
    void ScaleComboChange();
    void ImgViewMouseWheel(int32_t WheelDelta);
    void N1002Click(); // View > Actual Size
    void N35Click();   // View > Fit to Screen
    void ImageInterpolateClick();
    bool ImgViewContextPopup(); // true when the layer pop-up may show
    void ImgViewKeyDown(int32_t Key);
    void ControlBar1Click();

protected:
    void showEvent(QShowEvent* Event) override;
    void closeEvent(QCloseEvent* Event) override;
    void changeEvent(QEvent* Event) override;

private:
    // Builds every command table once and connects each command to its handler.
    void CreateCommands();
    // The command tables, one a concern file: FileCommands in MainUnit_Files.cpp,
    // EditCommands in MainUnit_Edit.cpp, and so on.
    std::vector<TCommandRow> FileCommands();
    std::vector<TCommandRow> StartupCommands();
    std::vector<TCommandRow> UndoCommands();
    std::vector<TCommandRow> EditCommands();
    std::vector<TCommandRow> DialogCommands();
    std::vector<TCommandRow> EffectCommands();
    std::vector<TCommandRow> LayerCommands();
    std::vector<TCommandRow> ViewCommands();
    bool BackgroundNotEmpty() const; // the rule most commands share
    void RunEffectDialog(TEffectDialog* Dialog);
    void RunPlainEffect(const std::string& Name);
    void RunNoise(const std::string& Name);
    void ColorizeAndBrighten(TColor Color, int32_t Brightness);
    void CreateMenus();
    void CreateToolBars();
    void CreateStartPanel();
    void CreateImageSection();
    void CreateDialogs();
    void ReadSettings();
    void UpdateRecentMenu();
    void SetScaleText(float Scale);
    void SetFileStatus(const std::string& FileName, bool WithSize);
    // Panel 1: the background's size and the word that a file was read only in part.
    void ShowDamagedFileNote();
    bool SaveFlattenedAs(const std::string& Name);
    // Save As of a GIF or JPEG: the flattened render through TGifType or TCompress.
    // True when the window wrote the file; Written is the name it wrote.
    bool SaveThroughOptionsDialog(const std::string& Name, uint8_t Kind, std::string& Written);
    void AfterDocumentReplaced();
    struct TCommand;
    void AddCommand(TCommandRow Row);
    void ConnectCommand(TCommand& Command);
    std::map<std::string, std::shared_ptr<TCommand>> FCommands;
    std::map<std::string, QMenu*> FMenus;
    std::vector<QAction*> FRecentItems; // N15 and the four spare items
    bool FSaveAllowed = false;          // Save1 and SaveIt
    bool FSaveAsAllowed = false;        // N3
    bool FShown = false;
    bool FClosing = false;
    // Held while a project's layers are added one by one: each addition would walk every
    // layer again. Due is set when a refresh was asked for meanwhile.
    int32_t FEnablingHeld = 0;
    bool FEnablingDue = false;
    uint64_t FEnablingRuns = 0;
    friend class TEnablingHold;

    // ---- Edit, clipboard, layer tools ---------------------------------------------------
    // (MainUnit_Edit.cpp, MainUnit_LayerTools.cpp)
public:
    // Edit
    void N16Click(); // the Edit menu opens: its enabling
    void N20Click(); // Cut
    void N21Click(); // Copy
    void N22Click(); // Paste
    void N47Click(); // Paste As New
    void N71Click(); // Select
    void N98Click(); // Select All
    // Whether the clipboard holds a bitmap.
    static bool ClipboardHasBitmap();

    // Layers
    void mnNewBitmapLayerClick();
    void N61Click(); // New Simple Layer
    void N42Click(); // New Frame
    void AddFrameLayer(TFrameChoice& Choice);
    void mnMagnifierClick();
    void mnFlattenClick();
    // Current Layer: 1 to front (just under the band), 2 to back, 3 up, 4 down.
    void mnReorder(int32_t Tag);
    void N901Click(); // rotate clockwise 90
    void N902Click(); // rotate counter-clockwise 90
    void N53Click();  // flip horizontal (mirror)
    void N24Click();  // flip vertical
    void N23Click();  // transparent colour
    void EndTransparentPick();
    bool TransparentPickActive() const { return FTransparentPick; }
    void N88Click(); // Duplicate
    void mnDeleteClick();
    void N63Click(); // Background > Copy to Layer
    void N33Click(); // Image > Add Text
    void AddTextLayer(ITextLayerSource& Sender);
    // What the tool dialogs call back on: handed to each dialog that adds text or
    // reaches the layer commands.
    ILayerTools& LayerTools() { return *FLayerToolsFace; }
    void N114Click();         // Image > Crop Canvas
    void CropsButton1Click(); // crop OK
    void CropsButton2Click(); // crop Cancel
    void CropsPChange();      // crop proportions or Portrait changed
    // Side panel of the selected picture layer.
    void LayerRescaleClick();
    void LayerResetScaleClick();
    void LayerOpacityChange();
    void LayerInterpolateClick();
    void CroppedClick();

    QPushButton* CropsButton1 = nullptr; // "ОК"
    QPushButton* CropsButton2 = nullptr; // "Cancel"
    std::unique_ptr<TOpenDialog> OpenLayer;

    // The tool windows these commands open, set by whoever builds them; a command whose
    // window is not set stays disabled. Each is modal but the transparent-colour tool.
    std::function<void()> SimpleLayerDialog;        // TBackLa: builds the layer itself
    std::function<bool(TFrameChoice&)> FrameDialog; // TBorder: true on OK
    std::function<bool()> TextDialog;               // TTexter: calls AddTextLayer; true on OK
    struct TTransparentColorTool {
        std::function<void(int32_t Left, int32_t Top)> Show;
        std::function<void(TColor Color)> ShowColor; // the colour under the mouse
        std::function<void()> Close;
    } TransparentColorTool;
    // The windows behind SimpleLayerDialog and TransparentColorTool, made by the entry
    // point; the main window, their Qt parent, owns them.
    TBackLa* BackLa = nullptr;
    TSTC* STC = nullptr;
    TTexter* Texter = nullptr; // behind TextDialog

    // ---- Adjustments (MainUnit_Adjust.cpp) ------------------------------------------
    // Their windows, made by the entry point and owned by the main window; a command
    // whose window is not set stays disabled.
    TGamma* Gamma = nullptr;   // "Color Balance"
    TBrid* Brid = nullptr;     // "Brightness / Contrast"
    TEffect* Effect = nullptr; // "Sharpness"
    TDeFoc* DeFoc = nullptr;   // "Softness"
    void N38Click();           // Image > Brightness / Contrast
    void N39Click();           // Image > Color Balance
    void N74Click();           // Filters > Sharpness > Sharpen (and the tool button Shar)
    void N78Click();           // Filters > Sharpness > Sharpness...
    void N75Click();           // Filters > Softness > Soften (and Soft)
    void N76Click();           // Filters > Softness > Softness...
    void N77Click();           // Filters > Grayscale (and Monoh)

private:
    // Called once from the constructor: side-panel wiring, the crop buttons, the pick.
    void CreateEditAndLayerTools();
    TBitmapLayer* SelectedPicture() const;
    TBitmapLayer* NewPictureLayer();
    void SelectionFrameLayer(int32_t Tag);
    bool FramedArea(TRect& Area);
    std::unique_ptr<TBitmap32> CopyFramedArea(const TRect& Area);
    void FlipSelected(bool Vertical);
    void RotateSelected(bool Clockwise);
    TPositionedLayer* CropFrame() const;
    void ImgViewMouseMovePick(int32_t X, int32_t Y);
    bool FTransparentPick = false;
    std::unique_ptr<ILayerTools> FLayerToolsFace;

    // ---- Geometry, borders and masks (MainUnit_Geometry.cpp) -----------------------------
public:
    // The windows these commands open, made by the entry point; a command whose window
    // is not set stays disabled.
    TBorder* Border = nullptr;     // "Add Frame", behind FrameDialog
    TRaiser* Raiser = nullptr;     // "Relief Border"
    TPovor* Povor = nullptr;       // "Rotate"
    TRasm* Rasm = nullptr;         // "Image Size"
    THolst* Holst = nullptr;       // "Canvas Size"
    TSbor* Sbor = nullptr;         // "Add Borders"
    TMaski* Maski = nullptr;       // "Mask"
    TCropLa* CropLa = nullptr;     // "Crop Layer"
    TProGeomo* ProGeomo = nullptr; // "Geometry"
    void MaskosClick();            // Background > Rotate Clockwise 90
    void N903Click();              // Background > Rotate Counterclockwise 90
    void N1801Click();             // Background > Rotate 180
    void N106Click();              // Background > Flip > Horizontal (Mirror)
    void N105Click();              // Background > Flip > Vertical
    void N122Click();              // Background > Add Borders
    void N123Click();              // Background > Relief Borders
    void N37Click();               // Image > Image Size
    void N11Click();               // Image > Canvas Size
    void N124Click();              // Filters > Geometry
    void N13Click();               // Current Layer > Rotate > Rotate...
    void N107Click();              // Current Layer > Borders > Add Borders
    void N7Click();                // Current Layer > Borders > Relief Borders
    void N69Click();               // Current Layer > Mask
    void N54Click();               // Current Layer > Crop Layer
};

} // namespace kv
