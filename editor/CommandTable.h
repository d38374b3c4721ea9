// One row of a command table: what the main window needs to build a command (its menu
// item's name, caption, shortcut, handler, enabling rule, tool-bar button and pop-up item).
// Each concern file of the main window keeps one table of these; CreateCommands builds
// them all and connects each command to its handler in one place.
#pragma once

#include <QStyle>

#include <cstdint>
#include <functional>

namespace kv {

// A button on one of the tool bars; Slot orders the buttons of a bar.
struct TToolButtonPlace {
    const char* Bar = nullptr; // null: not on a tool bar
    int32_t Slot = 0;
    QStyle::StandardPixmap Glyph = QStyle::SP_CustomBase; // SP_CustomBase: text, no glyph
};

// An item of the layer pop-up, which repeats the Current Layer menu with captions of its own.
struct TPopupPlace {
    const char* Caption = nullptr; // null: not on the pop-up
    const char* Keys = "";         // the shortcut the item shows
};

enum class TCheckable : uint8_t { No, Yes };

struct TCommandRow {
    const char* Name; // the menu item's name: "Save1", "N3", "mnFileOpen"...
    const char* Caption;
    const char* Keys = ""; // the shortcut, "" for none
    // Null while the command's window or routine is not part of the program yet: the
    // command is shown and stays disabled, so nothing pretends to work.
    std::function<void()> Handler = {};
    // Null: always enabled. A command whose window CreateApplicationForms makes asks for
    // that window here, so it stays disabled until the window exists.
    std::function<bool()> Rule = {};
    TToolButtonPlace ToolButton = {};
    TPopupPlace Popup = {};
    TCheckable Checkable = TCheckable::No;
    // A tool button that runs another command: it takes that command's handler.
    const char* Runs = nullptr;
};

} // namespace kv
