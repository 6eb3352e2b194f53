#include "engine/vector_stages.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <limits>

#include "engine/crest_modulation.h"
#include "engine/fast_math.h"
#include "engine/fast_renderer.h"
#include "engine/noise_sources.h"
#include "engine/rounding.h"
#include "engine/signal_engine.h"

// Each build is the same source compiled under another target attribute.
// Helpers the stages call (fast_math.h, the defined fallbacks) are ordinary
// functions: inlined into a wider build or called as they are, never built
// for a wider set than the processor runs.

#if defined(__x86_64__)
#define SKARNEL_STAGE __attribute__((target("avx512f")))
namespace skarnel::stages_avx512 {
#include "engine/vector_stages.inc"
}  // namespace skarnel::stages_avx512
#undef SKARNEL_STAGE

#define SKARNEL_STAGE __attribute__((target("avx2")))
namespace skarnel::stages_avx2 {
#include "engine/vector_stages.inc"
}  // namespace skarnel::stages_avx2
#undef SKARNEL_STAGE
#endif

#define SKARNEL_STAGE
namespace skarnel::stages_default {
#include "engine/vector_stages.inc"
}  // namespace skarnel::stages_default
#undef SKARNEL_STAGE

namespace skarnel {

namespace {

#define SKARNEL_STAGES_OF(space, path, name)                                                  \
    VectorStages {                                                                            \
        path, name, &space::Sines, &space::Triangles, &space::DrawSeeds, &space::WhiteValues, \
            &space::RowValues, &space::PinkValues, &space::CrestShapes, &space::ScaledSamples \
    }

const VectorStages kDefaultStages =
    SKARNEL_STAGES_OF(stages_default, VectorPath::kDefault, "default");
#if defined(__x86_64__)
const VectorStages kAvx2Stages = SKARNEL_STAGES_OF(stages_avx2, VectorPath::kAvx2, "avx2");
const VectorStages kAvx512Stages = SKARNEL_STAGES_OF(stages_avx512, VectorPath::kAvx512, "avx512f");
#endif

const VectorStages& StagesFor(VectorPath path) noexcept {
#if defined(__x86_64__)
    switch (path) {
        case VectorPath::kAvx512:
            return kAvx512Stages;
        case VectorPath::kAvx2:
            return kAvx2Stages;
        case VectorPath::kDefault:
            break;
    }
#else
    (void)path;
#endif
    return kDefaultStages;
}

// The widest build this processor runs, or the one the environment names.
const VectorStages* ChooseStages() noexcept {
    if (const char* named = std::getenv("SKARNEL_VECTOR_PATH")) {
        for (const VectorPath path :
             {VectorPath::kAvx512, VectorPath::kAvx2, VectorPath::kDefault}) {
            if (std::strcmp(named, StagesFor(path).name) == 0 && ProcessorRuns(path)) {
                return &StagesFor(path);
            }
        }
    }
    for (const VectorPath path : {VectorPath::kAvx512, VectorPath::kAvx2}) {
        if (ProcessorRuns(path)) {
            return &StagesFor(path);
        }
    }
    return &kDefaultStages;
}

std::atomic<const VectorStages*> active{nullptr};

}  // namespace

bool ProcessorRuns(VectorPath path) noexcept {
#if defined(__x86_64__)
    switch (path) {
        case VectorPath::kAvx512:
            return __builtin_cpu_supports("avx512f");
        case VectorPath::kAvx2:
            return __builtin_cpu_supports("avx2");
        case VectorPath::kDefault:
            return true;
    }
    return false;
#else
    return path == VectorPath::kDefault;
#endif
}

const VectorStages& ActiveVectorStages() noexcept {
    const VectorStages* stages = active.load(std::memory_order_acquire);
    if (stages == nullptr) {
        stages = ChooseStages();
        active.store(stages, std::memory_order_release);
    }
    return *stages;
}

bool UseVectorPath(VectorPath path) noexcept {
    if (!ProcessorRuns(path)) {
        return false;
    }
    active.store(&StagesFor(path), std::memory_order_release);
    return true;
}

}  // namespace skarnel
