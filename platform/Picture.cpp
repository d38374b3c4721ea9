// The graphic base class, the picture container and the graphic-class registry.
#include "platform/Graphics.h"

#include <algorithm>
#include <mutex>

namespace kv {

// ---- TGraphic ---------------------------------------------------------------------------

void TGraphic::SetWidth(int32_t) {}
void TGraphic::SetHeight(int32_t) {}

void TGraphic::LoadFromFile(const std::string& FileName)
{
    TFileStream s(FileName, fmOpenRead | fmShareDenyWrite);
    LoadFromStream(s);
}

void TGraphic::SaveToFile(const std::string& FileName)
{
    SaveFileSafely(FileName, [this](TStream& Stream) { SaveToStream(Stream); });
}

void TGraphic::LoadFromClipboardFormat(TClipboardFormat, const std::vector<uint8_t>&, HPALETTE)
{
    throw EInvalidGraphic("Unsupported clipboard format");
}

void TGraphic::SaveToClipboardFormat(TClipboardFormat&, std::vector<uint8_t>&, HPALETTE&)
{
    throw EInvalidGraphic("Unsupported clipboard format");
}

void TGraphic::SetTransparent(bool Value)
{
    if (Value == FTransparent)
        return;
    FTransparent = Value;
    Changed(this);
}

void TGraphic::SetModified(bool Value)
{
    if (Value)
        Changed(this);
    else
        FModified = false;
}

void TGraphic::Changed(TObject*)
{
    FModified = true;
    if (OnChange)
        OnChange(this);
}

void TGraphic::Progress(TObject* Sender, TProgressStage Stage, uint8_t PercentDone, bool RedrawNow, const TRect& R,
                        const std::string& Msg)
{
    if (OnProgress)
        OnProgress(Sender, Stage, PercentDone, RedrawNow, R, Msg);
}

void TGraphic::AssignTo(TPersistent* Dest)
{
    // Any graphic becomes a bitmap by drawing itself on white.
    if (auto* bmp = dynamic_cast<TBitmap*>(Dest)) {
        TBitmap fresh;
        fresh.SetPixelFormat(pf24bit);
        fresh.SetSize(Width(), Height());
        if (!fresh.Empty()) {
            fresh.Canvas()->Brush()->SetColor(clWhite);
            fresh.Canvas()->FillRect(Rect(0, 0, Width(), Height()));
            Draw(*fresh.Canvas(), Rect(0, 0, Width(), Height()));
        }
        bmp->Assign(&fresh);
        return;
    }
    TPersistent::AssignTo(Dest);
}

// ---- The registry ---------------------------------------------------------------------------

// The platform's other picture classes (JPEG, icon), in PlatformGraphics.cpp.
void RegisterPlatformGraphicClasses(std::vector<std::pair<std::string, std::string>>& Extensions,
                                    std::vector<TGraphicClass>& Classes);

namespace {

struct FileFormat {
    std::string Extension; // lower case, no dot
    std::string Description;
    TGraphicClass Class;
};

struct ClipFormat {
    TClipboardFormat Format;
    TGraphicClass Class;
};

struct Registry {
    std::recursive_mutex Lock;
    std::vector<FileFormat> Files; // later registrations win
    std::vector<ClipFormat> Clips;
};

std::string StripExtension(const std::string& Ext)
{
    std::string e = LowerCase(Ext);
    if (!e.empty() && e[0] == '.')
        e.erase(0, 1);
    return e;
}

Registry& TheRegistry()
{
    // Function-local: the platform's own classes are registered before any caller can
    // add or look up one, so a program's later registration always wins.
    static Registry* registry = [] {
        auto* r = new Registry; // lives for the whole process
        TGraphicClass bmp{"TBitmap", [] { return std::unique_ptr<TGraphic>(new TBitmap); }};
        r->Files.push_back({"bmp", "Bitmaps", bmp});
        r->Clips.push_back({CF_BITMAP, bmp});
        r->Clips.push_back({CF_DIB, bmp});
        std::vector<std::pair<std::string, std::string>> exts;
        std::vector<TGraphicClass> classes;
        RegisterPlatformGraphicClasses(exts, classes);
        for (size_t i = 0; i < exts.size(); ++i)
            r->Files.push_back({exts[i].first, exts[i].second, classes[i]});
        return r;
    }();
    return *registry;
}

const TGraphicClass* FindClassByName(const std::string& Name)
{
    Registry& r = TheRegistry();
    for (auto it = r.Files.rbegin(); it != r.Files.rend(); ++it)
        if (it->Class.Name == Name)
            return &it->Class;
    for (auto it = r.Clips.rbegin(); it != r.Clips.rend(); ++it)
        if (it->Class.Name == Name)
            return &it->Class;
    return nullptr;
}

} // namespace

void TPicture::RegisterFileFormat(const std::string& Extension, const std::string& Description,
                                  const TGraphicClass& GraphicClass)
{
    Registry& r = TheRegistry();
    std::lock_guard<std::recursive_mutex> lock(r.Lock);
    r.Files.push_back({StripExtension(Extension), Description, GraphicClass});
}

void TPicture::RegisterClipboardFormat(TClipboardFormat Format, const TGraphicClass& GraphicClass)
{
    Registry& r = TheRegistry();
    std::lock_guard<std::recursive_mutex> lock(r.Lock);
    r.Clips.push_back({Format, GraphicClass});
}

void TPicture::UnregisterGraphicClass(const std::string& ClassName)
{
    Registry& r = TheRegistry();
    std::lock_guard<std::recursive_mutex> lock(r.Lock);
    std::erase_if(r.Files, [&](const FileFormat& f) { return f.Class.Name == ClassName; });
    std::erase_if(r.Clips, [&](const ClipFormat& f) { return f.Class.Name == ClassName; });
}

const TGraphicClass* TPicture::FindGraphicClass(const std::string& Extension)
{
    Registry& r = TheRegistry();
    std::lock_guard<std::recursive_mutex> lock(r.Lock);
    std::string e = StripExtension(Extension);
    for (auto it = r.Files.rbegin(); it != r.Files.rend(); ++it)
        if (it->Extension == e)
            return &it->Class;
    return nullptr;
}

std::vector<std::string> TPicture::GraphicExtensions()
{
    Registry& r = TheRegistry();
    std::lock_guard<std::recursive_mutex> lock(r.Lock);
    std::vector<std::string> out;
    for (auto it = r.Files.rbegin(); it != r.Files.rend(); ++it)
        if (std::find(out.begin(), out.end(), it->Extension) == out.end())
            out.push_back(it->Extension);
    return out;
}

std::string TPicture::GraphicFilter()
{
    Registry& r = TheRegistry();
    std::lock_guard<std::recursive_mutex> lock(r.Lock);
    std::string all, each, masks;
    std::vector<std::string> seen;
    for (auto it = r.Files.rbegin(); it != r.Files.rend(); ++it) {
        if (std::find(seen.begin(), seen.end(), it->Extension) != seen.end())
            continue;
        seen.push_back(it->Extension);
        std::string mask = "*." + it->Extension;
        masks += (masks.empty() ? "" : ";") + mask;
        each += "|" + it->Description + " (" + mask + ")|" + mask;
    }
    all = "All (" + masks + ")|" + masks;
    return all + each;
}

bool TPicture::SupportsClipboardFormat(TClipboardFormat Format)
{
    Registry& r = TheRegistry();
    std::lock_guard<std::recursive_mutex> lock(r.Lock);
    return std::any_of(r.Clips.begin(), r.Clips.end(), [&](const ClipFormat& f) { return f.Format == Format; });
}

// ---- TPicture --------------------------------------------------------------------------------

TPicture::TPicture() = default;
TPicture::~TPicture() = default;

void TPicture::Changed(TObject*)
{
    if (OnChange)
        OnChange(this);
}

void TPicture::TakeGraphic(std::unique_ptr<TGraphic> Value)
{
    FGraphic = std::move(Value);
    if (FGraphic)
        FGraphic->OnChange = [this](TObject* Sender) { Changed(Sender); };
    Changed(this);
}

void TPicture::SetGraphic(TGraphic* Value)
{
    if (!Value) {
        TakeGraphic(nullptr);
        return;
    }
    const TGraphicClass* cls = FindClassByName(Value->ClassName());
    if (!cls)
        throw EInvalidGraphic("Unknown picture class " + Value->ClassName());
    std::unique_ptr<TGraphic> copy = cls->Create();
    copy->Assign(Value);
    TakeGraphic(std::move(copy));
}

TBitmap* TPicture::Bitmap()
{
    if (!dynamic_cast<TBitmap*>(FGraphic.get()))
        TakeGraphic(std::make_unique<TBitmap>());
    return static_cast<TBitmap*>(FGraphic.get());
}

int32_t TPicture::Width() const { return FGraphic ? FGraphic->Width() : 0; }
int32_t TPicture::Height() const { return FGraphic ? FGraphic->Height() : 0; }

const TGraphicClass& TPicture::GraphicClassForFile(const std::string& FileName)
{
    std::string ext = StripExtension(ExtractFileExt(FileName));
    const TGraphicClass* cls = FindGraphicClass(ext);
    if (!cls)
        throw EInvalidGraphic("Unknown picture file extension (." + ext + ")");
    return *cls;
}

void TPicture::LoadFromFile(const std::string& FileName)
{
    std::unique_ptr<TGraphic> graphic = GraphicClassForFile(FileName).Create();
    graphic->LoadFromFile(FileName);
    TakeGraphic(std::move(graphic));
}

void TPicture::SaveToFile(const std::string& FileName)
{
    if (FGraphic)
        FGraphic->SaveToFile(FileName);
}

void TPicture::LoadFromClipboardFormat(TClipboardFormat Format, const std::vector<uint8_t>& Data, HPALETTE Palette)
{
    const TGraphicClass* cls = nullptr;
    {
        Registry& r = TheRegistry();
        std::lock_guard<std::recursive_mutex> lock(r.Lock);
        for (auto it = r.Clips.rbegin(); it != r.Clips.rend(); ++it)
            if (it->Format == Format) {
                cls = &it->Class;
                break;
            }
    }
    if (!cls)
        throw EInvalidGraphic("Unsupported clipboard format");
    std::unique_ptr<TGraphic> graphic = cls->Create();
    graphic->LoadFromClipboardFormat(Format, Data, Palette);
    TakeGraphic(std::move(graphic));
}

void TPicture::Assign(TPersistent* Source)
{
    if (!Source) {
        TakeGraphic(nullptr);
        return;
    }
    if (auto* p = dynamic_cast<TPicture*>(Source)) {
        if (p != this)
            SetGraphic(p->Graphic());
        return;
    }
    if (auto* g = dynamic_cast<TGraphic*>(Source)) {
        SetGraphic(g);
        return;
    }
    TPersistent::Assign(Source); // a clipboard fills the picture through its AssignTo
}

void TPicture::AssignTo(TPersistent* Dest)
{
    if (auto* g = dynamic_cast<TGraphic*>(Dest)) {
        if (FGraphic)
            g->Assign(FGraphic.get());
        else
            g->Assign(nullptr);
        return;
    }
    TPersistent::AssignTo(Dest);
}

} // namespace kv
