// What the image I/O component needs of a view it is attached to. The multi-image
// view implements it; the component only reads and refreshes through it.
#pragma once

#include "platform/Graphics.h"

#include <cstdint>
#include <functional>

namespace kv {

class TIEMask;

enum TIEViewChange : uint8_t { ievcChanged, ievcGoingAway };
using TIEViewCallback = std::function<void(TIEViewChange Change)>;

class TIEView : public TObject {
public:
    virtual TBitmap* IEBitmap() = 0;
    virtual TIEMask* SelectionMask() = 0;
    virtual TColor Background() const = 0;
    virtual void SetBackground(TColor Value) = 0;
    virtual int32_t XDpi() const = 0;
    virtual int32_t YDpi() const = 0;
    virtual void SetDPI(int32_t DpiX, int32_t DpiY) = 0;
    // The two refresh calls made after a load: the picture changed, then repaint.
    virtual void ImageChange() = 0;
    virtual void Update() = 0;
    // Returns a handle for UnregisterChangeCallback.
    virtual int32_t RegisterChangeCallback(TIEViewCallback Callback) = 0;
    virtual void UnregisterChangeCallback(int32_t Handle) = 0;
};

} // namespace kv
