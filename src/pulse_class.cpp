#include "pulse_class.h"

#include <algorithm>
#include <cstdlib>
#include <iostream>
#include <sstream>

#include "rule_set.h"
#include "subband_class.h"

namespace {

// A sample's bin power is a whole number of dB from 0 to 255 below 1 mW (the
// conversion saturates there), so a byte holds it exactly.
uint8_t ProfileByte(float value) {
    const float above_zero = value > 0.0f ? value : 0.0f;
    return static_cast<uint8_t>(above_zero < 255.0f ? above_zero : 255.0f);
}

}  // namespace

RssiPulse::RssiPulse(u64 start_time, float subband_center_freq, int start_bin_number,
                     int end_bin_number, int center_bin_number,
                     const std::vector<float>& rssi_listIn, SubBand* parent)
    : RssiPulse(start_time, subband_center_freq, start_bin_number, end_bin_number,
                center_bin_number, ToProfile(rssi_listIn), parent) {
    // The peak keeps the row's own value, whole or not.
    if (0 <= center_bin_number && static_cast<size_t>(center_bin_number) < rssi_listIn.size()) {
        peak_rssi = rssi_listIn[static_cast<size_t>(center_bin_number)];
    }
}

RssiPulse::RssiPulse(u64 start_time, float subband_center_freq, int start_bin_number,
                     int end_bin_number, int center_bin_number, const Profile& row_db,
                     SubBand* parent)
    : parent(parent),
      start_time(start_time),
      end_time(start_time),
      subband_center_freq(subband_center_freq * 1000.0f),
      start_bin_number(start_bin_number),
      end_bin_number(end_bin_number),
      center_bin_number(center_bin_number),
      reading_counts(1),
      classification(PULSE_NONE),
      peak_rssi(0 <= center_bin_number && center_bin_number < CONST_SUBBAND_NUM_BINS
                    ? static_cast<float>(row_db[static_cast<size_t>(center_bin_number)])
                    : 0.0f),
      average_pulse_rssi(0.0f),
      widest_sample_width(end_bin_number - start_bin_number) {
    if (parent != nullptr && !parent->sync_offset_available) {
        std::cerr << "sync_offset not available for the subband. Exiting...\n";
        exit(0);
    }
}

RssiPulse::Profile RssiPulse::ToProfile(const std::vector<float>& row) {
    Profile profile{};
    const size_t bins = std::min(row.size(), profile.size());
    for (size_t b = 0; b < bins; b++) {
        profile[b] = ProfileByte(row[b]);
    }
    return profile;
}

bool RssiPulse::IsMatchingPulse(const RssiPulse& new_pulse) const {
    const bool overlapping = start_bin_number <= new_pulse.end_bin_number &&
                             end_bin_number >= new_pulse.start_bin_number;
    const bool neighbouring_centres =
        std::abs(center_bin_number - new_pulse.center_bin_number) <= 1;
    if (!overlapping && !neighbouring_centres) {
        return false;
    }
    // A pulse one or two bins wide is too narrow to tell whether the new
    // centre lies inside it; any adjacent pulse continues it.
    if (end_bin_number - start_bin_number <= 1) {
        return true;
    }
    return start_bin_number <= new_pulse.center_bin_number &&
           new_pulse.center_bin_number <= end_bin_number;
}

void RssiPulse::UpdatePulse(const RssiPulse& new_pulse, Profile& profile, const Profile& new_row) {
    reading_counts += 1;
    end_time = new_pulse.end_time;
    widest_sample_width = std::max(widest_sample_width, new_pulse.widest_sample_width);
    start_bin_number = std::min(start_bin_number, new_pulse.start_bin_number);
    end_bin_number = std::max(end_bin_number, new_pulse.end_bin_number);
    for (int b = start_bin_number; b <= end_bin_number; b++) {
        if (profile[b] > new_row[b]) {
            profile[b] = new_row[b];
            if (static_cast<float>(profile[b]) < peak_rssi) {
                peak_rssi = static_cast<float>(profile[b]);
                center_bin_number = b;
            }
        }
    }
    // Refined: the band is every bin the pulse has covered. Regrowing it
    // from the peak over the strongest-value profile lets a noise-like wide
    // burst shrink to the few bins around one lucky peak.
    if (ActiveRules().floor_follows_noise) {
        return;
    }
    const float floor_dbm =
        parent != nullptr ? parent->JoinFloorDbm() : static_cast<float>(CONST_NOISE_FLOOR_RSSI);
    GetInterestingBand(profile, peak_rssi, center_bin_number, start_bin_number, end_bin_number,
                       floor_dbm);
}

void RssiPulse::EndPulse(const Profile& profile) {
    float sum = 0.0f;
    for (int b = start_bin_number; b <= end_bin_number; b++) {
        sum += static_cast<float>(profile[b]);
    }
    average_pulse_rssi = sum / static_cast<float>(end_bin_number - start_bin_number + 1);
}

bool RssiPulse::IsOverlappingBinRange(const int& check_start_bin, const int& check_end_bin) const {
    return end_bin_number >= check_start_bin && check_end_bin >= start_bin_number;
}

std::string RssiPulse::toString() const {
    const u64 offset = parent != nullptr ? parent->sync_offset : 0;
    std::ostringstream out;
    out << subband_center_freq << " [" << (start_time - offset) % MAX_MAC_TIMESTAMP_VAL << ", "
        << (end_time - offset) % MAX_MAC_TIMESTAMP_VAL << "] [" << start_bin_number << ", "
        << center_bin_number << ", " << end_bin_number << "] " << peak_rssi << " "
        << GetPulseDuration() << " " << static_cast<int>(classification) << " ["
        << "]";
    return out.str();
}

std::string RssiPulse::getClassification(PulseType type) {
    switch (type) {
        case PULSE_ANALOGPHONE:
            return "Analog_Phone";
        case PULSE_ZIGBEE:
            return "Zigbee";
        case PULSE_VIDEOCAM:
            return "Video_Camera";
        case PULSE_UNK_HIGHDUTY:
            return "Unknown_High_Duty_Device";
        case PULSE_XBOX:
            return "XBOX_Console";
        case PULSE_FHSSPHONE_LOW:
            return "FHSS_Phone";
        case PULSE_FHSSPHONE_HIGH:
            return "FHSS_Phone_(Handset)";
        case PULSE_BLUETOOTH:
            return "Bluetooth";
        case PULSE_BLUETOOTH_SCO:
            return "Bluetooth_Streaming";
        case PULSE_MWO:
            return "Microwave_Oven";
        case PULSE_UNK_FH:
            return "Unknown_Hop_Device";
        default:
            return "Unknown_Device_xxx";
    }
}

namespace {

// A neighbour joins the band when it is not stronger than the peak, at most
// CONST_BW_THRESHOLD dB weaker, and not below the noise floor.
bool JoinsBand(float value, float peak_rssi, float floor_dbm) {
    const float floor_value = -floor_dbm;
    return value - peak_rssi <= CONST_BW_THRESHOLD && value <= floor_value &&
           value - peak_rssi >= 0;
}

// The band grown over the first `bins` values of a profile.
template <typename Power>
void GrowBand(const Power* list, int bins, float peak_rssi, int peak_index, int& start_index,
              int& end_index, float floor_dbm) {
    const int last_bin = bins - 1;
    start_index = peak_index;
    for (int i = peak_index - 1; i >= 0; i--) {
        if (!JoinsBand(static_cast<float>(list[i]), peak_rssi, floor_dbm)) {
            break;
        }
        start_index = i;
    }
    end_index = peak_index;
    if (peak_index > 54) {
        return;
    }
    for (int j = peak_index + 1; j <= CONST_SUBBAND_LAST_BIN && j <= last_bin; j++) {
        if (!JoinsBand(static_cast<float>(list[j]), peak_rssi, floor_dbm)) {
            break;
        }
        end_index = j;
    }
}

}  // namespace

void GetInterestingBand(const std::vector<float>& sub_band_rssi_list, float peak_rssi,
                        int peak_index, int& start_index, int& end_index, float floor_dbm) {
    GrowBand(sub_band_rssi_list.data(), static_cast<int>(sub_band_rssi_list.size()), peak_rssi,
             peak_index, start_index, end_index, floor_dbm);
}

void GetInterestingBand(const std::array<uint8_t, CONST_SUBBAND_NUM_BINS>& rssi_list,
                        float peak_rssi, int peak_index, int& start_index, int& end_index,
                        float floor_dbm) {
    GrowBand(rssi_list.data(), CONST_SUBBAND_NUM_BINS, peak_rssi, peak_index, start_index,
             end_index, floor_dbm);
}
