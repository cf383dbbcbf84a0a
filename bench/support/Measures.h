#pragma once

#include <vector>

// What the benchmarks measure besides time.
namespace lumora::bench {

// The process's resident memory, in MiB.
double residentMegabytes();
// Heap in use (after giving free memory back), in MiB.
double heapMegabytes();
// CPU time of the calling thread, in microseconds.
double threadCpuMicroseconds();
// The middle value (0 for none).
double median(std::vector<double> values);

} // namespace lumora::bench
