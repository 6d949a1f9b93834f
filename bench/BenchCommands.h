#pragma once
// The measurements bench_purgala can run; each prints its figures and returns the exit code.

#include "bench/BenchSupport.h"

namespace purgala::bench {

int RunScan(const Options& options);
int RunTexts(const Options& options);
int RunSort(const Options& options);
int RunDelete(const Options& options);
int RunTrash(const Options& options);
int RunScale(const Options& options);
int RunFolders(const Options& options);
int RunInUse(const Options& options);
int RunFailures(const Options& options);

}  // namespace purgala::bench
