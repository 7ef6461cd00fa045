// Zigbee detection. An IEEE 802.15.4 transmitter sits on one 2 MHz channel:
// its frames are 6 or 7 bins wide and centred on one of the four channel
// positions of a 20 MHz subband (bins 7, 22, 37, 52). Airtime of such pulses
// is summed per subband frequency and channel; a channel busy for at least
// MIN_ZIGBEE_TIMESLICES ms in the window is a Zigbee device, whose bins are
// then filtered from further analysis of that frequency.
#include "zigbee_pulse_analyser.h"

#include <algorithm>
#include <cmath>
#include <iostream>
#include <map>

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

}  // namespace

int ZigbeePulseAnalyser::GetZigbeeBandPulseBandId(const RssiPulse& pulse) {
    const int centre = pulse.center_bin_number;
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
    ZigbeeMetricsMap zigbee_metrics_map = BuildEmptyMetricsMap();

    for (auto it = beginIt; it != subband_list.end(); ++it) {
        const auto entry = zigbee_metrics_map.find(it->curr_freq);
        // A visit off the six channel centres has no Zigbee channel frame.
        if (entry == zigbee_metrics_map.end())
            continue;
        for (const RssiPulse& pulse : it->completed_pulses_list) {
            if (!CheckPulse::IsZigbeePulseType(pulse))
                continue;
            AccumulatePulse(entry->second[GetZigbeeBandPulseBandId(pulse)], pulse);
        }
    }

    // Time spent on each channel in the window, ms.
    std::map<float, double> dwell_ms;
    for (auto it = beginIt; it != subband_list.end(); ++it) {
        dwell_ms[it->curr_freq] += static_cast<double>(it->GetBandDuration()) / 1000.0;
    }
    std::vector<FixedFreqInterferer> zigbee_devices;
    const bool window_empty = beginIt == subband_list.end();
    for (auto& entry : zigbee_metrics_map) {
        const float freq = entry.first;
        for (int band_id = 0; band_id < NUM_ZIGBEE_BANDS; ++band_id) {
            ZigbeeBandMetrics& m = entry.second[band_id];
            NormaliseMetrics(m);
            const bool present =
                ActiveRules().zigbee_airtime_share
                    ? IsZigbeeAirtimeShare(m.time_slice_count, m.pulse_count, dwell_ms[freq],
                                           is_spurious_pulses)
                    : IsZigbeePresent(static_cast<int>(m.time_slice_count), is_spurious_pulses);
            if (window_empty || !present) {
                continue;
            }
            const int centre_bin = GetCFFromBandId(band_id);
            const int half_bw = static_cast<int>(m.avg_bw * 0.5);
            const int start_bin = std::max(centre_bin - half_bw, 0);
            const int end_bin = std::min(centre_bin + half_bw, CONST_SUBBAND_LAST_BIN);
            const std::vector<float> info{
                static_cast<float>(centre_bin), static_cast<float>(start_bin),
                static_cast<float>(end_bin), m.avg_bw, std::fabs(m.avg_peak_rssi)};
            zigbee_devices.emplace_back(info, beginIt->start_time, subband_list.back().end_time,
                                        freq, PULSE_ZIGBEE);
            timeval now{};
            GetHostTime(&now);
            timeval host_start = now;
            host_start.tv_sec -= ZIGBEE_HOST_SPAN_S;
            zigbee_devices.back().set_host_end_time(now);
            zigbee_devices.back().set_host_start_time(host_start);

            std::cout << "Filtering Zigbee pulses " << static_cast<double>(freq) << " index "
                      << band_id << "....\n";
            for (auto it = beginIt; it != subband_list.end(); ++it) {
                if (it->curr_freq == freq)
                    it->UpdateFilter(start_bin, end_bin, PULSE_ZIGBEE);
            }
        }
    }
    DeviceAnalyzer::AddNewDevices(zigbee_devices);

    const int num_freqs = GetNumSubbandFreq();
    std::cout << "Num frequencies: " << num_freqs << "\n";
    for (int i = 0; i < num_freqs; ++i) {
        const float freq = CONST_CENTER_FREQUENCIES[i];
        std::cout << "Zigbee_pulse_timebins: " << static_cast<double>(freq);
        for (const ZigbeeBandMetrics& m : zigbee_metrics_map[freq]) {
            std::cout << " " << m.pulse_count << " " << m.time_slice_count;
        }
        std::cout << "\n";
    }
    std::cout.flush();
}
