#include "bench/bench_common.h"

BENCHMARK_MAIN();
