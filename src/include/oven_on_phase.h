// Microwave-oven on-phases. A magnetron runs from one half of every mains
// cycle: its carrier is on the air for several ms, off for the rest of the
// 16.7 ms (60 Hz) or 20 ms (50 Hz) period, and while on it sweeps
// continuously over several MHz as the anode current rises and falls. Found
// here from the strongest bin of every sample row of one subband.
#ifndef TESSARON_OVEN_ON_PHASE_H
#define TESSARON_OVEN_ON_PHASE_H

#include <utility>
#include <vector>

#include "drift_analyser.h"
#include "script_utils_module.h"

// A continuous on-phase: longer than any hopper packet (the longest
// Bluetooth packet lasts 2.87 ms) and shorter than a mains period.
inline constexpr u64 OVEN_MIN_ON_PHASE_US = 3000;
inline constexpr u64 OVEN_MAX_ON_PHASE_US = 14000;
struct OvenOnPhases {
    // The sweeping on-phases, in card times.
    std::vector<OvenOnPhaseSpan> spans;
    // Two or more sweeping on-phases spaced by whole mains periods.
    bool mains_gated = false;
};

// rows: the subband's peak history (diffTime from subband_start; index -1
// marks a row without a peak); subband_rows: all the rows the subband
// received, with or without a peak (the history leaves out rows of short
// gaps).
OvenOnPhases FindOvenOnPhases(const std::vector<PeakRssiHistoryStruct>& rows, u64 subband_start,
                              size_t subband_rows);

// Sweep test of one on-phase's peak bins: travel and continuity after a
// 5-row running median, which removes FM flicker at bin crossings.
bool IsSweepingOnPhase(const std::vector<int>& peak_bins);

// Whether successive on-phase centres are whole multiples of one mains
// period apart (50 or 60 Hz, the same period for all).
bool AreMainsSpaced(const std::vector<double>& centres_us);

// The bins beside a row's strongest bin that a magnetron's narrow line
// leaves clear: 1.25 to 2.2 MHz away, past the line and the window's main
// lobe, still inside a 16 MHz OFDM frame on at least one side.
inline constexpr int OVEN_LINE_CLEAR_FROM_BINS = 4;
inline constexpr int OVEN_LINE_CLEAR_TO_BINS = 7;

// Whether the strongest bin `peak` of a row (values in dB below 1 mW, so
// smaller is stronger) is a narrow line: every bin OVEN_LINE_CLEAR_FROM_BINS
// to OVEN_LINE_CLEAR_TO_BINS beside it, within the row, at least clear_db
// weaker. A flat OFDM row is not.
template <typename Value>
bool IsNarrowLineRow(const Value* row, int bins, int peak, float clear_db) {
    const float top = static_cast<float>(row[peak]);
    for (int d = OVEN_LINE_CLEAR_FROM_BINS; d <= OVEN_LINE_CLEAR_TO_BINS; d++) {
        for (const int b : {peak - d, peak + d}) {
            if (b >= 0 && b < bins && static_cast<float>(row[b]) < top + clear_db) {
                return false;
            }
        }
    }
    return true;
}

class SubBand;

// A subband whose own rows show a mains-gated, sweeping oven.
bool HasOvenOnPhases(const SubBand& subband);

// The bins (first, last) in which an on-phase claims the pulses it
// overlaps: those its peak crossed and the line's skirt beside them.
std::pair<int, int> OvenOnPhaseBins(const OvenOnPhaseSpan& span);

// Tags as discarded the completed pulses of the subband that overlap one of
// its oven on-phases in time and in bins: fragments of the oven's sweep.
// Hopper packets in the off-phases, or elsewhere in the view during an
// on-phase, are left alone. Returns the number tagged.
size_t DiscardOvenOnPhasePulses(SubBand& subband);

#endif
