#include "effects/TexterUnit.h"

#include "platform/Dialogs.h"
#include "platform/QtBridge.h"
#include "raster/Raster32_Image.h"
#include "raster/Raster32_Layers.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QHBoxLayout>
#include <QPainter>
#include <QPixmap>
#include <QToolButton>
#include <QVBoxLayout>

#include <algorithm>

namespace kv {

enum class TTexterIcon : uint8_t {
    New,
    Open,
    Save,
    Font,
    Bold,
    Italic,
    Underline,
    FontColor,
    BackColor,
    Left,
    Centre,
    Right
};

namespace {

constexpr int32_t TabIndent = 10; // pixels per leading tab
constexpr int32_t Margin = 10;    // the bitmap is this much wider and higher than the text

void DrawLetter(QPainter& P, const QString& Letter, bool Bold, bool Italic, bool Underline)
{
    QFont f("Times New Roman");
    f.setPixelSize(13);
    f.setBold(Bold);
    f.setItalic(Italic);
    f.setUnderline(Underline);
    P.setFont(f);
    P.drawText(QRect(0, 0, 16, 15), Qt::AlignCenter, Letter);
}

void DrawAlignLines(QPainter& P, TAlignment Align)
{
    static constexpr int32_t widths[] = {12, 8, 12, 6};
    for (int32_t i = 0; i < 4; ++i) {
        const int32_t w = widths[i];
        const int32_t x = Align == taLeftJustify ? 2 : Align == taRightJustify ? 14 - w : (16 - w) / 2;
        P.fillRect(x, 3 + i * 3, w, 1, Qt::black);
    }
}

void DrawPage(QPainter& P)
{
    P.setPen(Qt::black);
    P.setBrush(Qt::white);
    P.drawPolygon(QPolygon({QPoint(3, 1), QPoint(10, 1), QPoint(13, 4), QPoint(13, 14), QPoint(3, 14)}));
    P.drawLine(10, 1, 10, 4);
    P.drawLine(10, 4, 13, 4);
}

void DrawFolder(QPainter& P)
{
    P.setPen(QColor(128, 96, 0));
    P.setBrush(QColor(240, 200, 80));
    P.drawPolygon(QPolygon({QPoint(1, 4), QPoint(6, 4), QPoint(7, 5), QPoint(14, 5), QPoint(14, 13), QPoint(1, 13)}));
}

void DrawDisk(QPainter& P)
{
    P.setPen(Qt::black);
    P.setBrush(QColor(40, 60, 160));
    P.drawRect(1, 1, 13, 13);
    P.fillRect(4, 2, 8, 5, Qt::white);
    P.fillRect(5, 10, 6, 4, QColor(190, 190, 190));
}

QIcon DrawnIcon(TTexterIcon Icon)
{
    QPixmap pixmap(16, 16);
    pixmap.fill(Qt::transparent);
    QPainter p(&pixmap);
    p.setPen(Qt::black);
    switch (Icon) {
    case TTexterIcon::New: DrawPage(p); break;
    case TTexterIcon::Open: DrawFolder(p); break;
    case TTexterIcon::Save: DrawDisk(p); break;
    case TTexterIcon::Font: DrawLetter(p, "A", false, false, false); break;
    case TTexterIcon::Bold: DrawLetter(p, "B", true, false, false); break;
    case TTexterIcon::Italic: DrawLetter(p, "I", false, true, false); break;
    case TTexterIcon::Underline: DrawLetter(p, "U", false, false, true); break;
    case TTexterIcon::FontColor:
        DrawLetter(p, "A", true, false, false);
        p.fillRect(2, 13, 12, 3, Qt::red);
        break;
    case TTexterIcon::BackColor:
        p.setBrush(QColor(255, 255, 160));
        p.drawRect(1, 1, 13, 13);
        break;
    case TTexterIcon::Left: DrawAlignLines(p, taLeftJustify); break;
    case TTexterIcon::Centre: DrawAlignLines(p, taCenter); break;
    case TTexterIcon::Right: DrawAlignLines(p, taRightJustify); break;
    }
    return QIcon(pixmap);
}

size_t LeadingTabs(const std::string& Line)
{
    size_t t = 0;
    while (t < Line.size() && Line[t] == '\t')
        ++t;
    return t;
}

} // namespace

// ---- Layout -----------------------------------------------------------------------

TTextLayout LayOutTextLines(const std::vector<TMeasuredLine>& Lines, int32_t LineHeight,
                            const std::function<int32_t(const std::string&)>& Measure)
{
    TTextLayout out;
    std::vector<int64_t> indents;
    int64_t w = 0;
    for (const TMeasuredLine& line : Lines) {
        const size_t t = LeadingTabs(line.Text);
        TTextLinePlacement place;
        place.Text = line.Text.substr(t);
        place.Width = Measure(place.Text);
        w = std::max<int64_t>(w, place.Width);
        indents.push_back(int64_t(t) * TabIndent);
        out.Lines.push_back(std::move(place));
    }
    out.Width = w + Margin;
    for (size_t i = 0; i < out.Lines.size(); ++i) {
        TTextLinePlacement& place = out.Lines[i];
        int64_t x = indents[i] + 1;
        if (Lines[i].Align == taRightJustify)
            x = w - place.Width + indents[i];
        else if (Lines[i].Align == taCenter)
            x = SafeRound(double(w - place.Width) / 2) + indents[i];
        // Indents are bounded by the line's own length, far inside 32 bits.
        place.X = int32_t(std::min<int64_t>(x, INT32_MAX));
        place.Y = int32_t(std::min<int64_t>(5 + int64_t(i) * LineHeight, INT32_MAX));
        out.Width = std::max(out.Width, x + place.Width);
    }
    out.Height = int64_t(LineHeight) * int64_t(Lines.size()) + Margin;
    return out;
}

namespace {

// Measured a piece at a time, so that a paragraph of megabytes is never shaped whole and
// the sum can stop once it is past what the picture holds.
constexpr size_t MeasureChunk = 4096;

// Width of Text in pieces, stopping once it passes Limit.
int64_t MeasureUpTo(std::string_view Text, int64_t Limit, const std::function<int32_t(const std::string&)>& Measure)
{
    int64_t width = 0;
    while (!Text.empty() && width <= Limit) {
        size_t n = std::min(Text.size(), MeasureChunk);
        while (n < Text.size() && n > 1 && (uint8_t(Text[n]) & 0xC0) == 0x80)
            --n; // never split a character
        width += Measure(std::string(Text.substr(0, n)));
        Text.remove_prefix(n);
    }
    return width;
}

bool IsBlank(char C) { return C == ' ' || C == '\t' || C == '\r' || C == '\n' || C == '\v' || C == '\f'; }

size_t SkipBlanks(std::string_view Text, size_t At)
{
    while (At < Text.size() && IsBlank(Text[At]))
        ++At;
    return At;
}

size_t WordEnd(std::string_view Text, size_t At)
{
    while (At < Text.size() && !IsBlank(Text[At]))
        ++At;
    return At;
}

// Whether a word of Text is wider than Limit. Whole words are measured together in
// pieces of up to MeasureChunk bytes (a word cannot be wider than a piece holding it),
// and only a piece wider than Limit word by word, so an ordinary text costs one
// measuring and a word of megabytes no more than Limit's worth of it.
bool HasWordWiderThan(std::string_view Text, int64_t Limit, const std::function<int32_t(const std::string&)>& Measure)
{
    for (size_t At = SkipBlanks(Text, 0); At < Text.size(); At = SkipBlanks(Text, At)) {
        size_t End = WordEnd(Text, At);
        for (size_t Next = SkipBlanks(Text, End); Next < Text.size(); Next = SkipBlanks(Text, End)) {
            const size_t After = WordEnd(Text, Next);
            if (After - At > MeasureChunk)
                break;
            End = After;
        }
        const std::string_view Piece = Text.substr(At, End - At);
        if (MeasureUpTo(Piece, Limit, Measure) > Limit)
            for (size_t W = 0; W < Piece.size(); W = SkipBlanks(Piece, WordEnd(Piece, W)))
                if (MeasureUpTo(Piece.substr(W, WordEnd(Piece, W) - W), Limit, Measure) > Limit)
                    return true;
        At = End;
    }
    return false;
}

} // namespace

const char* const TextTooLongMessage = "This text is too long for a text layer";
const char* const TextTooManyLinesMessage = "This text has too many lines for a text layer";

void CheckTextPictureSize(int64_t Width, int64_t Height)
{
    if (Height > MaxPixelSide)
        throw EOutOfResources(TextTooManyLinesMessage);
    if (Width > MaxPixelSide || Width * Height > MaxTextPixels)
        throw EOutOfResources(TextTooLongMessage);
}

void CheckTextFitsPicture(const TTextParagraphs& Text, int32_t LineHeight,
                          const std::function<int32_t(const std::string&)>& Measure)
{
    const int64_t h = std::max(LineHeight, 1);
    if (h * Text.Count + Margin > MaxPixelSide)
        throw EOutOfResources(TextTooManyLinesMessage);
    // The most line width the picture holds: at least a line a paragraph, each as wide
    // as the widest plus the margin, so the picture has at least (total + 10 * count) * h
    // pixels.
    const int64_t widthCap = MaxTextPixels / h - Margin * Text.Count;
    const int64_t wordCap = MaxPixelSide - Margin;
    int64_t total = 0;
    for (const TRtfParagraph& para : Text.Document.Paragraphs) {
        const std::string text = para.PlainText();
        const std::string_view ink = std::string_view(text).substr(LeadingTabs(text));
        const int64_t w = MeasureUpTo(ink, std::max(widthCap - total, wordCap), Measure);
        total += w;
        if (total > widthCap || (w > wordCap && HasWordWiderThan(ink, wordCap, Measure)))
            throw EOutOfResources(TextTooLongMessage);
    }
}

std::string TextFileName(const std::string& Name, const std::string& Ext)
{
    const std::string lower = LowerCase(Name);
    const bool has = lower.size() >= Ext.size() && lower.compare(lower.size() - Ext.size(), Ext.size(), Ext) == 0;
    return has ? Name : Name + Ext;
}

// ---- The dialog ---------------------------------------------------------------------

TTexter::TTexter(QWidget* Owner, IMainForm& MainWindow)
    : TDialogForm("TTexter", Owner), MainForm(MainWindow), FontDialog1(std::make_unique<TFontDialog>()),
      ColorDialog1(std::make_unique<TColorDialog>()), OpenDialog1(std::make_unique<TOpenDialog>()),
      SaveDialog1(std::make_unique<TSaveDialog>())
{
    SetCaption("Add Text");
    OpenDialog1->Filter = "Supported files|*.txt; *.rtf|Text|*.txt|RTF files|*.rtf";
    SaveDialog1->Filter = "RTF files|*.rtf|Text files|*.txt";

    Rtf = new TRichEdit(this);
    Rtf->SetParagraphs({"Text"});
    Rtf->setMinimumSize(360, 200);
    BuildToolBar();

    CheckBox1 = new QCheckBox("Interpolation", this);
    Alpha = new QCheckBox("Transparent background ", this);
    Peren = new QCheckBox("Transfer words", this);
    for (QCheckBox* box : {CheckBox1, Alpha, Peren})
        box->setChecked(true);
    connect(Peren, &QCheckBox::clicked, this, [this] { SafeCall([this] { PerenClick(); }, this); });

    ImageControl = new TImage32(this);
    ImageControl->setFixedSize(96, 48);
    ImageControl->SetScale(1);
    ImageControl->FitBitmapToControl(true, 0xFF000000u);

    Button1 = AddButton("OK", mrOk, [this] { Button1Click(); });
    Button2 = AddButton("Cancel", mrCancel);
    Button3 = AddButton("Preview", mrNone, [this] { Button3Click(); });

    auto* options = new QHBoxLayout;
    options->addWidget(ImageControl);
    options->addWidget(CheckBox1);
    options->addWidget(Alpha);
    options->addWidget(Peren);
    options->addStretch();
    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    for (QPushButton* b : {Button1, Button2, Button3})
        buttons->addWidget(b);
    auto* main = new QVBoxLayout(this);
    main->addWidget(ToolBar1);
    main->addWidget(Rtf, 1);
    main->addLayout(options);
    main->addLayout(buttons);
    // Laid out now, so that a render before the first showing wraps at the edit's width.
    resize(sizeHint());
    main->activate();
}

TTexter::~TTexter() = default;

QToolButton* TTexter::AddTool(const std::string& Hint, TTexterIcon Icon, void (TTexter::*Handler)(), TToolKind Kind)
{
    auto* b = new QToolButton(ToolBar1);
    b->setIcon(DrawnIcon(Icon));
    b->setToolTip(QString::fromStdString(Hint));
    b->setAutoRaise(true);
    b->setIconSize(QSize(16, 16));
    b->setFixedSize(24, 24);
    b->setCheckable(Kind == tkCheck);
    if (Handler)
        connect(b, &QToolButton::clicked, this,
                [this, Handler] { SafeCall([this, Handler] { (this->*Handler)(); }, this); });
    ToolBar1->layout()->addWidget(b);
    return b;
}

void TTexter::BuildToolBar()
{
    ToolBar1 = new QWidget(this);
    auto* row = new QHBoxLayout(ToolBar1);
    row->setContentsMargins(0, 0, 0, 0);
    row->setSpacing(0);
    ToolButton7 = AddTool("New", TTexterIcon::New, &TTexter::ToolButton7Click);
    ToolButton6 = AddTool("Load From File", TTexterIcon::Open, &TTexter::ToolButton6Click);
    ToolButton3 = AddTool("Save", TTexterIcon::Save, &TTexter::ToolButton3Click);
    row->addSpacing(8);
    ToolButton4 = AddTool("Font Properties", TTexterIcon::Font, &TTexter::ToolButton4Click);
    BoldButton = AddTool("Bold", TTexterIcon::Bold, &TTexter::BoldButtonClick, tkCheck);
    ItBut = AddTool("Italic", TTexterIcon::Italic, &TTexter::ItButClick, tkCheck);
    Under = AddTool("Underline", TTexterIcon::Underline, &TTexter::UnderClick, tkCheck);
    ToolButton11 = AddTool("Font Color", TTexterIcon::FontColor, &TTexter::ToolButton11Click);
    ToolButton5 = AddTool("Background Color", TTexterIcon::BackColor, &TTexter::ToolButton5Click);
    row->addSpacing(8);
    ToolButton12 = AddTool("Left", TTexterIcon::Left, nullptr, tkCheck);
    ToolButton13 = AddTool("Center", TTexterIcon::Centre, nullptr, tkCheck);
    ToolButton14 = AddTool("Right", TTexterIcon::Right, nullptr, tkCheck);
    auto* group = new QButtonGroup(this);
    group->setExclusive(true);
    const std::pair<QToolButton*, TAlignment> aligns[] = {
        {ToolButton12, taLeftJustify}, {ToolButton13, taCenter}, {ToolButton14, taRightJustify}};
    for (auto [button, align] : aligns) {
        group->addButton(button);
        connect(button, &QToolButton::clicked, this,
                [this, a = align] { SafeCall([this, a] { AlignClick(a); }, this); });
    }
    ToolButton12->setChecked(true);
    row->addStretch();
}

// ---- ITextLayerSource ----------------------------------------------------------------

TBitmap32* TTexter::Image() { return ImageControl->Bitmap(); }
bool TTexter::TransparentBackground() { return Alpha->isChecked(); }
TColor TTexter::BackgroundColor() { return Rtf->Color(); }
bool TTexter::Interpolation() { return CheckBox1->isChecked(); }

// ---- Rendering ------------------------------------------------------------------------

TTextLayout TTexter::LayOutText()
{
    TBitmap32* B = Image();
    B->SetFont(Rtf->Font());
    std::vector<TMeasuredLine> lines;
    for (const TDisplayLine& line : Rtf->DisplayLines())
        lines.push_back({line.Text, Rtf->ParagraphAlignment(line.Paragraph)});
    const int32_t h = lines.empty() ? 0 : B->TextHeight(lines.front().Text);
    TTextLayout layout = LayOutTextLines(lines, h, [B](const std::string& S) { return B->TextWidth(S); });
    CheckTextPictureSize(layout.Width, layout.Height);
    return layout;
}

void TTexter::RenderIt(int32_t Mode)
{
    const TTextLayout layout = LayOutText();
    TBitmap32* B = Image();
    B->SetSize(int32_t(layout.Width), int32_t(layout.Height));
    TColor32 color = 0xFFFFFFFFu;
    if (Mode == TextRenderMask) {
        B->ClearTo(0);
    } else {
        color = WinColorToColor32(Rtf->Font()->Color()) | 0xFF000000u;
        if (Alpha->isChecked()) {
            B->ClearTo(color); // the letters' shape comes from the mask pass
            return;
        }
        B->ClearTo(WinColorToColor32(Rtf->Color()) | 0xFF000000u);
    }
    ++FLetterRenders;
    for (const TTextLinePlacement& line : layout.Lines)
        B->DrawTextAA(line.X, line.Y, line.Text, FAntialias, color);
}

// The layer's own render (AddTextLayer) draws the letters once: with a transparent
// background it starts from the colour picture, which is one fill; with an opaque one it
// renders the colour picture itself, so the text is only judged here.
bool TTexter::RenderForLayer()
{
    try {
        if (Alpha->isChecked() || !LayerTools)
            RenderIt(TextRenderNormal);
        else
            LayOutText();
        return true;
    } catch (const Exception& e) {
        ShowMessage(e.Message());
        return false;
    }
}

// ---- Dialog behaviour -----------------------------------------------------------------

void TTexter::FormActivate()
{
    FAntialias = 0;
    ColorDialog1->Color = clWhite;
    try {
        RenderIt(TextRenderNormal);
    } catch (const Exception& e) {
        ShowMessage(e.Message()); // the text can still be edited down to size
    }
    Rtf->SetWordWrap(Peren->isChecked());
}

void TTexter::FormClose()
{
    // Any close but OK takes the preview layer away, the title bar's included.
    if (ModalResult() == mrOk || !LayerTools)
        return;
    if (MainForm.View()->Layers()->Count() > MainForm.LayerCountBeforeText())
        LayerTools->mnDeleteClick();
}

void TTexter::Button1Click()
{
    if (!RenderForLayer()) {
        SetModalResult(mrNone); // refused: the dialog stays open
        return;
    }
    if (LayerTools)
        LayerTools->AddTextLayer(*this);
}

void TTexter::Button3Click()
{
    if (RenderForLayer() && LayerTools)
        LayerTools->AddTextLayer(*this);
}

void TTexter::ToolButton7Click() { Rtf->Clear(); }

void TTexter::ToolButton6Click()
{
    if (!OpenDialog1->Execute())
        return;
    // Judged with the render's own metrics before the edit builds the text: a text the
    // picture cannot hold would only cost time and memory to show.
    TBitmap32* B = Image();
    B->SetFont(Rtf->Font());
    const int32_t h = std::max(B->TextHeight("Text"), 1);
    const TTextParagraphs text = TRichEdit::ReadTextFile(OpenDialog1->FileName, size_t((MaxPixelSide - Margin) / h));
    try {
        CheckTextFitsPicture(text, h, [B](const std::string& S) { return B->TextWidth(S); });
    } catch (const EOutOfResources& e) {
        ShowMessage(e.Message()); // the edit keeps its text
        return;
    }
    // The layer is drawn in the edit's one font and colour: the file's own are not shown.
    Rtf->SetText(text.Document);
}

void TTexter::ToolButton3Click()
{
    if (!SaveDialog1->Execute() || SaveDialog1->FileName.empty())
        return;
    const bool plain = SaveDialog1->FilterIndex == 2;
    const std::string name = TextFileName(SaveDialog1->FileName, plain ? ".txt" : ".rtf");
    if (ConfirmReplace(name))
        Rtf->SaveToFile(name, plain ? tfPlainText : tfRichText);
}

void TTexter::ToolButton4Click()
{
    if (!FontDialog1->Execute())
        return;
    Rtf->SetFont(FontDialog1->Font());
    BoldButton->setChecked(Rtf->Font()->Style() & fsBold);
    ItBut->setChecked(Rtf->Font()->Style() & fsItalic);
    Under->setChecked(Rtf->Font()->Style() & fsUnderline);
}

void TTexter::ToggleEditorStyle(TFontStyle Style, QToolButton* Button)
{
    TFont* f = Rtf->Font();
    f->SetStyle(TFontStyles(f->Style() ^ Style));
    Button->setChecked(f->Style() & Style);
}

void TTexter::BoldButtonClick()
{
    TFont* d = FontDialog1->Font();
    d->SetStyle(TFontStyles(d->Style() ^ fsBold));
    ToggleEditorStyle(fsBold, BoldButton);
}

void TTexter::ItButClick() { ToggleEditorStyle(fsItalic, ItBut); }
void TTexter::UnderClick() { ToggleEditorStyle(fsUnderline, Under); }

void TTexter::ToolButton11Click()
{
    if (!ColorDialog1->Execute())
        return;
    Rtf->Font()->SetColor(ColorDialog1->Color);
    FontDialog1->Font()->SetColor(ColorDialog1->Color);
}

void TTexter::ToolButton5Click()
{
    if (ColorDialog1->Execute())
        Rtf->SetColor(ColorDialog1->Color);
}

void TTexter::AlignClick(TAlignment Value)
{
    Rtf->SetAlignment(Value);
    QToolButton* pressed = Value == taCenter ? ToolButton13 : Value == taRightJustify ? ToolButton14 : ToolButton12;
    pressed->setChecked(true);
}

void TTexter::PerenClick() { Rtf->SetWordWrap(Peren->isChecked()); }

} // namespace kv
