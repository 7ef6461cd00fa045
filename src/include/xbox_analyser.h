// Xbox console detection: a hopper whose pulses are exactly 4 bins wide and
// last 227/228 or 342/343 us, present in numbers and not concentrated on one
// frequency.
#ifndef TESSARON_XBOX_ANALYSER_H
#define TESSARON_XBOX_ANALYSER_H

#include <array>
#include <list>
#include <map>

#include "band_geometry.h"
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
    // Controller-shaped pulses per centre bin in the whole band's frame
    // (2412 MHz view's bin 0 upwards, 3.2 bins per MHz).
    static constexpr int kBandFrameBins =
        static_cast<int>(
            (CONST_CENTER_FREQUENCIES[CONST_NUM_SUBBAND_FREQS - 1] - CONST_CENTER_FREQUENCIES[0]) *
            CONST_BINS_PER_MHZ) +
        CONST_SUBBAND_NUM_BINS;
    std::array<int, kBandFrameBins> count_xbox_pulses_per_band_bin{};
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
    // The packets are spread as a hopper's, under the rules in force.
    bool IsHopperSpread(float max_pulse_pdf) const;
    void DecisionTree(PowerTuple tuple, unsigned long long device_start_time,
                      unsigned long long device_end_time, float xbox_pulses,
                      float pc_nonzero_xbox_bins, float mean_count, float stddev_count);
};

#endif
