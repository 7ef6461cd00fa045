// Zigbee detection: sums, per subband frequency and per 2 MHz Zigbee channel
// (bins 7, 22, 37, 52), the airtime of 6-7 bin wide pulses (refined: of
// frames whose main lobe is 5-7 bins wide on a true channel) and declares a
// device on every channel busy for at least MIN_ZIGBEE_TIMESLICES ms in the
// window (refined: a share of the time spent on it).
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

// Width of a frame's main lobe 6 dB under its top (RuleSet::lobe_depth_db):
// the O-QPSK half-sine (MSK) spectrum at 2 Mchip/s falls 6 dB at +-0.78 MHz,
// 1.56 MHz or 5 bins, which the card's window widens to 5-6 bins; near the
// noise the flanks are lifted by it, up to 7. A 1 MHz Bluetooth packet spans
// 2-3 bins at that depth, a Wi-Fi frame its whole 52 subcarriers.
inline constexpr int ZIGBEE_MIN_LOBE_BINS = 5;
inline constexpr int ZIGBEE_MAX_LOBE_BINS = 7;
// Half the main lobe 6 dB under its top (MHz).
inline constexpr double ZIGBEE_LOBE_HALF_MHZ = 0.78;

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
    // Zigbee channel (0-3) of the subband region holding a bin.
    static int GetZigbeeBandIdOfBin(int centre);
    // Refined frame test: a main lobe 5-7 bins wide under its own top,
    // whole in the view, not swept, not on a continuous emitter, centred
    // within RuleSet::zigbee_centre_tolerance_mhz of a true channel.
    static bool IsZigbeeLobe(const RssiPulse& pulse, float subband_mhz);
    // Whether some channel view of the scan holds the main lobe of a
    // channel at channel_mhz whole.
    static bool IsLobeWholeInSomeView(double channel_mhz);
    // Refined (RuleSet::zigbee_edge_channel_cut): a lobe cut by the view's
    // edge still counts when its centre lies inside the view and its channel
    // lies where no view holds the lobe whole (channel 24, 2470 MHz, above
    // the top view's last bin at 2470.6 MHz).
    static bool IsCutEdgeChannelLobe(const RssiPulse& pulse, float subband_mhz);
    // Frequency (MHz) of a pulse's lobe centre in a subband centred at
    // subband_mhz.
    static double LobeCentreMhz(const RssiPulse& pulse, float subband_mhz);
    // Signed distance (MHz) of a frequency from the nearest 802.15.4
    // channel of the band.
    static double ChannelOffsetMhz(double mhz);
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
