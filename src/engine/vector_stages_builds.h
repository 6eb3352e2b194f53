#pragma once

// The builds of the array stages, for vector_stages.cpp to choose from.

#include "engine/vector_stages.h"

// The table of one build, whose functions are in namespace `space`.
#define SKARNEL_STAGES_OF(space, path, name)                                                  \
    VectorStages {                                                                            \
        path, name, &space::Sines, &space::Triangles, &space::DrawSeeds, &space::WhiteValues, \
            &space::RowValues, &space::PinkSums, &space::PinkValues, &space::CrestShapes,     \
            &space::ScaledSamples, &space::SaturatedFrames                                    \
    }

namespace skarnel {

#if defined(__x86_64__)
// Built in vector_stages_wide.cpp: AVX-512F, and AVX2 with FMA.
const VectorStages& Avx512Stages() noexcept;
const VectorStages& Avx2Stages() noexcept;
#endif

}  // namespace skarnel
