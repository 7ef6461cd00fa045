// Fixed-frequency device record: a device that stays on one band is
// recognised again by its class and by overlapping occupied bins, compared in
// one subband's bin frame (subbands up to 15 MHz apart still overlap).
#include "fixedfreq_interferer_class.h"

#include "rule_set.h"

#include <algorithm>
#include <cmath>
#include <iostream>
#include <sstream>

#include "fh_interferer_class.h"
#include "host_clock.h"

namespace {

constexpr float MAX_MATCH_CFREQ_DISTANCE = 15.0f;  // MHz between subband centres
constexpr double BIN_WIDTH_MHZ = 0.3125;

float InfoAt(const std::vector<float>& info, size_t index) {
    return index < info.size() ? info[index] : 0.0f;
}

// Bit of the channel view centred on freq_mhz; 0 for a frequency that is
// not one of the card's centres.
unsigned ViewBit(float freq_mhz) {
    for (int k = 0; k < CONST_NUM_SUBBAND_FREQS; k++) {
        if (CONST_CENTER_FREQUENCIES[k] == freq_mhz) {
            return 1u << k;
        }
    }
    return 0u;
}

}  // namespace

FixedFreqInterferer::FixedFreqInterferer(std::vector<float> interferer_info_tuple, u64 start_timeIn,
                                         u64 end_timeIn, float subband_freq,
                                         PulseType classificationIn)
    : start_time(start_timeIn),
      end_time(end_timeIn),
      count_instances(1),
      band_cfreq(subband_freq),
      center_bin_number(static_cast<int>(InfoAt(interferer_info_tuple, 0))),
      start_bin_number(static_cast<int>(InfoAt(interferer_info_tuple, 1))),
      end_bin_number(static_cast<int>(InfoAt(interferer_info_tuple, 2))),
      bandwidth(InfoAt(interferer_info_tuple, 3)),
      peak_rssi(InfoAt(interferer_info_tuple, 4)),
      host_start_time{0, 0},
      host_end_time{0, 0},
      classification(classificationIn),
      views_seen(ViewBit(subband_freq)) {
    if (interferer_info_tuple.size() < 5) {
        std::cerr << "Warning... FixedFreqInterferer: information list has "
                  << interferer_info_tuple.size() << " entries, expected 5\n";
    }
}

int FixedFreqInterferer::GetHostDuration() const {
    return static_cast<int>(host_end_time.tv_sec - host_start_time.tv_sec);
}

int FixedFreqInterferer::ViewsSeen() const {
    int views = 0;
    for (unsigned bits = views_seen; bits != 0; bits &= bits - 1) {
        views++;
    }
    return views;
}

bool FixedFreqInterferer::IsMatchingClassification(
    const FixedFreqInterferer& new_interferer) const {
    return classification == new_interferer.classification;
}

bool FixedFreqInterferer::IsMatchingBins(const FixedFreqInterferer& new_interferer) const {
    std::cout << band_cfreq << " " << new_interferer.band_cfreq;
    const float cfreq_diff = band_cfreq - new_interferer.band_cfreq;
    if (std::fabs(cfreq_diff) > MAX_MATCH_CFREQ_DISTANCE) {
        std::cout << "FixedFreqInterferer::IsMatchingInterferer Classification false2 band_cfreq: "
                  << band_cfreq << " " << new_interferer.band_cfreq << "\n";
        return false;
    }
    if (band_cfreq == new_interferer.band_cfreq) {
        if (new_interferer.start_bin_number <= end_bin_number &&
            new_interferer.end_bin_number >= start_bin_number) {
            return true;
        }
        std::cout << "FixedFreqInterferer::IsMatchingInterferer Classification false4: "
                  << center_bin_number << " other " << new_interferer.center_bin_number << "\n";
        return false;
    }
    // Move the new band into this record's frame.
    const float shift_mhz = new_interferer.band_cfreq - band_cfreq;
    const int gap = static_cast<int>(static_cast<double>(shift_mhz) / BIN_WIDTH_MHZ);
    const int new_start = new_interferer.start_bin_number + gap;
    const int new_end = new_interferer.end_bin_number + gap;
    const bool start_inside = new_start >= start_bin_number && new_start <= end_bin_number;
    const bool end_inside = new_end >= start_bin_number && new_end <= end_bin_number;
    if (start_inside || end_inside) {
        return true;
    }
    std::cout << "FixedFreqInterferer::IsMatchingInterferer Classification false3 band_cfreq: "
              << band_cfreq << " " << start_bin_number << " " << end_bin_number << " "
              << new_interferer.band_cfreq << " " << new_start << " " << new_end << "\n";
    return false;
}

bool FixedFreqInterferer::IsMatchingInterferer(const FixedFreqInterferer& new_interferer) const {
    if (IsMatchingClassification(new_interferer) ||
        new_interferer.classification == PULSE_UNK_HIGHDUTY) {
        // A microwave oven covers the whole subband: any instance is the same oven.
        if (classification == PULSE_MWO) {
            // Refined: but an oven is off half of every mains cycle, so a
            // band on the air nearly all the time is another device.
            return !ActiveRules().oven_needs_on_phases ||
                   new_interferer.classification == PULSE_MWO;
        }
        return IsMatchingBins(new_interferer);
    }
    std::cout << "FixedFreqInterferer::IsMatchingInterferer Classification false1 classification: "
              << static_cast<int>(new_interferer.classification) << " "
              << static_cast<int>(classification) << "\n";
    return false;
}

void FixedFreqInterferer::UpdateDeviceInfo(const FixedFreqInterferer& new_interferer) {
    start_time = std::min(start_time, new_interferer.start_time);
    end_time = std::max(end_time, new_interferer.end_time);
    count_instances += new_interferer.count_instances;
    views_seen |= new_interferer.views_seen;
    host_start_time = EarlierHostTime(host_start_time, new_interferer.host_start_time);
    host_end_time = LaterHostTime(host_end_time, new_interferer.host_end_time);

    // Keep the spectral description of the strongest sighting, all from that
    // one observation: it was most likely taken from the subband nearest the
    // device, so its band is the least clipped by a subband edge, and bins,
    // centre frequency and power stay mutually consistent.
    if (peak_rssi > new_interferer.peak_rssi) {
        std::cout << "UpdateDeviceInfo: " << peak_rssi << " " << new_interferer.peak_rssi << "\n";
        bandwidth = new_interferer.bandwidth;
        start_bin_number = new_interferer.start_bin_number;
        center_bin_number = new_interferer.center_bin_number;
        end_bin_number = new_interferer.end_bin_number;
        peak_rssi = new_interferer.peak_rssi;
        band_cfreq = new_interferer.band_cfreq;
    }
}

void FixedFreqInterferer::UpdateInterfererInstance(const FixedFreqInterferer& new_interferer) {
    // An unnamed high-duty sighting confirms the device without renaming it.
    if (new_interferer.classification != PULSE_UNK_HIGHDUTY) {
        classification = new_interferer.classification;
    }
    UpdateDeviceInfo(new_interferer);
}

std::string FixedFreqInterferer::toString() const {
    timeval now{};
    GetHostTime(&now);
    std::ostringstream line;
    line << "Fixed: " << now.tv_sec << " " << FormatLocalTime(now) << " "
         << static_cast<int>(classification) << " " << static_cast<int>(band_cfreq) << " "
         << start_bin_number << " " << center_bin_number << " " << end_bin_number << " "
         << host_start_time.tv_sec << " " << host_end_time.tv_sec << " " << GetHostDuration() << " "
         << -static_cast<double>(peak_rssi) << "\n";
    return line.str();
}
