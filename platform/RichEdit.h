// The platform's rich-text edit on QTextEdit: the displayed lines under word wrap with
// the paragraph that holds each, a whole-control font and background colour, paragraph
// alignment of the selection, and loading and saving rich text (our RTF) or plain text.
#pragma once

#include "platform/Graphics.h"
#include "platform/KvExtCtrls.h"
#include "platform/RichText.h"

#include <QTextEdit>

#include <memory>
#include <string>
#include <vector>

namespace kv {

// One line as the edit shows it: a paragraph split by word wrap gives several.
struct TDisplayLine {
    std::string Text; // UTF-8, without the line-break character
    int32_t Paragraph = 0;
};

enum TTextFileFormat : uint8_t { tfRichText, tfPlainText };

class TRichEdit : public QTextEdit, public TObject {
public:
    explicit TRichEdit(QWidget* Owner = nullptr);
    ~TRichEdit() override;
    std::string ClassName() const override { return "TRichEdit"; }

    // Lines: every displayed line, laid out at the control's present width.
    std::vector<TDisplayLine> DisplayLines();
    // The paragraphs' text, one string each (a line break inside one splits it).
    std::vector<std::string> Paragraphs() const;
    void SetParagraphs(const std::vector<std::string>& Lines);
    int32_t ParagraphCount() const;
    // A paragraph's alignment, read without touching the selection.
    TAlignment ParagraphAlignment(int32_t Paragraph) const;
    void Clear();

    bool WordWrap() const;
    void SetWordWrap(bool Value);
    TColor Color() const { return FColor; }
    void SetColor(TColor Value);
    // The whole control's font: every character takes it, as does new typing. Changing
    // the returned font applies it as well.
    TFont* Font() { return FFont.get(); }
    void SetFont(TFont* Value) { FFont->Assign(Value); }
    // Paragraph.Alignment: of the paragraph holding the selection start; setting it
    // aligns every paragraph the selection touches.
    TAlignment Alignment() const;
    void SetAlignment(TAlignment Value);
    int32_t SelStart() const;
    void SetSelStart(int32_t Value);

    TRtfDocument Document() const;
    void SetDocument(const TRtfDocument& Document);
    // The document's text and paragraph alignment, every character in the control's font
    // and colour: its own fonts, sizes, colours and styles are dropped.
    void SetText(const TRtfDocument& Document);
    // Rich text when the file starts with "{\rtf", else plain text. On any error the
    // edit keeps its text and the error is raised (EFOpenError, ERtfError...).
    void LoadFromFile(const std::string& FileName);
    // A file read as LoadFromFile reads it, the edit untouched: the text of its first
    // MaxParagraphs paragraphs and the count of all.
    static TTextParagraphs ReadTextFile(const std::string& FileName, size_t MaxParagraphs = SIZE_MAX);
    // Written through a temporary file renamed over the target.
    void SaveToFile(const std::string& FileName, TTextFileFormat Format) const;

private:
    void ApplyFont();
    void SyncWrapWidth();
    std::unique_ptr<TFont> FFont;
    TColor FColor = clWhite;
};

} // namespace kv
