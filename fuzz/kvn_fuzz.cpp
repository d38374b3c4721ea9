// LoadProject on arbitrary bytes. A document is open before every input; a refused
// input must leave it exactly as it was, and an accepted one must leave a consistent
// document (the band on top, the selection a stored layer) that saves again.
#include "editor/MainUnit.h"
#include "fuzz/FuzzCommon.h"

#include <cstdint>
#include <cstdlib>
#include <memory>
#include <string>

using namespace kv;

namespace {

void OpenKnownDocument(TMainForm& Form)
{
    Form.NewBackground(5, 3, 0xFF336699);
    auto* L = Form.ImgView->Layers()->Add<TBitmapLayer>();
    L->Bitmap()->SetSize(2, 2);
    L->Bitmap()->ClearTo(0x80FF0000);
    L->SetPlacement({1, 1, 3, 3});
    Form.SetSelection(L);
}

std::string Fingerprint(TMainForm& Form)
{
    TMemoryStream S;
    Form.SaveProjectToStream(S);
    const auto& B = S.Bytes();
    return std::string(B.begin(), B.end()) + (Form.Selection() ? "+sel" : "-sel") +
           std::to_string(Form.ImgView->Layers()->Count());
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* Data, size_t Size)
{
    fuzz::EnsureApplication("kvn_fuzz");
    static TMainForm* Form = [] {
        auto* F = new TMainForm();
        F->ImgView->SetBounds(0, 0, 64, 48);
        return F;
    }();
    OpenKnownDocument(*Form);
    const std::string Before = Fingerprint(*Form);
    TReadOnlyMemoryStream Stream(Data, int64_t(Size));
    try {
        Form->LoadProjectFromStream(Stream, "fuzz.kvn");
    } catch (const EProjectError&) {
        if (Fingerprint(*Form) != Before)
            std::abort(); // a refused file changed the open document
        return 0;
    }
    TLayerCollection* Layers = Form->ImgView->Layers();
    if (Layers->Count() > 0 && Layers->Items(Layers->Count() - 1) != Form->RBLayer())
        std::abort();
    TMemoryStream Again;
    Form->SaveProjectToStream(Again);
    return 0;
}
