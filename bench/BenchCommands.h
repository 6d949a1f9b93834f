#pragma once
// The measurements bench_purgala can run; each prints its figures and returns the exit code.

#include "bench/BenchSupport.h"

namespace purgala::bench {

int RunScan(const Options& options);
int RunTexts(const Options& options);

}  // namespace purgala::bench
