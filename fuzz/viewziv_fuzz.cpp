// View.ziv reader: any bytes give a background that round-trips through the writer.
#include "editor/Settings.h"

#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    kv::TEditorBackground b = kv::ParseViewSettings(std::string(reinterpret_cast<const char*>(data), size));
    kv::TEditorBackground again = kv::ParseViewSettings(kv::ViewSettingsText(b));
    if (again.Chess != b.Chess || (!b.Chess && again.Color != b.Color))
        std::abort();
    return 0;
}
