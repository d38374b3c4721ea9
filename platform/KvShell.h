// The shell's "open" verb (ShellExecute "open"): hands a file, web address or mail link
// to the desktop's opener. Tests install a hook that records the targets instead.
#pragma once

#include <functional>
#include <string>

namespace kv {

// Opens Target: a "http:", "https:" or "mailto:" address as it is, anything else as a
// local file path. Returns whether the desktop accepted it.
bool ShellOpen(const std::string& Target);

using TShellOpenHook = std::function<bool(const std::string& Target)>;
// Installs the hook (nullptr: the desktop opener). Returns the previous one.
TShellOpenHook SetShellOpenHook(TShellOpenHook Hook);

// $XDG_DATA_HOME (default ~/.local/share), with a trailing separator. Tests point it
// elsewhere with the setter ("" restores the environment's).
std::string DataHomeDir();
void SetDataHomeDir(const std::string& Dir);

} // namespace kv
