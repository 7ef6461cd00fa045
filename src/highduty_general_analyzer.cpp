// High-duty fixed-frequency devices. An analog cordless phone is a narrow FM
// carrier on the air nearly 100 % of the time: a band of a few bins with a
// duty cycle near 1 whose shape fits the stored analog-phone signature. A
// wireless video sender is a continuous, wide (more than 29 bins, ~9 MHz)
// transmission whose shape fits the video signature. Anything else on the
// air more than 95 % of the time is an unknown high-duty device.
#include "highduty_general_analyzer.h"

#include <sys/time.h>

#include <algorithm>
#include <cmath>
#include <iostream>
#include <map>

#include "carrier_width_rule.h"
#include "device_analyzer.h"
#include "fixedfreq_interferer_class.h"
#include "host_clock.h"
#include "rule_set.h"

// Levels of a subband's averaged spectrum (dBm) a high-duty band must reach
// at its peak and stays above at its edges: fixed under the standard rules,
// above the subband's measured noise under the refined ones. A band whose
// peak lies between weak_peak_dbm and peak_dbm is judged only once shown to
// be continuous.
struct AverageFloors {
    float peak_dbm;
    float weak_peak_dbm;
    float edge_dbm;
    float noise_dbm;
    // Level whose passing the subband's duty counts (dBm).
    float duty_level_dbm;
};

namespace {

constexpr double ANALOG_DUTY_THETA = 0.95;      // rule 1: duty and signature fit
constexpr double ANALOG_MAX_THETA = 0.04;       // rad
constexpr double ANALOG_DUTY_NARROW = 0.985;    // rule 2: near-continuous and narrow
constexpr double ANALOG_MAX_WEIGHTED_BW = 4.5;  // bins
constexpr double ANALOG_DUTY_TINY = 0.8;        // rule 3: a carrier only a few bins wide
constexpr int ANALOG_MAX_NORM_BW = 4;           // bins (exclusive)
constexpr int VIDEO_MIN_NORM_BW = 29;           // bins (exclusive)
constexpr double VIDEO_MAX_THETA = 0.005;       // rad
constexpr double VIDEO_DUTY_MAX = 0.9;
constexpr double VIDEO_MIN_WEIGHTED_BW = 4.5;
constexpr double VIDEO_DUTY_AVG = 0.2;
constexpr double UNKNOWN_DUTY_MAX = 0.95;
// The angle handed back for a class without stored shapes; it fails every
// theta condition, as a device with an empty signature record does.
constexpr float MISSING_SIGNATURE_THETA = 1000.0f;

// The level the duty counter compares each sample with: a stored value at or
// under the largest whole number below the adaptive floor counts, i.e. a
// power over minus (that number + 1) dBm.
float DutyLevelDbm(const SubBand& subband) {
    const float nf = GetAdaptiveNF(subband.avg_nf, static_cast<float>(CONST_NOISE_FLOOR_RSSI));
    const int whole = static_cast<int>(nf);
    const int limit = static_cast<float>(whole) < nf ? whole : whole - 1;
    return -static_cast<float>(limit + 1);
}

AverageFloors HighDutyFloors(const SubBand& subband) {
    const RuleSet& rules = ActiveRules();
    if (!rules.floor_follows_noise) {
        return {static_cast<float>(CONST_MIN_PEAK_RSSI_HIGHDUTY),
                static_cast<float>(CONST_MIN_PEAK_RSSI_HIGHDUTY),
                static_cast<float>(CONST_NF_HIGHDUTY), 0.0f, 0.0f};
    }
    const float noise_dbm = std::min(subband.noise_mean_dbm, rules.max_noise_dbm);
    const float peak_dbm = noise_dbm + rules.highduty_peak_margin_db;
    const float weak_peak_dbm = rules.highduty_continuity_from_level
                                    ? noise_dbm + rules.highduty_weak_peak_margin_db
                                    : peak_dbm;
    return {peak_dbm, weak_peak_dbm, noise_dbm + rules.highduty_edge_margin_db, noise_dbm,
            DutyLevelDbm(subband)};
}

// Whether a band is on the air all the time: a duty over 95 %, or refined,
// an on-share inferred from its peak's level and duty.
bool IsContinuous(const HighDutyMetrics& m, const std::vector<float>& db_avg_list,
                  const AverageFloors& floors) {
    if (static_cast<double>(m.duty_max) > UNKNOWN_DUTY_MAX) {
        return true;
    }
    const RuleSet& rules = ActiveRules();
    if (!rules.highduty_continuity_from_level) {
        return false;
    }
    const OnShare on = OnShareOfBin(db_avg_list[static_cast<size_t>(m.norm_cfreq_bin)], m.duty_max,
                                    floors.noise_dbm, floors.duty_level_dbm);
    std::cout << "HighDutyAnalyzer: on-share " << on.share
              << (on.informative ? "" : " (no evidence)") << "\n";
    return on.informative && on.share >= rules.highduty_min_on_share;
}

// A band peaking at the edge of the view that faces another channel's view.
bool IsSkirtOfNeighbour(const HighDutyMetrics& m, float centre_freq) {
    const bool lowest_view = centre_freq == CONST_CENTER_FREQUENCIES[0];
    const bool highest_view = centre_freq == CONST_CENTER_FREQUENCIES[CONST_NUM_SUBBAND_FREQS - 1];
    // Refined: a peak one bin inside a band that runs into the edge too.
    const int reach = ActiveRules().skirt_peak_beside_edge ? 1 : 0;
    return (m.norm_cfreq_bin <= reach && m.norm_start_bin == 0 && !lowest_view) ||
           (m.norm_cfreq_bin >= CONST_SUBBAND_LAST_BIN - reach &&
            m.norm_end_bin == CONST_SUBBAND_LAST_BIN && !highest_view);
}

// One band of one subband as a device record, stamped with the host time.
FixedFreqInterferer Sighting(const HighDutyMetrics& m, const SubBand& subband, PulseType dev_id) {
    const std::vector<float> interferer_info_tuple = {
        static_cast<float>(m.norm_cfreq_bin), static_cast<float>(m.norm_start_bin),
        static_cast<float>(m.norm_end_bin), static_cast<float>(m.norm_bw),
        static_cast<float>(std::abs(m.norm_cfreq_rssi))};
    FixedFreqInterferer device(interferer_info_tuple, subband.start_time, subband.end_time,
                               subband.curr_freq, dev_id);
    timeval now;
    GetHostTime(&now);
    device.set_host_start_time(now);
    device.set_host_end_time(now);
    return device;
}

float LookUpTheta(const HighDutyMetrics& metrics, PulseType device) {
    const auto it = metrics.mintheta_map.find(device);
    return it == metrics.mintheta_map.end() ? MISSING_SIGNATURE_THETA : it->second;
}

// Whether a weak band's power over the noise shows in a bin beside its peak.
// Any transmitter seen through the card's windowed FFT does: a tone on a bin
// centre still puts a quarter of its power (-6 dB) in each neighbour. A bin
// whose floor alone stands high (a spur of the receiver) does not.
bool LeaksIntoNeighbour(const HighDutyMetrics& m, const std::vector<float>& db_avg_list,
                        const AverageFloors& floors) {
    const float told_apart = floors.noise_dbm - NOISE_AVERAGE_BELOW_MEAN_DB + EXCESS_FLOOR_DB;
    const int last = static_cast<int>(db_avg_list.size()) - 1;
    for (const int b : {m.norm_cfreq_bin - 1, m.norm_cfreq_bin + 1}) {
        if (b >= 0 && b <= last && db_avg_list[static_cast<size_t>(b)] >= told_apart) {
            return true;
        }
    }
    return false;
}

// Whether a band meets bins stronger than its peak before its level falls
// to the noise: a weak band there is the ripple or the skirt of that
// stronger emitter, which is judged with its own band.
bool AbutsStrongerBand(const HighDutyMetrics& m, const std::vector<float>& db_avg_list,
                       const AverageFloors& floors) {
    const float told_apart = floors.noise_dbm - NOISE_AVERAGE_BELOW_MEAN_DB + EXCESS_FLOOR_DB;
    const float peak = db_avg_list[static_cast<size_t>(m.norm_cfreq_bin)];
    const int last = static_cast<int>(db_avg_list.size()) - 1;
    for (const int step : {-1, 1}) {
        for (int b = m.norm_cfreq_bin + step; b >= 0 && b <= last; b += step) {
            const float v = db_avg_list[static_cast<size_t>(b)];
            if (v < told_apart) {
                break;
            }
            if (v > peak) {
                return true;
            }
        }
    }
    return false;
}

// The class the width alone gives a continuous carrier (refined), or
// PULSE_NONE.
PulseType ClassByWidth(const HighDutyMetrics& m, const std::vector<float>& db_avg_list,
                       const AverageFloors& floors, bool continuous) {
    const RuleSet& rules = ActiveRules();
    if (!rules.carrier_width_decides) {
        return PULSE_NONE;
    }
    if (!rules.carrier_width_over_noise) {
        return CarrierClassByWidth(m, db_avg_list, floors.edge_dbm);
    }
    if (!continuous && m.duty_max < CARRIER_MIN_DUTY) {
        return PULSE_NONE;
    }
    return CarrierClassOverNoise(m, db_avg_list, floors.noise_dbm);
}

// An analog phone's sighting: its band cut to its line (refined), the bins
// within 15 dB of the peak and above the noise.
HighDutyMetrics LineOfPhone(const HighDutyMetrics& m, const std::vector<float>& db_avg_list,
                            const AverageFloors& floors) {
    if (!ActiveRules().analog_band_is_its_line) {
        return m;
    }
    const BinSpan line =
        SpanWithin(db_avg_list, m.norm_cfreq_bin, CARRIER_WIDTH_DROP_DB, floors.edge_dbm);
    HighDutyMetrics cut = m;
    cut.norm_start_bin = std::max(m.norm_start_bin, line.low);
    cut.norm_end_bin = std::min(m.norm_end_bin, line.high);
    cut.norm_bw = cut.norm_end_bin - cut.norm_start_bin + 1;
    return cut;
}

}  // namespace

HighDutyAnalyzer::HighDutyAnalyzer(int debug_id) : debug_id(debug_id) {}

void HighDutyAnalyzer::ComputeMetrics(std::list<SubBand>& subband_list,
                                      std::list<SubBand>::iterator beginIt) const {
    std::vector<FixedFreqInterferer> temp_devices;
    std::vector<FixedFreqInterferer> skirts;
    for (auto it = beginIt; it != subband_list.end(); ++it) {
        JudgeSubband(*it, temp_devices, skirts);
    }
    std::vector<FixedFreqInterferer> final_devices;
    ConsolidateNewDevices(temp_devices, final_devices);
    CountSkirtViews(skirts, final_devices);
    DeviceAnalyzer::AddNewDevices(final_devices);
}

void HighDutyAnalyzer::JudgeSubband(SubBand& subband, std::vector<FixedFreqInterferer>& devices,
                                    std::vector<FixedFreqInterferer>& skirts) const {
    std::vector<float> db_avg_list;
    db_avg_list.reserve(subband.db_avg_list.size());
    for (float v : subband.db_avg_list) {
        db_avg_list.push_back(-fabsf(v));
    }
    std::vector<HighDutyMetrics> highdutymetrics_list;
    const AverageFloors floors = HighDutyFloors(subband);
    ShapeMetrics::ObtainShapeMetrics(db_avg_list, subband.duty_avg_list,
                                     static_cast<int>(std::lround(floors.weak_peak_dbm)),
                                     highdutymetrics_list, floors.edge_dbm);
    for (const HighDutyMetrics& m : highdutymetrics_list) {
        // Refined bands already stand above the measured noise.
        if (!ActiveRules().floor_follows_noise && m.norm_cfreq_rssi <= CONST_NOISE_FLOOR_RSSI) {
            continue;
        }
        const bool strong = !(db_avg_list[static_cast<size_t>(m.norm_cfreq_bin)] <
                              static_cast<float>(std::lround(floors.peak_dbm)));
        const bool continuous = IsContinuous(m, db_avg_list, floors);
        // Under the strong floor only a continuous band is anyone's: the
        // rest is traffic, hoppers or the noise, and is left to the pulses.
        if (!strong && !(continuous && LeaksIntoNeighbour(m, db_avg_list, floors) &&
                         !AbutsStrongerBand(m, db_avg_list, floors))) {
            continue;
        }
        if (ActiveRules().skirts_left_to_neighbour && IsSkirtOfNeighbour(m, subband.curr_freq)) {
            // Its fragments are still the neighbour's emitter: set aside, not
            // taken for hops.
            subband.UpdateFilter(m.norm_start_bin, m.norm_end_bin, PULSE_DISCARD);
            if (ActiveRules().skirts_count_as_views && continuous) {
                skirts.push_back(Sighting(m, subband, PULSE_DISCARD));
            }
            continue;
        }
        PrintMetrics(subband, m);
        const char* message = nullptr;
        const PulseType device = Decide(m, db_avg_list, floors, continuous, &message);
        if (device == PULSE_NONE) {
            continue;
        }
        std::cout << message << std::endl;
        AddDetectedDevice(device == PULSE_ANALOGPHONE ? LineOfPhone(m, db_avg_list, floors) : m,
                          subband, devices, device);
        subband.UpdateFilter(m.norm_start_bin, m.norm_end_bin, device);
    }
}

PulseType HighDutyAnalyzer::Decide(const HighDutyMetrics& m, const std::vector<float>& db_avg_list,
                                   const AverageFloors& floors, bool continuous,
                                   const char** message) const {
    float mintheta_analog = 0.0f;
    float mintheta_videocam = 0.0f;
    const bool decision_analog =
        IsAnalogphonePresent(m, mintheta_analog) &&
        (!ActiveRules().analog_needs_narrow_line || IsNarrowLine(m, db_avg_list, floors.edge_dbm));
    const bool decision_videocam = IsVideocamPresent(m, mintheta_videocam);
    std::cout << "analog: " << decision_analog << " videocam: " << decision_videocam
              << " mintheta_analog: " << mintheta_analog
              << " mintheta_videocam: " << mintheta_videocam << "\n";
    const PulseType by_width = ClassByWidth(m, db_avg_list, floors, continuous);
    if (by_width == PULSE_VIDEOCAM) {
        *message = "HighDutyAnalyzer: videocam detected...";
        return PULSE_VIDEOCAM;
    }
    if (by_width == PULSE_ANALOGPHONE) {
        *message = "HighDutyAnalyzer: analogphone detected...";
        return PULSE_ANALOGPHONE;
    }
    if (mintheta_analog < mintheta_videocam && decision_analog) {
        *message = "HighDutyAnalyzer: analogphone1 detected...";
        return PULSE_ANALOGPHONE;
    }
    if (decision_videocam) {
        *message = "HighDutyAnalyzer: videocam detected...";
        return PULSE_VIDEOCAM;
    }
    if (decision_analog) {
        *message = "HighDutyAnalyzer: analogphone detected...";
        return PULSE_ANALOGPHONE;
    }
    if (continuous) {
        *message = "HighDutyAnalyzer: unknown_high_duty_dev detected...";
        return PULSE_UNK_HIGHDUTY;
    }
    return PULSE_NONE;
}

bool HighDutyAnalyzer::IsAnalogphonePresent(const HighDutyMetrics& highduty_metrics,
                                            float& mintheta_analog) const {
    mintheta_analog = LookUpTheta(highduty_metrics, PULSE_ANALOGPHONE);
    const double duty_max = highduty_metrics.duty_max;
    const double theta = mintheta_analog;
    return (duty_max > ANALOG_DUTY_THETA && theta <= ANALOG_MAX_THETA) ||
           (duty_max > ANALOG_DUTY_NARROW &&
            highduty_metrics.weighted_bw <= ANALOG_MAX_WEIGHTED_BW) ||
           (duty_max >= ANALOG_DUTY_TINY && highduty_metrics.norm_bw < ANALOG_MAX_NORM_BW);
}

bool HighDutyAnalyzer::IsVideocamPresent(const HighDutyMetrics& highduty_metrics,
                                         float& mintheta_videocam) const {
    mintheta_videocam = LookUpTheta(highduty_metrics, PULSE_VIDEOCAM);
    const double theta = mintheta_videocam;
    if (highduty_metrics.norm_bw <= VIDEO_MIN_NORM_BW || theta > VIDEO_MAX_THETA) {
        return false;
    }
    return static_cast<double>(highduty_metrics.duty_max) > VIDEO_DUTY_MAX ||
           highduty_metrics.weighted_bw > VIDEO_MIN_WEIGHTED_BW ||
           static_cast<double>(highduty_metrics.duty_avg) >= VIDEO_DUTY_AVG;
}

void HighDutyAnalyzer::PrintMetrics(const SubBand& subband,
                                    const HighDutyMetrics& highduty_metrics) const {
    const HighDutyMetrics& m = highduty_metrics;
    std::string line = (debug_id & 2) ? "HIGHDUTY 1" : "HIGHDUTY 0";
    int k = 0;
    auto add = [&line, &k](const std::string& value) { line += " " + inttostr(++k) + ":" + value; };
    add(floattostr(subband.curr_freq));
    add(u64tostr(subband.start_time));
    add(u64tostr(subband.GetBandDuration()));
    add(inttostr(static_cast<int>(subband.num_rows)));
    add(inttostr(m.norm_cfreq_bin));
    add(inttostr(m.norm_cfreq_rssi));
    add(inttostr(m.norm_bw));
    add(inttostr(m.weighted_cfreq_bin));
    add(inttostr(m.weighted_cfreq_rssi));
    add(inttostr(m.weighted_bw));
    add(floattostr(m.duty_max));
    add(floattostr(m.duty_avg));
    for (const auto& entry : m.mintheta_map) {
        add(inttostr(static_cast<int>(entry.first)));
        add(floattostr(entry.second));
    }
    std::cout << line << std::endl;
}

void HighDutyAnalyzer::AddDetectedDevice(const HighDutyMetrics& highduty_metrics,
                                         SubBand& subband_object,
                                         std::vector<FixedFreqInterferer>& devices,
                                         PulseType dev_id) const {
    std::cout << "HighDutyAnalyzer::AddDetectedDevice: " << highduty_metrics.norm_cfreq_rssi
              << "\n";
    // Refined: every sighting is kept for the chains (see RuleSet).
    if (ActiveRules().highduty_sightings_chained) {
        devices.push_back(Sighting(highduty_metrics, subband_object, dev_id));
        return;
    }
    HandleNewInstance(devices, Sighting(highduty_metrics, subband_object, dev_id));
}

void HighDutyAnalyzer::HandleNewInstance(std::vector<FixedFreqInterferer>& devices,
                                         const FixedFreqInterferer& new_device) const {
    for (FixedFreqInterferer& device : devices) {
        if (device.IsMatchingClassification(new_device) && device.IsMatchingBins(new_device)) {
            device.UpdateInterfererInstance(new_device);
            return;
        }
    }
    devices.push_back(new_device);
}

namespace {

// Folds device into the first of devices over the same bins, or adds it. With
// takes_class, the class seen more often names the merged band.
void MergeByBins(std::vector<FixedFreqInterferer>& devices, const FixedFreqInterferer& device,
                 bool takes_class) {
    const auto same_bins =
        std::find_if(devices.begin(), devices.end(),
                     [&device](const FixedFreqInterferer& d) { return d.IsMatchingBins(device); });
    if (same_bins == devices.end()) {
        devices.push_back(device);
        return;
    }
    if (takes_class && same_bins->count_instances < device.count_instances) {
        same_bins->classification = device.classification;
    }
    same_bins->UpdateDeviceInfo(device);
}

}  // namespace

void HighDutyAnalyzer::CountSkirtViews(const std::vector<FixedFreqInterferer>& skirts,
                                       std::vector<FixedFreqInterferer>& devices) const {
    for (FixedFreqInterferer& device : devices) {
        for (const FixedFreqInterferer& skirt : skirts) {
            if (device.IsMatchingBins(skirt)) {
                device.views_seen |= skirt.views_seen;
            }
        }
    }
}

namespace {

// Index of the first sighting of each chain: sightings joined, directly or
// through others, by overlapping bins.
std::vector<size_t> ChainOfEach(const std::vector<FixedFreqInterferer>& sightings) {
    std::vector<size_t> chain(sightings.size());
    for (size_t i = 0; i < sightings.size(); ++i) {
        chain[i] = i;
    }
    const auto root = [&chain](size_t i) {
        while (chain[i] != i) {
            i = chain[i];
        }
        return i;
    };
    for (size_t i = 0; i < sightings.size(); ++i) {
        for (size_t j = i + 1; j < sightings.size(); ++j) {
            if (sightings[i].IsMatchingBins(sightings[j]) ||
                sightings[j].IsMatchingBins(sightings[i])) {
                const size_t a = root(i);
                const size_t b = root(j);
                chain[std::max(a, b)] = std::min(a, b);
            }
        }
    }
    for (size_t i = 0; i < sightings.size(); ++i) {
        chain[i] = root(i);
    }
    return chain;
}

}  // namespace

void HighDutyAnalyzer::ConsolidateNewDevices(const std::vector<FixedFreqInterferer>& devices,
                                             std::vector<FixedFreqInterferer>& new_devices) const {
    if (ActiveRules().highduty_sightings_chained) {
        ConsolidateChains(devices, new_devices);
        return;
    }
    // Known classes first; an unknown high-duty band survives only where no
    // known device overlaps it.
    std::vector<FixedFreqInterferer> unk_devices;
    for (const FixedFreqInterferer& device : devices) {
        if (device.classification == PULSE_UNK_HIGHDUTY) {
            unk_devices.push_back(device);
            continue;
        }
        MergeByBins(new_devices, device, true);
    }
    for (const FixedFreqInterferer& unknown : unk_devices) {
        MergeByBins(new_devices, unknown, false);
    }
    PrintFinalDevices(new_devices);
}

void HighDutyAnalyzer::ConsolidateChains(const std::vector<FixedFreqInterferer>& devices,
                                         std::vector<FixedFreqInterferer>& new_devices) const {
    const std::vector<size_t> chain = ChainOfEach(devices);
    for (size_t head = 0; head < devices.size(); ++head) {
        if (chain[head] != head) {
            continue;
        }
        // One device per chain, named by the known class seen most often
        // (the first on a tie); unknown sightings only confirm it.
        std::map<PulseType, int> votes;
        PulseType named = PULSE_UNK_HIGHDUTY;
        FixedFreqInterferer device = devices[head];
        for (size_t i = head; i < devices.size(); ++i) {
            if (chain[i] != head) {
                continue;
            }
            if (i != head) {
                device.UpdateDeviceInfo(devices[i]);
            }
            const PulseType type = devices[i].classification;
            if (type == PULSE_UNK_HIGHDUTY) {
                continue;
            }
            votes[type] += devices[i].count_instances;
            if (named == PULSE_UNK_HIGHDUTY || votes[type] > votes[named]) {
                named = type;
            }
        }
        device.classification = named;
        new_devices.push_back(device);
    }
    PrintFinalDevices(new_devices);
}

void HighDutyAnalyzer::PrintFinalDevices(const std::vector<FixedFreqInterferer>& new_devices) {
    for (const FixedFreqInterferer& device : new_devices) {
        std::cout << "Final Device: " << getStr(static_cast<int>(device.classification)) << "\n";
    }
}
