// What the image I/O and processing components need of a view they are attached to
// (the multi-image view implements it), and the free notification of an attached TImage.
#pragma once

#include "platform/Graphics.h"

#include <cstdint>
#include <functional>
#include <memory>

namespace kv {

class TIEMask;
class TImage;

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

// The free notification of an attached platform TImage: Handler runs once when the
// image is destroyed, and never after Reset or the watch's own destruction.
class TIEImageWatch {
public:
    TIEImageWatch();
    ~TIEImageWatch();
    TIEImageWatch(const TIEImageWatch&) = delete;
    TIEImageWatch& operator=(const TIEImageWatch&) = delete;
    void Watch(TImage* Image, std::function<void()> Handler);
    void Reset();

private:
    struct TLink;
    std::unique_ptr<TLink> FLink;
};

} // namespace kv
