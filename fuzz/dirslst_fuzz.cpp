// Dirs.lst reader: any bytes give at most five non-blank entries, and the recent list
// built from them stays within five items through further additions.
#include "editor/Settings.h"

#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    std::vector<std::string> files = kv::ParseRecentList(std::string(reinterpret_cast<const char*>(data), size));
    if (files.size() > size_t(kv::MaxRecentFiles))
        std::abort();
    for (const std::string& f : files)
        if (f.empty() || f.size() > kv::MaxRecentLine)
            std::abort();
    kv::TRecentList list(files);
    list.AddRecentFile("/tmp/a.bmp");
    if (list.Count() > kv::MaxRecentFiles || list.Caption(0) != "/tmp/a.bmp")
        std::abort();
    if (kv::ParseRecentList(kv::RecentListText(list.Files())) != list.Files())
        std::abort();
    return 0;
}
