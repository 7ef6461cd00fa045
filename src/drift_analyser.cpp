// Drift record of one subband. A microwave oven's magnetron sweeps its carrier
// while the mains half-cycle powers it: within each burst the strongest bin
// walks steadily up or down the band (turning at most once) and the bursts
// start at a fixed phase of the 60 Hz mains period. This unit records the
// strongest bin of every row and, once the subband is closed, measures those
// drifting bursts, their sweeps and the spread of their start phases.
#include "drift_analyser.h"

#include <algorithm>
#include <cstdlib>
#include <iostream>
#include <sstream>

#include "byte_row.h"
#include "oven_on_phase.h"
#include "rule_set.h"
#include "subband_class.h"

namespace {

// Bins of one FFT row of a 20 MHz subband.
constexpr size_t kRowBins = CONST_SUBBAND_NUM_BINS;
// A row carries a usable peak only when its strongest bin beats -75 dBm.
constexpr float kPeakLimit = 75.0f;
// Rows without a peak this soon after the last peak row are the gaps of one
// burst, not its end, and leave no trace.
constexpr u64 kGapAllowanceUs = 800;
constexpr float kInitialSpread = 100000.0f;

}  // namespace

long long modifiedMod(long long number, long modulus) {
    // Without a positive period there is no phase to fold into.
    if (modulus <= 0) {
        return number;
    }
    long long remainder = number % modulus;
    if (remainder < 0) {
        remainder += modulus;
    }
    return remainder;
}

DriftAnalyser::DriftAnalyser(u64 start_time_in, float subband_center_freq_in, SubBand* parent_in)
    : start_time(start_time_in),
      end_time(start_time_in),
      band_start(start_time_in),
      parent(parent_in),
      subband_center_freq(subband_center_freq_in * 1000),
      num_drift_instances(0),
      count_sweep_length(0),
      avg_sweep_freq(0),
      avg_sweep_lengths(0),
      max_sweep_length(0),
      stdev_on_start_times(kInitialSpread),
      stdev_on_drift_times(kInitialSpread),
      num_on_pulses(0),
      peak_rssi(0.0f),
      peak_index(0) {}

void DriftAnalyser::UpdateDriftAnalyser(u64 curr_time, const std::vector<float>& rssi_list) {
    // Strongest (smallest) value of the row; the lowest bin wins a tie.
    const size_t bins = std::min(rssi_list.size(), kRowBins);
    int min_index = -1;
    float min_value = 0.0f;
    for (size_t b = 0; b < bins; b++) {
        if (min_index < 0 || rssi_list[b] < min_value) {
            min_value = rssi_list[b];
            min_index = static_cast<int>(b);
        }
    }

    const float clear_db = ActiveRules().oven_line_clear_db;
    const bool line =
        min_index < 0 || clear_db <= 0.0f ||
        IsNarrowLineRow(rssi_list.data(), static_cast<int>(bins), min_index, clear_db);
    RecordRowPeak(curr_time, min_index, min_value, line);
}

void DriftAnalyser::UpdateDriftAnalyser(u64 curr_time, const RssiPulse::Profile& row_db) {
    // The smallest byte first (a straight minimum, which vectorises); where
    // it first occurs matters only for a row the history keeps as a peak.
    // The lowest bin wins a tie, as above.
    const uint8_t* row = row_db.data();
    const uint8_t strongest = byte_row::RowMin(row);
    const float min_value = static_cast<float>(strongest);
    const int min_index = min_value < RowPeakLimit()
                              ? __builtin_ctzll(byte_row::MaskBetween(row, strongest, strongest))
                              : 0;
    const float clear_db = ActiveRules().oven_line_clear_db;
    const bool line = min_value >= RowPeakLimit() || clear_db <= 0.0f ||
                      IsNarrowLineRow(row, static_cast<int>(kRowBins), min_index, clear_db);
    RecordRowPeak(curr_time, min_index, min_value, line);
}

// A row whose strongest bin is no narrow line (a flat OFDM frame) is
// marked: it still shows which bins a carrier holds, but joins no on-phase.
void DriftAnalyser::RecordRowPeak(u64 curr_time, int min_index, float min_value, bool line) {
    if (min_index >= 0 && min_value < RowPeakLimit()) {
        peak_rssi_history.push_back({curr_time - start_time, min_index, min_value, line});
        end_time = curr_time;
    } else if (curr_time - end_time > kGapAllowanceUs) {
        peak_rssi_history.push_back({curr_time - start_time, -1, -1.0f});
    }
}

void DriftAnalyser::IsMicrowavePresent() {
    ComputeDriftInstances();
    if (ActiveRules().oven_needs_on_phases) {
        const size_t subband_rows = parent != nullptr ? parent->num_rows : 0;
        OvenOnPhases oven = FindOvenOnPhases(peak_rssi_history, start_time, subband_rows);
        oven_on_phase_spans = std::move(oven.spans);
        oven_mains_gated = oven.mains_gated;
    }
}

float DriftAnalyser::RowPeakLimit() const {
    // Refined: a margin over the measured floor, so a weak oven's rows are
    // kept; never stricter than -75 dBm.
    if (!ActiveRules().floor_follows_noise || parent == nullptr) {
        return kPeakLimit;
    }
    const float limit_dbm = std::min(parent->noise_mean_dbm, ActiveRules().max_noise_dbm) +
                            ActiveRules().oven_row_margin_db;
    return std::max(kPeakLimit, -limit_dbm);
}

void DriftAnalyser::ReleasePeakHistory() {
    std::vector<PeakRssiHistoryStruct>().swap(peak_rssi_history);
}

bool DriftAnalyser::IsDrift(const std::vector<PeakRssiHistoryStruct>& temp_peak_rssi_history) {
    const size_t n = temp_peak_rssi_history.size();
    if (n < MIN_VALID_READINGS) {
        return false;
    }
    long first_rise = -1;
    long last_rise = -1;
    long first_fall = -1;
    long last_fall = -1;
    for (size_t i = 1; i < n; i++) {
        const int curr = temp_peak_rssi_history[i].index;
        const int prev = temp_peak_rssi_history[i - 1].index;
        const long pos = static_cast<long>(i);
        if (curr > prev) {
            if (first_rise < 0) {
                first_rise = pos;
            }
            last_rise = pos;
        } else if (curr < prev) {
            if (first_fall < 0) {
                first_fall = pos;
            }
            last_fall = pos;
        }
    }
    // One direction only, or all rises on one side of all falls: a monotone
    // walk, a V or an inverted V. A bin that never moves fails both tests.
    return first_rise > last_fall || last_rise < first_fall;
}

void DriftAnalyser::MaxSweepLength(const std::vector<PeakRssiHistoryStruct>& temp_peak_rssi_history,
                                   int& max_sweep_length, int& sweep_freq) {
    max_sweep_length = 0;
    sweep_freq = 0;
    const int n = static_cast<int>(temp_peak_rssi_history.size());
    if (n < static_cast<int>(MIN_VALID_READINGS)) {
        return;
    }
    auto index = [&temp_peak_rssi_history](int pos) { return temp_peak_rssi_history[pos].index; };

    int k = 1;
    while (k < n && index(k) == index(0)) {
        k++;
    }
    if (k == n) {
        return;
    }
    bool rising = index(k) > index(0);
    int prev_peak_index = index(k);
    int start_index = 0;
    int prev_start_index = 0;
    int prev_end_index = 0;

    for (int i = k + 1; i < n; i++) {
        const int d = index(i) - prev_peak_index;
        const bool turn = (d > 0 && !rising) || (d < 0 && rising);
        if (turn) {
            // The sweep is the two runs meeting at this turn; its length is
            // counted from the reading before the earlier run started.
            const int end_index = i - 1;
            if (end_index - prev_start_index > max_sweep_length) {
                const int sweep_begin = std::max(prev_start_index - 1, 0);
                max_sweep_length = end_index - sweep_begin;
                sweep_freq = (std::abs(index(end_index) - index(std::max(start_index - 1, 0))) +
                              std::abs(index(prev_end_index) - index(sweep_begin))) /
                             2;
            }
            prev_start_index = start_index;
            prev_end_index = end_index;
            start_index = i;
            rising = !rising;
        }
        prev_peak_index = index(i);
    }
}

void DriftAnalyser::ComputeDriftInstances() {
    count_sweep_length = 0;
    avg_sweep_freq = 0;
    avg_sweep_lengths = 0;
    max_sweep_length = 0;
    const std::vector<u64> drift_starts = DriftEpisodeStarts();
    MeasureStartPhaseSpread(drift_starts);
    AverageAndPrintSweeps();
    num_drift_instances = static_cast<u32>(drift_starts.size());
}

// Cuts the row history into episodes of rows with a peak, notes the
// strongest row peak on the way, and returns the start times of the episodes
// whose peak drifts.
std::vector<u64> DriftAnalyser::DriftEpisodeStarts() {
    std::vector<u64> drift_starts;
    std::vector<PeakRssiHistoryStruct> episode;
    u64 episode_start = CONST_INVALID_TIME;
    for (const PeakRssiHistoryStruct& entry : peak_rssi_history) {
        if (peak_rssi < entry.rssi) {
            peak_rssi = entry.rssi;
            peak_index = entry.index;
        }
        if (entry.index != -1) {
            if (episode.empty()) {
                episode_start = entry.diffTime;
            }
            episode.push_back(entry);
        } else if (!episode.empty()) {
            CloseEpisode(episode, episode_start, &drift_starts);
            episode.clear();
        }
    }
    CloseEpisode(episode, episode_start, &drift_starts);
    return drift_starts;
}

void DriftAnalyser::CloseEpisode(const std::vector<PeakRssiHistoryStruct>& episode,
                                 u64 episode_start, std::vector<u64>* drift_starts) {
    if (IsDrift(episode)) {
        drift_starts->push_back(episode_start);
    }
    int curr_sweep_length = 0;
    int curr_sweep_freq = 0;
    MaxSweepLength(episode, curr_sweep_length, curr_sweep_freq);
    if (curr_sweep_length > 0) {
        count_sweep_length += 1;
        avg_sweep_freq += curr_sweep_freq;
        avg_sweep_lengths += curr_sweep_length;
        max_sweep_length = std::max(max_sweep_length, curr_sweep_length);
    }
}

// Start phase of every drifting burst within one mains period. The starts
// are already offsets from the subband start and band_start is subtracted
// once more; the shift is the same for all phases, so the spread is not
// affected.
void DriftAnalyser::MeasureStartPhaseSpread(const std::vector<u64>& drift_starts) {
    std::vector<float> mod_start_list;
    mod_start_list.reserve(drift_starts.size());
    for (const u64 st_times : drift_starts) {
        const long long since_band_start = static_cast<long long>(st_times - band_start);
        mod_start_list.push_back(
            static_cast<float>(modifiedMod(since_band_start, CONST_MWO_PERIOD)));
    }
    num_on_pulses = static_cast<u32>(mod_start_list.size());
    if (num_on_pulses >= MIN_MWO_ON_PULSES) {
        float mean = 0.0f;
        float stdev = 0.0f;
        calc_mean_stdev(mod_start_list, mean, stdev);
        stdev_on_drift_times = stdev;
    }
}

void DriftAnalyser::AverageAndPrintSweeps() {
    if (count_sweep_length == 0) {
        return;
    }
    avg_sweep_lengths /= count_sweep_length;
    avg_sweep_freq /= count_sweep_length;
    std::ostringstream line;
    line << "Sweep: " << static_cast<double>(subband_center_freq) / 1000000 << " "
         << count_sweep_length << " " << avg_sweep_lengths << " " << max_sweep_length << " "
         << avg_sweep_freq << "\n";
    std::cout << line.str();
}
