// One dwell of the card on one 20 MHz subband: per-sample pulse detection at
// the -85 dBm floor, pulse tracking across samples, per-bin mean power and
// duty statistics, and the subband's drift record.
#ifndef TESSARON_SUBBAND_CLASS_H
#define TESSARON_SUBBAND_CLASS_H

#include <sys/time.h>

#include <array>
#include <cstdint>
#include <map>
#include <utility>
#include <vector>

#include "burst_persistence.h"
#include "drift_analyser.h"
#include "pulse_class.h"
#include "script_utils_module.h"

class AccessPoint;

// The pulses one sample shows, strongest first, before they are matched with
// the pulses the subband is already growing.
struct SamplePulses {
    struct Seen {
        PulseSighting sighting;
        // Earlier than the sample for a weak peak believed once it persisted.
        u64 start_time;
        int samples_seen;
        // Believed by the summed power of its 2-3 bins.
        bool by_band;
        // Believed by the summed power of 4-5 bins (the game controller's).
        bool by_wide_band;
    };
    // Alternating active and quiet bins give at most one run per two bins.
    static constexpr size_t kMost = (CONST_SUBBAND_NUM_BINS + 1) / 2;
    std::array<Seen, kMost> pulses;
    size_t count = 0;

    void Add(const PulseSighting& sighting, u64 start_time, int samples_seen, bool by_band,
             bool by_wide_band = false) {
        pulses[count++] = {sighting, start_time, samples_seen, by_band, by_wide_band};
    }
    // The first pulse not in `taken` (a bit per pulse) that continues
    // `active`; -1 when none does.
    int FirstContinuing(const RssiPulse& active, uint32_t taken) const {
        for (size_t j = 0; j < count; j++) {
            if ((taken >> j & 1u) == 0 && active.IsMatchingPulse(pulses[j].sighting)) {
                return static_cast<int>(j);
            }
        }
        return -1;
    }
};
static_assert(SamplePulses::kMost <= 32, "a bit per pulse of a sample");

class SubBand {
public:
    u64 start_time;
    u64 end_time;
    float curr_freq;
    u32 num_rows;
    timeval startUnixTime;
    float avg_nf;
    std::map<int, PulseType> filtermap;
    AccessPoint* parent;
    DriftAnalyser drift_analyser;
    std::vector<RssiPulse> completed_pulses_list;
    std::vector<RssiPulse> active_pulses_list;
    // Strongest value per bin of each active pulse, in the same order: only
    // a growing pulse needs it.
    std::vector<RssiPulse::Profile> active_profiles;
    std::vector<float> db_avg_list;
    std::vector<float> duty_avg_list;
    u64 sync_offset;
    bool pulse_tagging_completed;
    bool analogphone_tagging_completed;
    // Measured on the stream (refined rules): mean noise power per bin of
    // this channel, dBm, and the card's sample interval, us (0: unknown).
    float noise_mean_dbm;
    float sample_interval_us;

    SubBand(AccessPoint* parent, u64 start_time, float curr_freq, float curr_nf, u64 sync_offset);

    // One sample: the bin powers as whole dB below 1 mW, as the card
    // reports them.
    void ProcessSubBand(u64 current_time, float current_freq, float curr_nf,
                        const RssiPulse::Profile& row);
    // The same for powers held as floats (whole dB, as the card gives them;
    // a fraction is dropped). A row of another length is dropped with a
    // warning.
    void ProcessSubBand(u64 current_time, float current_freq, float curr_nf,
                        const std::vector<float>& sub_band_rssi_list);
    // Cuts the sample into runs of bins at or above the join floor; every run
    // whose strongest bin reaches the peak floor adds one pulse, strongest
    // first, to new_pulses_list.
    void ProcessSingleRssiBand2(u64 current_time, float current_freq, const RssiPulse::Profile& row,
                                std::vector<RssiPulse>& new_pulses_list);
    void ProcessSingleRssiBand2(u64 current_time, float current_freq,
                                const std::vector<float>& sub_band_rssi_list,
                                std::vector<RssiPulse>& new_pulses_list);
    // Strongest (smallest) bin of [start, end], the middle one of equal
    // strongest bins (the upper middle for an even count). The range is
    // clipped to the list; -1 when nothing of it lies in the list.
    int GetPeakRssiIndexInRange(const std::vector<float>& rssi_list, int start, int end) const;
    void ProcessBigTimeGapEvent();
    // Ends every active pulse and moves it to the completed list.
    void EndActivePulses();
    u64 GetBandDuration() const { return end_time - start_time; }
    // Per bin, the summed power of the samples so far (whole dB below 1 mW),
    // and how many of them were stronger than the noise floor of their time.
    std::vector<float> DbSums() const;
    std::vector<float> DutySums() const;
    void UpdateFilter(int start_bin, int end_bin, PulseType device);
    // Bins at or above this power (dBm) join a pulse; a pulse needs a peak
    // at or above PeakFloorDbm. Both are -85 dBm under the standard rules.
    float JoinFloorDbm() const;
    float PeakFloorDbm() const;
    // The measured noise mean the refined floors stand on, dBm per bin.
    float NoiseReferenceDbm() const;

private:
    // Cuts the sample into runs and finds the pulses it shows.
    void FindSamplePulses(u64 current_time, const RssiPulse::Profile& row, SamplePulses& seen);
    // Continues, ends or starts active pulses with the pulses of the sample
    // row_db.
    void UpdateActivePulses(const SamplePulses& seen, u64 curr_time, float curr_freq,
                            const RssiPulse::Profile& row_db);
    RssiPulse NewPulse(const SamplePulses::Seen& seen, u64 current_time, float current_freq,
                       const RssiPulse::Profile& row);
    // Adds one sample to the per-bin sums.
    void AccumulateSample(const RssiPulse::Profile& row, float adaptive_nf);
    // Folds the narrow counters into the float sums and clears them.
    void FoldRowSums();

    // The per-bin sums in float, and the samples since the last fold in
    // narrow counters (255 samples fit): one set of small additions a sample.
    // Every sum is a whole number far below 2^24, so folding gives the very
    // floats that adding sample by sample would.
    static constexpr int kFoldEvery = 255;
    std::vector<float> db_sum_list;
    std::vector<float> duty_sum_list;
    alignas(16) std::array<uint16_t, CONST_SUBBAND_NUM_BINS> staged_db{};
    alignas(16) std::array<uint8_t, CONST_SUBBAND_NUM_BINS> staged_duty{};
    int staged_rows = 0;
    // Refined rules: peaks too weak for one sample, believed when they
    // persist over the following ones.
    BurstPersistence persistence;
};

#endif
