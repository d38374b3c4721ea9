// Enter and Escape typed into an edit reach the default and cancel buttons of the same
// window: the edit hands the key to its window, which offers it to each control that
// takes dialog keys until one does.
#pragma once

#include "platform/Controls.h"
#include "platform/KvKeys.h" // VK_RETURN, VK_ESCAPE, VK_UP, VK_DOWN, VK_BACK, VK_SPACE

#include <cstdint>

class QWidget;

namespace kv {

class TDialogKeyTarget {
public:
    virtual ~TDialogKeyTarget() = default;
    // Returns whether the key was taken (a default or cancel button clicked).
    virtual bool DialogKey(uint16_t Key, TShiftState Shift) = 0;
};

// CM_DIALOGKEY: offers Key to every other dialog-key control of Sender's window, in
// creation order; returns whether one took it.
bool SendDialogKey(QWidget* Sender, uint16_t Key, TShiftState Shift);

} // namespace kv
