// The picture classes the platform itself brings, registered before any program's own.
// Metafiles have no renderer here and stay unregistered (their extensions are unknown).
#include "platform/Graphics.h"
#include "platform/Icon.h"
#include "platform/Jpeg.h"

namespace kv {

void RegisterPlatformGraphicClasses(std::vector<std::pair<std::string, std::string>>& Extensions,
                                    std::vector<TGraphicClass>& Classes)
{
    TGraphicClass jpeg{"TJPEGImage", [] { return std::unique_ptr<TGraphic>(new TJPEGImage); }};
    TGraphicClass icon{"TIcon", [] { return std::unique_ptr<TGraphic>(new TIcon); }};
    Extensions.push_back({"jpeg", "JPEG Image File"});
    Classes.push_back(jpeg);
    Extensions.push_back({"jpg", "JPEG Image File"});
    Classes.push_back(jpeg);
    Extensions.push_back({"ico", "Icons"});
    Classes.push_back(icon);
}

} // namespace kv
