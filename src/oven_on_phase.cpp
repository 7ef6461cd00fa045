#include "oven_on_phase.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdlib>
#include <iostream>

#include "rule_set.h"
#include "subband_class.h"

namespace {

constexpr double MAINS_PERIODS_US[2] = {1e6 / 60.0, 1e6 / 50.0};
// A full-wave supply gates the magnetron on both halves of the cycle. The
// conduction is centred on the crest of each rectified half-cycle, so its
// centres keep that spacing to well under a ms, and a full-wave oven shows
// 11 to 13 on-phases in a subband: at least three, spaced within
// OVEN_HALF_MAINS_TOLERANCE_US, are asked of it. Gaps of a chance sequence
// of bursts fit a 8.3 or 10 ms grid within 1.5 ms one time in three.
constexpr double HALF_MAINS_PERIODS_US[2] = {1e6 / 120.0, 1e6 / 100.0};
constexpr double OVEN_HALF_MAINS_TOLERANCE_US = 500.0;
constexpr size_t OVEN_HALF_MAINS_MIN_PHASES = 3;
// At most this many whole periods between two centres we compare: a
// subband of 110 ms holds 5 to 7 mains periods.
constexpr int MAX_PERIODS_APART = 6;
constexpr int MEDIAN_ROWS = 5;
// On-phase centres repeat at a multiple of one mains period, within this.
constexpr double OVEN_MAINS_TOLERANCE_US = 1500.0;
// Within one on-phase the smoothed peak travels at least 6 bins (about
// 2 MHz) in small steps: the magnetron's frequency follows its anode
// current continuously. A hop or an OFDM frame moves the peak in jumps,
// which count for nothing.
constexpr int OVEN_MIN_TRAVEL_BINS = 6;
constexpr int OVEN_MAX_STEP_BINS = 2;
// At least 90 % of the row-to-row steps of the smoothed peak are small.
constexpr float OVEN_MIN_CONTINUOUS_SHARE = 0.9f;

std::vector<int> RunningMedian(const std::vector<int>& bins) {
    const int n = static_cast<int>(bins.size());
    std::vector<int> smoothed(bins.size());
    for (int i = 0; i < n; i++) {
        const int lo = std::max(0, i - MEDIAN_ROWS / 2);
        const int hi = std::min(n - 1, i + MEDIAN_ROWS / 2);
        std::array<int, MEDIAN_ROWS> window{};
        int count = 0;
        for (int k = lo; k <= hi; k++) {
            window[static_cast<size_t>(count++)] = bins[static_cast<size_t>(k)];
        }
        std::nth_element(window.begin(), window.begin() + count / 2, window.begin() + count);
        smoothed[static_cast<size_t>(i)] = window[static_cast<size_t>(count / 2)];
    }
    return smoothed;
}

bool IsWholePeriodsApart(double gap_us, double period_us,
                         double tolerance_us = OVEN_MAINS_TOLERANCE_US) {
    const double periods = std::round(gap_us / period_us);
    return periods >= 1.0 && periods <= MAX_PERIODS_APART &&
           std::fabs(gap_us - periods * period_us) <= tolerance_us;
}

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
constexpr float OVEN_CARRIER_ROW_SHARE = 0.25f;

// Bins held by a continuous carrier, with their neighbours. The share is
// of all the subband's rows, i.e. of its time on the air, not of the
// rows with a peak: a weak oven shows a peak only near the top of its
// anode current, where its sweep also turns and dwells on one bin.
std::array<bool, CONST_SUBBAND_NUM_BINS> CarrierBins(const std::vector<PeakRssiHistoryStruct>& rows,
                                                     size_t subband_rows) {
    std::array<int, CONST_SUBBAND_NUM_BINS> peak_count{};
    for (const PeakRssiHistoryStruct& row : rows) {
        if (row.index >= 0 && row.index < CONST_SUBBAND_NUM_BINS) {
            peak_count[static_cast<size_t>(row.index)]++;
        }
    }
    const size_t all_rows = std::max(subband_rows, rows.size());
    std::array<bool, CONST_SUBBAND_NUM_BINS> carrier{};
    for (int b = 0; b < CONST_SUBBAND_NUM_BINS; b++) {
        if (static_cast<float>(peak_count[static_cast<size_t>(b)]) >=
            OVEN_CARRIER_ROW_SHARE * static_cast<float>(all_rows)) {
            for (int k = std::max(b - 1, 0); k <= std::min(b + 1, CONST_SUBBAND_LAST_BIN); k++) {
                carrier[static_cast<size_t>(k)] = true;
            }
        }
    }
    return carrier;
}

// Rows of one on-phase lie at most this far apart once the rows held by a
// continuous carrier are set aside: long enough for the sweep to cross a
// carrier's few bins, far shorter than the off-phase of a mains cycle.
constexpr u64 OVEN_MAX_ROW_GAP_US = 1000;

// The magnetron's line is about 0.6 MHz wide; a strong oven raises the bins
// within 1 MHz (3 bins) of its peak past the pulse detector's margin, so a
// fragment of its sweep reaches at most this far beyond the bins its peak
// crossed.
constexpr int OVEN_LINE_HALF_WIDTH_BINS = 3;

}  // namespace

bool IsSweepingOnPhase(const std::vector<int>& peak_bins) {
    if (peak_bins.size() < static_cast<size_t>(MEDIAN_ROWS)) {
        return false;
    }
    const std::vector<int> smoothed = RunningMedian(peak_bins);
    int travel = 0;
    size_t continuous = 0;
    for (size_t i = 1; i < smoothed.size(); i++) {
        const int step = std::abs(smoothed[i] - smoothed[i - 1]);
        if (step <= OVEN_MAX_STEP_BINS) {
            travel += step;
            continuous++;
        }
    }
    return travel >= OVEN_MIN_TRAVEL_BINS &&
           static_cast<float>(continuous) >=
               OVEN_MIN_CONTINUOUS_SHARE * static_cast<float>(smoothed.size() - 1);
}

bool AreMainsSpaced(const std::vector<double>& centres_us) {
    if (centres_us.size() < 2) {
        return false;
    }
    const auto spaced_by = [&centres_us](double period, double tolerance_us) {
        for (size_t i = 1; i < centres_us.size(); i++) {
            if (!IsWholePeriodsApart(centres_us[i] - centres_us[i - 1], period, tolerance_us)) {
                return false;
            }
        }
        return true;
    };
    for (const double period : MAINS_PERIODS_US) {
        if (spaced_by(period, OVEN_MAINS_TOLERANCE_US)) {
            return true;
        }
    }
    if (!ActiveRules().oven_half_mains_period || centres_us.size() < OVEN_HALF_MAINS_MIN_PHASES) {
        return false;
    }
    for (const double period : HALF_MAINS_PERIODS_US) {
        if (spaced_by(period, OVEN_HALF_MAINS_TOLERANCE_US)) {
            return true;
        }
    }
    return false;
}

OvenOnPhases FindOvenOnPhases(const std::vector<PeakRssiHistoryStruct>& rows, u64 subband_start,
                              size_t subband_rows) {
    const std::array<bool, CONST_SUBBAND_NUM_BINS> carrier = CarrierBins(rows, subband_rows);
    OvenOnPhases result;
    std::vector<double> centres;
    std::vector<int> bins;
    u64 first = 0;
    u64 last = 0;
    // An on-phase cut by the start or end of the subband has a displaced
    // centre: it is hidden like the others but not timed.
    const u64 rows_begin = rows.empty() ? 0 : rows.front().diffTime;
    const u64 rows_end = rows.empty() ? 0 : rows.back().diffTime;
    auto close = [&]() {
        const u64 length = last - first;
        if (!bins.empty() && length >= OVEN_MIN_ON_PHASE_US && length <= OVEN_MAX_ON_PHASE_US &&
            IsSweepingOnPhase(bins)) {
            // The smoothed peak's range: a lone row taken by another
            // emitter during the phase is not the oven's.
            const std::vector<int> smoothed = RunningMedian(bins);
            const auto range = std::minmax_element(smoothed.begin(), smoothed.end());
            result.spans.push_back(
                {subband_start + first, subband_start + last, *range.first, *range.second});
            if (first > rows_begin && last < rows_end) {
                centres.push_back(0.5 * static_cast<double>(first + last));
            }
        }
        bins.clear();
    };
    for (const PeakRssiHistoryStruct& row : rows) {
        if (row.index < 0 || row.index >= CONST_SUBBAND_NUM_BINS || !row.line ||
            carrier[static_cast<size_t>(row.index)]) {
            continue;
        }
        if (!bins.empty() && row.diffTime - last > OVEN_MAX_ROW_GAP_US) {
            close();
        }
        if (bins.empty()) {
            first = row.diffTime;
        }
        last = row.diffTime;
        bins.push_back(row.index);
    }
    close();
    result.mains_gated = AreMainsSpaced(centres);
    return result;
}

std::pair<int, int> OvenOnPhaseBins(const OvenOnPhaseSpan& span) {
    return {span.low_bin - OVEN_LINE_HALF_WIDTH_BINS, span.high_bin + OVEN_LINE_HALF_WIDTH_BINS};
}

bool HasOvenOnPhases(const SubBand& subband) {
    return subband.drift_analyser.oven_mains_gated;
}

size_t DiscardOvenOnPhasePulses(SubBand& subband) {
    const auto& spans = subband.drift_analyser.oven_on_phase_spans;
    size_t count = 0;
    for (RssiPulse& pulse : subband.completed_pulses_list) {
        const bool inside = std::any_of(spans.begin(), spans.end(), [&pulse](const auto& span) {
            return pulse.start_time <= span.end && span.start <= pulse.end_time &&
                   pulse.start_bin_number <= span.high_bin + OVEN_LINE_HALF_WIDTH_BINS &&
                   span.low_bin - OVEN_LINE_HALF_WIDTH_BINS <= pulse.end_bin_number;
        });
        if (inside && pulse.classification == PULSE_NONE) {
            pulse.set_classification(PULSE_DISCARD);
            count++;
        }
    }
    std::cout << "Filtered " << count << " pulses in " << spans.size()
              << " oven on-phases... Remaining " << (subband.completed_pulses_list.size() - count)
              << " pulses...\n";
    return count;
}
