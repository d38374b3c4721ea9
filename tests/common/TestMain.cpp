#ifdef KV_TEST_START_UNITS
#include "startup/UnitsStartup.h"
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
#ifdef KV_TEST_START_UNITS
    // The units started as the program's main starts them.
    kv::StartUnits();
#endif
    ::testing::InitGoogleTest(&argc, argv);
    const int result = RUN_ALL_TESTS();
    std::error_code ec;
    fs::remove_all(own, ec);
    return result;
}
