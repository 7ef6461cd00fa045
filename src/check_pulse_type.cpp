// Shape tests of single pulses. Bluetooth packets are narrow (1 to 7 bins,
// under about 2 MHz) and last 1 slot fraction (voice, under 500 us) or up to
// five slots (data, 501 to 2999 us); FHSS handset bursts are equally narrow
// and under 2.5 ms, paired 2.5 ms or 5 ms apart on the same hop; Xbox
// controller packets are exactly 4 bins wide and 227/228 or 342/343 us long;
// Zigbee frames are 6 or 7 bins wide on one of four fixed channels.
#include "check_pulse_type.h"

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <iterator>

#include "rule_set.h"
#include "subband_class.h"

namespace {

int PulseWidth(const RssiPulse& pulse) {
    return pulse.end_bin_number - pulse.start_bin_number;
}

// A pulse running into the first or last bin is cut by the edge of the
// view: often the skirt of a wide burst next door, and of unknown width.
bool IsCutByViewEdge(const RssiPulse& pulse) {
    return pulse.start_bin_number == 0 || pulse.end_bin_number == CONST_SUBBAND_NUM_BINS - 1;
}

// A bin above the floor for 90 % of its subband carries a continuous
// emitter; a pulse centred there is a fragment of it (a noise-like carrier
// a few dB over the floor breaks into pulses), not a frame of a network on
// the air a few per cent of the time.
constexpr float CONTINUOUS_BIN_DUTY = 0.9f;

bool IsOnContinuousEmitter(const RssiPulse& pulse) {
    if (pulse.parent == nullptr) {
        return false;
    }
    const std::vector<float>& duty = pulse.parent->duty_avg_list;
    const int centre = pulse.center_bin_number;
    return centre >= 0 && static_cast<size_t>(centre) < duty.size() &&
           CheckPulse::IsContinuousBinDuty(duty[static_cast<size_t>(centre)]);
}

// Narrow enough for a Bluetooth or FHSS handset hop: 1 to 7 bins. Refined:
// and whole within the view.
constexpr int HOP_MAX_WANDER_BINS = 2;

bool IsNarrowHopWidth(const RssiPulse& pulse) {
    const int width = PulseWidth(pulse);
    if (ActiveRules().floor_follows_noise && IsCutByViewEdge(pulse)) {
        return false;
    }
    // Refined: a hop stays on its channel for the whole packet, wandering a
    // bin either way at most (FM deviation, noise on its edges); a pulse
    // that spread further over time than it ever stood at once is a carrier
    // drifting through the view (an oven's sweep), not a hop.
    if (ActiveRules().hops_stay_on_channel &&
        width - pulse.widest_sample_width > HOP_MAX_WANDER_BINS) {
        return false;
    }
    return width > 0 && width <= 7;
}

// A set of hopper classes as a word, bit (type - PULSE_NONE) for each, so
// that a busy band's pulses are sorted into them without a branch.
constexpr uint32_t ClassBit(PulseType type) {
    return 1u << (type - PULSE_NONE);
}
// Open to the FHSS handset and Xbox tests: untagged and generic hopper
// candidates; to the Bluetooth tests also pulses already taken for Bluetooth.
constexpr uint32_t kHopperCandidates = ClassBit(PULSE_NONE) | ClassBit(PULSE_FH_DEVICE) |
                                       ClassBit(PULSE_FHSSPHONE_LOW_CANDIDATE) |
                                       ClassBit(PULSE_XBOX_CANDIDATE);
constexpr uint32_t kBluetoothCandidates =
    kHopperCandidates | ClassBit(PULSE_BLUETOOTH) | ClassBit(PULSE_BLUETOOTH_SCO);

bool InClassSet(PulseType type, uint32_t set) {
    const auto offset = static_cast<uint32_t>(type - PULSE_NONE);  // below: wraps high
    return (offset < 32) & (((set >> (offset & 31u)) & 1u) != 0);
}

bool IsBluetoothCandidateClass(PulseType type) {
    return InClassSet(type, kBluetoothCandidates);
}

// 4 or 5 bins: the controller's packet bandwidth (see below).
bool IsXboxWidth(int width);

bool IsHopperCandidateClass(PulseType type) {
    return InClassSet(type, kHopperCandidates);
}

}  // namespace

float CheckPulse::GetSpreadMax(const std::map<float, int>& pulse_counts) {
    float max_count = 0.0f;
    for (const auto& entry : pulse_counts) {
        const float count = static_cast<float>(entry.second);
        if (count > max_count)
            max_count = count;
    }
    return max_count;
}

float CheckPulse::GetPulseSpread(const std::map<float, int>& pulse_counts) {
    float total = 0.0f;
    for (const auto& entry : pulse_counts)
        total += static_cast<float>(entry.second);
    // Nothing counted: no busiest frequency (and no division by zero).
    if (total == 0.0f)
        return 0.0f;
    float max_share = 0.0f;
    for (const auto& entry : pulse_counts) {
        const float share = static_cast<float>(entry.second) / total;
        if (share > max_share)
            max_share = share;
    }
    return max_share;
}

bool CheckPulse::IsHighDutyDevice(PulseType type) {
    return type == PULSE_VIDEOCAM || type == PULSE_ANALOGPHONE;
}

bool CheckPulse::IsInterestingPulse(const RssiPulse& pulse) {
    // Refined: believed only by the controller's 4-5-bin windows, which a
    // wide noise-like emitter just under the noise fills as well: evidence
    // for the controller test alone, which judges it itself.
    if (pulse.believed_by_wide_band && !pulse.believed_by_band) {
        return false;
    }
    // Stronger than -75 dBm; power is stored as a positive dB magnitude.
    return pulse.classification != PULSE_DISCARD && -pulse.peak_rssi > HopperPeakLimitDbm(pulse);
}

float CheckPulse::HopperPeakLimitDbm(const RssiPulse& pulse) {
    const float fixed = static_cast<float>(CONST_MIN_PEAK_THRESHOLD);
    const RuleSet& rules = ActiveRules();
    if (!rules.floor_follows_noise || pulse.parent == nullptr) {
        return fixed;
    }
    // A pulse that lasted long enough to be believed at a persistence level
    // is judged at that level, with the same allowance over it for a Wi-Fi
    // channel's skirts as a one-sample pulse gets over the peak margin.
    const float skirt_allowance_db = rules.hopper_peak_margin_db - rules.peak_margin_db;
    float margin_db = rules.hopper_peak_margin_db;
    for (const PersistenceLevel& level : rules.persistent_peak) {
        if (level.samples > 0 && pulse.reading_counts >= level.samples) {
            margin_db = std::min(margin_db, level.margin_db + skirt_allowance_db);
        }
    }
    // A pulse believed by the summed power of its 2-3 bins has shown its
    // evidence there; its strongest bin alone need not.
    if (pulse.believed_by_band) {
        margin_db = 0.0f;
    }
    return std::min(pulse.parent->NoiseReferenceDbm() + margin_db, fixed);
}

bool CheckPulse::IsContinuousBinDuty(float duty) {
    return duty >= CONTINUOUS_BIN_DUTY;
}

namespace {
// Open to the Zigbee test: untagged pulses and generic hopper candidates.
constexpr uint32_t kZigbeeCandidates = ClassBit(PULSE_NONE) | ClassBit(PULSE_FH_DEVICE);

// Centred within CONST_ZIGBEE_CENTER_BIN_DIFF of one of the four channels.
bool IsOnZigbeeChannel(int centre_bin) {
    static_assert(std::size(ZIGBEE_BINS) == 4, "four channels in a view");
    const auto near = [centre_bin](int channel_bin) {
        return std::abs(centre_bin - channel_bin) <= CONST_ZIGBEE_CENTER_BIN_DIFF;
    };
    const bool first = near(ZIGBEE_BINS[0]), second = near(ZIGBEE_BINS[1]),
               third = near(ZIGBEE_BINS[2]), fourth = near(ZIGBEE_BINS[3]);
    return first | second | third | fourth;
}

// A weak frame's outermost bin on each side, where its spectrum has fallen
// off, may stay under the join level in every sample.
constexpr int ZIGBEE_EDGE_BINS_NEAR_NOISE = 2;
}  // namespace

bool CheckPulse::IsZigbeePulseType(const RssiPulse& pulse) {
    // Class, width and channel in one go without a branch: the follow-up
    // asks it of every pulse of the window, and few are Zigbee-shaped.
    const int width = PulseWidth(pulse);
    const bool on_channel = IsOnZigbeeChannel(pulse.center_bin_number);
    const bool shaped = InClassSet(pulse.classification, kZigbeeCandidates) &
                        (width >= CONST_MIN_ZIGBEE_BW) & (width <= CONST_MAX_ZIGBEE_BW) &
                        on_channel;
    if (!shaped)
        return false;
    // Refined: a pulse running into the edge of the view is cut by it (the
    // skirt of a wider burst next door); its width says nothing.
    if (ActiveRules().floor_follows_noise &&
        (IsCutByViewEdge(pulse) || IsOnContinuousEmitter(pulse)))
        return false;
    // Refined: a frame's 2 MHz is on the air all at once, so some sample
    // shows nearly all of it even near the noise, where its edge bins dip
    // below the join level; a narrow carrier drifting over 2 MHz (an oven's
    // sweep) covers that width only in time.
    if (ActiveRules().zigbee_needs_width_at_once &&
        pulse.widest_sample_width < CONST_MIN_ZIGBEE_BW - ZIGBEE_EDGE_BINS_NEAR_NOISE)
        return false;
    return true;
}

bool CheckPulse::IsFhssphoneHigh(const RssiPulse& pulse) {
    if (!IsHopperCandidateClass(pulse.classification) || !IsInterestingPulse(pulse))
        return false;
    const u64 duration = pulse.GetPulseDuration();
    return IsNarrowHopWidth(pulse) && duration > CONST_MIN_PULSE_DURATION && duration < 2500;
}

bool CheckPulse::IsBluetoothPulse(const RssiPulse& pulse) {
    if (!IsBluetoothCandidateClass(pulse.classification) || !IsInterestingPulse(pulse)) {
        return false;
    }
    const u64 duration = pulse.GetPulseDuration();
    return IsNarrowHopWidth(pulse) && duration > CONST_MIN_PULSE_DURATION && duration > 500 &&
           duration < 3000;
}

bool CheckPulse::IsHopperShaped(const RssiPulse& pulse) {
    // Both tests want a narrow pulse lasting longer than the minimum and
    // under 3 ms.
    const u64 duration = pulse.GetPulseDuration();
    const int width = PulseWidth(pulse);
    if (duration <= CONST_MIN_PULSE_DURATION || duration >= 3000 || width <= 0 || width > 7) {
        return false;
    }
    return IsBluetoothPulse(pulse) || IsFhssphoneHigh(pulse);
}

namespace {

// IsHopperShaped where the rules judge a pulse by its own fields alone: the
// fixed peak limit, a width of 1 to 7 bins wherever it lies, and the two
// duration windows. A busy band's pulses pass and fail these at random, so
// every test is taken and combined without a branch: a mispredicted branch
// costs more than all of them.
bool IsHopperShapedByFields(const RssiPulse& pulse) {
    const u64 duration = pulse.GetPulseDuration();
    const int width = PulseWidth(pulse);
    const PulseType type = pulse.classification;
    const bool narrow = (width > 0) & (width <= 7);
    const bool strong =
        (type != PULSE_DISCARD) & (-pulse.peak_rssi > static_cast<float>(CONST_MIN_PEAK_THRESHOLD));
    const bool bluetooth =
        InClassSet(type, kBluetoothCandidates) & (duration > 500) & (duration < 3000);
    const bool handset = InClassSet(type, kHopperCandidates) & (duration < 2500);
    return narrow & strong & (duration > CONST_MIN_PULSE_DURATION) & (bluetooth | handset);
}

template <typename Shaped>
size_t MarkPulses(std::vector<RssiPulse>& pulses, Shaped shaped) {
    size_t marked = 0;
    for (RssiPulse& pulse : pulses) {
        pulse.classification = shaped(pulse) ? PULSE_FH_DEVICE : pulse.classification;
        marked += pulse.classification == PULSE_FH_DEVICE;
    }
    return marked;
}

}  // namespace

size_t CheckPulse::MarkHopperShaped(std::vector<RssiPulse>& pulses) {
    const RuleSet& rules = ActiveRules();
    // The refined rules also read the pulse's edges, its wander and its
    // subband's floor.
    if (!rules.floor_follows_noise && !rules.hops_stay_on_channel) {
        return MarkPulses(pulses, IsHopperShapedByFields);
    }
    return MarkPulses(pulses, IsHopperShaped);
}

bool CheckPulse::IsBluetoothSCOPulse(const RssiPulse& pulse) {
    if (!IsBluetoothCandidateClass(pulse.classification) || !IsInterestingPulse(pulse)) {
        return false;
    }
    const u64 duration = pulse.GetPulseDuration();
    if (ActiveRules().durations_in_sample_intervals && !IsVoicePacketDuration(pulse)) {
        return false;
    }
    return IsNarrowHopWidth(pulse) && duration > CONST_MIN_PULSE_DURATION && duration < 500;
}

bool CheckPulse::IsXboxPulseType(const RssiPulse& pulse) {
    if (!ActiveRules().durations_in_sample_intervals) {
        // Exactly 4 bins and 227/228 or 342/343 us, every test taken without
        // a branch, as in IsHopperShapedByFields: the follow-up asks it of
        // every pulse of the window.
        const u64 duration = pulse.GetPulseDuration();
        const int width = PulseWidth(pulse);
        return InClassSet(pulse.classification, kHopperCandidates) & (width == 4) &
               ((duration - 227 < 2) | (duration - 342 < 2));
    }
    // Most pulses of a busy band are not 4 or 5 bins wide.
    if (!IsHopperCandidateClass(pulse.classification) || !IsXboxWidth(PulseWidth(pulse))) {
        return false;
    }
    const float interval = pulse.parent != nullptr ? pulse.parent->sample_interval_us : 0.0f;
    // Refined: the same evidence bar as every other hopper pulse.
    return IsInterestingPulse(pulse) && IsXboxPulseShape(pulse, interval);
}

bool CheckPulse::IsFhssTimingProperty(const RssiPulse& pulse1, const RssiPulse& pulse2) {
    // Unsigned on purpose: a pulse2 that starts first wraps to a huge gap.
    const double gap = static_cast<double>(pulse2.start_time - pulse1.start_time);
    const int centre_diff = std::abs(pulse2.center_bin_number - pulse1.center_bin_number);
    if (centre_diff > 2)
        return false;
    return (gap >= 2250.0 && gap <= 2750.0) || (gap >= 4500.0 && gap <= 5500.0);
}

namespace {

// The controller's two packet lengths. The fixed test's 227/228 and
// 342/343 us are 4 and 6 intervals of a 57 us card, so the packets
// themselves last 228-285 us and 342-399 us.
constexpr u64 XBOX_SHORT_PACKET_MIN_US = 228;
constexpr u64 XBOX_SHORT_PACKET_MAX_US = 285;
constexpr u64 XBOX_LONG_PACKET_MIN_US = 342;
constexpr u64 XBOX_LONG_PACKET_MAX_US = 399;
// Bluetooth voice packets carry 30 bytes of audio and last about 366 us
// (up to 400 us for the enhanced kinds); the link's POLL and NULL packets
// carry nothing and last 126 us, and must not pair up as voice. The two
// stay apart at any sample interval under 124 us.
constexpr u64 BT_VOICE_PACKET_MIN_US = 250;
constexpr u64 BT_VOICE_PACKET_MAX_US = 500;
// A 1.25-1.4 MHz wide packet covers 4 or 5 bin steps, depending on where
// it sits on the 312.5 kHz bin grid.
constexpr int XBOX_MIN_WIDTH = 4;
constexpr int XBOX_MAX_WIDTH = 5;
// Timestamps carry +-1 us of jitter at each end.
constexpr float TIMESTAMP_JITTER_US = 2.0f;
constexpr u64 BT_SLOT_US = 625;
// Before the interval is measured, the card's usual one.
constexpr float DEFAULT_SAMPLE_INTERVAL_US = 57.0f;

bool IsXboxWidth(int width) {
    return width >= XBOX_MIN_WIDTH && width <= XBOX_MAX_WIDTH;
}

}  // namespace

bool CheckPulse::IsDurationOfBurst(u64 duration, u64 lo, u64 hi, float sample_interval_us) {
    const float t = sample_interval_us > 0.0f ? sample_interval_us : DEFAULT_SAMPLE_INTERVAL_US;
    // The first and last samples inside the burst lie at most one interval
    // within its ends: the shown duration is between L - T and L.
    const float d = static_cast<float>(duration);
    return d + t + TIMESTAMP_JITTER_US >= static_cast<float>(lo) &&
           d <= static_cast<float>(hi) + TIMESTAMP_JITTER_US;
}

bool CheckPulse::IsVoicePacketDuration(const RssiPulse& pulse) {
    const float interval = pulse.parent != nullptr ? pulse.parent->sample_interval_us : 0.0f;
    return IsDurationOfBurst(pulse.GetPulseDuration(), BT_VOICE_PACKET_MIN_US,
                             BT_VOICE_PACKET_MAX_US, interval);
}

bool CheckPulse::IsXboxPulseShape(const RssiPulse& pulse, float sample_interval_us) {
    if (IsCutByViewEdge(pulse))
        return false;
    if (!IsXboxWidth(PulseWidth(pulse)))
        return false;
    const u64 d = pulse.GetPulseDuration();
    return IsDurationOfBurst(d, XBOX_SHORT_PACKET_MIN_US, XBOX_SHORT_PACKET_MAX_US,
                             sample_interval_us) ||
           IsDurationOfBurst(d, XBOX_LONG_PACKET_MIN_US, XBOX_LONG_PACKET_MAX_US,
                             sample_interval_us);
}

bool CheckPulse::IsOnSlotGrid(u64 gap, float sample_interval_us) {
    const float t = sample_interval_us > 0.0f ? sample_interval_us : DEFAULT_SAMPLE_INTERVAL_US;
    // Each start is seen up to one interval late: the gap between two
    // starts is off the true whole-slot gap by less than one interval.
    const float tolerance = t + TIMESTAMP_JITTER_US;
    const float remainder = static_cast<float>(gap % BT_SLOT_US);
    return remainder <= tolerance || remainder >= static_cast<float>(BT_SLOT_US) - tolerance;
}

void CheckPulse::CountCentreBin(const RssiPulse& pulse,
                                std::array<int, CONST_SUBBAND_NUM_BINS>& per_bin) {
    if (pulse.center_bin_number >= 0 && pulse.center_bin_number < CONST_SUBBAND_NUM_BINS) {
        per_bin[static_cast<size_t>(pulse.center_bin_number)]++;
    }
}

namespace {

// Share of the weighted total in the densest HOP_SPREAD_WINDOW_BINS bins
// (0 with nothing counted).
template <typename T>
double DensestWindowShare(const std::array<T, CONST_SUBBAND_NUM_BINS>& per_bin) {
    T total = 0;
    T densest = 0;
    T window = 0;
    for (int b = 0; b < CONST_SUBBAND_NUM_BINS; b++) {
        total += per_bin[static_cast<size_t>(b)];
        window += per_bin[static_cast<size_t>(b)];
        if (b >= HOP_SPREAD_WINDOW_BINS) {
            window -= per_bin[static_cast<size_t>(b - HOP_SPREAD_WINDOW_BINS)];
        }
        densest = std::max(densest, window);
    }
    return total > 0 ? static_cast<double>(densest) / static_cast<double>(total) : 0.0;
}

}  // namespace

bool CheckPulse::IsSpreadOverView(const std::array<int, CONST_SUBBAND_NUM_BINS>& per_bin) {
    const double share = DensestWindowShare(per_bin);
    return share > 0.0 && share <= HOP_SPREAD_MAX_SHARE;
}

double CheckPulse::SpreadShareOverClearView(
    const std::array<int, CONST_SUBBAND_NUM_BINS>& per_bin,
    const std::array<double, CONST_SUBBAND_NUM_BINS>& clear_us) {
    double all_clear = 0.0;
    for (const double us : clear_us) {
        all_clear += us;
    }
    const double mean_clear = all_clear / CONST_SUBBAND_NUM_BINS;
    std::array<double, CONST_SUBBAND_NUM_BINS> weighted{};
    for (size_t b = 0; b < weighted.size(); b++) {
        // A bin open for a fraction of the others' time shows that fraction
        // of a hopper's packets; never credited more than the cap, a bin
        // seen briefly being too small a sample.
        const double weight = clear_us[b] * HOP_SPREAD_MAX_WEIGHT > mean_clear
                                  ? mean_clear / clear_us[b]
                                  : HOP_SPREAD_MAX_WEIGHT;
        weighted[b] = per_bin[b] * (mean_clear > 0.0 ? weight : 1.0);
    }
    return DensestWindowShare(weighted);
}

bool CheckPulse::IsSpreadOverClearView(const std::array<int, CONST_SUBBAND_NUM_BINS>& per_bin,
                                       const std::array<double, CONST_SUBBAND_NUM_BINS>& clear_us) {
    const double share = SpreadShareOverClearView(per_bin, clear_us);
    return share > 0.0 && share <= HOP_SPREAD_MAX_SHARE;
}
