// Tiny GIF files whose image data is whole, or damaged in one way, shared by the suites
// of every GIF reader (the editor's codec, the GIF model, the imaging library's filter)
// so that all of them are held to one verdict. Each file: a screen the size of its one
// frame, a global table of black (index 0) and white (index 1), the LZW data as the
// comment spells out in codes (3 bits wide until entry 8 is made, then 4; clear 4, end 5,
// first entry 6), and the trailer. giflib's DGifSlurp accepts the two whole ones and
// refuses every damaged one (error 112 "image defect" or 113 "EOF too soon");
// giftopnm reads the whole ones as the pixels listed.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace kv::testgif {

// The end code before the frame is full, the bytes running out before it, a code that
// names no string.
enum TGifDamage : uint8_t { gdWhole, gdEndCodeEarly, gdRunsOut, gdUndefinedCode };

struct TDamagedGif {
    const char* Name;
    int32_t Width, Height;
    std::vector<uint8_t> Data;    // the LZW data sub-block's bytes
    std::vector<uint8_t> Indexes; // what the data decodes to, top row first; zero past it
    TGifDamage Damage;

    bool Damaged() const { return Damage != gdWhole; }

    // The whole file, as giflib was given it.
    std::vector<uint8_t> File() const
    {
        std::vector<uint8_t> f = {'G', 'I', 'F', '8', '9', 'a'};
        const uint8_t w = uint8_t(Width), h = uint8_t(Height);
        f.insert(f.end(), {w, 0, h, 0}); // screen width, height
        f.insert(f.end(), {0x80, 0, 0}); // global table of 2 entries, background 0, aspect 0
        f.insert(f.end(), {0, 0, 0, 255, 255, 255});
        f.insert(f.end(), {0x2C, 0, 0, 0, 0, w, 0, h, 0, 0}); // at (0, 0), not interlaced
        f.push_back(2);                                       // LZW minimum code size
        f.push_back(uint8_t(Data.size()));
        f.insert(f.end(), Data.begin(), Data.end());
        f.push_back(0);    // the terminator
        f.push_back(0x3B); // the trailer
        return f;
    }

    std::vector<uint8_t> Decoded() const
    {
        std::vector<uint8_t> all(std::size_t(Width) * std::size_t(Height), 0);
        for (std::size_t i = 0; i < Indexes.size(); ++i)
            all[i] = Indexes[i];
        return all;
    }
};

inline std::vector<TDamagedGif> DamagedGifs()
{
    return {
        // clear, 1, 0, 6 ("1 0"), end (4 bits): 35 bytes, whole.
        {"whole", 4, 1, {0x0C, 0x5C}, {1, 0, 1, 0}, gdWhole},
        // clear, 1, 6 (the next free code: "1" and its own first byte), 0, end: whole.
        {"next_free_code", 4, 1, {0x8C, 0x51}, {1, 1, 1, 0}, gdWhole},
        // clear, 1, 1, 6 ("1 1"), 1, end: 36 bytes, the end code after 5 of 16 pixels.
        {"end_code_early", 4, 4, {0x4C, 0x1C, 0x05}, {1, 1, 1, 1, 1}, gdEndCodeEarly},
        // clear, 1, 7 (the next free code is 6), end: 35 bytes.
        {"code_beyond_next_free", 4, 4, {0xCC, 0x0B}, {1}, gdUndefinedCode},
        // clear, 6 (no string before it to extend), end.
        {"next_free_code_after_clear", 4, 4, {0x74, 0x01}, {}, gdUndefinedCode},
        // clear, end: no pixel at all.
        {"end_code_after_clear", 4, 4, {0x2C}, {}, gdEndCodeEarly},
        // clear, 1, 1, then the zero bits left in the last byte (0, 0 at 4 bits) and no
        // end code: the data runs out after 4 pixels.
        {"data_runs_out", 4, 4, {0x4C, 0x00}, {1, 1, 0, 0}, gdRunsOut},
    };
}

} // namespace kv::testgif
