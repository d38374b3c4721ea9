// RegisterPictureFormats: enters every picture class of the program in the platform's
// registry, in the order that decides which class opens each extension. The program's
// main and the test main call it; no unit registers itself.
#pragma once

namespace kv {

// Once per process; later calls do nothing.
void RegisterPictureFormats();

} // namespace kv
