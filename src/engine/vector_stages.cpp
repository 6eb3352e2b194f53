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
#include "engine/vector_stages_builds.h"

// The default build is compiled here; the wider ones in
// vector_stages_wide.cpp, where products and sums may fuse. Helpers the
// stages call (fast_math.h, the defined fallbacks) are ordinary functions:
// inlined into a wider build or called as they are, never built for a wider
// set than the processor runs.

#define SKARNEL_STAGE
namespace skarnel::stages_default {
#include "engine/vector_stages.inc"
}  // namespace skarnel::stages_default
#undef SKARNEL_STAGE

namespace skarnel {

namespace {

const VectorStages kDefaultStages =
    SKARNEL_STAGES_OF(stages_default, VectorPath::kDefault, "default");

const VectorStages& StagesFor(VectorPath path) noexcept {
#if defined(__x86_64__)
    switch (path) {
        case VectorPath::kAvx512:
            return Avx512Stages();
        case VectorPath::kAvx2:
            return Avx2Stages();
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
            // The build also fuses products and sums.
            return __builtin_cpu_supports("avx2") && __builtin_cpu_supports("fma");
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
