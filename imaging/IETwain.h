// The scanner and video-for-windows calls of the imaging library. Linux has no
// counterpart for either, so each does nothing and answers that it did nothing.
#pragma once

#include <cstdint>

class QObject;

namespace kv {

enum TIEDeviceCall : uint8_t { iedcDone, iedcNotAvailable };

// Closes the scanner connection of Owner's window. No scanner input exists here, so no
// connection is ever open: always iedcNotAvailable.
TIEDeviceCall IETWainClose(const QObject* Owner);
// The video library's shutdown; no video input exists here: always iedcNotAvailable.
TIEDeviceCall AVIFileExit();
// Whether the video library was started (never here), which is what its shutdown at
// program end depends on.
bool IEVideoInitialised();

} // namespace kv
