// Per-pulse shape and timing tests for the hopping and Zigbee classifiers, and
// the pulse-pair comparisons (overlap, frequency movement) they rest on. All
// tests read only their arguments and never change a pulse.
#ifndef TESSARON_CHECK_PULSE_TYPE_H
#define TESSARON_CHECK_PULSE_TYPE_H

#include <array>
#include <iterator>
#include <map>
#include <vector>

#include "pulse_class.h"
#include "script_utils_module.h"

// Zigbee frames are 6 to 7 bins wide (about 2 MHz).
inline constexpr int CONST_MIN_ZIGBEE_BW = 6;
inline constexpr int CONST_MAX_ZIGBEE_BW = 7;
// Largest distance of a Zigbee pulse's centre bin from a Zigbee channel bin.
inline constexpr int CONST_ZIGBEE_CENTER_BIN_DIFF = 1;
// Centre bins of the four Zigbee channels inside one 20 MHz subband.
inline constexpr int ZIGBEE_BINS[4] = {7, 22, 37, 52};

// Duration windows (us) of the FHSS handset long pulse and the short
// Bluetooth pulse.
inline constexpr u64 CONST_FHSSHIGH_PULSE_DURATION_MIN = 680;
inline constexpr u64 CONST_FHSSHIGH_PULSE_DURATION_MAX = 720;
inline constexpr u64 CONST_BT_SHORT_PULSE_DURATION_MIN = 350;
inline constexpr u64 CONST_BT_SHORT_PULSE_DURATION_MAX = 400;

// A hopper's packets land all over the view; no quarter of it (14 bins)
// holds more than half of them. Pulses crowded into a few bins are the
// skirt of a wide burst next door, or a fixed emitter.
inline constexpr int HOP_SPREAD_WINDOW_BINS = 14;
inline constexpr float HOP_SPREAD_MAX_SHARE = 0.5f;

class CheckPulse {
public:
    static void CountCentreBin(const RssiPulse& pulse,
                               std::array<int, CONST_SUBBAND_NUM_BINS>& per_bin);
    static bool IsSpreadOverView(const std::array<int, CONST_SUBBAND_NUM_BINS>& per_bin);
    // Largest count of a per-frequency histogram (0 when empty).
    static float GetSpreadMax(const std::map<float, int>& pulse_counts);
    // Share of the busiest frequency in a per-frequency histogram (0 when
    // empty or all zero).
    static float GetPulseSpread(const std::map<float, int>& pulse_counts);
    static bool IsHighDutyDevice(PulseType type);
    // A bin busy for this share of its dwell carries a continuous emitter.
    static bool IsContinuousBinDuty(float duty);
    static bool IsInterestingPulse(const RssiPulse& pulse);
    // Weakest peak (dBm) a hopper pulse may have: -75 dBm, or under the
    // refined rules a margin above the measured floor of its subband.
    static float HopperPeakLimitDbm(const RssiPulse& pulse);
    static bool IsZigbeePulseType(const RssiPulse& pulse);
    static bool IsFhssphoneHigh(const RssiPulse& pulse);
    static bool IsBluetoothPulse(const RssiPulse& pulse);
    static bool IsBluetoothSCOPulse(const RssiPulse& pulse);
    // Either of the two above: a Bluetooth packet or a handset burst, the
    // pulses the hopper pass collects. The cheap tests of duration and width
    // come first, since most pulses of a busy band fail them.
    static bool IsHopperShaped(const RssiPulse& pulse);
    // Tags PULSE_FH_DEVICE every pulse of a subband that IsHopperShaped
    // takes; returns how many pulses carry that tag afterwards.
    static size_t MarkHopperShaped(std::vector<RssiPulse>& pulses);
    static bool IsXboxPulseType(const RssiPulse& pulse);
    // Refined Bluetooth voice test: a duration a voice packet can show at the
    // card's sample interval.
    static bool IsVoicePacketDuration(const RssiPulse& pulse);
    // Refined Xbox test: the controller's packet bandwidth and its two packet
    // lengths, judged in units of the card's sample interval.
    static bool IsXboxPulseShape(const RssiPulse& pulse, float sample_interval_us);
    // Refined Bluetooth slot test: two packet starts `gap` us apart lie a
    // whole number of 625 us slots apart, within one sample interval.
    static bool IsOnSlotGrid(u64 gap, float sample_interval_us);
    // Could a burst lasting lo..hi us show this duration when sampled every
    // sample_interval_us with a jittered clock?
    static bool IsDurationOfBurst(u64 duration, u64 lo, u64 hi, float sample_interval_us);
    static bool IsFhssTimingProperty(const RssiPulse& pulse1, const RssiPulse& pulse2);
};

#endif
