#include "platform/RichEdit.h"

#include "platform/Classes.h"
#include "platform/QtBridge.h"

#include <QAbstractTextDocumentLayout>
#include <QScrollBar>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>
#include <QTextLayout>

#include <cmath>

namespace kv {

namespace {

constexpr QChar LineBreak(0x2028);

QString ToQ(const std::string& S) { return QString::fromStdString(S); }
std::string FromQ(const QString& S) { return S.toStdString(); }

TAlignment FromQtAlign(Qt::Alignment A)
{
    if (A & Qt::AlignHCenter)
        return taCenter;
    if (A & (Qt::AlignRight | Qt::AlignTrailing))
        return taRightJustify;
    return taLeftJustify;
}

Qt::Alignment ToQtAlign(TAlignment A)
{
    switch (A) {
    case taCenter: return Qt::AlignHCenter;
    case taRightJustify: return Qt::AlignRight | Qt::AlignAbsolute;
    default: return Qt::AlignLeft | Qt::AlignAbsolute;
    }
}

TRtfAlign ToRtfAlign(TAlignment A) { return A == taCenter ? raCenter : A == taRightJustify ? raRight : raLeft; }
TAlignment FromRtfAlign(TRtfAlign A)
{
    return A == raCenter ? taCenter : A == raRight ? taRightJustify : taLeftJustify;
}

TRtfCharFormat ToRtfFormat(const QTextCharFormat& F)
{
    TRtfCharFormat out;
    const QFont font = F.font();
    out.FontName = FromQ(font.family());
    const double points = font.pointSizeF() > 0 ? font.pointSizeF() : font.pixelSize() * 72.0 / 96.0;
    out.HalfPoints = std::clamp(int32_t(std::lround(points * 2)), 2, 3276);
    out.Style =
        TFontStyles((font.bold() ? fsBold : 0) | (font.italic() ? fsItalic : 0) | (font.underline() ? fsUnderline : 0));
    if (F.foreground().style() != Qt::NoBrush)
        out.Color = FromQColor(F.foreground().color());
    return out;
}

QTextCharFormat ToQtFormat(const TRtfCharFormat& F, const TFont& Default)
{
    QTextCharFormat out;
    QFont font = ToQFont(Default);
    if (!F.FontName.empty())
        font.setFamily(ToQ(F.FontName));
    font.setPointSizeF(F.HalfPoints / 2.0);
    font.setBold(F.Style & fsBold);
    font.setItalic(F.Style & fsItalic);
    font.setUnderline(F.Style & fsUnderline);
    out.setFont(font);
    out.setForeground(ToQColor(F.Color ? *F.Color : Default.Color()));
    return out;
}

// Far beyond any text a user types or renders; larger files are refused before they
// are read.
constexpr int64_t MaxTextFileSize = int64_t(64) << 20;

std::string ReadWholeFile(const std::string& FileName)
{
    TFileStream in(FileName, fmOpenRead | fmShareDenyWrite);
    if (in.Size() > MaxTextFileSize)
        throw EReadError(FileName + " is too large for a text");
    std::string bytes(size_t(in.Size()), '\0');
    in.ReadBuffer(bytes.data(), int64_t(bytes.size()));
    return bytes;
}

} // namespace

TRichEdit::TRichEdit(QWidget* Owner) : QTextEdit(Owner), FFont(std::make_unique<TFont>())
{
    setAcceptRichText(false); // pasted text takes the control's font, as typed text does
    setTabChangesFocus(false);
    setFrameShape(QFrame::NoFrame);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    // Lines break between words only. Qt's other mode, which also breaks a word longer than
    // the line, rescans the rest of that word for every line it makes, so a long line with
    // no blank costs the square of its length. Such a word runs on past the edge, where the
    // horizontal bar reaches it, and the picture is as wide as the line the edit shows.
    setWordWrapMode(QTextOption::WordWrap);
    setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    SetColor(clWhite);
    FFont->OnChange = [this](TObject*) { ApplyFont(); };
    ApplyFont();
}

TRichEdit::~TRichEdit() { FFont->OnChange = nullptr; }

void TRichEdit::ApplyFont()
{
    const QFont font = ToQFont(*FFont);
    document()->setDefaultFont(font);
    QPalette p = palette();
    p.setColor(QPalette::Text, ToQColor(FFont->Color()));
    setPalette(p);
    QTextCharFormat format;
    format.setFont(font, QTextCharFormat::FontPropertiesAll);
    format.setForeground(ToQColor(FFont->Color()));
    QTextCursor all(document());
    all.select(QTextCursor::Document);
    all.mergeCharFormat(format);
    // Typing at the caret takes the font too, whatever the selection.
    QTextCursor caret = textCursor();
    caret.mergeCharFormat(format);
    setCurrentCharFormat(caret.charFormat());
}

void TRichEdit::SetColor(TColor Value)
{
    FColor = Value;
    QPalette p = palette();
    p.setColor(QPalette::Base, ToQColor(Value));
    setPalette(p);
}

bool TRichEdit::WordWrap() const { return lineWrapMode() != QTextEdit::NoWrap; }

void TRichEdit::SetWordWrap(bool Value) { setLineWrapMode(Value ? QTextEdit::WidgetWidth : QTextEdit::NoWrap); }

void TRichEdit::SyncWrapWidth()
{
    // A hidden edit gets its resize events only when shown: lay it out at the width its
    // viewport will have (the vertical bar is always there), as the shown edit does.
    if (!WordWrap() || isVisible())
        return;
    const int width = std::max(1, maximumViewportSize().width() - verticalScrollBar()->sizeHint().width());
    if (int(document()->pageSize().width()) != width)
        document()->setPageSize(QSizeF(width, -1));
}

std::vector<TDisplayLine> TRichEdit::DisplayLines()
{
    SyncWrapWidth();
    std::vector<TDisplayLine> lines;
    QAbstractTextDocumentLayout* layout = document()->documentLayout();
    int32_t paragraph = 0;
    for (QTextBlock block = document()->begin(); block.isValid(); block = block.next(), ++paragraph) {
        layout->blockBoundingRect(block); // lays the block out at the present width
        const QString text = block.text();
        const QTextLayout* tl = block.layout();
        const int n = tl ? tl->lineCount() : 0;
        if (n == 0) {
            lines.push_back({FromQ(QString(text).remove(LineBreak)), paragraph});
            continue;
        }
        for (int i = 0; i < n; ++i) {
            const QTextLine line = tl->lineAt(i);
            lines.push_back({FromQ(text.mid(line.textStart(), line.textLength()).remove(LineBreak)), paragraph});
        }
    }
    return lines;
}

std::vector<std::string> TRichEdit::Paragraphs() const
{
    std::vector<std::string> out;
    for (QTextBlock block = document()->begin(); block.isValid(); block = block.next())
        for (const QString& part : block.text().split(LineBreak))
            out.push_back(FromQ(part));
    return out;
}

void TRichEdit::SetParagraphs(const std::vector<std::string>& Lines)
{
    TRtfDocument doc;
    for (const std::string& line : Lines) {
        TRtfParagraph para;
        if (!line.empty())
            para.Runs.push_back({line, {}});
        doc.Paragraphs.push_back(std::move(para));
    }
    SetText(doc);
}

void TRichEdit::SetText(const TRtfDocument& Document)
{
    TRtfDocument plain;
    plain.Paragraphs.reserve(Document.Paragraphs.size());
    for (const TRtfParagraph& para : Document.Paragraphs) {
        TRtfParagraph one;
        one.Align = para.Align;
        if (std::string text = para.PlainText(); !text.empty())
            one.Runs.push_back({std::move(text), {}});
        plain.Paragraphs.push_back(std::move(one));
    }
    SetDocument(plain);
    ApplyFont();
}

int32_t TRichEdit::ParagraphCount() const { return document()->blockCount(); }

TAlignment TRichEdit::ParagraphAlignment(int32_t Paragraph) const
{
    const QTextBlock block = document()->findBlockByNumber(Paragraph);
    return block.isValid() ? FromQtAlign(block.blockFormat().alignment()) : taLeftJustify;
}

void TRichEdit::Clear()
{
    QTextEdit::clear();
    ApplyFont();
}

TAlignment TRichEdit::Alignment() const
{
    const QTextCursor c = textCursor();
    return FromQtAlign(document()->findBlock(c.selectionStart()).blockFormat().alignment());
}

void TRichEdit::SetAlignment(TAlignment Value) { setAlignment(ToQtAlign(Value)); }

int32_t TRichEdit::SelStart() const { return textCursor().selectionStart(); }

void TRichEdit::SetSelStart(int32_t Value)
{
    QTextCursor c = textCursor();
    c.setPosition(std::clamp(Value, 0, document()->characterCount() - 1));
    setTextCursor(c);
}

TRtfDocument TRichEdit::Document() const
{
    TRtfDocument doc;
    for (QTextBlock block = document()->begin(); block.isValid(); block = block.next()) {
        TRtfParagraph para;
        para.Align = ToRtfAlign(FromQtAlign(block.blockFormat().alignment()));
        for (auto it = block.begin(); !it.atEnd(); ++it) {
            const QTextFragment fragment = it.fragment();
            if (fragment.isValid())
                para.Runs.push_back({FromQ(fragment.text()), ToRtfFormat(fragment.charFormat())});
        }
        doc.Paragraphs.push_back(std::move(para));
    }
    return doc;
}

void TRichEdit::SetDocument(const TRtfDocument& Document)
{
    QTextEdit::clear();
    QTextCursor c(document());
    c.beginEditBlock();
    bool first = true;
    for (const TRtfParagraph& para : Document.Paragraphs) {
        if (!first)
            c.insertBlock();
        first = false;
        QTextBlockFormat bf = c.blockFormat();
        bf.setAlignment(ToQtAlign(FromRtfAlign(para.Align)));
        c.setBlockFormat(bf);
        for (const TRtfRun& run : para.Runs)
            c.insertText(ToQ(run.Text), ToQtFormat(run.Format, *FFont));
    }
    c.endEditBlock();
    SetSelStart(0);
}

void TRichEdit::LoadFromFile(const std::string& FileName)
{
    const std::string bytes = ReadWholeFile(FileName);
    if (LooksLikeRtf(bytes))
        SetDocument(ReadRtf(bytes)); // parsed whole before the edit is touched
    else
        SetParagraphs(DecodePlainText(bytes));
}

TTextParagraphs TRichEdit::ReadTextFile(const std::string& FileName, size_t MaxParagraphs)
{
    const std::string bytes = ReadWholeFile(FileName);
    if (LooksLikeRtf(bytes))
        return ReadRtfParagraphs(bytes, MaxParagraphs);
    TTextParagraphs out;
    out.Count = CountPlainTextLines(bytes);
    for (std::string& line : DecodePlainText(bytes, MaxParagraphs)) {
        TRtfParagraph para;
        if (!line.empty())
            para.Runs.push_back({std::move(line), {}});
        out.Document.Paragraphs.push_back(std::move(para));
    }
    return out;
}

void TRichEdit::SaveToFile(const std::string& FileName, TTextFileFormat Format) const
{
    const std::string bytes = Format == tfPlainText ? EncodePlainText(Paragraphs()) : WriteRtf(Document());
    SaveFileSafely(FileName, [&bytes](TStream& Stream) { Stream.WriteBuffer(bytes.data(), int64_t(bytes.size())); });
}

} // namespace kv
