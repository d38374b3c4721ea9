// Colours, palettes, pens, brushes, fonts, the canvas and the block transfers. The
// platform bitmap and its BMP codec live in Bitmap.cpp, pictures in Picture.cpp.
#include "platform/Graphics.h"

#include "platform/CanvasSurface.h"
#include "platform/QtBridge.h"

#include <QFontMetrics>
#include <QGuiApplication>
#include <QPainterPath>

#include <algorithm>
#include <array>
#include <cstring>
#include <mutex>

namespace kv {

// ---- Colours -----------------------------------------------------------------------

namespace {

// The classic Windows scheme, as GetSysColor answers it out of the box (0x00BBGGRR).
constexpr std::array<TColor, 31> SystemColors = {
    0xC0C0C0, // 0  scroll bar
    0x808000, // 1  desktop
    0x800000, // 2  active caption
    0x808080, // 3  inactive caption
    0xC0C0C0, // 4  menu
    0xFFFFFF, // 5  window
    0x000000, // 6  window frame
    0x000000, // 7  menu text
    0x000000, // 8  window text
    0xFFFFFF, // 9  caption text
    0xC0C0C0, // 10 active border
    0xC0C0C0, // 11 inactive border
    0x808080, // 12 application work space
    0x800000, // 13 highlight
    0xFFFFFF, // 14 highlight text
    0xC0C0C0, // 15 button face
    0x808080, // 16 button shadow
    0x808080, // 17 grey text
    0x000000, // 18 button text
    0xC0C0C0, // 19 inactive caption text
    0xFFFFFF, // 20 button highlight
    0x000000, // 21 3-D dark shadow
    0xDFDFDF, // 22 3-D light
    0x000000, // 23 tooltip text
    0xE1FFFF, // 24 tooltip background
    0x000000, // 25 (unused)
    0x800000, // 26 hot light
    0xF0CAA6, // 27 gradient active caption
    0xC0C0C0, // 28 gradient inactive caption
    0xC0C0C0, // 29 menu highlight... classic menus use the highlight colour
    0xC0C0C0, // 30 menu bar
};

struct ColorName {
    TColor Value;
    const char* Name;
};

// In the platform's order: where two names share a value the first one is written.
constexpr ColorName ColorNames[] = {
    {clBlack, "clBlack"},
    {clMaroon, "clMaroon"},
    {clGreen, "clGreen"},
    {clOlive, "clOlive"},
    {clNavy, "clNavy"},
    {clPurple, "clPurple"},
    {clTeal, "clTeal"},
    {clGray, "clGray"},
    {clSilver, "clSilver"},
    {clRed, "clRed"},
    {clLime, "clLime"},
    {clYellow, "clYellow"},
    {clBlue, "clBlue"},
    {clFuchsia, "clFuchsia"},
    {clAqua, "clAqua"},
    {clWhite, "clWhite"},
    {clMoneyGreen, "clMoneyGreen"},
    {clSkyBlue, "clSkyBlue"},
    {clCream, "clCream"},
    {clMedGray, "clMedGray"},
    {clActiveBorder, "clActiveBorder"},
    {clActiveCaption, "clActiveCaption"},
    {clAppWorkSpace, "clAppWorkSpace"},
    {clBackground, "clBackground"},
    {clBtnFace, "clBtnFace"},
    {clBtnHighlight, "clBtnHighlight"},
    {clBtnShadow, "clBtnShadow"},
    {clBtnText, "clBtnText"},
    {clCaptionText, "clCaptionText"},
    {clDefault, "clDefault"},
    {clGrayText, "clGrayText"},
    {clHighlight, "clHighlight"},
    {clHighlightText, "clHighlightText"},
    {clInactiveBorder, "clInactiveBorder"},
    {clInactiveCaption, "clInactiveCaption"},
    {clInactiveCaptionText, "clInactiveCaptionText"},
    {clInfoBk, "clInfoBk"},
    {clInfoText, "clInfoText"},
    {clMenu, "clMenu"},
    {clMenuText, "clMenuText"},
    {clNone, "clNone"},
    {clScrollBar, "clScrollBar"},
    {cl3DDkShadow, "cl3DDkShadow"},
    {cl3DLight, "cl3DLight"},
    {clWindow, "clWindow"},
    {clWindowFrame, "clWindowFrame"},
    {clWindowText, "clWindowText"},
};

} // namespace

TColor ColorToRGB(TColor Color)
{
    if (Color < 0) {
        uint32_t index = uint32_t(Color) & 0xFF;
        return index < SystemColors.size() ? SystemColors[index] : 0;
    }
    return Color & 0xFFFFFF;
}

std::string ColorToString(TColor Color)
{
    for (const auto& n : ColorNames)
        if (n.Value == Color)
            return n.Name;
    char buf[16];
    std::snprintf(buf, sizeof buf, "$%08X", uint32_t(Color));
    return buf;
}

bool IdentToColor(const std::string& Ident, TColor& Color)
{
    std::string lower = LowerCase(Ident);
    for (const auto& n : ColorNames)
        if (LowerCase(n.Name) == lower) {
            Color = n.Value;
            return true;
        }
    return false;
}

TColor StringToColor(const std::string& S)
{
    TColor c;
    if (IdentToColor(Trim(S), c))
        return c;
    std::string t = Trim(S);
    bool hex = !t.empty() && t[0] == '$';
    bool negative = false;
    size_t i = hex ? 1 : 0;
    if (!hex && i < t.size() && (t[i] == '-' || t[i] == '+')) {
        negative = t[i] == '-';
        ++i;
    }
    if (i >= t.size())
        throw EConvertError("'" + S + "' is not a valid integer value");
    uint64_t v = 0;
    for (; i < t.size(); ++i) {
        int d;
        char ch = t[i];
        if (ch >= '0' && ch <= '9')
            d = ch - '0';
        else if (hex && ch >= 'a' && ch <= 'f')
            d = ch - 'a' + 10;
        else if (hex && ch >= 'A' && ch <= 'F')
            d = ch - 'A' + 10;
        else
            throw EConvertError("'" + S + "' is not a valid integer value");
        v = v * (hex ? 16 : 10) + uint64_t(d);
        if (v > 0xFFFFFFFFull)
            throw EConvertError("'" + S + "' is not a valid integer value");
    }
    if (!hex && v > (negative ? 0x80000000ull : 0x7FFFFFFFull))
        throw EConvertError("'" + S + "' is not a valid integer value");
    return negative ? TColor(-int64_t(v)) : TColor(uint32_t(v));
}

// ---- Palettes ----------------------------------------------------------------------

struct TPaletteObject {
    uint32_t Magic = 0x4C415050; // guards against stale handles
    std::vector<TPaletteEntry> Entries;
};

namespace {

std::mutex PaletteLock;
std::vector<TPaletteObject*>& LivePalettes()
{
    static std::vector<TPaletteObject*> live; // owned: DeletePalette frees
    return live;
}

bool IsLive(HPALETTE P)
{
    if (!P)
        return false;
    std::lock_guard<std::mutex> lock(PaletteLock);
    auto& live = LivePalettes();
    return std::find(live.begin(), live.end(), P) != live.end();
}

} // namespace

HPALETTE CreatePalette(const std::vector<TPaletteEntry>& Entries, uint16_t)
{
    if (Entries.empty() || Entries.size() > 65535)
        return nullptr;
    auto* p = new TPaletteObject; // owned by the live list until DeletePalette
    p->Entries = Entries;
    std::lock_guard<std::mutex> lock(PaletteLock);
    LivePalettes().push_back(p);
    return p;
}

bool DeletePalette(HPALETTE Palette)
{
    std::lock_guard<std::mutex> lock(PaletteLock);
    auto& live = LivePalettes();
    auto it = std::find(live.begin(), live.end(), Palette);
    if (it == live.end())
        return false;
    live.erase(it);
    delete Palette;
    return true;
}

uint32_t GetPaletteEntries(HPALETTE Palette, uint32_t Start, uint32_t Count, TPaletteEntry* Entries)
{
    if (!IsLive(Palette))
        return 0;
    const auto& e = Palette->Entries;
    if (!Entries)
        return uint32_t(e.size());
    if (Start >= e.size())
        return 0;
    uint32_t n = std::min<uint32_t>(Count, uint32_t(e.size()) - Start);
    std::copy_n(e.begin() + Start, n, Entries);
    return n;
}

uint32_t SetPaletteEntries(HPALETTE Palette, uint32_t Start, uint32_t Count, const TPaletteEntry* Entries)
{
    if (!IsLive(Palette) || !Entries)
        return 0;
    auto& e = Palette->Entries;
    if (Start >= e.size())
        return 0;
    uint32_t n = std::min<uint32_t>(Count, uint32_t(e.size()) - Start);
    std::copy_n(Entries, n, e.begin() + Start);
    return n;
}

std::vector<TPaletteEntry> PaletteEntries(HPALETTE Palette)
{
    if (!IsLive(Palette))
        return {};
    return Palette->Entries;
}

std::vector<TPaletteEntry> SystemPaletteEntries()
{
    static const uint8_t rgb[20][3] = {
        {0, 0, 0},       {128, 0, 0},     {0, 128, 0},     {128, 128, 0},   {0, 0, 128},
        {128, 0, 128},   {0, 128, 128},   {192, 192, 192}, {192, 220, 192}, {166, 202, 240},
        {255, 251, 240}, {160, 160, 164}, {128, 128, 128}, {255, 0, 0},     {0, 255, 0},
        {255, 255, 0},   {0, 0, 255},     {255, 0, 255},   {0, 255, 255},   {255, 255, 255},
    };
    std::vector<TPaletteEntry> e(20);
    for (int i = 0; i < 20; ++i)
        e[i] = {rgb[i][0], rgb[i][1], rgb[i][2], 0};
    return e;
}

std::vector<TPaletteEntry> HalftonePaletteEntries()
{
    // The ten low static colours, a 6x6x6 colour cube, twenty greys between the cube's
    // grey steps, and the ten high static colours.
    auto sys = SystemPaletteEntries();
    std::vector<TPaletteEntry> e;
    e.reserve(256);
    e.insert(e.end(), sys.begin(), sys.begin() + 10);
    for (int b = 0; b < 6; ++b)
        for (int g = 0; g < 6; ++g)
            for (int r = 0; r < 6; ++r)
                e.push_back({uint8_t(r * 51), uint8_t(g * 51), uint8_t(b * 51), 0});
    for (int k = 1; k <= 20; ++k) {
        uint8_t v = uint8_t((k * 255 + 10) / 21);
        e.push_back({v, v, v, 0});
    }
    e.insert(e.end(), sys.begin() + 10, sys.end());
    return e;
}

HPALETTE CreateHalftonePalette() { return CreatePalette(HalftonePaletteEntries()); }

uint32_t NearestPaletteIndex(const std::vector<TPaletteEntry>& Entries, TColor Color)
{
    TColor c = ColorToRGB(Color);
    int r = GetRValue(c), g = GetGValue(c), b = GetBValue(c);
    uint32_t best = 0;
    int bestDist = 1 << 30;
    for (size_t i = 0; i < Entries.size(); ++i) {
        int dr = Entries[i].peRed - r, dg = Entries[i].peGreen - g, db = Entries[i].peBlue - b;
        int d = dr * dr + dg * dg + db * db;
        if (d < bestDist) {
            bestDist = d;
            best = uint32_t(i);
            if (d == 0)
                break;
        }
    }
    return best;
}

uint32_t GetNearestPaletteIndex(HPALETTE Palette, TColor Color)
{
    if (!IsLive(Palette))
        return 0xFFFFFFFFu; // CLR_INVALID, as GDI answers for a bad handle
    return NearestPaletteIndex(Palette->Entries, Color);
}

// ---- Pens, brushes, fonts ----------------------------------------------------------

void TGraphicsObject::Changed()
{
    if (OnChange)
        OnChange(this);
}

#define KV_SETTER(Class, Name, Type, Field)                                                                            \
    void Class::Set##Name(Type Value)                                                                                  \
    {                                                                                                                  \
        if (Field == Value)                                                                                            \
            return;                                                                                                    \
        Field = Value;                                                                                                 \
        Changed();                                                                                                     \
    }

KV_SETTER(TPen, Color, TColor, FColor)
KV_SETTER(TPen, Width, int32_t, FWidth)
KV_SETTER(TPen, Style, TPenStyle, FStyle)
KV_SETTER(TPen, Mode, TPenMode, FMode)
KV_SETTER(TBrush, Color, TColor, FColor)
KV_SETTER(TBrush, Style, TBrushStyle, FStyle)
KV_SETTER(TBrush, Bitmap, TBitmap*, FBitmap)
KV_SETTER(TFont, Name, const std::string&, FName)
KV_SETTER(TFont, Height, int32_t, FHeight)
KV_SETTER(TFont, Color, TColor, FColor)
KV_SETTER(TFont, Style, TFontStyles, FStyle)
KV_SETTER(TFont, Pitch, TFontPitch, FPitch)
KV_SETTER(TFont, Charset, TFontCharset, FCharset)
#undef KV_SETTER

void TPen::Assign(TPersistent* Source)
{
    auto* p = dynamic_cast<TPen*>(Source);
    if (!p)
        return TPersistent::Assign(Source);
    if (p == this)
        return;
    bool same = FColor == p->FColor && FWidth == p->FWidth && FStyle == p->FStyle && FMode == p->FMode;
    FColor = p->FColor;
    FWidth = p->FWidth;
    FStyle = p->FStyle;
    FMode = p->FMode;
    if (!same)
        Changed();
}

TBrush::TBrush() = default;
TBrush::~TBrush() = default;

void TBrush::Assign(TPersistent* Source)
{
    auto* b = dynamic_cast<TBrush*>(Source);
    if (!b)
        return TPersistent::Assign(Source);
    if (b == this)
        return;
    bool same = FColor == b->FColor && FStyle == b->FStyle && FBitmap == b->FBitmap;
    FColor = b->FColor;
    FStyle = b->FStyle;
    FBitmap = b->FBitmap;
    if (!same)
        Changed();
}

int32_t TFont::Size() const { return -MulDiv(FHeight, 72, 96); }

void TFont::SetSize(int32_t Value) { SetHeight(-MulDiv(Value, 96, 72)); }

void TFont::Assign(TPersistent* Source)
{
    auto* f = dynamic_cast<TFont*>(Source);
    if (!f)
        return TPersistent::Assign(Source);
    if (f == this)
        return;
    bool same = FName == f->FName && FHeight == f->FHeight && FColor == f->FColor && FStyle == f->FStyle &&
                FPitch == f->FPitch && FCharset == f->FCharset;
    FName = f->FName;
    FHeight = f->FHeight;
    FColor = f->FColor;
    FStyle = f->FStyle;
    FPitch = f->FPitch;
    FCharset = f->FCharset;
    if (!same)
        Changed();
}

// ---- Qt conversions ----------------------------------------------------------------

QColor ToQColor(TColor Color)
{
    TColor c = ColorToRGB(Color);
    return QColor(GetRValue(c), GetGValue(c), GetBValue(c));
}

TColor FromQColor(const QColor& Color)
{
    return RGB(uint8_t(Color.red()), uint8_t(Color.green()), uint8_t(Color.blue()));
}

static void InstallFontSubstitutes()
{
    // The program asks for Windows faces; fontconfig's own aliases cover most of them,
    // these fill the gaps with the metric-compatible faces the set-up installs.
    QFont::insertSubstitutions("Arial", {"Liberation Sans", "DejaVu Sans"});
    QFont::insertSubstitutions("MS Sans Serif", {"Liberation Sans", "DejaVu Sans"});
    QFont::insertSubstitutions("Microsoft Sans Serif", {"Liberation Sans", "DejaVu Sans"});
    QFont::insertSubstitutions("Tahoma", {"DejaVu Sans", "Liberation Sans"});
    QFont::insertSubstitutions("Verdana", {"DejaVu Sans", "Liberation Sans"});
    QFont::insertSubstitutions("Times New Roman", {"Liberation Serif", "DejaVu Serif"});
    QFont::insertSubstitutions("MS Serif", {"Liberation Serif", "DejaVu Serif"});
    QFont::insertSubstitutions("Courier New", {"Liberation Mono", "DejaVu Sans Mono"});
    QFont::insertSubstitutions("Courier", {"Liberation Mono", "DejaVu Sans Mono"});
}

QFont ToQFont(const TFont& Font)
{
    static std::once_flag once;
    std::call_once(once, InstallFontSubstitutes);
    QFont f(QString::fromStdString(Font.Name()));
    int32_t h = Font.Height();
    if (h == 0)
        h = -11;
    if (h < 0) {
        f.setPixelSize(std::clamp(-h, 1, 4096));
    } else {
        // A positive height is the whole cell (ascent + descent): scale the em to fit.
        f.setPixelSize(std::clamp(h, 1, 4096));
        int cell = QFontMetrics(f).height();
        if (cell > 0)
            f.setPixelSize(std::clamp(int(int64_t(h) * h / cell), 1, 4096));
    }
    f.setBold(Font.Style() & fsBold);
    f.setItalic(Font.Style() & fsItalic);
    f.setUnderline(Font.Style() & fsUnderline);
    f.setStrikeOut(Font.Style() & fsStrikeOut);
    if (Font.Pitch() == fpFixed)
        f.setFixedPitch(true);
    return f;
}

// ---- Canvas -------------------------------------------------------------------------

std::unique_ptr<TCanvasSurface> TCanvasSurface::OverBits(uint32_t* Bits, int32_t Width, int32_t Height, int32_t Stride)
{
    auto s = std::make_unique<TCanvasSurface>();
    if (!Bits || Width <= 0 || Height <= 0 || Stride < Width * 4)
        return s;
    s->Bits = Bits;
    s->Width = Width;
    s->Height = Height;
    s->Stride = Stride;
    s->Image = QImage(reinterpret_cast<uchar*>(Bits), Width, Height, Stride, QImage::Format_ARGB32);
    return s;
}

std::unique_ptr<TCanvasSurface> TCanvasSurface::OverPainter(QPainter* Painter, int32_t Width, int32_t Height)
{
    auto s = std::make_unique<TCanvasSurface>();
    s->Painter = Painter;
    s->Width = Width;
    s->Height = Height;
    return s;
}

TCanvas::TCanvas()
    : FPen(std::make_unique<TPen>()), FBrush(std::make_unique<TBrush>()), FFont(std::make_unique<TFont>())
{
}

TCanvas::~TCanvas() = default;

void TCanvas::AttachBuffer(uint32_t* Bits, int32_t Width, int32_t Height, int32_t Stride)
{
    FSurface = TCanvasSurface::OverBits(Bits, Width, Height, Stride);
}

void TCanvas::Detach() { FSurface.reset(); }

void TCanvas::SetSurface(std::unique_ptr<TCanvasSurface> Surface) { FSurface = std::move(Surface); }

bool TCanvas::Attached() const
{
    if (auto* bc = dynamic_cast<const TBitmapCanvas*>(this))
        return !bc->Bitmap()->Empty();
    return FSurface && (FSurface->HasBits() || FSurface->Painter);
}

int32_t TCanvas::SurfaceWidth() const
{
    if (auto* bc = dynamic_cast<const TBitmapCanvas*>(this))
        return bc->Bitmap()->Width();
    return FSurface ? FSurface->Width : 0;
}

int32_t TCanvas::SurfaceHeight() const
{
    if (auto* bc = dynamic_cast<const TBitmapCanvas*>(this))
        return bc->Bitmap()->Height();
    return FSurface ? FSurface->Height : 0;
}

TRect TCanvas::ClipRect() const { return Rect(0, 0, SurfaceWidth(), SurfaceHeight()); }

namespace {

Qt::PenStyle ToQtPenStyle(TPenStyle Style)
{
    switch (Style) {
    case psDash: return Qt::DashLine;
    case psDot: return Qt::DotLine;
    case psDashDot: return Qt::DashDotLine;
    case psDashDotDot: return Qt::DashDotDotLine;
    case psClear: return Qt::NoPen;
    default: return Qt::SolidLine;
    }
}

QPen MakeQPen(TPen& Pen)
{
    if (Pen.Style() == psClear)
        return QPen(Qt::NoPen);
    QPen p(ToQColor(Pen.Color()));
    p.setWidth(std::max(1, Pen.Width()));
    p.setStyle(ToQtPenStyle(Pen.Style()));
    // GDI leaves a line's last pixel out; Qt's flat caps do the same.
    p.setCapStyle(Qt::FlatCap);
    p.setJoinStyle(Qt::MiterJoin);
    return p;
}

QBrush MakeQBrush(TBrush& Brush)
{
    if (Brush.Bitmap() && !Brush.Bitmap()->Empty())
        return QBrush(BitmapToQImage(*Brush.Bitmap()));
    QColor c = ToQColor(Brush.Color());
    switch (Brush.Style()) {
    case bsClear: return QBrush(Qt::NoBrush);
    case bsHorizontal: return QBrush(c, Qt::HorPattern);
    case bsVertical: return QBrush(c, Qt::VerPattern);
    case bsFDiagonal: return QBrush(c, Qt::FDiagPattern);
    case bsBDiagonal: return QBrush(c, Qt::BDiagPattern);
    case bsCross: return QBrush(c, Qt::CrossPattern);
    case bsDiagCross: return QBrush(c, Qt::DiagCrossPattern);
    default: return QBrush(c);
    }
}

QPainter::CompositionMode PenModeComposition(TPenMode Mode)
{
    switch (Mode) {
    case pmBlack: return QPainter::RasterOp_ClearDestination;
    case pmWhite: return QPainter::RasterOp_SetDestination;
    case pmNot: return QPainter::RasterOp_NotDestination;
    case pmNotCopy: return QPainter::RasterOp_NotSource;
    case pmMergePenNot: return QPainter::RasterOp_SourceOrNotDestination;
    case pmMaskPenNot: return QPainter::RasterOp_SourceAndNotDestination;
    case pmMergeNotPen: return QPainter::RasterOp_NotSourceOrDestination;
    case pmMaskNotPen: return QPainter::RasterOp_NotSourceAndDestination;
    case pmMerge: return QPainter::RasterOp_SourceOrDestination;
    case pmNotMerge: return QPainter::RasterOp_NotSourceAndNotDestination;
    case pmMask: return QPainter::RasterOp_SourceAndDestination;
    case pmNotMask: return QPainter::RasterOp_NotSourceOrNotDestination;
    case pmXor: return QPainter::RasterOp_SourceXorDestination;
    case pmNotXor: return QPainter::RasterOp_NotSourceXorDestination;
    default: return QPainter::CompositionMode_SourceOver;
    }
}

// The binary raster operation of a pen mode on colour bits (P pen, D destination).
uint32_t Rop2(TPenMode Mode, uint32_t P, uint32_t D)
{
    switch (Mode) {
    case pmBlack: return 0;
    case pmWhite: return 0xFFFFFFFF;
    case pmNop: return D;
    case pmNot: return ~D;
    case pmCopy: return P;
    case pmNotCopy: return ~P;
    case pmMergePenNot: return P | ~D;
    case pmMaskPenNot: return P & ~D;
    case pmMergeNotPen: return ~P | D;
    case pmMaskNotPen: return ~P & D;
    case pmMerge: return P | D;
    case pmNotMerge: return ~(P | D);
    case pmMask: return P & D;
    case pmNotMask: return ~(P & D);
    case pmXor: return P ^ D;
    case pmNotXor: return ~(P ^ D);
    }
    return P;
}

void SetupPainter(QPainter& P, TCanvas& C, bool UsePen, bool UseBrush)
{
    P.setRenderHint(QPainter::Antialiasing, false);
    P.setPen(UsePen ? MakeQPen(*C.Pen()) : QPen(Qt::NoPen));
    P.setBrush(UseBrush ? MakeQBrush(*C.Brush()) : QBrush(Qt::NoBrush));
}

// Runs one pen/brush drawing on the canvas. The plain copy mode paints through
// QPainter; other pen modes paint a coverage image first and then combine every
// covered pixel with the destination by the mode's raster operation (colour bits only;
// the destination keeps its alpha so that a second XOR restores it exactly).
template <class DrawFn> void PaintShape(TCanvas& C, TPenMode mode, bool UsePen, bool UseBrush, DrawFn Draw)
{
    TCanvasDrawing guard(C, true);
    TCanvasSurface* s = C.Surface();
    if (!s)
        return;
    if (s->Painter) {
        s->Painter->save();
        SetupPainter(*s->Painter, C, UsePen, UseBrush);
        if (mode != pmCopy)
            s->Painter->setCompositionMode(PenModeComposition(mode));
        if (mode != pmNop)
            Draw(*s->Painter);
        s->Painter->restore();
        return;
    }
    if (!s->HasBits() || mode == pmNop)
        return;
    if (mode == pmCopy) {
        QPainter p(&s->Image);
        SetupPainter(p, C, UsePen, UseBrush);
        Draw(p);
        return;
    }
    QImage cover(s->Width, s->Height, QImage::Format_ARGB32);
    cover.fill(0);
    {
        QPainter p(&cover);
        SetupPainter(p, C, UsePen, UseBrush);
        Draw(p);
    }
    for (int32_t y = 0; y < s->Height; ++y) {
        const uint32_t* src = reinterpret_cast<const uint32_t*>(cover.constScanLine(y));
        uint32_t* dst = s->Row(y);
        for (int32_t x = 0; x < s->Width; ++x)
            if (src[x] >> 24)
                dst[x] = (dst[x] & 0xFF000000u) | (Rop2(mode, src[x], dst[x]) & 0x00FFFFFFu);
    }
}

} // namespace

void TCanvas::MoveTo(int32_t X, int32_t Y) { FPenPos = Point(X, Y); }

void TCanvas::LineTo(int32_t X, int32_t Y)
{
    TPoint from = FPenPos;
    PaintShape(*this, FPen->Mode(), true, false, [&](QPainter& p) { p.drawLine(from.X, from.Y, X, Y); });
    FPenPos = Point(X, Y);
}

void TCanvas::Rectangle(int32_t X1, int32_t Y1, int32_t X2, int32_t Y2)
{
    // GDI covers X1..X2-1 with outline and fill; a QRect of width w is stroked over
    // w + 1 pixels, and filled over w pixels when there is no pen.
    bool pen = FPen->Style() != psClear;
    if (X2 < X1)
        std::swap(X1, X2);
    if (Y2 < Y1)
        std::swap(Y1, Y2);
    PaintShape(*this, FPen->Mode(), pen, true,
               [&](QPainter& p) { p.drawRect(QRect(X1, Y1, X2 - X1 - 1, Y2 - Y1 - 1)); });
}

void TCanvas::RoundRect(int32_t X1, int32_t Y1, int32_t X2, int32_t Y2, int32_t X3, int32_t Y3)
{
    PaintShape(*this, FPen->Mode(), true, true,
               [&](QPainter& p) { p.drawRoundedRect(QRectF(X1, Y1, X2 - X1 - 1, Y2 - Y1 - 1), X3 / 2.0, Y3 / 2.0); });
}

void TCanvas::Ellipse(int32_t X1, int32_t Y1, int32_t X2, int32_t Y2)
{
    PaintShape(*this, FPen->Mode(), true, true,
               [&](QPainter& p) { p.drawEllipse(QRect(X1, Y1, X2 - X1 - 1, Y2 - Y1 - 1)); });
}

static QPolygon ToQPolygon(const std::vector<TPoint>& Points)
{
    QPolygon poly;
    poly.reserve(int(Points.size()));
    for (const auto& pt : Points)
        poly << QPoint(pt.X, pt.Y);
    return poly;
}

void TCanvas::Polygon(const std::vector<TPoint>& Points)
{
    if (Points.empty())
        return;
    QPolygon poly = ToQPolygon(Points);
    PaintShape(*this, FPen->Mode(), true, true, [&](QPainter& p) { p.drawPolygon(poly, Qt::OddEvenFill); });
}

void TCanvas::Polyline(const std::vector<TPoint>& Points)
{
    if (Points.size() < 2)
        return;
    QPolygon poly = ToQPolygon(Points);
    PaintShape(*this, FPen->Mode(), true, false, [&](QPainter& p) { p.drawPolyline(poly); });
}

void TCanvas::FillRect(const TRect& R)
{
    // GDI fills with the brush alone (PATCOPY), whatever the pen's mode.
    if (FBrush->Style() == bsClear && !FBrush->Bitmap())
        return;
    TRect r = R;
    if (r.Right < r.Left)
        std::swap(r.Left, r.Right);
    if (r.Bottom < r.Top)
        std::swap(r.Top, r.Bottom);
    PaintShape(*this, pmCopy, false, true,
               [&](QPainter& p) { p.fillRect(QRect(r.Left, r.Top, r.Width(), r.Height()), p.brush()); });
}

void TCanvas::FrameRect(const TRect& R)
{
    if (R.Width() <= 0 || R.Height() <= 0)
        return;
    PaintShape(*this, pmCopy, false, true, [&](QPainter& p) {
        QBrush b = p.brush();
        p.fillRect(QRect(R.Left, R.Top, R.Width(), 1), b);
        p.fillRect(QRect(R.Left, R.Bottom - 1, R.Width(), 1), b);
        p.fillRect(QRect(R.Left, R.Top, 1, R.Height()), b);
        p.fillRect(QRect(R.Right - 1, R.Top, 1, R.Height()), b);
    });
}

void TCanvas::FloodFill(int32_t X, int32_t Y, TColor Color, TFillStyle FillStyle)
{
    TCanvasDrawing guard(*this, true);
    TCanvasSurface* s = FSurface.get();
    if (!s || !s->HasBits() || X < 0 || Y < 0 || X >= s->Width || Y >= s->Height)
        return;
    const uint32_t target = ColorToPixel(Color) & 0xFFFFFF;
    const uint32_t fill = ColorToPixel(FBrush->Color());
    auto inside = [&](int32_t x, int32_t y) {
        uint32_t c = s->Row(y)[x] & 0xFFFFFF;
        return FillStyle == fsSurface ? c == target : c != target;
    };
    if (!inside(X, Y))
        return;
    // Filled pixels are marked apart from their colour, so a fill colour that still
    // counts as "inside" cannot loop.
    std::vector<uint8_t> done(size_t(s->Width) * size_t(s->Height), 0);
    std::vector<TPoint> stack{Point(X, Y)};
    while (!stack.empty()) {
        TPoint p = stack.back();
        stack.pop_back();
        int32_t l = p.X, r = p.X;
        uint8_t* d = done.data() + size_t(p.Y) * size_t(s->Width);
        if (d[p.X])
            continue;
        while (l > 0 && !d[l - 1] && inside(l - 1, p.Y))
            --l;
        while (r + 1 < s->Width && !d[r + 1] && inside(r + 1, p.Y))
            ++r;
        uint32_t* row = s->Row(p.Y);
        for (int32_t x = l; x <= r; ++x) {
            row[x] = fill;
            d[x] = 1;
        }
        for (int32_t ny : {p.Y - 1, p.Y + 1}) {
            if (ny < 0 || ny >= s->Height)
                continue;
            const uint8_t* nd = done.data() + size_t(ny) * size_t(s->Width);
            bool open = false;
            for (int32_t x = l; x <= r; ++x) {
                bool in = !nd[x] && inside(x, ny);
                if (in && !open)
                    stack.push_back(Point(x, ny));
                open = in;
            }
        }
    }
}

static bool HaveFonts() { return QGuiApplication::instance() != nullptr; }

void TCanvas::TextOut(int32_t X, int32_t Y, const std::string& Text)
{
    if (!HaveFonts())
        return;
    QFont font = ToQFont(*FFont);
    QFontMetrics m(font);
    QString text = QString::fromUtf8(Text.c_str());
    int w = m.horizontalAdvance(text);
    bool opaque = !FTransparentText && FBrush->Style() != bsClear;
    QColor back = ToQColor(FBrush->Color());
    QColor color = ToQColor(FFont->Color());
    PaintShape(*this, pmCopy, false, false, [&](QPainter& p) {
        if (opaque)
            p.fillRect(QRect(X, Y, w, m.height()), back);
        p.setFont(font);
        p.setPen(color);
        p.drawText(QPoint(X, Y + m.ascent()), text);
    });
    FPenPos = Point(X + w, Y);
}

void TCanvas::TextRect(const TRect& R, int32_t X, int32_t Y, const std::string& Text)
{
    if (!HaveFonts())
        return;
    QFont font = ToQFont(*FFont);
    QFontMetrics m(font);
    QString text = QString::fromUtf8(Text.c_str());
    bool opaque = !FTransparentText && FBrush->Style() != bsClear;
    QColor back = ToQColor(FBrush->Color());
    QColor color = ToQColor(FFont->Color());
    PaintShape(*this, pmCopy, false, false, [&](QPainter& p) {
        QRect clip(R.Left, R.Top, R.Width(), R.Height());
        if (opaque)
            p.fillRect(clip, back);
        p.setClipRect(clip);
        p.setFont(font);
        p.setPen(color);
        p.drawText(QPoint(X, Y + m.ascent()), text);
    });
}

TSize TCanvas::TextExtent(const std::string& Text)
{
    if (!HaveFonts())
        return {};
    QFontMetrics m(ToQFont(*FFont));
    return TSize{m.horizontalAdvance(QString::fromUtf8(Text.c_str())), m.height()};
}

int32_t TCanvas::TextWidth(const std::string& Text) { return TextExtent(Text).cx; }
int32_t TCanvas::TextHeight(const std::string& Text) { return TextExtent(Text).cy; }

void TCanvas::Draw(int32_t X, int32_t Y, TGraphic* Graphic)
{
    if (!Graphic || Graphic->Empty())
        return;
    Graphic->Draw(*this, Rect(X, Y, X + Graphic->Width(), Y + Graphic->Height()));
}

void TCanvas::StretchDraw(const TRect& R, TGraphic* Graphic)
{
    if (!Graphic || Graphic->Empty())
        return;
    Graphic->Draw(*this, R);
}

void TCanvas::CopyRect(const TRect& Dest, TCanvas* Canvas, const TRect& Source)
{
    StretchBlt(this, Dest.Left, Dest.Top, Dest.Width(), Dest.Height(), Canvas, Source.Left, Source.Top, Source.Width(),
               Source.Height(), FCopyMode);
}

TColor TCanvas::Pixels(int32_t X, int32_t Y)
{
    if (auto* bc = dynamic_cast<TBitmapCanvas*>(this))
        return bc->Bitmap()->PixelColor(X, Y);
    TCanvasSurface* s = FSurface.get();
    if (!s || !s->HasBits())
        return clBlack;
    if (X < 0 || Y < 0 || X >= s->Width || Y >= s->Height)
        return -1;
    return PixelToColor(s->Row(Y)[X]);
}

void TCanvas::SetPixels(int32_t X, int32_t Y, TColor Color)
{
    if (auto* bc = dynamic_cast<TBitmapCanvas*>(this))
        return bc->Bitmap()->SetPixelColor(X, Y, Color);
    TCanvasSurface* s = FSurface.get();
    if (!s)
        return;
    if (s->Painter) {
        s->Painter->save();
        s->Painter->setPen(ToQColor(Color));
        s->Painter->drawPoint(X, Y);
        s->Painter->restore();
        return;
    }
    if (!s->HasBits() || X < 0 || Y < 0 || X >= s->Width || Y >= s->Height)
        return;
    s->Row(Y)[X] = ColorToPixel(Color);
}

// ---- Block transfers ----------------------------------------------------------------

namespace {

// The ternary raster operation: bit i of the code answers the inputs P = bit 2,
// S = bit 1, D = bit 0 of i, evaluated on every bit of the words at once.
uint32_t Rop3(uint8_t Code, uint32_t P, uint32_t S, uint32_t D)
{
    switch (Code) {
    case 0x00: return 0;
    case 0xFF: return 0xFFFFFFFF;
    case 0xCC: return S;
    case 0x88: return S & D;
    case 0xEE: return S | D;
    case 0x66: return S ^ D;
    case 0x33: return ~S;
    case 0x44: return S & ~D;
    case 0x11: return ~(S | D);
    case 0xBB: return ~S | D;
    case 0x55: return ~D;
    case 0xF0: return P;
    case 0x5A: return P ^ D;
    case 0xC0: return P & S;
    default: break;
    }
    uint32_t r = 0;
    for (int i = 0; i < 8; ++i)
        if (Code >> i & 1)
            r |= ((i & 4) ? P : ~P) & ((i & 2) ? S : ~S) & ((i & 1) ? D : ~D);
    return r;
}

bool RopUsesSource(uint8_t Code) { return ((Code >> 2) ^ Code) & 0x33; }

QPainter::CompositionMode RopComposition(uint8_t Code)
{
    switch (Code) {
    case 0x88: return QPainter::RasterOp_SourceAndDestination;
    case 0xEE: return QPainter::RasterOp_SourceOrDestination;
    case 0x66: return QPainter::RasterOp_SourceXorDestination;
    case 0x33: return QPainter::RasterOp_NotSource;
    case 0x44: return QPainter::RasterOp_SourceAndNotDestination;
    case 0x11: return QPainter::RasterOp_NotSourceAndNotDestination;
    case 0xBB: return QPainter::RasterOp_NotSourceOrDestination;
    case 0x55: return QPainter::RasterOp_NotDestination;
    case 0x00: return QPainter::RasterOp_ClearDestination;
    case 0xFF: return QPainter::RasterOp_SetDestination;
    default: return QPainter::CompositionMode_Source;
    }
}

// The source offset for destination offset i of a stretch of SrcLen pixels over
// DestLen (both positive), nearest pixel, read backwards when mirrored.
inline int32_t MapCoord(int32_t i, int32_t DestLen, int32_t SrcLen, bool Mirror)
{
    int64_t s = int64_t(i) * SrcLen / DestLen;
    return int32_t(Mirror ? SrcLen - 1 - s : s);
}

} // namespace

bool StretchBlt(HDC Dest, int32_t X, int32_t Y, int32_t Width, int32_t Height, HDC Src, int32_t XSrc, int32_t YSrc,
                int32_t WidthSrc, int32_t HeightSrc, uint32_t Rop)
{
    if (!Dest || Width == 0 || Height == 0)
        return false;
    uint8_t code = uint8_t(Rop >> 16);
    bool usesSource = RopUsesSource(code);
    if (usesSource && (!Src || WidthSrc == 0 || HeightSrc == 0))
        return false;
    TCanvasDrawing destGuard(*Dest, true);
    std::unique_ptr<TCanvasDrawing> srcGuard;
    if (usesSource)
        srcGuard = std::make_unique<TCanvasDrawing>(*Src, false);
    TCanvasSurface* d = Dest->Surface();
    TCanvasSurface* s = usesSource ? Src->Surface() : nullptr;
    if (!d || (usesSource && (!s || !s->HasBits())))
        return false;
    // A negative destination extent names the far edge; normalise it to a left/top
    // corner and carry the mirroring into the coordinate mapping.
    int32_t dx0 = Width < 0 ? X + Width + 1 : X;
    int32_t dy0 = Height < 0 ? Y + Height + 1 : Y;
    int32_t sx0 = WidthSrc < 0 ? XSrc + WidthSrc + 1 : XSrc;
    int32_t sy0 = HeightSrc < 0 ? YSrc + HeightSrc + 1 : YSrc;
    int32_t aw = std::abs(Width), ah = std::abs(Height);
    int32_t asw = std::abs(WidthSrc), ash = std::abs(HeightSrc);
    if (!usesSource) {
        asw = aw;
        ash = ah;
    }
    uint32_t pattern = ColorToPixel(Dest->Brush()->Color());

    if (d->Painter) {
        // A window: Qt's raster operations stand in for the ternary ones it has.
        QPainter& p = *d->Painter;
        p.save();
        p.setCompositionMode(RopComposition(code));
        if (usesSource)
            p.drawImage(QRect(dx0, dy0, aw, ah), s->Image.mirrored(Width * WidthSrc < 0, Height * HeightSrc < 0),
                        QRect(sx0, sy0, asw, ash));
        else
            p.fillRect(QRect(dx0, dy0, aw, ah), code == 0xF0 ? ToQColor(Dest->Brush()->Color()) : QColor(Qt::black));
        p.restore();
        return true;
    }
    if (!d->HasBits())
        return false;

    // Clip the destination; source pixels are copied out first so that overlapping
    // source and destination on one surface read the original pixels.
    int32_t x0 = std::max(dx0, 0), y0 = std::max(dy0, 0);
    int32_t x1 = int32_t(std::min<int64_t>(int64_t(dx0) + aw, d->Width));
    int32_t y1 = int32_t(std::min<int64_t>(int64_t(dy0) + ah, d->Height));
    if (x0 >= x1 || y0 >= y1)
        return true;
    bool mirrorX = usesSource && (Width < 0) != (WidthSrc < 0);
    bool mirrorY = usesSource && (Height < 0) != (HeightSrc < 0);

    bool plainCopy = code == 0xCC && aw == asw && ah == ash && !mirrorX && !mirrorY;
    if (plainCopy) {
        // Same size: clip to the source as well, then move whole rows.
        int32_t ox = sx0 - dx0, oy = sy0 - dy0;
        x0 = std::max(x0, -ox);
        y0 = std::max(y0, -oy);
        x1 = std::min(x1, s->Width - ox);
        y1 = std::min(y1, s->Height - oy);
        if (x0 >= x1 || y0 >= y1)
            return true;
        size_t bytes = size_t(x1 - x0) * 4;
        bool down = s == d && oy < 0; // copying downwards over itself: walk rows bottom-up
        for (int32_t i = 0; i < y1 - y0; ++i) {
            int32_t y = down ? y1 - 1 - i : y0 + i;
            std::memmove(d->Row(y) + x0, s->Row(y + oy) + x0 + ox, bytes);
        }
        return true;
    }

    std::vector<int32_t> srcX(size_t(x1 - x0));
    for (int32_t x = x0; x < x1; ++x)
        srcX[size_t(x - x0)] = sx0 + MapCoord(x - dx0, aw, asw, mirrorX);
    std::vector<uint32_t> block;
    int32_t bx = 0, by = 0, bw = 0, bh = 0;
    if (usesSource) {
        bx = std::max(sx0, 0);
        by = std::max(sy0, 0);
        bw = std::min(sx0 + asw, s->Width) - bx;
        bh = std::min(sy0 + ash, s->Height) - by;
        if (bw <= 0 || bh <= 0)
            return true;
        block.resize(size_t(bw) * size_t(bh));
        for (int32_t y = 0; y < bh; ++y)
            std::memcpy(&block[size_t(y) * size_t(bw)], s->Row(by + y) + bx, size_t(bw) * 4);
    }
    for (int32_t y = y0; y < y1; ++y) {
        int32_t sy = sy0 + MapCoord(y - dy0, ah, ash, mirrorY);
        if (usesSource && (sy < by || sy >= by + bh))
            continue;
        uint32_t* row = d->Row(y);
        for (int32_t x = x0; x < x1; ++x) {
            uint32_t S = 0;
            if (usesSource) {
                int32_t sx = srcX[size_t(x - x0)];
                if (sx < bx || sx >= bx + bw)
                    continue;
                S = block[size_t(sy - by) * size_t(bw) + size_t(sx - bx)];
            }
            uint32_t D = row[x];
            if (code == 0xCC)
                row[x] = S; // all 32 bits, alpha included
            else
                row[x] = (D & 0xFF000000u) | (Rop3(code, pattern, S, D) & 0x00FFFFFFu);
        }
    }
    return true;
}

bool BitBlt(HDC Dest, int32_t X, int32_t Y, int32_t Width, int32_t Height, HDC Src, int32_t XSrc, int32_t YSrc,
            uint32_t Rop)
{
    return StretchBlt(Dest, X, Y, Width, Height, Src, XSrc, YSrc, Width, Height, Rop);
}

bool PatBlt(HDC Dest, int32_t X, int32_t Y, int32_t Width, int32_t Height, uint32_t Rop)
{
    if (RopUsesSource(uint8_t(Rop >> 16)))
        return false;
    return StretchBlt(Dest, X, Y, Width, Height, nullptr, 0, 0, 0, 0, Rop);
}

int SetStretchBltMode(HDC Dest, int Mode)
{
    // Every stretch here picks the nearest pixel (COLORONCOLOR); the mode is accepted.
    return Dest ? COLORONCOLOR : 0;
}

} // namespace kv
