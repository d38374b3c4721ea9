// The picture classes the platform itself brings, registered before any program's own.
#include "platform/Graphics.h"

namespace kv {

void RegisterPlatformGraphicClasses(std::vector<std::pair<std::string, std::string>>& Extensions,
                                    std::vector<TGraphicClass>& Classes)
{
}

} // namespace kv
