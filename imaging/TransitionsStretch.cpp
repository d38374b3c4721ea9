#include "imaging/TransitionsStretch.h"

#include <algorithm>

namespace kv {

namespace {

constexpr int32_t WindowBytes = 128;
constexpr size_t StepPixels = 21; // 63 bytes: the most a 64-byte store holds whole

uint64_t LowBits(int64_t N) { return N >= 64 ? ~uint64_t(0) : N <= 0 ? 0 : (uint64_t(1) << N) - 1; }

} // namespace

void PlanStretchGather(const std::vector<int32_t>& Column, int32_t RowBytes, TStretchPlan& Plan)
{
    Plan.Steps.clear();
    Plan.Index.clear();
    const int64_t Total = int64_t(Column.size()) * 3;
    int64_t Written = 0;
    for (size_t C = 0; C < Column.size();) {
        const int32_t From = Column[C];
        size_t K = 0;
        while (C + K < Column.size() && K < StepPixels && Column[C + K] + 3 - From <= WindowBytes)
            ++K;
        const size_t At = Plan.Index.size();
        Plan.Index.resize(At + 64, 0);
        for (size_t J = 0; J < K; ++J)
            for (int32_t B = 0; B < 3; ++B)
                Plan.Index[At + J * 3 + size_t(B)] = uint8_t(Column[C + J] - From + B);
        const int64_t Avail = int64_t(RowBytes) - From;
        Plan.Steps.push_back({From, uint32_t(K * 3), LowBits(Avail), LowBits(Avail - 64), LowBits(Total - Written)});
        Written += int64_t(K) * 3;
        C += K;
    }
}

} // namespace kv
