// Layers whose bitmap is drawn through an affine transformation: the base that owns the
// bitmap and the transformation, and the rotated layer that builds it from an origin,
// a pivot and an angle.
#pragma once

#include "raster/Raster32_Layers.h"

#include <memory>

namespace kv {

class TAffineTransformation;

class TCustomAffineLayer : public TCustomLayer {
public:
    explicit TCustomAffineLayer(TLayerCollection* ALayerCollection);
    ~TCustomAffineLayer() override;
    TCustomLayer* CreateLike(TLayerCollection* C) const override { return new TCustomAffineLayer(C); }

    TBitmap32* Bitmap() const { return FBitmap.get(); }
    TAffineTransformation* Transformation() const { return FTransformation.get(); }
    bool HitByAlpha() const { return FHitByAlpha; }
    void SetHitByAlpha(bool Value) { FHitByAlpha = Value; }
    const TSinglePoint& Pivot() const { return FPivot; }
    void SetPivot(const TSinglePoint& Value) { FPivot = Value; } // takes effect at the next paint

    bool HitTest(int32_t X, int32_t Y) override;
    void Paint(TBitmap32* Buffer) override;

    std::string ClassName() const override { return "TCustomAffineLayer"; }

protected:
    virtual void BuildTransformation() {}

private:
    std::unique_ptr<TBitmap32> FBitmap;
    std::unique_ptr<TAffineTransformation> FTransformation;
    TSinglePoint FPivot;
    bool FHitByAlpha = false;
    bool FBuilt = false;
};

class TRotLayer : public TCustomAffineLayer {
public:
    explicit TRotLayer(TLayerCollection* ALayerCollection) : TCustomAffineLayer(ALayerCollection) {}
    TCustomLayer* CreateLike(TLayerCollection* C) const override { return new TRotLayer(C); }

    const TSinglePoint& Origin() const { return FOrigin; }
    void SetOrigin(const TSinglePoint& Value);
    bool ScaleWithView() const { return FScaleWithView; }
    void SetScaleWithView(bool Value);
    float Angle() const { return FAngle; }
    void SetAngle(float Value) { FAngle = Value; } // takes effect at the next paint

    std::string ClassName() const override { return "TRotLayer"; }

protected:
    void BuildTransformation() override;

private:
    TSinglePoint FOrigin;
    bool FScaleWithView = false;
    float FAngle = 0;
};

} // namespace kv
