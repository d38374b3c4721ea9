#include "formats/ClipIcon.h"

#include "platform/Clipbrd.h"
#include "platform/Icon.h"

namespace kv {

TClipboardFormat CF_ICON()
{
    static const TClipboardFormat format = RegisterClipboardFormat("Kelvane Icon");
    return format;
}

void InitializeClipIcon()
{
    static const bool registered = [] {
        TPicture::RegisterClipboardFormat(
            CF_ICON(), TGraphicClass{"TIcon", [] { return std::unique_ptr<TGraphic>(new TIcon()); }});
        return true;
    }();
    (void)registered;
}

} // namespace kv
