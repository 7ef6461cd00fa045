// Zigbee detection. An IEEE 802.15.4 transmitter sits on one 2 MHz channel:
// its frames are 6 or 7 bins wide and centred on one of the four channel
// positions of a 20 MHz subband (bins 7, 22, 37, 52). Under the refined
// rules a frame is judged by its main lobe under its own top instead: 5 to 7
// bins wide, centred on a true channel (2405 + 5 (k - 11) MHz, bins 5.6,
// 21.6, 37.6 and 53.6 of every view), however near the noise. Airtime of
// such pulses is summed per subband frequency and channel; a channel busy for
// at least MIN_ZIGBEE_TIMESLICES ms in the window (refined: a share of the
// time spent there) is a Zigbee device, whose bins are then filtered from
// further analysis of that frequency.
#include "zigbee_pulse_analyser.h"

#include <algorithm>
#include <cmath>
#include <iostream>
#include <map>

#include "band_geometry.h"
#include "check_pulse_type.h"
#include "device_analyzer.h"
#include "fixedfreq_interferer_class.h"
#include "host_clock.h"
#include "rule_set.h"

namespace {

constexpr int NUM_ZIGBEE_BANDS = 4;
// Host span given to a fresh detection so that the tracker announces it at
// once.
constexpr long ZIGBEE_HOST_SPAN_S = 6;

typedef std::map<float, std::vector<ZigbeePulseAnalyser::ZigbeeBandMetrics>> ZigbeeMetricsMap;

ZigbeeMetricsMap BuildEmptyMetricsMap() {
    const ZigbeePulseAnalyser::ZigbeeBandMetrics empty{};
    ZigbeeMetricsMap metrics;
    for (const float freq : CONST_CENTER_FREQUENCIES) {
        metrics[freq] =
            std::vector<ZigbeePulseAnalyser::ZigbeeBandMetrics>(NUM_ZIGBEE_BANDS, empty);
    }
    return metrics;
}

void AccumulatePulse(ZigbeePulseAnalyser::ZigbeeBandMetrics& m, const RssiPulse& pulse) {
    m.time_slice_count += pulse.GetPulseDuration();
    m.avg_peak_rssi += pulse.GetAveragePulseRssi();
    m.avg_bw += static_cast<float>(pulse.end_bin_number - pulse.start_bin_number + 1);
    m.pulse_count += 1;
}

// Airtime to ms and sums to means.
void NormaliseMetrics(ZigbeePulseAnalyser::ZigbeeBandMetrics& m) {
    if (m.pulse_count <= 0)
        return;
    m.time_slice_count = m.time_slice_count / 1000;
    m.avg_peak_rssi /= static_cast<float>(m.pulse_count);
    m.avg_bw /= static_cast<float>(m.pulse_count);
}

// Whether a pulse is a Zigbee frame under the active rules: its main lobe
// measured under its own top when the rules measure one, else its band.
bool IsFrame(const RssiPulse& pulse, float subband_mhz) {
    if (ActiveRules().lobe_depth_db > 0.0f) {
        return ZigbeePulseAnalyser::IsZigbeeLobe(pulse, subband_mhz);
    }
    return CheckPulse::IsZigbeePulseType(pulse);
}

int BandIdOf(const RssiPulse& pulse) {
    if (ActiveRules().lobe_depth_db > 0.0f) {
        return ZigbeePulseAnalyser::GetZigbeeBandIdOfBin(pulse.lobe_centre_q / 4);
    }
    return ZigbeePulseAnalyser::GetZigbeeBandPulseBandId(pulse);
}

// A frame's spectrum stays where it is while it lasts; a band that grew more
// than this many bins beyond the widest it showed at once was swept over
// (a drifting oven line near the noise).
constexpr int ZIGBEE_MAX_GROWTH_BINS = 2;

using SubbandIt = std::list<SubBand>::iterator;

// Airtime, power and width of the Zigbee-shaped pulses of the visits [begin,
// end), per channel frequency and Zigbee channel; not yet normalised.
ZigbeeMetricsMap SumZigbeePulses(SubbandIt begin, SubbandIt end) {
    ZigbeeMetricsMap metrics = BuildEmptyMetricsMap();
    for (auto it = begin; it != end; ++it) {
        const auto entry = metrics.find(it->curr_freq);
        // A visit off the six channel centres has no Zigbee channel frame.
        if (entry == metrics.end())
            continue;
        for (const RssiPulse& pulse : it->completed_pulses_list) {
            if (!IsFrame(pulse, it->curr_freq))
                continue;
            AccumulatePulse(entry->second[BandIdOf(pulse)], pulse);
        }
    }
    return metrics;
}

// Time spent on each channel frequency in the visits [begin, end), ms.
std::map<float, double> DwellMs(SubbandIt begin, SubbandIt end) {
    std::map<float, double> dwell_ms;
    for (auto it = begin; it != end; ++it) {
        dwell_ms[it->curr_freq] += static_cast<double>(it->GetBandDuration()) / 1000.0;
    }
    return dwell_ms;
}

// Whether a Zigbee channel's normalised metrics make a network, under the
// active rules.
bool IsNetwork(const ZigbeePulseAnalyser::ZigbeeBandMetrics& m, double dwell_ms,
               bool is_spurious_pulses) {
    if (ActiveRules().zigbee_airtime_share) {
        return ZigbeePulseAnalyser::IsZigbeeAirtimeShare(m.time_slice_count, m.pulse_count,
                                                         dwell_ms, is_spurious_pulses);
    }
    return ZigbeePulseAnalyser::IsZigbeePresent(static_cast<int>(m.time_slice_count),
                                                is_spurious_pulses);
}

// Bins of a network on Zigbee channel band_id: its mean width around the
// channel centre, inside the subband.
struct NetworkBins {
    int centre;
    int start;
    int end;
};

NetworkBins BinsOf(const ZigbeePulseAnalyser::ZigbeeBandMetrics& m, int band_id) {
    const int centre = ZigbeePulseAnalyser::GetCFFromBandId(band_id);
    const int half_bw = static_cast<int>(m.avg_bw * 0.5);
    return {centre, std::max(centre - half_bw, 0),
            std::min(centre + half_bw, CONST_SUBBAND_LAST_BIN)};
}

// The tracker's record of a network seen on the freq subband from card time
// start_time to end_time, dated so that the tracker announces it at once.
FixedFreqInterferer NetworkDevice(const ZigbeePulseAnalyser::ZigbeeBandMetrics& m,
                                  const NetworkBins& bins, float freq, u64 start_time,
                                  u64 end_time) {
    const std::vector<float> info{static_cast<float>(bins.centre), static_cast<float>(bins.start),
                                  static_cast<float>(bins.end), m.avg_bw,
                                  std::fabs(m.avg_peak_rssi)};
    FixedFreqInterferer device(info, start_time, end_time, freq, PULSE_ZIGBEE);
    timeval now{};
    GetHostTime(&now);
    timeval host_start = now;
    host_start.tv_sec -= ZIGBEE_HOST_SPAN_S;
    device.set_host_end_time(now);
    device.set_host_start_time(host_start);
    return device;
}

// Keeps the network's bins of every freq visit in [begin, end) out of the
// later passes.
void FilterNetworkBins(SubbandIt begin, SubbandIt end, float freq, int band_id,
                       const NetworkBins& bins) {
    std::cout << "Filtering Zigbee pulses " << static_cast<double>(freq) << " index " << band_id
              << "....\n";
    for (auto it = begin; it != end; ++it) {
        if (it->curr_freq == freq)
            it->UpdateFilter(bins.start, bins.end, PULSE_ZIGBEE);
    }
}

void PrintTimeBins(const ZigbeeMetricsMap& metrics) {
    const int num_freqs = GetNumSubbandFreq();
    std::cout << "Num frequencies: " << num_freqs << "\n";
    for (int i = 0; i < num_freqs; ++i) {
        const float freq = CONST_CENTER_FREQUENCIES[i];
        std::cout << "Zigbee_pulse_timebins: " << static_cast<double>(freq);
        for (const ZigbeePulseAnalyser::ZigbeeBandMetrics& m : metrics.at(freq)) {
            std::cout << " " << m.pulse_count << " " << m.time_slice_count;
        }
        std::cout << "\n";
    }
    std::cout.flush();
}

}  // namespace

int ZigbeePulseAnalyser::GetZigbeeBandPulseBandId(const RssiPulse& pulse) {
    return GetZigbeeBandIdOfBin(pulse.center_bin_number);
}

int ZigbeePulseAnalyser::GetZigbeeBandIdOfBin(int centre) {
    if (centre <= 14)
        return 0;
    if (centre <= 29)
        return 1;
    if (centre <= 44)
        return 2;
    return 3;
}

int ZigbeePulseAnalyser::GetCFFromBandId(int band_id) {
    if (band_id < 0 || band_id >= NUM_ZIGBEE_BANDS)
        return -1;
    return ZIGBEE_BINS[band_id];
}

double ZigbeePulseAnalyser::ChannelOffsetMhz(double mhz) {
    // IEEE 802.15.4 channels 11 to 26 of the band: 2405 + 5 (k - 11) MHz.
    constexpr double kFirstChannelMhz = 2405.0;
    constexpr double kChannelStepMhz = 5.0;
    constexpr long kLastChannelIndex = 15;
    const long k =
        std::clamp(std::lround((mhz - kFirstChannelMhz) / kChannelStepMhz), 0L, kLastChannelIndex);
    return mhz - (kFirstChannelMhz + kChannelStepMhz * static_cast<double>(k));
}

double ZigbeePulseAnalyser::LobeCentreMhz(const RssiPulse& pulse, float subband_mhz) {
    const double bin = pulse.lobe_centre_q / 4.0;
    return static_cast<double>(subband_mhz) + (bin - CONST_SUBBAND_CENTER_BIN) / CONST_BINS_PER_MHZ;
}

bool ZigbeePulseAnalyser::IsLobeWholeInSomeView(double channel_mhz) {
    // Outer edges of a view's first and last bins from its centre.
    const double below = (CONST_SUBBAND_CENTER_BIN + 0.5) / CONST_BINS_PER_MHZ;
    const double above =
        (CONST_SUBBAND_LAST_BIN - CONST_SUBBAND_CENTER_BIN + 0.5) / CONST_BINS_PER_MHZ;
    for (const float view : CONST_CENTER_FREQUENCIES) {
        const double centre = static_cast<double>(view);
        if (channel_mhz - ZIGBEE_LOBE_HALF_MHZ >= centre - below &&
            channel_mhz + ZIGBEE_LOBE_HALF_MHZ <= centre + above)
            return true;
    }
    return false;
}

bool ZigbeePulseAnalyser::IsCutEdgeChannelLobe(const RssiPulse& pulse, float subband_mhz) {
    if (!ActiveRules().zigbee_edge_channel_cut)
        return false;
    // The lobe's centre must lie a bin clear of the edge, so that the view
    // shows its top and its inner half.
    const int top = pulse.lobe_centre_q / 4;
    if (top < 1 || top > CONST_SUBBAND_LAST_BIN - 1)
        return false;
    const double centre = LobeCentreMhz(pulse, subband_mhz);
    return !IsLobeWholeInSomeView(centre - ChannelOffsetMhz(centre));
}

bool ZigbeePulseAnalyser::IsZigbeeLobe(const RssiPulse& pulse, float subband_mhz) {
    if (pulse.classification != PULSE_NONE && pulse.classification != PULSE_FH_DEVICE)
        return false;
    if (pulse.lobe_width < ZIGBEE_MIN_LOBE_BINS || pulse.lobe_width > ZIGBEE_MAX_LOBE_BINS)
        return false;
    // Cut by the edge of the view, the band's width and centre are unknown,
    // unless the channel lies where no view holds its lobe whole.
    if ((pulse.start_bin_number == 0 || pulse.end_bin_number == CONST_SUBBAND_LAST_BIN) &&
        !IsCutEdgeChannelLobe(pulse, subband_mhz))
        return false;
    const int band_width = pulse.end_bin_number - pulse.start_bin_number;
    if (ActiveRules().zigbee_needs_width_at_once &&
        band_width - pulse.widest_sample_width > ZIGBEE_MAX_GROWTH_BINS)
        return false;
    // A fragment of a continuous emitter a few dB over the floor is no frame
    // of a network on the air a few per cent of the time.
    const std::vector<float>* duty = pulse.parent ? &pulse.parent->duty_avg_list : nullptr;
    const size_t centre = static_cast<size_t>(pulse.lobe_centre_q / 4);
    if (duty != nullptr && centre < duty->size() &&
        CheckPulse::IsContinuousBinDuty((*duty)[centre]))
        return false;
    return std::fabs(ChannelOffsetMhz(LobeCentreMhz(pulse, subband_mhz))) <=
           static_cast<double>(ActiveRules().zigbee_centre_tolerance_mhz);
}

bool ZigbeePulseAnalyser::IsZigbeePresent(int zigbee_time_slice_count, bool is_spurious_pulses) {
    return zigbee_time_slice_count >= MIN_ZIGBEE_TIMESLICES && !is_spurious_pulses;
}

bool ZigbeePulseAnalyser::IsZigbeeAirtimeShare(double airtime_ms, int frames, double dwell_ms,
                                               bool is_spurious_pulses) {
    return !is_spurious_pulses && dwell_ms > 0.0 && frames >= ZIGBEE_MIN_FRAMES &&
           airtime_ms >= ZIGBEE_MIN_AIRTIME_SHARE * dwell_ms;
}

void ZigbeePulseAnalyser::DetermineZigbeePresence(std::list<SubBand>& subband_list,
                                                  std::list<SubBand>::iterator beginIt,
                                                  bool is_spurious_pulses) {
    const SubbandIt end = subband_list.end();
    ZigbeeMetricsMap metrics = SumZigbeePulses(beginIt, end);
    std::map<float, double> dwell_ms = DwellMs(beginIt, end);
    std::vector<FixedFreqInterferer> zigbee_devices;
    const bool window_empty = beginIt == end;
    for (auto& [freq, bands] : metrics) {
        for (int band_id = 0; band_id < NUM_ZIGBEE_BANDS; ++band_id) {
            ZigbeeBandMetrics& m = bands[band_id];
            NormaliseMetrics(m);
            if (window_empty || !IsNetwork(m, dwell_ms[freq], is_spurious_pulses)) {
                continue;
            }
            const NetworkBins bins = BinsOf(m, band_id);
            zigbee_devices.push_back(
                NetworkDevice(m, bins, freq, beginIt->start_time, subband_list.back().end_time));
            FilterNetworkBins(beginIt, end, freq, band_id, bins);
        }
    }
    DeviceAnalyzer::AddNewDevices(zigbee_devices);
    PrintTimeBins(metrics);
}
