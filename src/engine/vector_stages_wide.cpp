// The array stages for AVX-512F and for AVX2 with FMA. This file is compiled
// with -ffp-contract=fast, so a product and a sum may fuse into one rounding.
// That changes only approximations, whose error bounds hold all the more with
// one rounding in place of two; the defined computations the stages fall back
// to are in extended precision, which has no fused form.
#include <algorithm>
#include <cmath>
#include <limits>

#include "engine/crest_modulation.h"
#include "engine/fast_math.h"
#include "engine/fast_renderer.h"
#include "engine/noise_sources.h"
#include "engine/rounding.h"
#include "engine/signal_engine.h"
#include "engine/vector_stages_builds.h"

#if defined(__x86_64__)
#define SKARNEL_STAGE __attribute__((target("avx512f")))
namespace skarnel::stages_avx512 {
#include "engine/vector_stages.inc"
}  // namespace skarnel::stages_avx512
#undef SKARNEL_STAGE

#define SKARNEL_STAGE __attribute__((target("avx2,fma")))
namespace skarnel::stages_avx2 {
#include "engine/vector_stages.inc"
}  // namespace skarnel::stages_avx2
#undef SKARNEL_STAGE

namespace skarnel {

const VectorStages& Avx512Stages() noexcept {
    static const VectorStages stages =
        SKARNEL_STAGES_OF(stages_avx512, VectorPath::kAvx512, "avx512f");
    return stages;
}

const VectorStages& Avx2Stages() noexcept {
    static const VectorStages stages = SKARNEL_STAGES_OF(stages_avx2, VectorPath::kAvx2, "avx2");
    return stages;
}

}  // namespace skarnel
#endif
