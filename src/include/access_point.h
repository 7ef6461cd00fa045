// The sensing radio: the clock and frequency of the latest sample, the history
// of subbands it has dwelt on (oldest first, the last one being filled) and
// the counters that drive the classifier schedule.
#ifndef TESSARON_ACCESS_POINT_H
#define TESSARON_ACCESS_POINT_H

#include <list>
#include <string>

#include "channel_conditions.h"
#include "script_utils_module.h"
#include "subband_class.h"

class AccessPoint {
public:
    std::string ap_name;
    u64 start_time;
    u64 prev_time;
    float prev_freq;
    u64 curr_time;
    u64 last_subband_change_time;
    float curr_nf;
    float curr_freq;
    u64 cycle_count;
    u64 subband_count;
    std::list<SubBand> completed_sub_bands_list;
    std::string mac_address;
    // Noise floors and sample interval measured from the stream.
    ChannelConditions conditions;

    AccessPoint(std::string mac_address, u64 subband_curr_time, std::string ap_name);

    u64 GetCurrTime() const { return curr_time; }
    float GetCurrFreq() const { return curr_freq; }
    float GetPrevFreq() const { return prev_freq; }
    u64 GetLastSubbandChangeTime() const { return last_subband_change_time; }
    void SetLastSubbandChangeTime(u64 t) { last_subband_change_time = t; }
    u64 GetCycleCount() const { return cycle_count; }
    u64 GetSubbandCount() const { return subband_count; }
    std::string GetMacAddress() const { return mac_address; }

    void AddNewSubband(AccessPoint* parent, u64 start_time, float curr_freq, float curr_nf,
                       u64 sync_offset);
    // The subband being filled; the history must not be empty.
    SubBand& GetCurrentSubband() { return completed_sub_bands_list.back(); }
    // Drops the subband being filled; nothing happens on an empty history.
    void RemoveLastSubband();
    void UpdateApState();
    void IncrementCycleCount();
    // Counts one analysed subband against cycles of subbands_per_cycle
    // subbands (6 when scanning, 1 on a single channel; 0 is taken as 1).
    void AdvanceCycleCount(u64 subbands_per_cycle);
};

#endif
