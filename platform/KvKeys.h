// Virtual-key codes and 16-bit shortcuts (key in the low byte, scShift/scCtrl/scAlt
// above it), with the mapping from Qt's key events.
#pragma once

#include "platform/KvExtCtrls.h" // the navigation keys' codes

#include <cstdint>

namespace kv {

using TShortCut = uint16_t;
constexpr TShortCut scShift = 0x2000, scCtrl = 0x4000, scAlt = 0x8000, scNone = 0;

// The others beside the navigation keys.
constexpr uint16_t VK_BACK = 0x08, VK_TAB = 0x09, VK_SPACE = 0x20, VK_INSERT = 0x2D, VK_DELETE = 0x2E, VK_F1 = 0x70;

constexpr TShortCut ShortCut(uint16_t Key, TShortCut Shift) { return TShortCut((Key & 0xFF) | Shift); }

// The virtual-key code of a Qt key (Qt::Key as an integer); 0 for keys without one.
uint16_t VirtualKeyFromQt(int QtKey);
// ssShift, ssCtrl and ssAlt of Qt's keyboard modifiers (as an integer).
TShiftState ShiftFromQtModifiers(uint32_t QtModifiers);

// The shortcut of a Qt key event (Qt::Key and Qt::KeyboardModifiers as integers);
// 0 for keys without a virtual-key code.
TShortCut ShortCutFromQtKey(int QtKey, uint32_t QtModifiers);

} // namespace kv
