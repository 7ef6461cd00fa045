// Pulse-pair comparisons used while collecting hopping pulses: overlap in
// time and in bins, masking of weaker overlapping pulses, and how far a pulse
// train moves in frequency from hop to hop.
#ifndef TESSARON_FEATURES_MODULE_H
#define TESSARON_FEATURES_MODULE_H

#include <vector>

#include "pulse_class.h"

class FeatureMethods {
public:
    static bool IsOverlappingInFrequency(const RssiPulse& pulse1, const RssiPulse& pulse2);
    static bool IsOverlappingInTime(const RssiPulse& pulse1, const RssiPulse& pulse2);
    // Mean absolute centre-bin step between consecutive pulses (0 for two or
    // fewer pulses).
    static float AverageFrequencyMovement(const std::vector<RssiPulse>& pulse_list);
    // Appends to valid_pulse_list the pulses of use_pulse_type that no
    // stronger overlapping pulse of the same type masks. pulse_list must be
    // in start-time order.
    static void RemoveOverlappingPulses(const std::vector<RssiPulse>& pulse_list,
                                        std::vector<RssiPulse>& valid_pulse_list,
                                        PulseType use_pulse_type);
};

#endif
