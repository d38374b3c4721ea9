// An information message with one OK button, and the default cursor. Tests install an
// answerer so that no window ever blocks; without one, a message box is shown (and
// nothing at all on the offscreen platform).
#pragma once

#include <functional>
#include <string>

namespace kv {

using TInfoMessageAnswerer = std::function<void(const std::string& Text)>;
void SetInfoMessageAnswerer(TInfoMessageAnswerer Answerer);
void ShowInfoMessage(const std::string& Text);
// Screen.Cursor := crDefault: drops every override cursor.
void RestoreDefaultCursor();

} // namespace kv
