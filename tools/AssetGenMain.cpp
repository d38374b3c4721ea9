// assetgen OUTDIR [--manifest FILE]: writes the decoration folders and the icon into
// OUTDIR and, when asked, the manifest of what it wrote.
#include "tools/assetgen/AssetGen.h"

#include <cstdio>
#include <cstring>
#include <exception>
#include <fstream>

int main(int argc, char** argv)
{
    if (argc != 2 && !(argc == 4 && std::strcmp(argv[2], "--manifest") == 0)) {
        std::fprintf(stderr, "usage: assetgen OUTDIR [--manifest FILE]\n");
        return 2;
    }
    try {
        const auto entries = kv::assetgen::GenerateAssets(argv[1]);
        if (argc == 4) {
            std::ofstream(argv[3], std::ios::binary) << kv::assetgen::ManifestText(entries);
        }
        std::printf("assetgen: %zu files in %s\n", entries.size(), argv[1]);
        return 0;
    } catch (const std::exception& e) {
        std::fprintf(stderr, "assetgen: %s\n", e.what());
        return 1;
    }
}
