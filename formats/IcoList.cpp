#include "formats/IcoList.h"

#include <algorithm>

namespace kv {

namespace {
constexpr int MinIconBytes = 6 + 16;
}

TIconList::TIconList() = default;
TIconList::~TIconList() = default;

void TIconList::Changed()
{
    if (FUpdateCount == 0 && OnChange)
        OnChange(this);
}

void TIconList::EndUpdate()
{
    Assert(FUpdateCount > 0, "Unpaired EndUpdate");
    if (--FUpdateCount == 0)
        Changed();
}

void TIconList::CheckIndex(int32_t Index) const
{
    if (Index < 0 || Index >= Count())
        throw EListError("List index out of bounds (" + IntToStr(Index) + ")");
}

std::unique_ptr<TIcon> TIconList::Copy(TIcon* Icon)
{
    auto icon = std::make_unique<TIcon>();
    if (Icon)
        icon->Assign(Icon);
    icon->OnChange = [this](TObject*) { Changed(); }; // a change to an icon is a change to the list
    return icon;
}

TIcon* TIconList::Get(int32_t Index) const
{
    CheckIndex(Index);
    return FList[size_t(Index)].get();
}

void TIconList::Put(int32_t Index, TIcon* Icon)
{
    if (Index == Count())
        FList.emplace_back();
    CheckIndex(Index);
    if (!FList[size_t(Index)])
        FList[size_t(Index)] = Copy(nullptr);
    FList[size_t(Index)]->Assign(Icon);
    Changed();
}

int32_t TIconList::Add(TIcon* Icon)
{
    FList.push_back(Copy(Icon));
    Changed();
    return Count() - 1;
}

int32_t TIconList::AddResource(HINST Instance, const std::string& ResName)
{
    TIcon icon;
    LoadIconResource(icon, Instance, ResName);
    return Add(&icon);
}

void TIconList::InsertResource(int32_t Index, HINST Instance, const std::string& ResName)
{
    TIcon icon;
    LoadIconResource(icon, Instance, ResName);
    Insert(Index, &icon);
}

void TIconList::Clear()
{
    BeginUpdate();
    while (Count() > 0)
        Delete(Count() - 1);
    EndUpdate();
}

void TIconList::Delete(int32_t Index)
{
    CheckIndex(Index);
    FList.erase(FList.begin() + Index);
    Changed();
}

void TIconList::Exchange(int32_t Index1, int32_t Index2)
{
    CheckIndex(Index1);
    CheckIndex(Index2);
    std::swap(FList[size_t(Index1)], FList[size_t(Index2)]);
    Changed();
}

int32_t TIconList::IndexOf(TIcon* Icon) const
{
    for (size_t i = 0; i < FList.size(); ++i)
        if (FList[i].get() == Icon)
            return int32_t(i);
    return -1;
}

void TIconList::Insert(int32_t Index, TIcon* Icon)
{
    if (Index < 0 || Index > Count())
        throw EListError("List index out of bounds (" + IntToStr(Index) + ")");
    FList.insert(FList.begin() + Index, Copy(Icon));
    Changed();
}

void TIconList::Move(int32_t CurIndex, int32_t NewIndex)
{
    CheckIndex(CurIndex);
    CheckIndex(NewIndex);
    if (CurIndex == NewIndex)
        return;
    auto item = std::move(FList[size_t(CurIndex)]);
    FList.erase(FList.begin() + CurIndex);
    FList.insert(FList.begin() + NewIndex, std::move(item));
    Changed();
}

void TIconList::Assign(TPersistent* Source)
{
    if (!Source) {
        Clear();
        return;
    }
    if (auto* list = dynamic_cast<TIconList*>(Source)) {
        if (list == this)
            return;
        BeginUpdate();
        Clear();
        for (const auto& icon : list->FList) {
            FList.push_back(icon ? Copy(icon.get()) : nullptr);
            Changed();
        }
        EndUpdate();
        return;
    }
    if (auto* icon = dynamic_cast<TIcon*>(Source)) {
        BeginUpdate();
        Clear();
        Add(icon);
        EndUpdate();
        return;
    }
    TPersistent::Assign(Source);
}

void TIconList::LoadFromStream(TStream& Stream)
{
    BeginUpdate();
    struct Guard {
        TIconList* L;
        ~Guard() { L->EndUpdate(); }
    } guard{this};
    Clear();
    uint32_t count = Stream.ReadU32LE();
    // Each entry takes at least its 4-byte size.
    if (int64_t(count) * 4 > Stream.Size() - Stream.Position())
        throw EReadError("Stream read error");
    for (uint32_t i = 0; i < count; ++i) {
        uint32_t size = Stream.ReadU32LE();
        if (size == 0) {
            FList.emplace_back();
            continue;
        }
        int64_t start = Stream.Position();
        if (size > uint32_t(0x7FFFFFFF) || int64_t(size) > Stream.Size() - start || size < uint32_t(MinIconBytes))
            throw EReadError("Stream read error");
        TMemoryStream chunk;
        chunk.SetSize(size);
        Stream.ReadBuffer(chunk.Memory(), size);
        chunk.SetPosition(0);
        auto icon = Copy(nullptr);
        icon->LoadFromStream(chunk);
        FList.push_back(std::move(icon));
    }
}

void TIconList::SaveToStream(TStream& Stream)
{
    Stream.WriteU32LE(uint32_t(Count()));
    for (const auto& icon : FList) {
        if (!icon || icon->Empty()) {
            Stream.WriteU32LE(0);
            continue;
        }
        TMemoryStream m;
        icon->SaveToStream(m);
        Stream.WriteU32LE(uint32_t(m.Size()));
        Stream.WriteBuffer(m.Memory(), m.Size());
    }
}

bool TIconList::NeedsStoring(const TIconList* Ancestor) const
{
    if (!Ancestor)
        return Count() > 0;
    if (Ancestor->Count() != Count())
        return true;
    for (int32_t i = 0; i < Count(); ++i) {
        const TIcon* a = Ancestor->FList[size_t(i)].get();
        const TIcon* b = FList[size_t(i)].get();
        std::vector<uint8_t> none;
        if ((a ? a->Data() : none) != (b ? b->Data() : none))
            return true;
    }
    return false;
}

} // namespace kv
