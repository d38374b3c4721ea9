// TIconList: a persistent, streamable list of icons (an entry may be empty).
#pragma once

#include "formats/IconResources.h"
#include "platform/Icon.h"

#include <memory>
#include <vector>

namespace kv {

class TIconList : public TPersistent {
public:
    TIconList();
    ~TIconList() override;

    void Assign(TPersistent* Source) override; // TIconList, TIcon, nil
    virtual void Changed();
    void BeginUpdate() { ++FUpdateCount; }
    void EndUpdate();

    TIcon* Get(int32_t Index) const; // null for an empty entry
    int32_t Count() const { return int32_t(FList.size()); }
    // At Index = Count an empty entry is appended first; the entry takes a copy of Icon.
    void Put(int32_t Index, TIcon* Icon);
    int32_t Add(TIcon* Icon);
    // The named icon of the module's resources, appended (returning its index) or inserted.
    // A missing name raises EResNotFound "Resource NAME not found" and leaves the list
    // as it was.
    int32_t AddResource(HINST Instance, const std::string& ResName);
    void InsertResource(int32_t Index, HINST Instance, const std::string& ResName);
    void Clear();
    void Delete(int32_t Index);
    void Exchange(int32_t Index1, int32_t Index2);
    int32_t IndexOf(TIcon* Icon) const;
    void Insert(int32_t Index, TIcon* Icon);
    void Move(int32_t CurIndex, int32_t NewIndex);
    // Count (32-bit), then per entry a 32-bit size and the icon's bytes (0 for empty).
    void LoadFromStream(TStream& Stream);
    void SaveToStream(TStream& Stream);
    // The "Icons" property is stored when the list differs from its ancestor's (or,
    // without one, when it is not empty).
    bool NeedsStoring(const TIconList* Ancestor) const;

    std::string ClassName() const override { return "TIconList"; }
    TNotifyEvent OnChange;

private:
    void CheckIndex(int32_t Index) const;
    std::unique_ptr<TIcon> Copy(TIcon* Icon);
    std::vector<std::unique_ptr<TIcon>> FList;
    int32_t FUpdateCount = 0;
};

} // namespace kv
