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

namespace {

constexpr size_t kMaxSegments = SamplePulses::kMost;
constexpr int kLastBin = CONST_SUBBAND_NUM_BINS - 1;
// A noise-like wideband burst (OFDM) a few dB above the floor breaks into
// many runs in one sample; narrowband emitters hardly ever show this many
// separate peaks at the same instant in one 17.5 MHz view.
constexpr size_t kWidebandMinPeaks = 5;
// A completed pulse this long that a filter leaves alone is worth a log line.
constexpr u64 kBigPulseUs = 500;

bool IsFullSample(const std::vector<float>& rssi_list) {
    return rssi_list.size() == static_cast<size_t>(CONST_SUBBAND_NUM_BINS);
}

// The largest byte b with b < noise_floor (a float), or -1 when there is
// none: a bin counts towards the duty when it is stronger than the floor.
int BelowFloorLimit(float noise_floor) {
    if (!(noise_floor > 0.0f)) {
        return -1;  // no byte is below it (a NaN floor counts none, as the compare did)
    }
    if (noise_floor > 255.0f) {
        return 255;
    }
    // Truncation, not a call to ceil: a whole floor admits only weaker bytes.
    const int whole = static_cast<int>(noise_floor);
    return static_cast<float>(whole) < noise_floor ? whole : whole - 1;
}

// One sample into narrow per-bin sums and counts: straight loops that the
// compiler turns into 16-byte adds and compares.
void StageRowSums(const uint8_t* __restrict row, uint8_t limit, uint16_t* __restrict db,
                  uint8_t* __restrict duty) {
    for (int b = 0; b < CONST_SUBBAND_NUM_BINS; b++) {
        db[b] = static_cast<uint16_t>(db[b] + row[b]);
    }
    for (int b = 0; b < CONST_SUBBAND_NUM_BINS; b++) {
        duty[b] = static_cast<uint8_t>(duty[b] + (row[b] <= limit));
    }
}

// The runs of one sample over the join floor and the peaks kept from them.
struct SamplePeaks {
    // A run's peak, to be sorted strongest first.
    struct RunPeak {
        int bin;
        uint8_t value;
    };
    std::array<RunPeak, kMaxSegments> peaks;
    size_t count = 0;
    // Start of the pulse at each kept peak's bin: earlier than this sample
    // for a weak peak believed only once it persisted.
    std::array<u64, CONST_SUBBAND_NUM_BINS> starts;
    std::array<int, CONST_SUBBAND_NUM_BINS> samples_seen;
    // Believed by the summed power of its 2-3 bins rather than its peak.
    std::array<bool, CONST_SUBBAND_NUM_BINS> by_band;
    std::array<bool, CONST_SUBBAND_NUM_BINS> by_wide_band;
    // The runs are kept only for the refined skirt test.
    const bool skirts_set_aside = ActiveRules().skirt_depth_db > 0.0f;
    std::array<BinRun, kMaxSegments> runs;
    size_t num_runs = 0;
    // Bins that count towards a wide burst, once the skirts are set aside.
    int wide_bins = 0;
};

// Finds the runs of `active` bins and their peaks; a run is kept when its
// peak reaches peak_limit (a byte limit) or, with persist, when the weak
// peak persisted. noise_dbm is what a persisting peak is measured against.
void FindRunPeaks(const RssiPulse::Profile& row, uint64_t active, int peak_limit, float noise_dbm,
                  u64 current_time, BurstPersistence* persist, SamplePeaks& peaks) {
    // Each step takes the lowest run of set bits, then clears it (adding
    // the run's lowest bit carries through the whole run).
    for (uint64_t rest = active; rest != 0; rest &= rest + (rest & (~rest + 1))) {
        const int segment_start = __builtin_ctzll(rest);
        const int segment_end = segment_start + __builtin_ctzll(~(rest >> segment_start)) - 1;
        const int peak = byte_row::MiddleStrongest(row.data(), segment_start, segment_end);
        if (peaks.skirts_set_aside) {
            peaks.runs[peaks.num_runs++] = {segment_start, segment_end,
                                            static_cast<float>(row[peak])};
        }
        BurstPersistence::Belief belief;
        if (persist != nullptr) {
            const uint64_t run = rest & ~(rest + (rest & (~rest + 1)));
            belief = persist->Observe(run, active, row.data(), peak, noise_dbm);
        }
        const int persisted = belief.samples;
        const bool alone = row[peak] <= peak_limit;
        if (alone || persisted > 0) {
            const size_t at = static_cast<size_t>(peak);
            peaks.starts[at] = alone ? current_time : persist->SampleTime(persisted - 1);
            peaks.samples_seen[at] = alone ? 1 : persisted;
            peaks.by_band[at] = !alone && belief.by_band;
            peaks.by_wide_band[at] = !alone && belief.by_wide_band;
            peaks.peaks[peaks.count++] = {peak, row[peak]};
        }
    }
}

// One pulse per kept peak, in the peaks' order.
void AddPeakPulses(const RssiPulse::Profile& row, int join_limit, const SamplePeaks& peaks,
                   SamplePulses& seen) {
    // Each peak's band: the bins around it at most CONST_BW_THRESHOLD dB
    // weaker. A run's bins are all at or above the floor and none is
    // stronger than its peak, so the band never leaves the run, and every
    // run gives its own band.
    for (size_t i = 0; i < peaks.count; i++) {
        const int peak = peaks.peaks[i].bin;
        const int weakest = std::min(peaks.peaks[i].value + CONST_BW_THRESHOLD, join_limit);
        const uint64_t near_peak = byte_row::MaskAtMost(row.data(), weakest);
        int start = peak;
        int end = peak;
        byte_row::RunAround(near_peak, peak, start, end);
        const size_t at = static_cast<size_t>(peak);
        seen.Add({start, end, peak, end - start}, peaks.starts[at], peaks.samples_seen[at],
                 peaks.by_band[at], peaks.by_wide_band[at]);
    }
}

// Refined: one pulse over every bin of the `active` mask (bins at or above
// the join floor), for a sample whose many separate peaks belong to one
// noise-like wide burst.
void AddWidebandPulse(const RssiPulse::Profile& row, uint64_t active, u64 current_time,
                      SamplePulses& seen) {
    const int first = __builtin_ctzll(active);
    const int last = 63 - __builtin_clzll(active);
    const int peak = byte_row::MiddleStrongest(row.data(), first, last);
    seen.Add({first, last, peak, last - first}, current_time, 1, false);
}

// Refined: a strong emitter's skirts are neither peaks nor breadth.
void SetSkirtsAside(const RssiPulse::Profile& row, SamplePeaks& peaks) {
    const SampleSkirts skirts =
        FindSkirts(row.data(), peaks.runs.data(), peaks.num_runs, ActiveRules().skirt_depth_db,
                   ActiveRules().skirt_gap_bins);
    const auto is_skirt = [&skirts](const SamplePeaks::RunPeak& p) {
        return ((skirts.skirt_bins >> p.bin) & 1u) != 0;
    };
    const auto first = peaks.peaks.begin();
    peaks.count = static_cast<size_t>(
        std::remove_if(first, first + static_cast<std::ptrdiff_t>(peaks.count), is_skirt) - first);
    peaks.wide_bins = skirts.wide_bins;
}

// Refined: many separate peaks, or half the view over the floor (the
// `active` bins, or those the skirt test left), at one instant are one
// noise-like wide burst.
bool IsWidebandSample(const SamplePeaks& peaks, uint64_t active) {
    const int bins = peaks.skirts_set_aside ? peaks.wide_bins : byte_row::CountBits(active);
    return peaks.count >= kWidebandMinPeaks || bins * 2 >= CONST_SUBBAND_NUM_BINS;
}

// Strongest peak first; a stable insertion sort keeps equal peaks in bin
// order without allocating.
void SortStrongestFirst(SamplePeaks& peaks) {
    for (size_t i = 1; i < peaks.count; i++) {
        const SamplePeaks::RunPeak current = peaks.peaks[i];
        size_t j = i;
        while (j > 0 && current.value < peaks.peaks[j - 1].value) {
            peaks.peaks[j] = peaks.peaks[j - 1];
            j--;
        }
        peaks.peaks[j] = current;
    }
}

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
      sync_offset(sync_offset),
      pulse_tagging_completed(false),
      analogphone_tagging_completed(false),
      noise_mean_dbm(NoiseFloorEstimator::kNominalNoiseDbm),
      sample_interval_us(0.0f),
      db_sum_list(CONST_SUBBAND_NUM_BINS, 0.0f),
      duty_sum_list(CONST_SUBBAND_NUM_BINS, 0.0f) {
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

    AccumulateSample(row, adaptive_nf);
    drift_analyser.UpdateDriftAnalyser(current_time, row);

    SamplePulses seen;
    FindSamplePulses(current_time, row, seen);
    UpdateActivePulses(seen, current_time, current_freq, row);
}

void SubBand::AccumulateSample(const RssiPulse::Profile& row, float adaptive_nf) {
    const int limit = BelowFloorLimit(adaptive_nf);
    if (limit >= 0) {
        StageRowSums(row.data(), static_cast<uint8_t>(limit), staged_db.data(), staged_duty.data());
    } else {
        // No bin beats the floor: only the power sums grow.
        for (int b = 0; b < CONST_SUBBAND_NUM_BINS; b++) {
            staged_db[b] = static_cast<uint16_t>(staged_db[b] + row[b]);
        }
    }
    if (++staged_rows == kFoldEvery) {
        FoldRowSums();
    }
}

void SubBand::FoldRowSums() {
    for (int b = 0; b < CONST_SUBBAND_NUM_BINS; b++) {
        db_sum_list[b] += static_cast<float>(staged_db[b]);
        duty_sum_list[b] += static_cast<float>(staged_duty[b]);
    }
    staged_db.fill(0);
    staged_duty.fill(0);
    staged_rows = 0;
}

std::vector<float> SubBand::DbSums() const {
    std::vector<float> sums = db_sum_list;
    for (int b = 0; b < CONST_SUBBAND_NUM_BINS; b++) {
        sums[b] += static_cast<float>(staged_db[b]);
    }
    return sums;
}

std::vector<float> SubBand::DutySums() const {
    std::vector<float> sums = duty_sum_list;
    for (int b = 0; b < CONST_SUBBAND_NUM_BINS; b++) {
        sums[b] += static_cast<float>(staged_duty[b]);
    }
    return sums;
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
    SamplePulses seen;
    FindSamplePulses(current_time, row, seen);
    for (size_t i = 0; i < seen.count; i++) {
        new_pulses_list.push_back(NewPulse(seen.pulses[i], current_time, current_freq, row));
    }
}

void SubBand::FindSamplePulses(u64 current_time, const RssiPulse::Profile& row,
                               SamplePulses& seen) {
    end_time = current_time;
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
    SamplePeaks peaks;
    FindRunPeaks(row, active, byte_row::AtOrAboveLimit(PeakFloorDbm()), noise_dbm, current_time,
                 persist ? &persistence : nullptr, peaks);
    if (peaks.count > 0 && peaks.skirts_set_aside) {
        SetSkirtsAside(row, peaks);
    }
    if (peaks.count == 0) {
        return;
    }
    if (persist && IsWidebandSample(peaks, active)) {
        AddWidebandPulse(row, active, current_time, seen);
        return;
    }
    SortStrongestFirst(peaks);
    AddPeakPulses(row, join_limit, peaks, seen);
}

RssiPulse SubBand::NewPulse(const SamplePulses::Seen& seen, u64 current_time, float current_freq,
                            const RssiPulse::Profile& row) {
    const PulseSighting& band = seen.sighting;
    RssiPulse pulse(current_time, current_freq, band.start_bin, band.end_bin, band.center_bin, row,
                    this);
    pulse.start_time = seen.start_time;
    pulse.reading_counts = seen.samples_seen;
    pulse.believed_by_band = seen.by_band ? 1 : 0;
    pulse.believed_by_wide_band = seen.by_wide_band ? 1 : 0;
    return pulse;
}

void SubBand::UpdateActivePulses(const SamplePulses& seen, u64 curr_time, float curr_freq,
                                 const RssiPulse::Profile& row_db) {
    const float floor_dbm = JoinFloorDbm();
    // Compacts the active list in place: continued and waiting pulses keep
    // their order, ended ones move to the completed list. Each active pulse
    // takes the first pulse of the sample that continues it and that no
    // earlier one took; a pulse object is built only for what nothing
    // continues.
    uint32_t taken = 0;
    size_t kept = 0;
    for (size_t i = 0; i < active_pulses_list.size(); i++) {
        RssiPulse& active = active_pulses_list[i];
        RssiPulse::Profile& profile = active_profiles[i];
        const int match = seen.FirstContinuing(active, taken);
        if (match >= 0) {
            taken |= 1u << match;
            active.ContinueGrownPulse(seen.pulses[static_cast<size_t>(match)].sighting, curr_time,
                                      profile, row_db, floor_dbm);
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
    for (size_t j = 0; j < seen.count; j++) {
        if ((taken >> j & 1u) == 0) {
            active_pulses_list.push_back(NewPulse(seen.pulses[j], curr_time, curr_freq, row_db));
            active_profiles.push_back(row_db);
        }
    }
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
