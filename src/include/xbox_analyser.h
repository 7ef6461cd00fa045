// Xbox console detection: a hopper whose pulses are exactly 4 bins wide and
// last 227/228 or 342/343 us, present in numbers and not concentrated on one
// frequency.
#ifndef TESSARON_XBOX_ANALYSER_H
#define TESSARON_XBOX_ANALYSER_H

#include <list>
#include <map>

#include "fhss_general_analyser.h"
#include "script_utils_module.h"
#include "subband_class.h"

class XboxAnalyser {
public:
    std::list<SubBand>& subband_list;
    std::list<SubBand>::iterator beginIt;
    std::map<float, float> count_pulses_per_subband;
    std::map<float, u64> subband_dwell_time;
    std::map<float, int> subband_count;
    std::map<float, float> subband_average_movement;
    RealIntMap count_xbox_pulses_perfreq;
    float total_candidates;
    int debug_id;

    XboxAnalyser(std::list<SubBand>& subband_list, std::list<SubBand>::iterator beginIt,
                 int debug_id);
    XboxAnalyser(const XboxAnalyser&) = delete;
    XboxAnalyser& operator=(const XboxAnalyser&) = delete;

    void GetFeatures();
    int BuildXboxNewTypeInfo(PowerTuple& tuple);
    // Share of the window's bins x dwell time no continuous emitter holds
    // (1 for a window without measured duty).
    static double ClearViewShare(const std::list<SubBand>& subband_list,
                                 std::list<SubBand>::const_iterator beginIt);
    // Enough controller packets for a console, under the rules in force.
    bool EnoughPulses(int pulse_count) const;
    void DecisionTree(PowerTuple tuple, unsigned long long device_start_time,
                      unsigned long long device_end_time, float xbox_pulses,
                      float pc_nonzero_xbox_bins, float mean_count, float stddev_count);
};

#endif
