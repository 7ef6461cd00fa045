// One pulse: a burst of RF energy seen in one 20 MHz subband, with its card
// time span, inclusive bin range, peak and mean power; and the
// classification codes that pulses and detected devices carry.
#ifndef TESSARON_PULSE_CLASS_H
#define TESSARON_PULSE_CLASS_H

#include <algorithm>
#include <array>
#include <cstdlib>
#include <string>
#include <utility>
#include <vector>

#include "script_utils_module.h"

class SubBand;

// Held in two bytes: a busy window keeps a million pulses.
enum PulseType : int16_t {
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

// A pulse as one sample shows it: its band and strongest bin, and the widest
// band it showed within one sample.
struct PulseSighting {
    int start_bin;
    int end_bin;
    int center_bin;
    int widest_width;
};

class RssiPulse {
public:
    using Profile = std::array<uint8_t, CONST_SUBBAND_NUM_BINS>;

    // A busy window holds about a million pulses, so a pulse is kept to 48
    // bytes: bins (0 to 55) and the class fit in two bytes each.
    SubBand* parent;
    u64 start_time;
    u64 end_time;
    float subband_center_freq;  // kHz
    int reading_counts;
    float peak_rssi;
    float average_pulse_rssi;
    // Bins run 0 to 55: a byte each, kept as int16_t bit-fields so that they
    // print and compute as numbers.
    int16_t start_bin_number : 8;
    int16_t end_bin_number : 8;
    int16_t center_bin_number : 8;
    // Widest band (last bin - first bin) the pulse showed within one
    // sample: a wideband frame is that wide at once, a drifting carrier
    // only grows that wide over time.
    int16_t widest_sample_width : 8;
    PulseType classification;
    // The main lobe of the pulse's strongest-value profile, measured when it
    // ends (refined rules only, else 0): the bins from the first to the last
    // standing within RuleSet::lobe_depth_db of its top, and their
    // power-weighted centre in quarter bins. Both follow the emitter's own
    // level, so a weak frame and a strong one measure alike.
    // Six bits hold any width of a 56-bin view.
    uint8_t lobe_width : 6;
    // Believed by the power of 2-3 adjacent bins together, persisting: its
    // strongest bin alone may stand little over the join level.
    uint8_t believed_by_band : 1;
    // Believed by the power of 4-5 adjacent bins together: evidence for the
    // game controller's wider packet only.
    uint8_t believed_by_wide_band : 1;
    uint8_t lobe_centre_q;

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

    PulseType get_classification() const { return classification; }
    void set_classification(PulseType type) { classification = type; }
    float GetAveragePulseRssi() const { return average_pulse_rssi; }
    u64 GetPulseDuration() const { return end_time - start_time; }

    PulseSighting Sighting() const {
        return {start_bin_number, end_bin_number, center_bin_number, widest_sample_width};
    }
    // Whether a pulse seen in a later sample continues this one.
    bool IsMatchingPulse(const PulseSighting& seen) const;
    bool IsMatchingPulse(const RssiPulse& new_pulse) const {
        return IsMatchingPulse(new_pulse.Sighting());
    }
    // Continues the pulse with what the sample new_row, taken at seen_at,
    // showed of it. profile is this pulse's strongest value per bin (whole
    // dB below 1 mW), kept by the caller and updated here.
    // floor_dbm is the subband's join floor, from which the band regrows.
    void UpdatePulse(const PulseSighting& seen, u64 seen_at, Profile& profile,
                     const Profile& new_row, float floor_dbm);
    void UpdatePulse(const RssiPulse& new_pulse, Profile& profile, const Profile& new_row,
                     float floor_dbm = static_cast<float>(CONST_NOISE_FLOOR_RSSI)) {
        UpdatePulse(new_pulse.Sighting(), new_pulse.end_time, profile, new_row, floor_dbm);
    }
    // The same for a pulse whose band is the one grown from its profile
    // around its peak, as every pulse the subband builds and continues: when
    // the sample strengthens no bin, the band stays as it is without being
    // grown again.
    void ContinueGrownPulse(const PulseSighting& seen, u64 seen_at, Profile& profile,
                            const Profile& new_row, float floor_dbm);
    // The mean power over the pulse's bins of its profile, and its main
    // lobe under the refined rules.
    void EndPulse(const Profile& profile);
    // Sets lobe_width and lobe_centre_q from the profile over the band.
    void MeasureLobe(const Profile& profile, float depth_db);
    bool IsOverlappingBinRange(const int& check_start_bin, const int& check_end_bin) const;
    // Card times are printed less offset (the subband's sync offset).
    std::string toString(u64 offset = 0) const;
    static std::string getClassification(PulseType type);

private:
    // Widens the band by the sighting's and keeps the strongest value per
    // bin over it, moving the peak; returns the bins the sample
    // strengthened, a bit each.
    uint64_t MergeSighting(const PulseSighting& seen, u64 seen_at, Profile& profile,
                           const Profile& new_row);
    // The band grown from the peak over the profile (standard rules).
    void RegrowBand(const Profile& profile, float floor_dbm);
};

static_assert(sizeof(RssiPulse) <= 48, "a pulse stays within 48 bytes");

// Inline: the subband asks it of every active pulse for every pulse a sample
// shows.
inline bool RssiPulse::IsMatchingPulse(const PulseSighting& seen) const {
    const bool overlapping = start_bin_number <= seen.end_bin && end_bin_number >= seen.start_bin;
    const bool neighbouring_centres = std::abs(center_bin_number - seen.center_bin) <= 1;
    if (!overlapping && !neighbouring_centres) {
        return false;
    }
    // A pulse one or two bins wide is too narrow to tell whether the new
    // centre lies inside it; any adjacent pulse continues it.
    if (end_bin_number - start_bin_number <= 1) {
        return true;
    }
    return start_bin_number <= seen.center_bin && seen.center_bin <= end_bin_number;
}

// Moves the pulse at order[i] to position i, following each cycle of the
// permutation once so that every pulse moves once and nothing is allocated
// for them; order is left as the identity.
template <typename Index>
void PermutePulses(std::vector<RssiPulse>& pulses, std::vector<Index>& order) {
    for (size_t i = 0; i < pulses.size(); ++i) {
        if (order[i] == i) {
            continue;
        }
        RssiPulse held = std::move(pulses[i]);
        size_t j = i;
        for (;;) {
            const size_t from = order[j];
            order[j] = static_cast<Index>(j);
            if (from == i) {
                pulses[j] = std::move(held);
                break;
            }
            pulses[j] = std::move(pulses[from]);
            j = from;
        }
    }
}

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
    PermutePulses(pulses, order);
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
