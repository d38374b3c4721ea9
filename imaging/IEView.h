// What the image I/O and processing components need of a view they are attached to
// (the multi-image view implements it), the free notification of an attached TImage, and
// the attachment both components keep, so that they attach and detach alike.
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
    // A transition's frame, shown in place of the view's picture until the next frame or
    // the repaint that ends the transition. Views without transitions ignore it.
    virtual void ShowTransitionFrame(TBitmap& Frame) { (void)Frame; }
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

// The bitmap an imaging component works on: its own, an attached view's (with the view's
// mask), or an attached TImage's picture. The view's change callback and the image's free
// notification are the only notices that they go away, so they are kept for as long as the
// attachment lasts; the bitmap and mask are dropped with what owned them.
class TIEAttachment {
public:
    TIEAttachment() = default;
    ~TIEAttachment();
    TIEAttachment(const TIEAttachment&) = delete;
    TIEAttachment& operator=(const TIEAttachment&) = delete;

    TBitmap* Bitmap() const { return FBitmap; }
    TIEMask* Mask() const { return FMask; }
    TIEView* View() const { return FView; }
    TImage* Image() const { return FImage; }
    // A bitmap detaches any view or image; nil while one is attached changes nothing.
    void SetBitmap(TBitmap* Value);
    void SetView(TIEView* Value);
    void SetImage(TImage* Value);
    // The view's background while a view is attached, else the component's own.
    TColor Background() const;
    void SetBackground(TColor Value);
    // Puts Value in the bitmap's place, attachments untouched, and returns the bitmap it
    // replaced: for a read that needs a bitmap for a moment.
    TBitmap* ExchangeBitmap(TBitmap* Value);

private:
    void UnregisterView();
    void ReadViewFields();
    void DetachImage();

    TBitmap* FBitmap = nullptr;
    TIEMask* FMask = nullptr;
    TIEView* FView = nullptr;
    int32_t FViewCallback = -1;
    TImage* FImage = nullptr;
    TIEImageWatch FImageWatch;
    TColor FBackground = clBlack;
};

} // namespace kv
