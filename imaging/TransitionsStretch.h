// The row gather of the zooming effects' stretch as vector byte permutes: each step
// takes up to 21 destination pixels from one window of 128 source bytes, through an
// index of 64 bytes made once per frame and used for every row.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace kv {

// One step of a row: the window starts From bytes into the source row; LoadLow and
// LoadHigh mask the window's two halves to the row's bytes, Store the 64 bytes written
// (past the row's end of the stretch nothing is written; inside it the spare bytes are
// overwritten by the steps after). The step's pixels take OutBytes.
struct TStretchStep {
    int32_t From;
    uint32_t OutBytes;
    uint64_t LoadLow, LoadHigh, Store;
};

struct TStretchPlan {
    std::vector<TStretchStep> Steps;
    std::vector<uint8_t> Index; // 64 bytes a step
};

// The plan for destination columns whose source pixels start at the byte offsets Column
// (rising, each a multiple of 3) of a source row of RowBytes.
void PlanStretchGather(const std::vector<int32_t>& Column, int32_t RowBytes, TStretchPlan& Plan);

// The gather is built and the processor has the byte permutes (AVX-512 VBMI), and
// KELVANE_NO_SIMD leaves AVX-512 on.
bool StretchGatherAllowed();

// One destination row from source row In by the plan.
void StretchRowGather(const uint8_t* In, uint8_t* Out, const TStretchPlan& Plan);

} // namespace kv
