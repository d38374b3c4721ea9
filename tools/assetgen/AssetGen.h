// The decoration folders the program ships beside itself (Frames, Patterns, Masks,
// Textures and the program icon), drawn by our own deterministic code: the same bytes on
// every run and every machine. The pixel maths is integer or +-*/ and sqrt in double
// (built without contraction), the noise comes from our own generator seeded by each
// file's name, and nothing outside is read.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace kv::assetgen {

uint64_t Fnv1a64(const void* Data, size_t Size, uint64_t Hash = 0xCBF29CE484222325ull);
inline uint64_t Fnv1a64(const std::string& Text) { return Fnv1a64(Text.data(), Text.size()); }

// One written file: its path below the output folder, its size, the FNV-1a-64 of its
// bytes and of the pixels handed to the writer (indices for GIF, B,G,R rows for BMP,
// R,G,B for JPEG, B,G,R,A for the icon).
struct TAssetEntry {
    std::string Path;
    uint64_t Size = 0;
    uint64_t BytesHash = 0;
    uint64_t PixelsHash = 0;
};

// Writes every file below OutDir (created as needed) and returns them sorted by path.
std::vector<TAssetEntry> GenerateAssets(const std::string& OutDir);
// One line per file: path, size, bytes hash, pixels hash (hex), LF-ended.
std::string ManifestText(const std::vector<TAssetEntry>& Entries);

// The designs, exposed for the tests that check them against the loaders.
constexpr int FrameWidth = 800, FrameHeight = 600, FrameBandX = 96, FrameBandY = 72;
// mask01: 255 on the band and its edge, 170 and 85 one and two pixels inside, 0 beyond.
uint8_t Mask01Value(int X, int Y);
// The 38 pattern tiles are 8 x 8; pattern N (1..38) as 64 B,G,R triples, top row first.
std::vector<uint8_t> PatternPixels(int N);

} // namespace kv::assetgen
