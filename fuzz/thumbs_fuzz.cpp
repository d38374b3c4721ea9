// A folder scan over files made from the input: the same bytes are written under every
// extension the browser lists, and a view scans the folder, loading each of them.
#include "fuzz/FuzzCommon.h"
#include "startup/UnitsStartup.h"
#include "widgets/Thumbview.h"

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <unistd.h>

namespace {

const std::filesystem::path& Folder()
{
    static const std::filesystem::path P = [] {
        auto D = std::filesystem::temp_directory_path() / ("kv_thumbs_fuzz_" + std::to_string(::getpid()));
        std::filesystem::create_directories(D);
        std::atexit([] {
            std::error_code E;
            std::filesystem::remove_all(
                std::filesystem::temp_directory_path() / ("kv_thumbs_fuzz_" + std::to_string(::getpid())), E);
        });
        return D;
    }();
    return P;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* Data, size_t Size)
{
    kv::fuzz::EnsureApplication("thumbs_fuzz");
    static const bool Started = (kv::StartUnits(), true); // as the program's main does
    (void)Started;
    const auto& Dir = Folder();
    for (const char* Ext : {"bmp", "JPG", "wmf", "emf", "ico", "gif", "Pcx", "tga", "png"}) {
        std::ofstream Out(Dir / (std::string("f.") + Ext), std::ios::binary | std::ios::trunc);
        Out.write(reinterpret_cast<const char*>(Data), std::streamsize(Size));
    }
    {
        kv::TTHumbview View;
        View.SetDirectory(Dir.string());
        (void)View.grab(); // the first paint posts the scan
        for (int I = 0; I < 3; ++I)
            QCoreApplication::processEvents();
        for (int I = 0; I < View.Count(); ++I)
            (void)View.Thumb(I)->Filename();
    }
    return 0;
}
