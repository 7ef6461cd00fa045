// Xbox console detection. The console's controller link hops like Bluetooth
// but its packets are exactly 4 bins (1.25 MHz) wide and last 227/228 or
// 342/343 us. A console is declared when enough such pulses fall in the
// window and no single frequency holds more than half of them (a hopper
// spreads its pulses; a fixed emitter does not).
#include "xbox_analyser.h"

#include <algorithm>
#include <iostream>
#include <vector>

#include "check_pulse_type.h"
#include "device_analyzer.h"
#include "rule_set.h"

namespace {

void AppendFeature(std::string& line, int number, float value) {
    line += " ";
    line += inttostr(number);
    line += ":";
    line += floattostr(value);
}

// Smallest clear share the count is scaled from (see RuleSet).
constexpr double MIN_CLEAR_VIEW_SHARE = 0.5;

}  // namespace

double XboxAnalyser::ClearViewShare(const std::list<SubBand>& subband_list,
                                    std::list<SubBand>::const_iterator beginIt) {
    double all_us = 0.0;
    double clear_us = 0.0;
    for (auto it = beginIt; it != subband_list.end(); ++it) {
        const std::vector<float>& duty = it->duty_avg_list;
        if (duty.empty())
            continue;
        const auto busy = std::count_if(duty.begin(), duty.end(), CheckPulse::IsContinuousBinDuty);
        const double dwell_us = static_cast<double>(it->GetBandDuration());
        all_us += dwell_us;
        clear_us += dwell_us * static_cast<double>(duty.size() - static_cast<size_t>(busy)) /
                    static_cast<double>(duty.size());
    }
    return all_us > 0.0 ? clear_us / all_us : 1.0;
}

bool XboxAnalyser::EnoughPulses(int pulse_count) const {
    if (!ActiveRules().xbox_count_per_clear_view)
        return pulse_count >= MIN_XBOX_PULSES;
    const double share = std::max(ClearViewShare(subband_list, beginIt), MIN_CLEAR_VIEW_SHARE);
    return static_cast<double>(pulse_count) >= MIN_XBOX_PULSES * share;
}

XboxAnalyser::XboxAnalyser(std::list<SubBand>& subband_list, std::list<SubBand>::iterator beginIt,
                           int debug_id)
    : subband_list(subband_list), beginIt(beginIt), total_candidates(0.0f), debug_id(debug_id) {
    for (const float freq : CONST_CENTER_FREQUENCIES) {
        count_pulses_per_subband[freq] = 0.0f;
        subband_dwell_time[freq] = 0;
        subband_count[freq] = 0;
        subband_average_movement[freq] = 0.0f;
    }
}

void XboxAnalyser::GetFeatures() {
    std::vector<float> subband_pulse_count;
    subband_pulse_count.reserve(count_pulses_per_subband.size());
    for (const auto& entry : count_pulses_per_subband)
        subband_pulse_count.push_back(entry.second);
    float mean_count = 0.0f;
    float stddev_count = 0.0f;
    calc_mean_stdev(subband_pulse_count, mean_count, stddev_count);
    const PowerTuple tuple{0.0f, 0.0f, 0.0f, 0.0f};
    DecisionTree(tuple, 0, 0, 0.0f, 0.0f, mean_count, stddev_count);
}

int XboxAnalyser::BuildXboxNewTypeInfo(PowerTuple& tuple) {
    for (const float freq : CONST_CENTER_FREQUENCIES)
        count_xbox_pulses_perfreq[freq] = 0;
    float count = 0.0f;
    std::vector<float> powers;
    for (auto it = beginIt; it != subband_list.end(); ++it) {
        const float whole_mhz = static_cast<float>(static_cast<int>(it->curr_freq));
        for (const RssiPulse& pulse : it->completed_pulses_list) {
            if (!CheckPulse::IsXboxPulseType(pulse))
                continue;
            count += 1.0f;
            powers.push_back(pulse.GetAveragePulseRssi());
            count_xbox_pulses_perfreq[whole_mhz] += 1;
        }
    }
    if (!powers.empty())
        tuple = GetPulsePowerDistributionFromList(powers);
    return static_cast<int>(count);
}

void XboxAnalyser::DecisionTree(PowerTuple tuple, unsigned long long device_start_time,
                                unsigned long long device_end_time, float xbox_pulses,
                                float pc_nonzero_xbox_bins, float mean_count, float stddev_count) {
    std::string feature_string = (debug_id & 32) ? "XBOX 1" : "XBOX 0";
    const int new_xbox_pulsecount = BuildXboxNewTypeInfo(tuple);
    // Share of the Xbox-shaped pulses on the busiest frequency.
    const float max_pulse_pdf = CheckPulse::GetPulseSpread(count_xbox_pulses_perfreq);

    AppendFeature(feature_string, 1, total_candidates);
    AppendFeature(feature_string, 2, static_cast<float>(new_xbox_pulsecount));
    AppendFeature(feature_string, 3, max_pulse_pdf);
    AppendFeature(feature_string, 4, xbox_pulses);
    AppendFeature(feature_string, 5, pc_nonzero_xbox_bins);
    AppendFeature(feature_string, 6, mean_count);
    AppendFeature(feature_string, 7, stddev_count);
    AppendFeature(feature_string, 8, tuple.min);
    AppendFeature(feature_string, 9, tuple.max);
    AppendFeature(feature_string, 10, tuple.mean);
    AppendFeature(feature_string, 11, tuple.stddev);
    std::cout << feature_string << "\n";
    std::cout.flush();

    std::cout << "Xbox pulse_counts ";
    for (const float freq : CONST_CENTER_FREQUENCIES) {
        std::cout << static_cast<double>(freq) << " " << count_xbox_pulses_perfreq[freq] << " ";
    }
    std::cout << "\n";

    if (EnoughPulses(new_xbox_pulsecount) && max_pulse_pdf <= MAX_PULSE_PDF_PERSUBBAND) {
        std::cout << "Adding a XBox device...\n";
        std::vector<RssiPulse> no_pulses;
        DeviceAnalyzer::AddNewFhDevice(no_pulses, PULSE_XBOX, device_start_time, device_end_time,
                                       tuple.mean, new_xbox_pulsecount);
    }
}
