#include "pulse_class.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <sstream>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "byte_row.h"
#include "rule_set.h"

namespace {

// A sample's bin power is a whole number of dB from 0 to 255 below 1 mW (the
// conversion saturates there), so a byte holds it exactly.
uint8_t ProfileByte(float value) {
    const float above_zero = value > 0.0f ? value : 0.0f;
    return static_cast<uint8_t>(above_zero < 255.0f ? above_zero : 255.0f);
}

#if defined(__SSE2__)
// Lowers kept[first..last] to row's values where the row is stronger;
// returns the bins it lowered as bits and their strongest new value in
// strongest_new (left alone when none).
uint64_t StrengthenBand(uint8_t* kept, const uint8_t* row, int first, int last,
                        uint8_t& strongest_new) {
    static_assert(CONST_SUBBAND_NUM_BINS == 56, "three whole vectors and a half");
    const __m128i lanes = _mm_setr_epi8(0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15);
    const __m128i span = _mm_set1_epi8(static_cast<char>(last - first));
    const __m128i none = _mm_set1_epi8(-1);
    __m128i strongest = none;
    uint64_t lowered = 0;
    const auto step = [&](int at, __m128i k, __m128i r) {
        // Lane in the band when (at + lane - first) wraps to at most last - first.
        const __m128i offset =
            _mm_sub_epi8(_mm_add_epi8(lanes, _mm_set1_epi8(static_cast<char>(at))),
                         _mm_set1_epi8(static_cast<char>(first)));
        const __m128i in_band = _mm_cmpeq_epi8(_mm_min_epu8(offset, span), offset);
        const __m128i lower = _mm_min_epu8(r, k);
        const __m128i stronger = _mm_andnot_si128(_mm_cmpeq_epi8(lower, k), in_band);
        strongest = _mm_min_epu8(
            strongest, _mm_or_si128(_mm_and_si128(stronger, r), _mm_andnot_si128(stronger, none)));
        lowered |= static_cast<uint64_t>(static_cast<uint32_t>(_mm_movemask_epi8(stronger))) << at;
        return _mm_or_si128(_mm_and_si128(stronger, r), _mm_andnot_si128(stronger, k));
    };
    for (int at = 0; at < 48; at += 16) {
        __m128i* k = reinterpret_cast<__m128i*>(kept + at);
        _mm_storeu_si128(k, step(at, _mm_loadu_si128(k),
                                 _mm_loadu_si128(reinterpret_cast<const __m128i*>(row + at))));
    }
    __m128i* k = reinterpret_cast<__m128i*>(kept + 48);
    _mm_storel_epi64(k, step(48, _mm_loadl_epi64(k),
                             _mm_loadl_epi64(reinterpret_cast<const __m128i*>(row + 48))));
    lowered &= (1ULL << CONST_SUBBAND_NUM_BINS) - 1;
    // The smallest of the sixteen lanes.
    strongest = _mm_min_epu8(strongest, _mm_srli_si128(strongest, 8));
    strongest = _mm_min_epu8(strongest, _mm_srli_si128(strongest, 4));
    strongest = _mm_min_epu8(strongest, _mm_srli_si128(strongest, 2));
    strongest = _mm_min_epu8(strongest, _mm_srli_si128(strongest, 1));
    if (lowered != 0) {
        strongest_new = static_cast<uint8_t>(_mm_cvtsi128_si32(strongest));
    }
    return lowered;
}
#endif

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
      reading_counts(1),
      peak_rssi(0 <= center_bin_number && center_bin_number < CONST_SUBBAND_NUM_BINS
                    ? static_cast<float>(row_db[static_cast<size_t>(center_bin_number)])
                    : 0.0f),
      average_pulse_rssi(0.0f),
      start_bin_number(static_cast<int16_t>(start_bin_number)),
      end_bin_number(static_cast<int16_t>(end_bin_number)),
      center_bin_number(static_cast<int16_t>(center_bin_number)),
      widest_sample_width(static_cast<int16_t>(end_bin_number - start_bin_number)),
      classification(PULSE_NONE),
      lobe_width(0),
      believed_by_band(0),
      believed_by_wide_band(0),
      lobe_centre_q(0) {}

RssiPulse::Profile RssiPulse::ToProfile(const std::vector<float>& row) {
    Profile profile{};
    const size_t bins = std::min(row.size(), profile.size());
    for (size_t b = 0; b < bins; b++) {
        profile[b] = ProfileByte(row[b]);
    }
    return profile;
}

uint64_t RssiPulse::MergeSighting(const PulseSighting& seen, u64 seen_at, Profile& profile,
                                  const Profile& new_row) {
    reading_counts += 1;
    end_time = seen_at;
    // Bit-fields are compared by value: std::min and std::max would bind
    // references to temporaries of them.
    if (seen.widest_width > widest_sample_width) {
        widest_sample_width = static_cast<int16_t>(seen.widest_width);
    }
    if (seen.start_bin < start_bin_number) {
        start_bin_number = static_cast<int16_t>(seen.start_bin);
    }
    if (seen.end_bin > end_bin_number) {
        end_bin_number = static_cast<int16_t>(seen.end_bin);
    }
    // Over the band the profile keeps each bin's strongest value. The peak
    // moves to the first bin that the sample strengthens beyond it; a bin
    // the sample does not strengthen cannot move it. A strengthened value is
    // below 255, so 255 stands for none.
    uint8_t* kept = profile.data();
    const uint8_t* row = new_row.data();
    const int first = start_bin_number;
    const int last = end_bin_number;
    uint8_t strongest_new = 255;
    uint64_t strengthened = 0;  // bit b: the sample strengthened bin b
    bool wide = false;
#if defined(__SSE2__)
    // A wide band: the whole row sixteen bins a step, bins outside the band
    // left as they were.
    wide = last - first >= 12;
    if (wide) {
        strengthened = StrengthenBand(kept, row, first, last, strongest_new);
    }
#endif
    if (!wide) {
        for (int b = first; b <= last; b++) {
            const bool stronger = row[b] < kept[b];
            strengthened |= static_cast<uint64_t>(stronger) << b;
            strongest_new = stronger && row[b] < strongest_new ? row[b] : strongest_new;
            kept[b] = stronger ? row[b] : kept[b];
        }
    }
    if (strongest_new < 255 && static_cast<float>(strongest_new) < peak_rssi) {
        peak_rssi = static_cast<float>(strongest_new);
        center_bin_number = static_cast<int16_t>(__builtin_ctzll(
            strengthened & byte_row::MaskBetween(row, strongest_new, strongest_new)));
    }
    return strengthened;
}

void RssiPulse::RegrowBand(const Profile& profile, float floor_dbm) {
    int band_start = start_bin_number;
    int band_end = end_bin_number;
    GetInterestingBand(profile, peak_rssi, center_bin_number, band_start, band_end, floor_dbm);
    start_bin_number = static_cast<int16_t>(band_start);
    end_bin_number = static_cast<int16_t>(band_end);
}

// Refined: the band is every bin the pulse has covered. Regrowing it from the
// peak over the strongest-value profile lets a noise-like wide burst shrink to
// the few bins around one lucky peak.
void RssiPulse::UpdatePulse(const PulseSighting& seen, u64 seen_at, Profile& profile,
                            const Profile& new_row, float floor_dbm) {
    MergeSighting(seen, seen_at, profile, new_row);
    if (!ActiveRules().floor_follows_noise) {
        RegrowBand(profile, floor_dbm);
    }
}

void RssiPulse::ContinueGrownPulse(const PulseSighting& seen, u64 seen_at, Profile& profile,
                                   const Profile& new_row, float floor_dbm) {
    const int16_t grown_start = start_bin_number;
    const int16_t grown_end = end_bin_number;
    if (MergeSighting(seen, seen_at, profile, new_row) != 0) {
        if (!ActiveRules().floor_follows_noise) {
            RegrowBand(profile, floor_dbm);
        }
        return;
    }
    // Nothing strengthened: the profile and peak are those the band was
    // grown from, so regrowing would give the same band back.
    if (!ActiveRules().floor_follows_noise) {
        start_bin_number = grown_start;
        end_bin_number = grown_end;
    }
}

void RssiPulse::EndPulse(const Profile& profile) {
    float sum = 0.0f;
    for (int b = start_bin_number; b <= end_bin_number; b++) {
        sum += static_cast<float>(profile[b]);
    }
    average_pulse_rssi = sum / static_cast<float>(end_bin_number - start_bin_number + 1);
    const float depth_db = ActiveRules().lobe_depth_db;
    if (depth_db > 0.0f) {
        MeasureLobe(profile, depth_db);
    }
}

void RssiPulse::MeasureLobe(const Profile& profile, float depth_db) {
    const int first = start_bin_number;
    const int last = end_bin_number;
    if (first < 0 || last >= CONST_SUBBAND_NUM_BINS || first > last) {
        return;
    }
    int top = 255;
    for (int b = first; b <= last; b++) {
        top = std::min(top, static_cast<int>(profile[b]));
    }
    // Values are dB below 1 mW: within depth_db of the top is at most
    // top + depth_db.
    const float limit = static_cast<float>(top) + depth_db;
    int lobe_first = last;
    int lobe_last = first;
    double weight_sum = 0.0;
    double moment = 0.0;
    for (int b = first; b <= last; b++) {
        const float value = static_cast<float>(profile[b]);
        if (value > limit) {
            continue;
        }
        lobe_first = std::min(lobe_first, b);
        lobe_last = std::max(lobe_last, b);
        const double weight = std::pow(10.0, -static_cast<double>(value - top) / 10.0);
        weight_sum += weight;
        moment += weight * b;
    }
    lobe_width = static_cast<uint8_t>(lobe_last - lobe_first + 1);
    lobe_centre_q = static_cast<uint8_t>(std::lround(4.0 * moment / weight_sum));
}

bool RssiPulse::IsOverlappingBinRange(const int& check_start_bin, const int& check_end_bin) const {
    return end_bin_number >= check_start_bin && check_end_bin >= start_bin_number;
}

std::string RssiPulse::toString(u64 offset) const {
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
    const bool whole_peak = peak_rssi >= 0.0f && peak_rssi <= 255.0f &&
                            static_cast<float>(static_cast<int>(peak_rssi)) == peak_rssi;
    if (!whole_peak || peak_index < 0 || peak_index >= CONST_SUBBAND_NUM_BINS) {
        GrowBand(rssi_list.data(), CONST_SUBBAND_NUM_BINS, peak_rssi, peak_index, start_index,
                 end_index, floor_dbm);
        return;
    }
    // For a whole-dB peak the band is the run, around the peak, of bins from
    // the peak's value to CONST_BW_THRESHOLD dB weaker and not below the
    // floor: one mask over the row instead of a walk.
    const int peak = static_cast<int>(peak_rssi);
    const int weakest = std::min(peak + CONST_BW_THRESHOLD, byte_row::AtOrAboveLimit(floor_dbm));
    uint64_t joins = 1ULL << peak_index;
    if (weakest >= peak) {
        joins |= byte_row::MaskBetween(rssi_list.data(), static_cast<uint8_t>(peak),
                                       static_cast<uint8_t>(weakest));
    }
    byte_row::RunAround(joins, peak_index, start_index, end_index);
}
