// A stand-in for the Windows registry: Linux has none, so the keys and default values
// the program writes (the project-file association) are kept in memory for the run,
// where tests read them back. The desktop's own association is written separately as
// freedesktop files (editor/FileAssociation).
#pragma once

#include "platform/SysUtils.h"

#include <cstdint>
#include <map>
#include <string>

namespace kv {

KV_DECLARE_EXCEPTION(ERegistryException, Exception)

using HKEY = uint32_t;
constexpr HKEY HKEY_CLASSES_ROOT = 0x80000000u, HKEY_CURRENT_USER = 0x80000001u, HKEY_LOCAL_MACHINE = 0x80000002u;

class TRegistry : public TObject {
public:
    HKEY RootKey() const { return FRootKey; }
    void SetRootKey(HKEY Value);
    // Key paths are relative to the root, parts separated by '\'.
    bool CreateKey(const std::string& Key);
    // False when the key is missing and CanCreate is off.
    bool OpenKey(const std::string& Key, bool CanCreate);
    void CloseKey();
    bool KeyExists(const std::string& Key) const;
    // Name "" is the key's default value. ERegistryException without an open key.
    void WriteString(const std::string& Name, const std::string& Value);
    std::string ReadString(const std::string& Name) const;
    const std::string& CurrentPath() const { return FCurrentPath; }
    std::string ClassName() const override { return "TRegistry"; }

private:
    HKEY FRootKey = HKEY_CURRENT_USER;
    std::string FCurrentPath;
    bool FOpen = false;
};

// For tests: the value stored under Root\Key (Name "" is the default value); empty when
// absent. RegistryKeyCount counts the keys under a root; ClearRegistry forgets them all.
std::string RegistryValue(HKEY Root, const std::string& Key, const std::string& Name = "");
int32_t RegistryKeyCount(HKEY Root);
void ClearRegistry();

} // namespace kv
