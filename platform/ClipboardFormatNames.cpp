#include "platform/ClipboardFormatNames.h"

#include <mutex>
#include <vector>

namespace kv {

namespace {
std::mutex& NamesLock()
{
    static std::mutex lock;
    return lock;
}
std::vector<std::string>& Names()
{
    static std::vector<std::string> names;
    return names;
}
constexpr TClipboardFormat FirstRegisteredFormat = 0xC000;
} // namespace

TClipboardFormat RegisterClipboardFormatName(const std::string& Name)
{
    std::lock_guard<std::mutex> guard(NamesLock());
    auto& names = Names();
    for (size_t i = 0; i < names.size(); ++i)
        if (names[i] == Name)
            return TClipboardFormat(FirstRegisteredFormat + i);
    names.push_back(Name);
    return TClipboardFormat(FirstRegisteredFormat + names.size() - 1);
}

std::string ClipboardFormatName(TClipboardFormat Format)
{
    std::lock_guard<std::mutex> guard(NamesLock());
    const auto& names = Names();
    if (Format < FirstRegisteredFormat || size_t(Format - FirstRegisteredFormat) >= names.size())
        return "";
    return names[Format - FirstRegisteredFormat];
}

} // namespace kv
