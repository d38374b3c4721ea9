#include "editor/FileAssociation.h"

#include "editor/Settings.h"
#include "platform/Classes.h"
#include "platform/KvRegistry.h"
#include "platform/KvShell.h"

#include <QProcess>
#include <QString>
#include <QStringList>

#include <filesystem>

namespace kv {

std::string ProjectMimePackage()
{
    return std::string("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
                       "<mime-info xmlns=\"http://www.freedesktop.org/standards/shared-mime-info\">\n"
                       "  <mime-type type=\"") +
           ProjectMimeType +
           "\">\n"
           "    <comment>Kelvane project</comment>\n"
           "    <glob pattern=\"*.kvn\"/>\n"
           "  </mime-type>\n"
           "</mime-info>\n";
}

// Characters that freedesktop.org desktop entries reserve inside an Exec argument.
static bool NeedsQuoting(const std::string& S)
{
    if (S.empty())
        return true;
    for (char c : S)
        if (std::string(" \t\n\"'\\><~|&;$*?#()`").find(c) != std::string::npos)
            return true;
    return false;
}

std::string QuoteExecArgument(const std::string& Argument)
{
    std::string out;
    bool quote = NeedsQuoting(Argument);
    if (quote)
        out += '"';
    for (char c : Argument) {
        if (c == '%') {
            out += "%%"; // field codes start with %
            continue;
        }
        if (quote && (c == '"' || c == '`' || c == '$' || c == '\\'))
            out += '\\';
        out += c;
    }
    if (quote)
        out += '"';
    // The value itself is a desktop-file string, in which a backslash is written twice.
    std::string value;
    for (char c : out) {
        if (c == '\\')
            value += "\\\\";
        else
            value += c;
    }
    return value;
}

static std::string DesktopString(const std::string& S)
{
    std::string out;
    for (char c : S) {
        switch (c) {
        case '\\': out += "\\\\"; break;
        case '\n': out += "\\n"; break;
        case '\r': out += "\\r"; break;
        case '\t': out += "\\t"; break;
        default: out += c;
        }
    }
    return out;
}

std::string DesktopEntryText(const std::string& ExeName, const std::string& IconPath)
{
    return "[Desktop Entry]\n"
           "Type=Application\n"
           "Name=Kelvane\n"
           "Comment=Layered picture editor\n"
           "Exec=" +
           QuoteExecArgument(ExeName) +
           " %f\n"
           "Icon=" +
           DesktopString(IconPath) +
           "\n"
           "MimeType=" +
           ProjectMimeType +
           ";\n"
           "Terminal=false\n"
           "Categories=Graphics;2DGraphics;RasterGraphics;\n";
}

std::string AssocFlagPath() { return ConfigDir() + AssocFlagFile; }

bool AssociationRegistered() { return FileExists(AssocFlagPath()); }

static void WriteRegistryKeys(const std::string& ExeName, const std::string& IconPath)
{
    TRegistry reg;
    reg.SetRootKey(HKEY_CLASSES_ROOT);
    reg.CreateKey(".KVN");
    reg.OpenKey(".KVN", true);
    reg.WriteString("", "KVNFile");
    reg.CloseKey();
    reg.OpenKey("KVNFile\\DefaultIcon", true);
    reg.WriteString("", IconPath);
    reg.CloseKey();
    reg.OpenKey("KVNFile\\shell\\open\\command", true);
    reg.WriteString("", ExeName + " \"%1\"");
    reg.CloseKey();
}

static void WriteIn(const std::string& Folder, const std::string& Name, const std::string& Bytes)
{
    std::error_code ec;
    std::filesystem::create_directories(Folder, ec);
    if (ec)
        throw EFCreateError("Cannot create folder " + Folder);
    WriteSettingsBytes(IncludeTrailingPathDelimiter(Folder) + Name, Bytes);
}

static void RefreshDesktopDatabases(const std::string& DataHome)
{
    // Best effort: the tools may be missing, and the desktop rescans on its own anyway.
    QProcess::startDetached("update-mime-database", {QString::fromStdString(DataHome + "mime")});
    QProcess::startDetached("update-desktop-database", {QString::fromStdString(DataHome + "applications")});
}

void RegisterFileType(const std::string& ExeName, const std::string& IconPath, bool RefreshDesktop)
{
    WriteRegistryKeys(ExeName, IconPath);
    std::string home = DataHomeDir();
    WriteIn(home + "mime/packages", ProjectMimePackageName, ProjectMimePackage());
    WriteIn(home + "applications", DesktopEntryName, DesktopEntryText(ExeName, IconPath));
    if (RefreshDesktop)
        RefreshDesktopDatabases(home);
    WriteSettingsBytes(AssocFlagPath(), std::string());
}

} // namespace kv
