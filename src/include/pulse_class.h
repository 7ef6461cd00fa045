// One pulse: a burst of RF energy seen in one 20 MHz subband, with its card
// time span, inclusive bin range, peak and mean power; and the
// classification codes that pulses and detected devices carry.
#ifndef TESSARON_PULSE_CLASS_H
#define TESSARON_PULSE_CLASS_H

#include <algorithm>
#include <array>
#include <string>
#include <utility>
#include <vector>

#include "script_utils_module.h"

class SubBand;

enum PulseType : int32_t {
    PULSE_ANALOGPHONE = 1,
    PULSE_ZIGBEE = 2,
    PULSE_VIDEOCAM = 3,
    PULSE_UNK_HIGHDUTY = 4,
    PULSE_NONE = 100,
    PULSE_FHSSPHONE_LOW_CANDIDATE = 101,
    PULSE_XBOX_CANDIDATE = 102,
    PULSE_XBOX = 103,
    PULSE_FH_DEVICE = 104,
    PULSE_FHSSPHONE_LOW = 105,
    PULSE_FHSSPHONE_HIGH = 106,
    PULSE_BLUETOOTH = 107,
    PULSE_BLUETOOTH_SCO = 108,
    PULSE_MWO = 110,
    PULSE_DISCARD = 112,
    PULSE_UNK_FH = 113,
};

class RssiPulse {
public:
    using Profile = std::array<uint8_t, CONST_SUBBAND_NUM_BINS>;

    SubBand* parent;
    u64 start_time;
    u64 end_time;
    float subband_center_freq;  // kHz
    int start_bin_number;
    int end_bin_number;
    int center_bin_number;
    int reading_counts;
    PulseType classification;
    float peak_rssi;
    float average_pulse_rssi;
    // Widest band (last bin - first bin) the pulse showed within one
    // sample: a wideband frame is that wide at once, a drifting carrier
    // only grows that wide over time.
    int widest_sample_width = 0;

    // The peak is taken from the sample's row at the centre bin. The row
    // itself is not kept: the strongest value per bin matters only while the
    // pulse grows, and the subband holds that profile beside its active
    // pulses (see UpdatePulse), so a busy window's million completed pulses
    // carry no profile.
    RssiPulse(u64 start_time, float subband_center_freq, int start_bin_number, int end_bin_number,
              int center_bin_number, const std::vector<float>& rssi_listIn, SubBand* parent);
    // The same from a row already held as whole-dB bytes.
    RssiPulse(u64 start_time, float subband_center_freq, int start_bin_number, int end_bin_number,
              int center_bin_number, const Profile& row_db, SubBand* parent);
    // A row of powers as whole-dB bytes, saturated to 0..255.
    static Profile ToProfile(const std::vector<float>& row);

    float get_peak_rssi() const { return peak_rssi; }
    u64 get_start_time() const { return start_time; }
    u64 get_end_time() const { return end_time; }
    PulseType get_classification() const { return classification; }
    void set_classification(PulseType type) { classification = type; }
    int get_start_bin_number() const { return start_bin_number; }
    int get_end_bin_number() const { return end_bin_number; }
    int get_center_bin_number() const { return center_bin_number; }
    float GetAveragePulseRssi() const { return average_pulse_rssi; }
    u64 GetPulseDuration() const { return end_time - start_time; }

    bool IsMatchingPulse(const RssiPulse& new_pulse) const;
    // Continues the pulse with new_pulse, seen in the sample new_row.
    // profile is this pulse's strongest value per bin (whole dB below
    // 1 mW), kept by the caller and updated here.
    void UpdatePulse(const RssiPulse& new_pulse, Profile& profile, const Profile& new_row);
    // The mean power over the pulse's bins of its profile.
    void EndPulse(const Profile& profile);
    bool IsOverlappingBinRange(const int& check_start_bin, const int& check_end_bin) const;
    std::string toString() const;
    static std::string getClassification(PulseType type);
};

// Orders pulses exactly as std::sort(begin, end, less) would with less(a, b)
// being key(a) < key(b), equal pulses included: sorting the keys with their
// positions makes the same moves. The keys sit side by side, so a busy
// subband's comparisons stay in cache; each pulse is then moved only once.
template <typename Key>
void SortPulses(std::vector<RssiPulse>& pulses, Key key) {
    const size_t n = pulses.size();
    if (n < 2) {
        return;
    }
    using KeyValue = decltype(key(pulses[0]));
    std::vector<std::pair<KeyValue, size_t>> keyed(n);
    for (size_t i = 0; i < n; ++i) {
        keyed[i] = {key(pulses[i]), i};
    }
    std::sort(keyed.begin(), keyed.end(),
              [](const auto& a, const auto& b) { return a.first < b.first; });
    std::vector<size_t> order(n);
    for (size_t i = 0; i < n; ++i) {
        order[i] = keyed[i].second;
    }
    // Position i takes the pulse at order[i]: follow each cycle once.
    for (size_t i = 0; i < n; ++i) {
        if (order[i] == i) {
            continue;
        }
        RssiPulse held = std::move(pulses[i]);
        size_t j = i;
        for (;;) {
            const size_t from = order[j];
            order[j] = j;
            if (from == i) {
                pulses[j] = std::move(held);
                break;
            }
            pulses[j] = std::move(pulses[from]);
            j = from;
        }
    }
}

// Grows a band outward from the peak over contiguous bins at most
// CONST_BW_THRESHOLD dB weaker than the peak, never stronger than it and not
// weaker than the noise floor; the left side first.
// floor_dbm is the weakest power (dBm) a band bin may have: the fixed
// CONST_NOISE_FLOOR_RSSI unless the subband follows its measured floor.
void GetInterestingBand(const std::vector<float>& sub_band_rssi_list, float peak_rssi,
                        int peak_index, int& start_index, int& end_index,
                        float floor_dbm = CONST_NOISE_FLOOR_RSSI);
void GetInterestingBand(const std::array<uint8_t, CONST_SUBBAND_NUM_BINS>& rssi_list,
                        float peak_rssi, int peak_index, int& start_index, int& end_index,
                        float floor_dbm = CONST_NOISE_FLOOR_RSSI);

#endif
