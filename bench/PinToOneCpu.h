#pragma once
#include <sched.h>

#include <cstdlib>

namespace rwbench {

// Keeps the benchmark and every thread it starts on the CPU it runs on now, so
// every run measures the same hand-off: with the two ends of an exchange on two
// CPUs, waking an idle (virtual) CPU costs tens of microseconds and varies from
// run to run, which hides the cost being measured. ROMWRIGHT_BENCH_NO_PIN turns
// it off.
inline void pinToOneCpu() {
    if (std::getenv("ROMWRIGHT_BENCH_NO_PIN") != nullptr) return;
    cpu_set_t one;
    CPU_ZERO(&one);
    CPU_SET(static_cast<size_t>(sched_getcpu()), &one);
    sched_setaffinity(0, sizeof one, &one);
}

}  // namespace rwbench
