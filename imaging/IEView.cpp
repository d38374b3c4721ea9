#include "imaging/IEView.h"

#include "platform/KvExtCtrls.h"

#include <QObject>

namespace kv {

struct TIEImageWatch::TLink {
    QMetaObject::Connection Connection;
};

TIEImageWatch::TIEImageWatch() = default;

TIEImageWatch::~TIEImageWatch() { Reset(); }

void TIEImageWatch::Watch(TImage* Image, std::function<void()> Handler)
{
    Reset();
    if (!Image)
        return;
    FLink = std::make_unique<TLink>();
    // destroyed is emitted from the QObject destructor: only the pointer may be used.
    FLink->Connection = QObject::connect(Image, &QObject::destroyed, [this, Handler = std::move(Handler)] {
        FLink.reset(); // the connection dies with the sender; dropping the handle does not disconnect
        Handler();
    });
}

void TIEImageWatch::Reset()
{
    if (FLink)
        QObject::disconnect(FLink->Connection);
    FLink.reset();
}

TIEAttachment::~TIEAttachment() { UnregisterView(); }

void TIEAttachment::UnregisterView()
{
    if (FView && FViewCallback >= 0)
        FView->UnregisterChangeCallback(FViewCallback);
    FViewCallback = -1;
}

void TIEAttachment::ReadViewFields()
{
    if (!FView)
        return;
    FBitmap = FView->IEBitmap();
    FMask = FView->SelectionMask();
}

void TIEAttachment::DetachImage()
{
    FImageWatch.Reset();
    FImage = nullptr;
}

void TIEAttachment::SetBitmap(TBitmap* Value)
{
    // The view's callback is its only notice of going away: nil keeps everything.
    if (!Value && (FView || FImage))
        return;
    UnregisterView();
    DetachImage();
    FView = nullptr;
    FMask = nullptr;
    FBitmap = Value;
}

void TIEAttachment::SetView(TIEView* Value)
{
    UnregisterView();
    const bool HadView = FView != nullptr;
    FView = Value;
    if (!Value) {
        // The old view's bitmap may go with the view, unnoticed from now on.
        if (HadView)
            FBitmap = nullptr;
        FMask = nullptr;
        return;
    }
    DetachImage();
    ReadViewFields();
    FViewCallback = Value->RegisterChangeCallback([this](TIEViewChange Change) {
        if (Change == ievcGoingAway) {
            FView = nullptr;
            FBitmap = nullptr;
            FMask = nullptr;
            FViewCallback = -1;
        } else {
            ReadViewFields();
        }
    });
}

void TIEAttachment::SetImage(TImage* Value)
{
    UnregisterView();
    FView = nullptr;
    FMask = nullptr;
    const bool HadImage = FImage != nullptr;
    DetachImage();
    if (!Value) {
        if (HadImage)
            FBitmap = nullptr;
        return;
    }
    FImage = Value;
    FBitmap = Value->Picture()->Bitmap();
    FImageWatch.Watch(Value, [this] {
        FImage = nullptr;
        FBitmap = nullptr;
    });
}

TColor TIEAttachment::Background() const { return FView ? FView->Background() : FBackground; }

void TIEAttachment::SetBackground(TColor Value)
{
    if (FView)
        FView->SetBackground(Value);
    else
        FBackground = Value;
}

TBitmap* TIEAttachment::ExchangeBitmap(TBitmap* Value)
{
    TBitmap* Old = FBitmap;
    FBitmap = Value;
    return Old;
}

} // namespace kv
