// Zigbee detection: sums, per subband frequency and per 2 MHz Zigbee channel
// (bins 7, 22, 37, 52), the airtime of 6-7 bin wide pulses and declares a
// device on every channel busy for at least MIN_ZIGBEE_TIMESLICES ms in the
// window.
#ifndef TESSARON_ZIGBEE_PULSE_ANALYSER_H
#define TESSARON_ZIGBEE_PULSE_ANALYSER_H

#include <list>
#include <vector>

#include "pulse_class.h"
#include "script_utils_module.h"
#include "subband_class.h"

inline constexpr double ZIGBEE_MIN_AIRTIME_SHARE = 0.01;
// A chance 2 MHz-wide pulse on a Zigbee channel is not a network: it keeps
// talking (beacons, polls, acknowledgements).
inline constexpr int ZIGBEE_MIN_FRAMES = 8;

class ZigbeePulseAnalyser {
public:
    struct ZigbeeBandMetrics {
        u64 time_slice_count;  // us while accumulating, ms after normalisation
        float avg_peak_rssi;
        float avg_bw;
        int pulse_count;
    };

    static void DetermineZigbeePresence(std::list<SubBand>& subband_list,
                                        std::list<SubBand>::iterator beginIt,
                                        bool is_spurious_pulses);
    static int GetZigbeeBandPulseBandId(const RssiPulse& pulse);
    // Channel centre bin of a band id, -1 for an unknown id.
    static int GetCFFromBandId(int band_id);
    static bool IsZigbeePresent(int zigbee_time_slice_count, bool is_spurious_pulses);
    // Refined presence: Zigbee-shaped frames fill at least 1 % of the time
    // the card spent on the channel, in at least ZIGBEE_MIN_FRAMES frames.
    // A sensor network idles at a few per cent; a fixed number of ms per
    // window also depends on how long the card happened to dwell there.
    static bool IsZigbeeAirtimeShare(double airtime_ms, int frames, double dwell_ms,
                                     bool is_spurious_pulses);
};

#endif
