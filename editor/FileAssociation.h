// The association of project files (".kvn") with the editor. The registry stand-in gets
// the keys the program has always written; the desktop gets a shared-MIME-info package
// and a desktop entry under $XDG_DATA_HOME; then the empty flag file "Assoc.reg" in the
// config folder records that the association exists.
#pragma once

#include <string>

namespace kv {

constexpr const char* ProjectMimeType = "application/x-kelvane-project";
constexpr const char* ProjectMimePackageName = "kelvane-project.xml"; // under mime/packages/
constexpr const char* DesktopEntryName = "kelvane.desktop";           // under applications/

// The shared-MIME-info package: "*.kvn" by name only (a project starts with "BM" like a
// BMP file, so there is no magic to match).
std::string ProjectMimePackage();
// The desktop entry that opens a project with the program (Exec=<program> %f).
std::string DesktopEntryText(const std::string& ExeName, const std::string& IconPath);
// One Exec argument, quoted and escaped by the desktop entry rules when it needs it.
std::string QuoteExecArgument(const std::string& Argument);

// The flag file's path, in the config folder.
std::string AssocFlagPath();
bool AssociationRegistered();

// Writes the registry keys (".KVN" = "KVNFile", "KVNFile\DefaultIcon" = IconPath,
// "KVNFile\shell\open\command" = ExeName + ` "%1"`), the two desktop files, optionally
// asks the desktop databases to refresh (failures ignored), then creates the flag file.
// Raises when a file cannot be written; the flag is then left missing.
void RegisterFileType(const std::string& ExeName, const std::string& IconPath, bool RefreshDesktop);

} // namespace kv
