// One dwell of the card on one 20 MHz subband. Every 56-bin sample is cut
// into runs of bins at or above -85 dBm; each run yields one pulse grown
// around its strongest bin, and pulses that continue from one sample to the
// next are merged so that a burst becomes one pulse with its full duration.
// Per-bin power sums and duty counts feed the fixed-frequency classifiers.
#include "subband_class.h"

#include <algorithm>
#include <array>
#include <iostream>
#include <iterator>

#include "access_point.h"
#include "byte_row.h"
#include "emitter_skirts.h"
#include "host_clock.h"
#include "rule_set.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace {

// Alternating active and quiet bins give at most one segment per two bins.
constexpr size_t kMaxSegments = (CONST_SUBBAND_NUM_BINS + 1) / 2;
constexpr int kLastBin = CONST_SUBBAND_NUM_BINS - 1;
// A noise-like wideband burst (OFDM) a few dB above the floor breaks into
// many runs in one sample; narrowband emitters hardly ever show this many
// separate peaks at the same instant in one 17.5 MHz view.
constexpr size_t kWidebandMinPeaks = 5;
// Half the view or more above the floor at one instant is one wide burst.
// A completed pulse this long that a filter leaves alone is worth a log line.
constexpr u64 kBigPulseUs = 500;

bool IsFullSample(const std::vector<float>& rssi_list) {
    return rssi_list.size() == static_cast<size_t>(CONST_SUBBAND_NUM_BINS);
}

// Adds one sample to the per-bin power sums and above-floor counts, with a
// select instead of a branch (adding 0.0f leaves a count unchanged); every
// byte is exact as a float, so the sums are those of the float row.
void AccumulateSample(const uint8_t* __restrict sample, float* __restrict db_sum,
                      float* __restrict duty_sum, float adaptive_nf) {
    int b = 0;
#if defined(__SSE2__)
    // Eight bins a step: bytes widened to floats, the same float sums.
    const __m128i zero = _mm_setzero_si128();
    const __m128 nf = _mm_set1_ps(adaptive_nf);
    const __m128 one = _mm_set1_ps(1.0f);
    const auto add = [&](int at, __m128i words) {
        const __m128 power = _mm_cvtepi32_ps(words);
        _mm_storeu_ps(db_sum + at, _mm_add_ps(_mm_loadu_ps(db_sum + at), power));
        _mm_storeu_ps(duty_sum + at, _mm_add_ps(_mm_loadu_ps(duty_sum + at),
                                                _mm_and_ps(_mm_cmplt_ps(power, nf), one)));
    };
    for (; b + 8 <= CONST_SUBBAND_NUM_BINS; b += 8) {
        const __m128i bytes =
            _mm_unpacklo_epi8(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(sample + b)), zero);
        add(b, _mm_unpacklo_epi16(bytes, zero));
        add(b + 4, _mm_unpackhi_epi16(bytes, zero));
    }
#endif
    for (; b < CONST_SUBBAND_NUM_BINS; b++) {
        const float power = sample[b];
        db_sum[b] += power;
        duty_sum[b] += power < adaptive_nf ? 1.0f : 0.0f;
    }
}

// A run's peak, to be sorted strongest first.
struct RunPeak {
    int bin;
    uint8_t value;
};

}  // namespace

SubBand::SubBand(AccessPoint* parent, u64 start_time, float curr_freq, float curr_nf,
                 u64 sync_offset)
    : start_time(start_time),
      end_time(start_time),
      curr_freq(curr_freq),
      num_rows(0),
      startUnixTime{},
      avg_nf(curr_nf),
      parent(parent),
      drift_analyser(start_time, curr_freq, this),
      db_sum_list(CONST_SUBBAND_NUM_BINS, 0.0f),
      duty_sum_list(CONST_SUBBAND_NUM_BINS, 0.0f),
      sync_offset(sync_offset),
      pulse_tagging_completed(false),
      analogphone_tagging_completed(false),
      noise_mean_dbm(NoiseFloorEstimator::kNominalNoiseDbm),
      sample_interval_us(0.0f) {
    GetHostTime(&startUnixTime);
}

void SubBand::ProcessSubBand(u64 current_time, float current_freq, float curr_nf,
                             const std::vector<float>& sub_band_rssi_list) {
    if (!IsFullSample(sub_band_rssi_list)) {
        std::cerr << "Warning... SubBand::ProcessSubBand: sample of " << sub_band_rssi_list.size()
                  << " bins dropped, " << CONST_SUBBAND_NUM_BINS << " expected\n";
        return;
    }
    ProcessSubBand(current_time, current_freq, curr_nf, RssiPulse::ToProfile(sub_band_rssi_list));
}

void SubBand::ProcessSubBand(u64 current_time, float current_freq, float curr_nf,
                             const RssiPulse::Profile& row) {
    num_rows += 1;
    if (num_rows > 1) {
        avg_nf =
            (static_cast<float>(num_rows - 1) * avg_nf + curr_nf) / static_cast<float>(num_rows);
    }
    const float adaptive_nf = GetAdaptiveNF(avg_nf, static_cast<float>(CONST_NOISE_FLOOR_RSSI));
    if (ActiveRules().floor_follows_noise && parent != nullptr) {
        parent->conditions.Observe(current_time, current_freq, row.data());
        noise_mean_dbm = parent->conditions.NoiseMeanDbm(current_freq);
        sample_interval_us = parent->conditions.SampleIntervalUs();
    }

    AccumulateSample(row.data(), db_sum_list.data(), duty_sum_list.data(), adaptive_nf);
    drift_analyser.UpdateDriftAnalyser(current_time, row);

    new_pulses_scratch.clear();
    ProcessSingleRssiBand2(current_time, current_freq, row, new_pulses_scratch);
    UpdateActivePulses(new_pulses_scratch, current_time, row);
}

void SubBand::ProcessSingleRssiBand2(u64 current_time, float current_freq,
                                     const std::vector<float>& sub_band_rssi_list,
                                     std::vector<RssiPulse>& new_pulses_list) {
    if (!IsFullSample(sub_band_rssi_list)) {
        end_time = current_time;
        return;
    }
    ProcessSingleRssiBand2(current_time, current_freq, RssiPulse::ToProfile(sub_band_rssi_list),
                           new_pulses_list);
}

void SubBand::ProcessSingleRssiBand2(u64 current_time, float current_freq,
                                     const RssiPulse::Profile& row,
                                     std::vector<RssiPulse>& new_pulses_list) {
    end_time = current_time;
    // Segments: maximal runs of bins at or above the pulse floor (fixed
    // -85 dBm under the standard rules), each represented by its peak.
    const int join_limit = byte_row::AtOrAboveLimit(JoinFloorDbm());
    const uint64_t active = byte_row::MaskAtMost(row.data(), join_limit);
    const bool persist = ActiveRules().floor_follows_noise;
    const float noise_dbm = NoiseReferenceDbm();
    if (persist) {
        persistence.NextSample(current_time, row.data(), active, noise_dbm);
    }
    if (active == 0) {
        return;
    }
    const int peak_limit = byte_row::AtOrAboveLimit(PeakFloorDbm());
    std::array<RunPeak, kMaxSegments> peaks;
    // Start of the pulse at each kept peak's bin: earlier than this sample
    // for a weak peak believed only once it persisted.
    std::array<u64, CONST_SUBBAND_NUM_BINS> starts;
    std::array<int, CONST_SUBBAND_NUM_BINS> samples_seen;
    std::array<bool, CONST_SUBBAND_NUM_BINS> by_band;
    size_t num_peaks = 0;
    // The runs are kept only for the refined skirt test.
    const bool skirts_set_aside = ActiveRules().skirt_depth_db > 0.0f;
    std::array<BinRun, kMaxSegments> runs;
    size_t num_runs = 0;
    int active_bins = __builtin_popcountll(active);
    // Each step takes the lowest run of set bits, then clears it (adding
    // the run's lowest bit carries through the whole run).
    for (uint64_t rest = active; rest != 0; rest &= rest + (rest & (~rest + 1))) {
        const int segment_start = __builtin_ctzll(rest);
        const int segment_end = segment_start + __builtin_ctzll(~(rest >> segment_start)) - 1;
        const int peak = byte_row::MiddleStrongest(row.data(), segment_start, segment_end);
        if (skirts_set_aside) {
            runs[num_runs++] = {segment_start, segment_end, static_cast<float>(row[peak])};
        }
        BurstPersistence::Belief belief;
        if (persist) {
            const uint64_t run = rest & ~(rest + (rest & (~rest + 1)));
            belief = persistence.Observe(run, active, row.data(), peak, noise_dbm);
        }
        const int persisted = belief.samples;
        const bool alone = row[peak] <= peak_limit;
        if (alone || persisted > 0) {
            starts[static_cast<size_t>(peak)] =
                alone ? current_time : persistence.SampleTime(persisted - 1);
            samples_seen[static_cast<size_t>(peak)] = alone ? 1 : persisted;
            peaks[num_peaks++] = {peak, row[peak]};
            by_band[static_cast<size_t>(peak)] = !alone && belief.by_band;
        }
    }
    if (num_peaks > 0 && skirts_set_aside) {
        // Refined: a strong emitter's skirts are neither peaks nor breadth.
        const SampleSkirts skirts =
            FindSkirts(row.data(), runs.data(), num_runs, ActiveRules().skirt_depth_db,
                       ActiveRules().skirt_gap_bins);
        const auto is_skirt = [&skirts](const RunPeak& p) {
            return ((skirts.skirt_bins >> p.bin) & 1u) != 0;
        };
        num_peaks = static_cast<size_t>(
            std::remove_if(peaks.begin(), peaks.begin() + num_peaks, is_skirt) - peaks.begin());
        active_bins = skirts.wide_bins;
    }
    if (num_peaks == 0) {
        return;
    }
    if (ActiveRules().floor_follows_noise &&
        (num_peaks >= kWidebandMinPeaks || active_bins * 2 >= CONST_SUBBAND_NUM_BINS)) {
        AddWidebandPulse(current_time, current_freq, row, active, new_pulses_list);
        return;
    }

    // Strongest peak first; a stable insertion sort keeps equal peaks in bin
    // order without allocating.
    for (size_t i = 1; i < num_peaks; i++) {
        const RunPeak current = peaks[i];
        size_t j = i;
        while (j > 0 && current.value < peaks[j - 1].value) {
            peaks[j] = peaks[j - 1];
            j--;
        }
        peaks[j] = current;
    }

    // Each peak's band: the bins around it at most CONST_BW_THRESHOLD dB
    // weaker. A run's bins are all at or above the floor and none is
    // stronger than its peak, so the band never leaves the run, and every
    // run gives its own band.
    for (size_t i = 0; i < num_peaks; i++) {
        const int peak = peaks[i].bin;
        const int weakest = std::min(peaks[i].value + CONST_BW_THRESHOLD, join_limit);
        const uint64_t near_peak = byte_row::MaskAtMost(row.data(), weakest);
        int start = peak;
        int end = peak;
        byte_row::RunAround(near_peak, peak, start, end);
        new_pulses_list.emplace_back(current_time, current_freq, start, end, peak, row, this);
        new_pulses_list.back().start_time = starts[static_cast<size_t>(peak)];
        new_pulses_list.back().reading_counts = samples_seen[static_cast<size_t>(peak)];
        new_pulses_list.back().believed_by_band = by_band[static_cast<size_t>(peak)];
    }
}

void SubBand::AddWidebandPulse(u64 current_time, float current_freq, const RssiPulse::Profile& row,
                               uint64_t active, std::vector<RssiPulse>& new_pulses_list) {
    const int first = __builtin_ctzll(active);
    const int last = 63 - __builtin_clzll(active);
    const int peak = byte_row::MiddleStrongest(row.data(), first, last);
    new_pulses_list.emplace_back(current_time, current_freq, first, last, peak, row, this);
}

void SubBand::UpdateActivePulses(std::vector<RssiPulse>& new_pulses_list, u64 curr_time,
                                 const RssiPulse::Profile& row_db) {
    // Compacts the active list in place: continued and waiting pulses keep
    // their order, ended ones move to the completed list.
    size_t kept = 0;
    for (size_t i = 0; i < active_pulses_list.size(); i++) {
        RssiPulse& active = active_pulses_list[i];
        RssiPulse::Profile& profile = active_profiles[i];
        const auto match = std::find_if(
            new_pulses_list.begin(), new_pulses_list.end(),
            [&active](const RssiPulse& candidate) { return active.IsMatchingPulse(candidate); });
        if (match != new_pulses_list.end()) {
            active.UpdatePulse(*match, profile, row_db, JoinFloorDbm());
            new_pulses_list.erase(match);
        } else if (curr_time - active.end_time > ACTIVE_PULSE_GAP) {
            active.EndPulse(profile);
            completed_pulses_list.push_back(std::move(active));
            continue;
        }
        if (kept != i) {
            active_pulses_list[kept] = std::move(active);
            active_profiles[kept] = profile;
        }
        kept++;
    }
    active_pulses_list.erase(active_pulses_list.begin() + static_cast<std::ptrdiff_t>(kept),
                             active_pulses_list.end());
    active_profiles.resize(kept);
    active_pulses_list.insert(active_pulses_list.end(),
                              std::make_move_iterator(new_pulses_list.begin()),
                              std::make_move_iterator(new_pulses_list.end()));
    active_profiles.resize(active_pulses_list.size(), row_db);
    new_pulses_list.clear();
}

int SubBand::GetPeakRssiIndexInRange(const std::vector<float>& rssi_list, int start,
                                     int end) const {
    const int first = std::max(start, 0);
    const int last = std::min(end, static_cast<int>(rssi_list.size()) - 1);
    if (first > last) {
        return -1;
    }
    // First pass: the smallest value, where it first occurs and how often.
    float min_value = rssi_list[first];
    int min_first = first;
    int tie_count = 1;
    for (int b = first + 1; b <= last; b++) {
        if (rssi_list[b] < min_value) {
            min_value = rssi_list[b];
            min_first = b;
            tie_count = 1;
        } else if (rssi_list[b] == min_value) {
            tie_count++;
        }
    }
    // Second pass: the middle one of the tied bins.
    int wanted = tie_count / 2;
    for (int b = min_first; b <= last; b++) {
        if (rssi_list[b] == min_value) {
            if (wanted == 0) {
                return b;
            }
            wanted--;
        }
    }
    return min_first;
}

void SubBand::ProcessBigTimeGapEvent() {
    EndActivePulses();
    persistence.Reset();
}

void SubBand::EndActivePulses() {
    for (size_t i = 0; i < active_pulses_list.size(); i++) {
        active_pulses_list[i].EndPulse(active_profiles[i]);
    }
    completed_pulses_list.insert(completed_pulses_list.end(), active_pulses_list.begin(),
                                 active_pulses_list.end());
    active_pulses_list.clear();
    active_profiles.clear();
}

void SubBand::UpdateFilter(int start_bin, int end_bin, PulseType device) {
    std::cout << "Filtering between bins: " << start_bin << " and " << end_bin << " for device "
              << static_cast<int>(device) << "\n";
    // Only real bins of the subband are claimed, however wide the device band.
    const int first_claimed = std::max(start_bin, 0);
    const int last_claimed = std::min(end_bin, kLastBin);
    size_t count = 0;
    for (RssiPulse& pulse : completed_pulses_list) {
        const bool overlaps =
            !(end_bin < pulse.start_bin_number) && !(pulse.end_bin_number < start_bin);
        if (overlaps) {
            pulse.set_classification(device);
            count++;
        } else if (pulse.GetPulseDuration() > kBigPulseUs) {
            std::cout << "Subband::UpdateFilter Not filtering big pulse: "
                      << pulse.toString(sync_offset) << "\n";
        }
    }
    // Every filtered pulse claims the same bins for the device: once is enough.
    if (count > 0) {
        for (int b = first_claimed; b <= last_claimed; b++) {
            filtermap[b] = device;
        }
    }
    std::cout << "Filtered " << count << " pulses... Remaining "
              << (completed_pulses_list.size() - count) << " pulses...\n";
}

float SubBand::NoiseReferenceDbm() const {
    return std::min(noise_mean_dbm, ActiveRules().max_noise_dbm);
}

float SubBand::JoinFloorDbm() const {
    const RuleSet& rules = ActiveRules();
    if (!rules.floor_follows_noise) {
        return static_cast<float>(CONST_NOISE_FLOOR_RSSI);
    }
    return NoiseReferenceDbm() + rules.join_margin_db;
}

float SubBand::PeakFloorDbm() const {
    const RuleSet& rules = ActiveRules();
    if (!rules.floor_follows_noise) {
        return static_cast<float>(CONST_NOISE_FLOOR_RSSI);
    }
    return NoiseReferenceDbm() + rules.peak_margin_db;
}
