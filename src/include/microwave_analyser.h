// Microwave ovens: a magnetron's peak frequency drifts and sweeps within each
// half-cycle of the mains supply, so a channel whose subbands repeatedly show
// drifting peak episodes or moderate sweeps holds an oven.
#ifndef TESSARON_MICROWAVE_ANALYSER_H
#define TESSARON_MICROWAVE_ANALYSER_H

#include <list>
#include <string>

#include "script_utils_module.h"
#include "subband_class.h"

class MicrowaveAnalyser {
public:
    // Per-channel accumulator of the chosen subbands' drift peaks.
    struct MicrowaveMetrics {
        int center_bin;  // sum, later mean, of peak_index
        float rssi;      // sum, later mean, of peak_rssi (dB below 1 mW)
        int count;
    };

    int debug_id;  // bit 2 selects the feature-line label

    explicit MicrowaveAnalyser(int debug_id);

    void ComputeMetrics(std::list<SubBand>& subband_list, std::list<SubBand>::iterator beginIt,
                        std::string mac_address) const;
    void AddMicrowaveDevice(u64 start_time, u64 end_time, float center_bin, float rssi,
                            float curr_freq) const;
};

#endif
