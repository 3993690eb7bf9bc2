// Memory figures for the growth programs: resident set and heap in use.
#pragma once

#include <malloc.h>
#include <unistd.h>

#include <cstdio>

namespace mokavi_test {

// Resident memory of the process in bytes, from /proc/self/statm.
inline long resident_bytes() {
    long pages = 0, resident = 0;
    if (std::FILE* f = std::fopen("/proc/self/statm", "r")) {
        if (std::fscanf(f, "%ld %ld", &pages, &resident) != 2) resident = 0;
        std::fclose(f);
    }
    return resident * sysconf(_SC_PAGESIZE);
}

// Heap in use, as glibc counts it.
inline long heap_bytes() { return static_cast<long>(mallinfo2().uordblks); }

// Growth per operation of both figures across `count` runs of `op`.
struct Growth {
    double resident_per_op;
    double heap_per_op;
};

template <class Op>
Growth measure_growth(long count, Op op) {
    const long resident = resident_bytes();
    const long heap = heap_bytes();
    for (long i = 0; i < count; ++i) op();
    return {double(resident_bytes() - resident) / count, double(heap_bytes() - heap) / count};
}

}  // namespace mokavi_test
