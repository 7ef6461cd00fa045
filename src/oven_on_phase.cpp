#include "oven_on_phase.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdlib>
#include <iostream>

#include "subband_class.h"

namespace {

constexpr double MAINS_PERIODS_US[2] = {1e6 / 60.0, 1e6 / 50.0};
// At most this many whole periods between two centres we compare: a
// subband of 110 ms holds 5 to 7 mains periods.
constexpr int MAX_PERIODS_APART = 6;
constexpr int MEDIAN_ROWS = 5;

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

bool IsWholePeriodsApart(double gap_us, double period_us) {
    const double periods = std::round(gap_us / period_us);
    return periods >= 1.0 && periods <= MAX_PERIODS_APART &&
           std::fabs(gap_us - periods * period_us) <= OVEN_MAINS_TOLERANCE_US;
}

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
    for (const double period : MAINS_PERIODS_US) {
        bool all = true;
        for (size_t i = 1; i < centres_us.size() && all; i++) {
            all = IsWholePeriodsApart(centres_us[i] - centres_us[i - 1], period);
        }
        if (all) {
            return true;
        }
    }
    return false;
}

OvenOnPhases FindOvenOnPhases(const std::vector<PeakRssiHistoryStruct>& rows, u64 subband_start,
                              size_t subband_rows) {
    // Bins held by a continuous carrier, with their neighbours. The share is
    // of all the subband's rows, i.e. of its time on the air, not of the
    // rows with a peak: a weak oven shows a peak only near the top of its
    // anode current, where its sweep also turns and dwells on one bin.
    std::array<int, 56> peak_count{};
    for (const PeakRssiHistoryStruct& row : rows) {
        if (row.index >= 0 && row.index < 56) {
            peak_count[static_cast<size_t>(row.index)]++;
        }
    }
    const size_t all_rows = std::max(subband_rows, rows.size());
    std::array<bool, 56> carrier{};
    for (int b = 0; b < 56; b++) {
        if (static_cast<float>(peak_count[static_cast<size_t>(b)]) >=
            OVEN_CARRIER_ROW_SHARE * static_cast<float>(all_rows)) {
            for (int k = std::max(b - 1, 0); k <= std::min(b + 1, 55); k++) {
                carrier[static_cast<size_t>(k)] = true;
            }
        }
    }

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
        if (row.index < 0 || row.index >= 56 || carrier[static_cast<size_t>(row.index)]) {
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
