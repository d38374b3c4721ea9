// LoadTGAFile over arbitrary bytes (the loader reads files, so each input goes through one).
#include "formats/Targa.h"

#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static const std::string path = "/tmp/kv_tga_fuzz_" + std::to_string(getpid()) + ".tga";
    if (FILE* f = std::fopen(path.c_str(), "wb")) {
        std::fwrite(data, 1, size, f);
        std::fclose(f);
    }
    kv::TBitmap bmp;
    kv::LoadTGAFile(path, &bmp);
    return 0;
}
