// Microwave ovens. A magnetron runs on one half of every mains cycle and its
// frequency wanders while it heats up and cools down, so the strongest bin of
// an oven's subband drifts in one direction (or in a V) over episodes of
// consecutive peak rows, and sweeps up and down over a few dozen rows. A
// channel visited more than once in the window whose subbands repeatedly show
// such drifts or moderate sweeps holds an oven covering the whole 20 MHz.
#include "microwave_analyser.h"

#include <sys/time.h>

#include <algorithm>
#include <cmath>
#include <iostream>
#include <map>
#include <vector>

#include "device_analyzer.h"
#include "fixedfreq_interferer_class.h"
#include "host_clock.h"
#include "oven_on_phase.h"
#include "rule_set.h"

namespace {

constexpr int MIN_MWO_SWEEP_LENGTH = 26;   // readings, exclusive
constexpr int MAX_MWO_SWEEP_LENGTH = 61;   // readings, inclusive
constexpr float MIN_CHANNEL_COUNT = 1.0f;  // each count must exceed it

u64 StartTime(const RssiPulse& pulse) {
    return pulse.start_time;
}

std::string FeatureLine(const SubBand& subband, int debug_id) {
    const std::vector<float>& db = subband.db_avg_list;
    const int norm_cfreq_bin =
        subband.GetPeakRssiIndexInRange(db, 0, static_cast<int>(db.size()) - 1);
    const float norm_cfreq_bin_rssi = db[norm_cfreq_bin];
    const float median_rssi = calc_median(db);
    const DriftAnalyser& drift = subband.drift_analyser;

    return NumberedFeatureLine(
        (debug_id & 4) ? "MICROWAVE 1" : "MICROWAVE 0",
        {floattostr(subband.curr_freq), u64tostr(subband.start_time), u64tostr(subband.num_rows),
         u64tostr(subband.GetBandDuration()), inttostr(norm_cfreq_bin),
         floattostr(-norm_cfreq_bin_rssi), inttostr(static_cast<int>(drift.num_drift_instances)),
         floattostr(drift.stdev_on_drift_times), inttostr(static_cast<int>(drift.num_on_pulses)),
         floattostr(drift.stdev_on_start_times), inttostr(drift.count_sweep_length),
         inttostr(drift.avg_sweep_lengths), inttostr(drift.max_sweep_length),
         inttostr(drift.avg_sweep_freq), floattostr(-median_rssi)});
}

// Per channel: the subbands seen, and those with oven drifts or on-phases,
// and those with moderate sweeps.
struct ChannelCounts {
    explicit ChannelCounts(int num_channels)
        : subbands(GetEmptyList(num_channels)),
          microwave_activity(GetEmptyList(num_channels)),
          sweep_activity(GetEmptyList(num_channels)) {}
    std::vector<float> subbands;
    std::vector<float> microwave_activity;
    std::vector<float> sweep_activity;
};

using ChosenChannels = std::map<float, MicrowaveAnalyser::MicrowaveMetrics>;

// Prints the subband's feature line and counts its activity on its channel.
void CountSubband(const SubBand& subband, int debug_id, ChannelCounts* counts) {
    if (subband.db_avg_list.empty()) {
        std::cerr << "Warning... MicrowaveAnalyser: subband at " << subband.start_time
                  << " has no averaged spectrum, skipped\n";
        return;
    }
    const std::string feature_string = FeatureLine(subband, debug_id);
    // Off a centre frequency the subband belongs to no channel and is
    // counted nowhere.
    const int c = GetFreqToBin(subband.curr_freq);
    if (c >= 0) {
        counts->subbands[c] += 1;
    }
    std::cout << feature_string << std::endl;
    if (c < 0) {
        return;
    }
    const DriftAnalyser& drift = subband.drift_analyser;
    if (ActiveRules().oven_needs_on_phases) {
        counts->microwave_activity[c] += HasOvenOnPhases(subband) ? 1.0f : 0.0f;
        return;
    }
    if (drift.num_drift_instances >= MIN_MWO_DRIFT_INSTANCES ||
        drift.num_on_pulses >= MIN_MWO_ON_PULSES) {
        counts->microwave_activity[c] += 1;
    }
    if (drift.max_sweep_length > MIN_MWO_SWEEP_LENGTH &&
        drift.max_sweep_length <= MAX_MWO_SWEEP_LENGTH) {
        counts->sweep_activity[c] += 1;
    }
}

// A channel seen more than once with repeated activity is chosen.
ChosenChannels ChooseChannels(const ChannelCounts& counts) {
    ChosenChannels chosen;
    for (size_t i = 0; i < counts.subbands.size(); ++i) {
        if (counts.subbands[i] > MIN_CHANNEL_COUNT &&
            (counts.microwave_activity[i] > MIN_CHANNEL_COUNT ||
             counts.sweep_activity[i] > MIN_CHANNEL_COUNT)) {
            std::cout << " Microwave ++++: " << CONST_CENTER_FREQUENCIES[i] << " "
                      << counts.subbands[i] << " " << counts.microwave_activity[i] << " "
                      << counts.sweep_activity[i] << "\n";
            chosen[CONST_CENTER_FREQUENCIES[i]] = MicrowaveAnalyser::MicrowaveMetrics{0, 0.0f, 0};
        }
    }
    return chosen;
}

// The oven takes the whole subband of a chosen channel, unless an analog
// phone or video camera already explains its peak.
void ClaimSubband(SubBand& subband, const std::string& mac_address, ChosenChannels* chosen) {
    DriftAnalyser& drift = subband.drift_analyser;
    const auto found = chosen->find(subband.curr_freq);
    // Refined: on-phases found beside a carrier's bins are the oven's
    // own, whatever carrier shares the view.
    const bool own_on_phases = ActiveRules().oven_needs_on_phases && HasOvenOnPhases(subband);
    if (!own_on_phases &&
        DeviceAnalyzer::IsHighDeviceActivity(subband.curr_freq, drift.peak_index)) {
        std::cout << "MicrowaveAnalyser:: HighDuty device already present...\n";
        return;
    }
    if (found == chosen->end()) {
        return;
    }
    MicrowaveAnalyser::MicrowaveMetrics& metrics = found->second;
    metrics.center_bin += drift.peak_index;
    metrics.rssi += drift.peak_rssi;
    metrics.count += 1;
    if (ActiveRules().oven_needs_on_phases) {
        DiscardOvenOnPhasePulses(subband);
    } else {
        subband.UpdateFilter(0, CONST_SUBBAND_LAST_BIN, PULSE_DISCARD);
    }
    std::cout << "MicrowaveAnalyser:: drift info " << subband.curr_freq << " " << drift.peak_index
              << " " << drift.peak_rssi << "adding " << mac_address << " 0 MWO pulses" << std::endl;
    SortPulses(subband.completed_pulses_list, StartTime);
}

}  // namespace

MicrowaveAnalyser::MicrowaveAnalyser(int debug_id) : debug_id(debug_id) {}

void MicrowaveAnalyser::ComputeMetrics(std::list<SubBand>& subband_list,
                                       std::list<SubBand>::iterator beginIt,
                                       std::string mac_address) const {
    ChannelCounts counts(GetNumSubbandFreq());
    for (auto it = beginIt; it != subband_list.end(); ++it) {
        CountSubband(*it, debug_id, &counts);
    }
    ChosenChannels chosen = ChooseChannels(counts);
    for (auto it = beginIt; it != subband_list.end(); ++it) {
        ClaimSubband(*it, mac_address, &chosen);
    }
    // One oven per chosen channel, spanning the whole history.
    for (auto& entry : chosen) {
        MicrowaveMetrics& metrics = entry.second;
        if (metrics.count == 0) {
            continue;
        }
        metrics.center_bin = metrics.center_bin / metrics.count;
        metrics.rssi = metrics.rssi / static_cast<float>(metrics.count);
        metrics.count = 1;
        std::cout << "Adding Microwave at: " << entry.first << "\n";
        AddMicrowaveDevice(subband_list.front().start_time, subband_list.back().end_time,
                           static_cast<float>(metrics.center_bin), metrics.rssi, entry.first);
    }
}

void MicrowaveAnalyser::AddMicrowaveDevice(u64 start_time, u64 end_time, float center_bin,
                                           float rssi, float curr_freq) const {
    const std::vector<float> interferer_info_tuple = {
        center_bin, 0.0f, static_cast<float>(CONST_SUBBAND_LAST_BIN),
        static_cast<float>(CONST_SUBBAND_NUM_BINS), fabsf(rssi)};
    std::vector<FixedFreqInterferer> devices;
    devices.emplace_back(interferer_info_tuple, start_time, end_time, curr_freq, PULSE_MWO);
    timeval now;
    GetHostTime(&now);
    devices.back().set_host_start_time(now);
    devices.back().set_host_end_time(now);
    DeviceAnalyzer::AddNewDevices(devices);
}
