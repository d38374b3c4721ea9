// The windows the program makes after its main window, in their fixed order, each owned
// by the main window and living until the program ends. The entry point calls this; tests
// call it to get the program's own wiring.
#pragma once

namespace kv {

class TMainForm;

// Makes the tool windows that exist and hands each what it needs of the main window,
// then recomputes the commands' enabling (a command whose window exists comes on).
void CreateApplicationForms(TMainForm& Main);

} // namespace kv
