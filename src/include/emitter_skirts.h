// Skirts of a strong emitter within one 56-bin sample. A strong narrow
// emitter's sidelobes (a Zigbee O-QPSK signal's first lies 23 dB under its
// main lobe) and the FFT window's leakage (31 dB under) spread tens of dB
// under its peak over many bins on both sides, broken by nulls and noise
// into runs of their own. Those runs are the emitter, not packets or a wide
// burst of their own: counted as peaks they made a strong Zigbee packet one
// wide burst, and cut as pulses they flicker into short pulses that pass
// for hopper packets.
#ifndef TESSARON_EMITTER_SKIRTS_H
#define TESSARON_EMITTER_SKIRTS_H

#include <cstddef>
#include <cstdint>

// A run of consecutive bins at or above the join floor, with its strongest
// value (dB below 1 mW, so smaller is stronger).
struct BinRun {
    int start;
    int end;
    float peak_value;
};

struct SampleSkirts {
    // Bins of the runs that are a strong emitter's skirts.
    uint64_t skirt_bins;
    // Bins that count towards the view's share of a wide burst: the bins
    // of a strong run within the depth of the sample's strongest bin, and
    // the whole of a weak run standing apart from every strong one.
    int wide_bins;
};

// runs: the sample's runs in bin order (at least one); row: the sample's 56
// powers (whole dB below 1 mW). A run whose strongest bin lies at least depth_db under the
// sample's strongest is weak; a weak run joined to a strong run by gaps of
// at most max_gap_bins quiet bins, directly or through other weak runs, is
// that emitter's skirt.
SampleSkirts FindSkirts(const uint8_t* row, const BinRun* runs, size_t num_runs, float depth_db,
                        int max_gap_bins);

#endif
