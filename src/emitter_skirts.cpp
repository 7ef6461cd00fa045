#include "emitter_skirts.h"

#include <algorithm>
#include <cstdlib>

namespace {

uint64_t RunBits(const BinRun& run) {
    return ((uint64_t{2} << run.end) - 1) & ~((uint64_t{1} << run.start) - 1);
}

// The weak runs reached from a strong run through gaps of at most max_gap
// quiet bins, walking the runs upwards (step +1) or downwards (step -1).
uint64_t LinkedWeakRuns(const BinRun* runs, size_t num_runs, float strong_value, int max_gap,
                        int step) {
    uint64_t linked_bins = 0;
    bool linked = false;
    int edge = 0;  // the last linked run's bin nearest the next run
    for (size_t k = 0; k < num_runs; k++) {
        const BinRun& run = runs[step > 0 ? k : num_runs - 1 - k];
        const int near_edge = step > 0 ? run.start : run.end;
        const int far_edge = step > 0 ? run.end : run.start;
        if (run.peak_value <= strong_value) {
            linked = true;
            edge = far_edge;
            continue;
        }
        linked = linked && std::abs(near_edge - edge) - 1 <= max_gap;
        if (linked) {
            linked_bins |= RunBits(run);
            edge = far_edge;
        }
    }
    return linked_bins;
}

}  // namespace

SampleSkirts FindSkirts(const uint8_t* row, const BinRun* runs, size_t num_runs, float depth_db,
                        int max_gap_bins) {
    float strongest = runs[0].peak_value;
    for (size_t k = 1; k < num_runs; k++) {
        strongest = std::min(strongest, runs[k].peak_value);
    }
    const float strong_value = strongest + depth_db;
    const uint64_t skirts = LinkedWeakRuns(runs, num_runs, strong_value, max_gap_bins, +1) |
                            LinkedWeakRuns(runs, num_runs, strong_value, max_gap_bins, -1);
    int wide_bins = 0;
    for (size_t k = 0; k < num_runs; k++) {
        const BinRun& run = runs[k];
        if (run.peak_value > strong_value) {
            wide_bins += (skirts & RunBits(run)) == 0 ? run.end - run.start + 1 : 0;
            continue;
        }
        for (int b = run.start; b <= run.end; b++) {
            wide_bins += row[b] <= strong_value ? 1 : 0;
        }
    }
    return {skirts, wide_bins};
}
