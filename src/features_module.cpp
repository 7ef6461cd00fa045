// Pulse-pair measures for hopper collection: a hopper's pulses are short and
// narrow, so a weaker pulse overlapping a stronger one in both time and bins
// is the same burst seen again (adjacent-channel leakage) and is dropped; the
// hop-to-hop centre-bin movement tells a hopper from a fixed emitter.
#include "features_module.h"

#include <cstdlib>

bool FeatureMethods::IsOverlappingInFrequency(const RssiPulse& pulse1, const RssiPulse& pulse2) {
    return pulse1.end_bin_number > pulse2.start_bin_number &&
           pulse1.start_bin_number < pulse2.end_bin_number;
}

bool FeatureMethods::IsOverlappingInTime(const RssiPulse& pulse1, const RssiPulse& pulse2) {
    return pulse1.end_time > pulse2.start_time && pulse2.end_time > pulse1.start_time;
}

float FeatureMethods::AverageFrequencyMovement(const std::vector<RssiPulse>& pulse_list) {
    const size_t count = pulse_list.size();
    if (count <= 2)
        return 0.0f;
    float movement = 0.0f;
    for (size_t i = 0; i + 1 < count; ++i) {
        movement += static_cast<float>(
            std::abs(pulse_list[i + 1].center_bin_number - pulse_list[i].center_bin_number));
    }
    return movement / static_cast<float>(count - 1);
}

void FeatureMethods::RemoveOverlappingPulses(const std::vector<RssiPulse>& pulse_list,
                                             std::vector<RssiPulse>& valid_pulse_list,
                                             PulseType use_pulse_type) {
    for (const RssiPulse& pulse : pulse_list) {
        if (pulse.classification != use_pulse_type)
            continue;
        bool masked = false;
        for (const RssiPulse& other : pulse_list) {
            if (other.classification != use_pulse_type)
                continue;
            // Start-time order: nothing further on can overlap this pulse.
            if (other.start_time >= pulse.end_time)
                break;
            if (IsOverlappingInTime(pulse, other) && IsOverlappingInFrequency(pulse, other) &&
                pulse.peak_rssi > other.peak_rssi) {
                masked = true;
                break;
            }
        }
        if (!masked)
            valid_pulse_list.push_back(pulse);
    }
}
