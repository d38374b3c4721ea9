#include "platform/ByteReader.h"

#include <algorithm>
#include <cstring>

namespace kv {

void TByteReader::ReadBytes(uint8_t* Dst, int64_t Count)
{
    if (Count <= 0)
        return;
    const int64_t have = std::min(Count, Remaining());
    if (have < Count && FPastEnd == TPastEnd::Raise)
        throw EReadError("Stream read error");
    if (have > 0)
        std::memcpy(Dst, FData.data() + FPos, size_t(have));
    std::memset(Dst + have, 0, size_t(Count - have));
    FPos += Count;
}

uint8_t TByteReader::ReadU8()
{
    if (FPos < Size())
        return FData[size_t(FPos++)];
    uint8_t b;
    ReadBytes(&b, 1);
    return b;
}

bool ReadWholeFile(const std::string& FileName, std::vector<uint8_t>& Bytes)
{
    Bytes.clear();
    try {
        TFileStream f(FileName, fmOpenRead | fmShareDenyNone);
        const int64_t size = f.Size();
        if (size < 0 || size > (int64_t(1) << 31))
            return false;
        Bytes.resize(size_t(size));
        f.ReadBuffer(Bytes.data(), size);
        return true;
    } catch (const Exception&) {
        Bytes.clear();
        return false;
    }
}

} // namespace kv
