#include "widgets/FileUtil.h"

#include <sys/stat.h>

namespace kv {

bool DirExists(const std::string& Name)
{
    if (Name.empty())
        return false;
    struct stat st {};
    return ::stat(Name.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

std::string StripTrailingBackslash(const std::string& Path)
{
    if (Path.size() > 1 && Path.back() == '/')
        return Path.substr(0, Path.size() - 1);
    return Path;
}

std::string ShortToLongPath(const std::string& Path) { return Path; }
std::string LongToShortPath(const std::string& Path) { return Path; }

std::string ExtractUntilDelimiter(const std::string& S, int32_t& Pos, const std::string& Delimiters)
{
    if (Pos < 1)
        Pos = 1;
    size_t start = size_t(Pos - 1);
    if (start >= S.size()) {
        Pos = int32_t(S.size()) + 1;
        return {};
    }
    size_t end = S.find_first_of(Delimiters, start);
    if (end == std::string::npos)
        end = S.size();
    Pos = int32_t(end) + 2;
    return S.substr(start, end - start);
}

} // namespace kv
