// One dwell of the card on one 20 MHz subband: per-sample pulse detection at
// the -85 dBm floor, pulse tracking across samples, per-bin mean power and
// duty statistics, and the subband's drift record.
#ifndef TESSARON_SUBBAND_CLASS_H
#define TESSARON_SUBBAND_CLASS_H

#include <sys/time.h>

#include <cstdint>
#include <map>
#include <utility>
#include <vector>

#include "burst_persistence.h"
#include "drift_analyser.h"
#include "pulse_class.h"
#include "script_utils_module.h"

class AccessPoint;

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
    std::vector<float> db_sum_list;
    std::vector<float> db_avg_list;
    std::vector<float> duty_sum_list;
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
    // Continues, ends or starts active pulses with the new pulses of the
    // sample row_db; new_pulses_list is left empty.
    void UpdateActivePulses(std::vector<RssiPulse>& new_pulses_list, u64 curr_time,
                            const RssiPulse::Profile& row_db);
    // Strongest (smallest) bin of [start, end], the middle one of equal
    // strongest bins (the upper middle for an even count). The range is
    // clipped to the list; -1 when nothing of it lies in the list.
    int GetPeakRssiIndexInRange(const std::vector<float>& rssi_list, int start, int end) const;
    void ProcessBigTimeGapEvent();
    // Ends every active pulse and moves it to the completed list.
    void EndActivePulses();
    u64 GetBandDuration() const { return end_time - start_time; }
    void UpdateFilter(int start_bin, int end_bin, PulseType device);
    // Bins at or above this power (dBm) join a pulse; a pulse needs a peak
    // at or above PeakFloorDbm. Both are -85 dBm under the standard rules.
    float JoinFloorDbm() const;
    float PeakFloorDbm() const;
    // The measured noise mean the refined floors stand on, dBm per bin.
    float NoiseReferenceDbm() const;

private:
    // Refined rules: one pulse over every bin of the `active` mask (bins at
    // or above the join floor), for a sample whose many separate peaks
    // belong to one noise-like wide burst.
    void AddWidebandPulse(u64 current_time, float current_freq, const RssiPulse::Profile& row,
                          uint64_t active, std::vector<RssiPulse>& new_pulses_list);
    // Refined rules: peaks too weak for one sample, believed when they
    // persist over the following ones.
    BurstPersistence persistence;
    // Reused for the pulses of each sample so that quiet samples cost no
    // allocation; empty between samples.
    std::vector<RssiPulse> new_pulses_scratch;
};

#endif
