#include "platform/KvShell.h"

#include "platform/SysUtils.h"

#include <QDesktopServices>
#include <QString>
#include <QUrl>

#include <cstdlib>

namespace kv {

static TShellOpenHook& Hook()
{
    static TShellOpenHook hook;
    return hook;
}

TShellOpenHook SetShellOpenHook(TShellOpenHook NewHook)
{
    TShellOpenHook previous = std::move(Hook());
    Hook() = std::move(NewHook);
    return previous;
}

static bool IsAddress(const std::string& Target)
{
    for (const char* scheme : {"http:", "https:", "mailto:", "file:"})
        if (Target.rfind(scheme, 0) == 0)
            return true;
    return false;
}

bool ShellOpen(const std::string& Target)
{
    if (Hook())
        return Hook()(Target);
    QString text = QString::fromStdString(Target);
    QUrl url = IsAddress(Target) ? QUrl(text) : QUrl::fromLocalFile(text);
    return url.isValid() && QDesktopServices::openUrl(url);
}

static std::string& DataHomeOverride()
{
    static std::string dir;
    return dir;
}

void SetDataHomeDir(const std::string& Dir)
{
    DataHomeOverride() = Dir.empty() ? Dir : IncludeTrailingPathDelimiter(Dir);
}

std::string DataHomeDir()
{
    if (!DataHomeOverride().empty())
        return DataHomeOverride();
    const char* xdg = std::getenv("XDG_DATA_HOME");
    if (xdg && *xdg)
        return IncludeTrailingPathDelimiter(xdg);
    const char* home = std::getenv("HOME");
    return IncludeTrailingPathDelimiter(home && *home ? home : "/tmp") + ".local/share/";
}

} // namespace kv
