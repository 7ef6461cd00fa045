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
// Within one on-phase the smoothed peak travels at least 6 bins (about
// 2 MHz) in small steps: the magnetron's frequency follows its anode
// current continuously. A hop or an OFDM frame moves the peak in jumps,
// which count for nothing.
inline constexpr int OVEN_MIN_TRAVEL_BINS = 6;
inline constexpr int OVEN_MAX_STEP_BINS = 2;
// At least 90 % of the row-to-row steps of the smoothed peak are small.
inline constexpr float OVEN_MIN_CONTINUOUS_SHARE = 0.9f;
// Rows of one on-phase lie at most this far apart once the rows held by a
// continuous carrier are set aside: long enough for the sweep to cross a
// carrier's few bins, far shorter than the off-phase of a mains cycle.
inline constexpr u64 OVEN_MAX_ROW_GAP_US = 1000;
// A bin that is the strongest in a quarter of all the subband's rows is held
// by a continuous carrier: such a carrier holds it at least through every
// off-phase of an oven beside it, half the time. The oven itself is on half
// the time, and its sweep follows the half-sine of the anode current, so it
// dwells where the current turns: with a 5 MHz sweep the top 0.31 MHz bin
// holds sin >= 1 - 0.31 / 5, 23 % of the on-phase, 11 % of all rows; a
// 2 MHz sweep, 36 % of the on-phase, 17 % of all rows. Counted against the
// rows with a peak instead, a weak oven whose rows pass the margin only
// near the top of the current (56 % of the on-phase at -80 dBm) gave that
// bin 25-40 % and was cut into halves at its own turning point.
inline constexpr float OVEN_CARRIER_ROW_SHARE = 0.25f;
// On-phase centres repeat at a multiple of one mains period, within this.
inline constexpr double OVEN_MAINS_TOLERANCE_US = 1500.0;

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

class SubBand;

// A subband whose own rows show a mains-gated, sweeping oven.
bool HasOvenOnPhases(const SubBand& subband);

// The magnetron's line is about 0.6 MHz wide; a strong oven raises the bins
// within 1 MHz (3 bins) of its peak past the pulse detector's margin, so a
// fragment of its sweep reaches at most this far beyond the bins its peak
// crossed.
inline constexpr int OVEN_LINE_HALF_WIDTH_BINS = 3;

// Tags as discarded the completed pulses of the subband that overlap one of
// its oven on-phases in time and in bins: fragments of the oven's sweep.
// Hopper packets in the off-phases, or elsewhere in the view during an
// on-phase, are left alone. Returns the number tagged.
size_t DiscardOvenOnPhasePulses(SubBand& subband);

#endif
