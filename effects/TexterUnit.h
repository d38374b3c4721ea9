// "Add Text": a small rich-text editor whose text is rendered into a picture that the
// main window adds as a text layer, with loading and saving of ".txt" and ".rtf".
#pragma once

#include "effects/MainWindowFace.h"
#include "platform/DialogForm.h"
#include "platform/RichEdit.h"

#include <functional>
#include <memory>
#include <string>
#include <vector>

class QCheckBox;
class QToolButton;

namespace kv {

class TColorDialog;
class TFontDialog;
class TImage32;
class TOpenDialog;
class TSaveDialog;

// The tool bar's pictures and button kinds (drawn in code, see the source).
enum class TTexterIcon : uint8_t;
enum TToolKind : uint8_t { tkPush, tkCheck };

// Where RenderIt draws one displayed line: without its leading tabs, at (X, Y).
struct TTextLinePlacement {
    std::string Text;
    int32_t X = 0;
    int32_t Y = 0;
    int32_t Width = 0; // of Text
};

// The whole render: the bitmap's size and every line's place.
struct TTextLayout {
    int64_t Width = 0;
    int64_t Height = 0;
    std::vector<TTextLinePlacement> Lines;
};

// A displayed line as the render measures it.
struct TMeasuredLine {
    std::string Text;
    TAlignment Align = taLeftJustify;
};

// Lays the lines out with LineHeight per line and Measure giving a text's width. Each
// line's leading tabs indent it by 10 pixels apiece; tabs inside it stay in its text.
// The width is never less than the widest line + 10, and wide enough for every indented
// line; sizes are 64-bit so that a huge text is refused, not wrapped.
TTextLayout LayOutTextLines(const std::vector<TMeasuredLine>& Lines, int32_t LineHeight,
                            const std::function<int32_t(const std::string&)>& Measure);

// The most pixels a text picture may have: the dialog's picture, the layer's copy and
// the one being made from them stay within 512 MB, and a text that fits draws in well
// under two seconds.
constexpr int64_t MaxTextPixels = int64_t(1) << 25;

// The refusals of a text that cannot become a text layer.
extern const char* const TextTooLongMessage;      // too wide, or too many pixels
extern const char* const TextTooManyLinesMessage; // too high

// Raises EOutOfResources with the refusal that fits a Width x Height text picture, or
// returns when the picture can be made.
void CheckTextPictureSize(int64_t Width, int64_t Height);

// Refuses, with EOutOfResources and the refusals above, a text whose picture could not
// be made at any width of the edit: more paragraphs than the picture has room for at
// LineHeight apiece, more line width (Measure summed over the paragraphs) than the
// picture's pixels hold at that height, or a word (a run between blanks, which word wrap
// never breaks) wider than a picture can be. Word wrap cuts a paragraph into lines of
// the same total width, so no bound depends on it.
void CheckTextFitsPicture(const TTextParagraphs& Text, int32_t LineHeight,
                          const std::function<int32_t(const std::string&)>& Measure);

// The name a save writes: Ext (".rtf" or ".txt") appended unless the name already ends
// in it, letter case ignored.
std::string TextFileName(const std::string& Name, const std::string& Ext);

class TTexter : public TDialogForm, public ITextLayerSource {
public:
    TTexter(QWidget* Owner, IMainForm& MainWindow);
    ~TTexter() override;

    IMainForm& MainForm;
    ILayerTools* LayerTools = nullptr;

    TRichEdit* Rtf = nullptr;
    QWidget* ToolBar1 = nullptr;         // flat: a row of 24-pixel tool buttons
    QToolButton* ToolButton7 = nullptr;  // "New"
    QToolButton* ToolButton6 = nullptr;  // "Load From File"
    QToolButton* ToolButton3 = nullptr;  // "Save"
    QToolButton* ToolButton4 = nullptr;  // "Font Properties"
    QToolButton* BoldButton = nullptr;   // check
    QToolButton* ItBut = nullptr;        // check
    QToolButton* Under = nullptr;        // check
    QToolButton* ToolButton11 = nullptr; // "Font Color"
    QToolButton* ToolButton5 = nullptr;  // "Background Color"
    QToolButton* ToolButton12 = nullptr; // left
    QToolButton* ToolButton13 = nullptr; // centre
    QToolButton* ToolButton14 = nullptr; // right
    QCheckBox* CheckBox1 = nullptr;      // "Interpolation"
    QCheckBox* Alpha = nullptr;          // "Transparent background "
    QCheckBox* Peren = nullptr;          // "Transfer words"
    QPushButton* Button1 = nullptr;      // "OK"
    QPushButton* Button2 = nullptr;      // "Cancel"
    QPushButton* Button3 = nullptr;      // "Preview"
    TImage32* ImageControl = nullptr;    // the rendered picture, top-left, scale 1

    std::unique_ptr<TFontDialog> FontDialog1;
    std::unique_ptr<TColorDialog> ColorDialog1;
    std::unique_ptr<TOpenDialog> OpenDialog1;
    std::unique_ptr<TSaveDialog> SaveDialog1;

    // Renders the editor's text into the image: mode 555 is the white-on-transparent
    // mask, any other mode the colour picture. A text too large for a text picture
    // raises EOutOfResources with one of the refusals above and leaves the image as it
    // was.
    void RenderIt(int32_t Mode);
    int32_t AntialiasLevel() const { return FAntialias; }
    // How many renders have drawn the text's letters (each costs as much as the text).
    int32_t LetterRenders() const { return FLetterRenders; }

    // ITextLayerSource
    TBitmap32* Image() override;
    bool TransparentBackground() override;
    TColor BackgroundColor() override;
    void RenderText(int32_t Mode) override { RenderIt(Mode); }
    bool Interpolation() override;

    void Button1Click(); // OK
    void Button3Click(); // Preview
    void ToolButton7Click();
    void ToolButton6Click();
    void ToolButton3Click();
    void ToolButton4Click();
    void BoldButtonClick();
    void ItButClick();
    void UnderClick();
    void ToolButton11Click();
    void ToolButton5Click();
    void AlignClick(TAlignment Value);
    void PerenClick();

protected:
    void FormActivate() override;
    void FormClose() override;

private:
    void BuildToolBar();
    QToolButton* AddTool(const std::string& Hint, TTexterIcon Icon, void (TTexter::*Handler)(),
                         TToolKind Kind = tkPush);
    bool RenderForLayer();
    TTextLayout LayOutText();
    void ToggleEditorStyle(TFontStyle Style, QToolButton* Button);
    int32_t FAntialias = 0;
    int32_t FLetterRenders = 0;
};

} // namespace kv
