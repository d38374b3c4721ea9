// The units' start-up that the program's main, the test suites, the fuzz targets and the
// benchmarks all need before they touch a picture: written once so that none of them
// can drift from what the program really does.
#pragma once

namespace kv {

// The picture classes (in the order that decides which class opens each extension), the
// cursors, and the imaging library's GIF and TIFF LZW slots filled with the editor's coders.
// Needs the application object (the cursors are screen cursors); safe to call again.
void StartUnits();

} // namespace kv
