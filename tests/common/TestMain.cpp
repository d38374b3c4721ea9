#ifdef KV_TEST_PICTURE_FORMATS
#include "formats/PictureFormats.h"
#endif
#ifdef KV_TEST_GIF_LZW
#include "formats/GifIndexCoder.h"
#include "imaging/IOParams.h"
#endif
#ifdef KV_TEST_TIFF_LZW
#include "imaging/TiffLzw.h"
#endif

#include <QApplication>
#include <cstdlib>
#include <filesystem>
#include <gtest/gtest.h>
#include <string>
#include <unistd.h>

int main(int argc, char** argv)
{
    // Anything that touches fonts, canvases or the clipboard needs an application object.
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    // Each test process gets a temporary folder of its own: tests name their files after
    // the test, and the same test may run in another build tree at the same time.
    namespace fs = std::filesystem;
    const fs::path base = fs::temp_directory_path();
    const fs::path own = base / ("kvtest-" + std::to_string(getpid()));
    fs::create_directories(own);
    setenv("TMPDIR", own.c_str(), 1);
    QApplication app(argc, argv);
#ifdef KV_TEST_PICTURE_FORMATS
    // The picture classes as the program's main registers them.
    kv::RegisterPictureFormats();
#endif
#ifdef KV_TEST_GIF_LZW
    // The imaging library's GIF coders, as the program's main installs them.
    kv::DefGifLzwDecompress = kv::DecodeGifIndexes;
    kv::DefGifLzwCompress = kv::EncodeGifIndexes;
#endif
#ifdef KV_TEST_TIFF_LZW
    // The TIFF LZW coder as the program's main installs it.
    kv::InstallTiffLzwCoder();
#endif
    ::testing::InitGoogleTest(&argc, argv);
    const int result = RUN_ALL_TESTS();
    std::error_code ec;
    fs::remove_all(own, ec);
    return result;
}
