#include "imaging/IETwain.h"

#include "imaging/IEBitmaps.h"

namespace kv {

TIEDeviceCall IETWainClose(const QObject* Owner)
{
    // The connection would belong to this window; with no scanner support it has none.
    (void)IEFindHandle(Owner);
    return iedcNotAvailable;
}

TIEDeviceCall AVIFileExit() { return iedcNotAvailable; }

bool IEVideoInitialised() { return false; }

} // namespace kv
