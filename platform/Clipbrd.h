// The clipboard: bitmaps through the system clipboard's image, and raw bytes under
// registered format names (MIME type "application/x-kelvane-<name>").
#pragma once

#include "platform/Graphics.h"

namespace kv {

// Ids of registered formats start at 0xC000, as the platform numbers them; the same
// name always gives the same id.
TClipboardFormat RegisterClipboardFormat(const std::string& Name);
std::string ClipboardFormatName(TClipboardFormat Format); // "" for an unknown id

class TClipboard : public TPersistent {
public:
    // Between Open and Close, every Set adds a format to one clipboard content;
    // outside, each Set replaces the content.
    void Open();
    void Close();
    void Clear();
    bool HasFormat(TClipboardFormat Format) const;
    // The formats on the clipboard that the program knows (CF_BITMAP and registered ones).
    std::vector<TClipboardFormat> Formats() const;

    void SetAsHandle(TClipboardFormat Format, const std::vector<uint8_t>& Data);
    std::vector<uint8_t> GetAsHandle(TClipboardFormat Format) const; // empty when absent
    std::string AsText() const;
    void SetAsText(const std::string& Text);

    // TBitmap, TPicture or any TGraphic (drawn into a bitmap) onto the clipboard; a
    // bitmap goes both as the system's image and as "image/png" bytes.
    void Assign(TPersistent* Source) override;
    std::string ClassName() const override { return "TClipboard"; }

protected:
    // Fills a TBitmap or TPicture (pf32bit) from the clipboard's image; an image without
    // an alpha channel comes out opaque, an impossible size raises and leaves Dest as it was.
    void AssignTo(TPersistent* Dest) override;

private:
    void SetImage(const TBitmap& Bitmap);
    int FOpenCount = 0;
    struct Pending;
    std::shared_ptr<Pending> FPending;
};

// The one clipboard object of the process (created on first use, never freed).
TClipboard* Clipboard();

} // namespace kv
