// Pulse-pair measures for hopper collection: a hopper's pulses are short and
// narrow, so a weaker pulse overlapping a stronger one in both time and bins
// is the same burst seen again (adjacent-channel leakage) and is dropped; the
// hop-to-hop centre-bin movement tells a hopper from a fixed emitter.
#include "features_module.h"

#include <algorithm>
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

namespace {

// Whether `pulse` is masked by a stronger pulse among `others` (the pulses of
// the wanted type, in list order), scanning as far as the first one that
// starts at or after the pulse's end.
bool IsMaskedByScan(const RssiPulse& pulse, const std::vector<const RssiPulse*>& others) {
    for (const RssiPulse* other : others) {
        // Start-time order: nothing further on can overlap this pulse.
        if (other->start_time >= pulse.end_time)
            return false;
        if (FeatureMethods::IsOverlappingInTime(pulse, *other) &&
            FeatureMethods::IsOverlappingInFrequency(pulse, *other) &&
            pulse.peak_rssi > other->peak_rssi) {
            return true;
        }
    }
    return false;
}

}  // namespace

void FeatureMethods::RemoveOverlappingPulses(const std::vector<RssiPulse>& pulse_list,
                                             std::vector<RssiPulse>& valid_pulse_list,
                                             PulseType use_pulse_type) {
    std::vector<const RssiPulse*> typed;
    for (const RssiPulse& pulse : pulse_list) {
        if (pulse.classification == use_pulse_type)
            typed.push_back(&pulse);
    }
    const bool in_start_order = std::is_sorted(
        typed.begin(), typed.end(),
        [](const RssiPulse* a, const RssiPulse* b) { return a->start_time < b->start_time; });
    // In start order (as the hopper collection sorts them) the scan can skip
    // the pulses that ended before this one starts: past the running maximum
    // of end times, and up to the first pulse starting at or after its end.
    std::vector<u64> latest_end(typed.size());
    u64 latest = 0;
    for (size_t i = 0; i < typed.size(); ++i) {
        latest = std::max(latest, typed[i]->end_time);
        latest_end[i] = latest;
    }
    for (const RssiPulse* pulse : typed) {
        bool masked = false;
        if (!in_start_order) {
            masked = IsMaskedByScan(*pulse, typed);
        } else {
            const auto stop = std::lower_bound(
                typed.begin(), typed.end(), pulse->end_time,
                [](const RssiPulse* other, u64 end) { return other->start_time < end; });
            const size_t first = static_cast<size_t>(
                std::upper_bound(latest_end.begin(), latest_end.end(), pulse->start_time) -
                latest_end.begin());
            for (auto it = typed.begin() + static_cast<std::ptrdiff_t>(first); it < stop; ++it) {
                const RssiPulse& other = **it;
                if (IsOverlappingInTime(*pulse, other) && IsOverlappingInFrequency(*pulse, other) &&
                    pulse->peak_rssi > other.peak_rssi) {
                    masked = true;
                    break;
                }
            }
        }
        if (!masked)
            valid_pulse_list.push_back(*pulse);
    }
}
