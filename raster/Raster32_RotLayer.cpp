#include "raster/Raster32_RotLayer.h"

#include "raster/Raster32.h"
#include "raster/Raster32_Transforms.h"

namespace kv {

TCustomAffineLayer::TCustomAffineLayer(TLayerCollection* ALayerCollection)
    : TCustomLayer(ALayerCollection), FBitmap(std::make_unique<TBitmap32>()),
      FTransformation(std::make_unique<TAffineTransformation>())
{
    FBitmap->OnChange = [this](TObject*) {
        FTransformation->SetSourceRect(TSingleRect{0, 0, float(FBitmap->Width() - 1), float(FBitmap->Height() - 1)});
        Changed();
    };
}

TCustomAffineLayer::~TCustomAffineLayer()
{
    BeforeDestruction();
    FBitmap->OnChange = nullptr;
    FBitmap->OnResize = nullptr;
}

// Before the first paint nothing has built the transformation: a hit test builds and
// prepares it itself rather than mapping every point through zero coefficients.
bool TCustomAffineLayer::HitTest(int32_t X, int32_t Y)
{
    if (!FBuilt) {
        BuildTransformation();
        FBuilt = true;
    }
    if (!FTransformation->Prepared())
        FTransformation->Prepare();
    int32_t SX = 0, SY = 0;
    if (!FTransformation->ReverseMapInt(X, Y, SX, SY))
        return false;
    if (SX < 0 || SY < 0 || SX >= FBitmap->Width() || SY >= FBitmap->Height())
        return false;
    return !FHitByAlpha || (FBitmap->GetPixelClipped(SX, SY) & 0xFF000000u) != 0;
}

void TCustomAffineLayer::Paint(TBitmap32* Buffer)
{
    BuildTransformation();
    FBuilt = true;
    if (!Buffer || Buffer->IsEmpty() || FBitmap->IsEmpty())
        return;
    DrawTransformed(Buffer, FBitmap.get(), FTransformation.get());
}

void TRotLayer::SetOrigin(const TSinglePoint& Value)
{
    FOrigin = Value;
    Changed();
}

void TRotLayer::SetScaleWithView(bool Value)
{
    FScaleWithView = Value;
    Changed();
}

void TRotLayer::BuildTransformation()
{
    TAffineTransformation* T = Transformation();
    T->Reset();
    T->Translate(-Pivot().X, -Pivot().Y);
    T->Rotate(0, 0, FAngle);
    T->Translate(FOrigin.X, FOrigin.Y);
    const TViewMapping* M = LayerCollection() ? LayerCollection()->Mapping() : nullptr;
    if (FScaleWithView && M) {
        T->Scale(float(M->ScaleX / 65536.0), float(M->ScaleY / 65536.0));
        T->Translate(float(M->ShiftX), float(M->ShiftY));
    }
}

} // namespace kv
