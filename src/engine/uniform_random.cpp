#include "engine/uniform_random.h"

namespace skarnel {

UniformRandom& ProcessRandom() noexcept {
    static UniformRandom random;
    return random;
}

}  // namespace skarnel
