// TByteReader: a cursor over bytes held in memory whose reads raise EReadError at the end,
// for the loaders that take a whole file at once (PCX and TGA); the stream readers check
// their reads through TStream::ReadBuffer instead. Loaders whose format reads a short file
// on as zeros ask for that by name (TPastEnd::ZeroFill); field names and byte orders match
// TStream's.
#pragma once

#include "platform/Classes.h"

#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace kv {

// What a read that runs past the end of the data does.
enum class TPastEnd : uint8_t {
    Raise,    // EReadError "Stream read error"; the position stays where it was
    ZeroFill, // the missing bytes read as zeros and the position moves on past the end
};

class TByteReader {
public:
    explicit TByteReader(std::span<const uint8_t> Data, TPastEnd PastEnd = TPastEnd::Raise)
        : FData(Data), FPastEnd(PastEnd)
    {
    }

    int64_t Size() const { return int64_t(FData.size()); }
    int64_t Position() const { return FPos; }
    int64_t Remaining() const { return FPos < Size() ? Size() - FPos : 0; }
    // Positions past the end are allowed; reads there are what PastEnd says.
    void Seek(int64_t Pos) { FPos = Pos < 0 ? 0 : Pos; }
    void Skip(int64_t Count) { FPos += Count > 0 ? Count : 0; }

    uint8_t ReadU8();
    uint16_t ReadU16LE() { return Field<2>(GetU16LE); }
    uint32_t ReadU32LE() { return Field<4>(GetU32LE); }
    uint16_t ReadU16BE() { return Field<2>(GetU16BE); }
    uint32_t ReadU32BE() { return Field<4>(GetU32BE); }
    void ReadBytes(uint8_t* Dst, int64_t Count);

private:
    template <size_t N, class TValue> TValue Field(TValue (*Decode)(const uint8_t*))
    {
        uint8_t b[N];
        ReadBytes(b, N);
        return Decode(b);
    }

    std::span<const uint8_t> FData;
    TPastEnd FPastEnd;
    int64_t FPos = 0;
};

// The whole file for a reader to walk; false (and no bytes) when it cannot be opened or
// read, or is larger than 2 GiB.
bool ReadWholeFile(const std::string& FileName, std::vector<uint8_t>& Bytes);

} // namespace kv
