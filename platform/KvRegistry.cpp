#include "platform/KvRegistry.h"

#include <mutex>

namespace kv {

namespace {

// Keys compare case-insensitively, as the registry's do; the stored spelling is the first one written.
struct TKeyLess {
    bool operator()(const std::string& a, const std::string& b) const { return UpperCase(a) < UpperCase(b); }
};

struct TStore {
    std::mutex Lock;
    std::map<HKEY, std::map<std::string, std::map<std::string, std::string, TKeyLess>, TKeyLess>> Roots;
};

TStore& Store()
{
    static TStore store; // lives for the process: the registry outlives every window
    return store;
}

std::string NormalKey(const std::string& Key)
{
    std::string k = Key;
    while (!k.empty() && k.front() == '\\')
        k.erase(k.begin());
    while (!k.empty() && k.back() == '\\')
        k.pop_back();
    return k;
}

} // namespace

void TRegistry::SetRootKey(HKEY Value)
{
    CloseKey();
    FRootKey = Value;
}

bool TRegistry::CreateKey(const std::string& Key)
{
    std::string k = NormalKey(Key);
    if (k.empty())
        throw ERegistryException("Failed to create key " + Key);
    std::lock_guard<std::mutex> guard(Store().Lock);
    Store().Roots[FRootKey][k];
    return true;
}

bool TRegistry::OpenKey(const std::string& Key, bool CanCreate)
{
    std::string k = NormalKey(Key);
    if (k.empty())
        return false;
    {
        std::lock_guard<std::mutex> guard(Store().Lock);
        auto& keys = Store().Roots[FRootKey];
        if (!keys.count(k)) {
            if (!CanCreate)
                return false;
            keys[k];
        }
    }
    FCurrentPath = k;
    FOpen = true;
    return true;
}

void TRegistry::CloseKey()
{
    FOpen = false;
    FCurrentPath.clear();
}

bool TRegistry::KeyExists(const std::string& Key) const
{
    std::lock_guard<std::mutex> guard(Store().Lock);
    auto root = Store().Roots.find(FRootKey);
    return root != Store().Roots.end() && root->second.count(NormalKey(Key)) > 0;
}

void TRegistry::WriteString(const std::string& Name, const std::string& Value)
{
    if (!FOpen)
        throw ERegistryException("Failed to set data for '" + Name + "'");
    std::lock_guard<std::mutex> guard(Store().Lock);
    Store().Roots[FRootKey][FCurrentPath][Name] = Value;
}

std::string TRegistry::ReadString(const std::string& Name) const
{
    return FOpen ? RegistryValue(FRootKey, FCurrentPath, Name) : std::string();
}

std::string RegistryValue(HKEY Root, const std::string& Key, const std::string& Name)
{
    std::lock_guard<std::mutex> guard(Store().Lock);
    auto root = Store().Roots.find(Root);
    if (root == Store().Roots.end())
        return {};
    auto key = root->second.find(NormalKey(Key));
    if (key == root->second.end())
        return {};
    auto value = key->second.find(Name);
    return value == key->second.end() ? std::string() : value->second;
}

int32_t RegistryKeyCount(HKEY Root)
{
    std::lock_guard<std::mutex> guard(Store().Lock);
    auto root = Store().Roots.find(Root);
    return root == Store().Roots.end() ? 0 : int32_t(root->second.size());
}

void ClearRegistry()
{
    std::lock_guard<std::mutex> guard(Store().Lock);
    Store().Roots.clear();
}

} // namespace kv
