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

} // namespace kv
