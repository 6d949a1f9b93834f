#include <cstdio>

#include "bench/BenchCommands.h"

namespace purgala::bench {

int RunScale(const Options&) {
    std::puts("not measured yet");
    return 0;
}

}  // namespace purgala::bench
