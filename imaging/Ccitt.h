// CCITT fax coding of bilevel rows (ITU-T T.4 and T.6): modified Huffman, group 3 one-
// and two-dimensional and group 4, decoders that never read past their data or row and
// the matching encoders.
#pragma once

#include <cstdint>
#include <vector>

namespace kv {

enum TCcittCoding : uint8_t { ccModifiedHuffman, ccGroup3OneD, ccGroup3TwoD, ccGroup4 };

// Decodes the rows of one strip. A decoded row has 1 for white and 0 for black, its
// pixels most significant bit first.
class TCcittDecoder {
public:
    TCcittDecoder(TCcittCoding Coding, int32_t Width);
    // Starts a strip: bit position 0 and a reference row of all white. The data must
    // stay alive while rows are decoded.
    void StartStrip(const uint8_t* Data, int64_t Size);
    // Fills ceil(Width / 8) bytes of Row. False when the data ran out or a code cannot
    // stand where it is; the row then holds what was decoded.
    bool DecodeRow(uint8_t* Row);
    int64_t BitPosition() const { return FPos; }

private:
    uint32_t Peek(int32_t Bits) const;
    bool Exhausted() const { return FPos >= FBits; }
    bool SkipLeadingEols();
    bool DecodeRun(int32_t Colour, int32_t& Run);
    bool DecodeOneD();
    bool DecodeTwoD();
    bool Uncompressed(int32_t& A0, int32_t& Colour);
    void PaintRow(uint8_t* Row) const;

    TCcittCoding FCoding;
    int32_t FWidth;
    const uint8_t* FData = nullptr;
    int64_t FSize = 0;
    int64_t FBits = 0;
    int64_t FPos = 0;
    std::vector<int32_t> FRef; // changing elements of the reference row, then sentinels
    std::vector<int32_t> FCur;
};

// Codes rows into bytes, most significant bit first. Pixel bit 0 is coded as white.
class TCcittEncoder {
public:
    TCcittEncoder(TCcittCoding Coding, int32_t Width);
    void EncodeRow(const uint8_t* Row);
    // The end-of-image codes (one EOL for group 3, two for group 4), then zero bits
    // to a byte boundary.
    void Finish();
    // Moves the whole bytes coded so far into Out; pending bits stay for the next row.
    void TakeBytes(std::vector<uint8_t>& Out);

private:
    void PutBits(uint32_t Code, int32_t Length);
    void PutRun(int32_t Colour, int32_t Run);
    void PadToByte();
    void CodeOneD();
    void CodeTwoD();

    TCcittCoding FCoding;
    int32_t FWidth;
    bool FFirstRow = true;
    std::vector<int32_t> FRef;
    std::vector<int32_t> FCur;
    std::vector<uint8_t> FOut;
    uint32_t FAcc = 0;
    int32_t FAccBits = 0;
};

// Reverses the bits of every byte (fill order 2 to fill order 1).
void ReverseBitsInPlace(uint8_t* Data, int64_t Size);

} // namespace kv
