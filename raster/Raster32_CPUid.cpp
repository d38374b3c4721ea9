#include "raster/Raster32_CPUid.h"

#include "platform/CpuFeatures.h"

namespace kv {

bool CpuHasMmx() { return CpuHas(TSimdLevel::Mmx); }
bool CpuHasAvx2() { return CpuHas(TSimdLevel::Avx2); }
bool CpuHasAvx512Bw() { return CpuHas(TSimdLevel::Avx512); }

} // namespace kv
