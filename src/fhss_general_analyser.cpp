// Frequency-hopper classifier. Hoppers leave short (under 3 ms), narrow (1 to
// 7 bins) pulses on many channels; what tells them apart is the pulse-pair
// timing within one channel visit:
//   - FHSS cordless handsets: pairs 2.5 ms or 5 ms apart on the same hop;
//   - Bluetooth voice (SCO): very short pulses 500 to 800 us apart;
//   - Bluetooth data (ACL): pulses a whole number of 625 us slots apart.
// The collection step marks every hopper-shaped pulse of the window in the
// history and keeps unmasked copies per visit; the detection step tags the
// copies, counts them per frequency and reports the devices found.
#include "fhss_general_analyser.h"

#include <algorithm>
#include <array>
#include <climits>
#include <iostream>
#include <sstream>

#include "check_pulse_type.h"
#include "device_analyzer.h"
#include "features_module.h"
#include "fixed_order_sort.h"
#include "hop_clear_time.h"
#include "rule_set.h"

namespace {

// Time budgets (us) of the pair searches: how close to the end of a visit a
// first pulse may start and still have its partners inside the visit, and
// how far after it a partner may start.
constexpr u64 FHSS_TAIL_EXCLUSION = 3999;
constexpr u64 FHSS_MAX_PARTNER_GAP = 10000;
constexpr u64 BT_TAIL_EXCLUSION = 799;
constexpr u64 BTSCO_MIN_PAIR_GAP = 500;
constexpr u64 BTSCO_MAX_PAIR_GAP = 800;
constexpr u64 BTACL_MAX_PARTNER_GAP = 3500;
constexpr u64 BT_SLOT_US = 625;
constexpr u64 BT_SLOT_JITTER_LOW = 24;    // remainder at or below: on the slot grid
constexpr u64 BT_SLOT_JITTER_HIGH = 600;  // remainder above: just before the next slot
constexpr int MAX_PARTNER_CENTRE_RISE = 2;
// FHSS handset frames repeat every 2.5 ms; pairs within 250 us of that grid
// belong to the handset, not to a Bluetooth link.
constexpr u64 FHSS_FRAME_US = 2500;
constexpr double FHSS_FRAME_TOLERANCE = 250.0;

// Per-frequency tag counters are keyed by the whole-MHz frequency.
float TruncatedFreq(float freq) {
    return static_cast<float>(static_cast<int>(freq));
}

void ResetSixFrequencies(RealIntMap& counts) {
    for (const float freq : CONST_CENTER_FREQUENCIES)
        counts[freq] = 0;
}

// Time from a pulse's start to the end of its visit (unsigned, as the card
// clock runs).
u64 TimeToVisitEnd(const CurrSubbandInfo& key, const RssiPulse& pulse) {
    return key.end_time - pulse.start_time;
}

// Whether two pulses sit on the FHSS handset's frame grid (and close enough
// to be one handset's).
bool OnFhssFrameGrid(const RssiPulse& pulse1, const RssiPulse& pulse2) {
    const u64 gap = pulse2.start_time - pulse1.start_time;
    if (gap > FHSS_MAX_PARTNER_GAP)
        return false;
    const double remainder = static_cast<double>(gap % FHSS_FRAME_US);
    return remainder >= static_cast<double>(FHSS_FRAME_US) - FHSS_FRAME_TOLERANCE ||
           remainder <= FHSS_FRAME_TOLERANCE;
}

// The pair search shared by the hopper kinds: within each visit, a first
// pulse that qualifies and starts early enough is paired with every later
// pulse of the visit, up to max_gap after it, that the kind's timing rule
// accepts; both pulses of a pair are tagged.
enum class FirstPulse { Skip, CountOnly, Search };

struct PairRule {
    PulseType tag;
    u64 tail_exclusion;  // a first pulse this close to the visit's end finds no partner
    u64 max_gap;
    // in_tail: the pulse starts within tail_exclusion of the visit's end.
    FirstPulse (*first)(const RssiPulse& pulse, PulseType tag, bool in_tail);
    bool (*partner)(const RssiPulse& first, const RssiPulse& partner, u64 gap);
    // The smallest gap, at or after `gap`, that the timing rule can accept:
    // the search jumps over the partners in between instead of testing each,
    // so that a dense visit costs the pulses in the rule's timing windows,
    // not every pulse up to max_gap.
    u64 (*next_gap)(u64 gap);
};

constexpr u64 kNoGap = ~u64{0};

struct PairCounts {
    int candidates = 0;  // first pulses counted
    int pairs = 0;
    int newly_tagged = 0;
};

// The first pulse from `from` on (in start order) that starts at or after
// `time`.
size_t FirstStartingAt(const std::vector<RssiPulse>& pulses, size_t from, u64 time) {
    const auto it =
        std::lower_bound(pulses.begin() + static_cast<std::ptrdiff_t>(from), pulses.end(), time,
                         [](const RssiPulse& pulse, u64 t) { return pulse.start_time < t; });
    return static_cast<size_t>(it - pulses.begin());
}

PairCounts SearchPairs(SbInfoPulseListMap& visits, RealIntMap& tagged_per_freq,
                       const PairRule& rule, std::vector<u64>* pair_starts = nullptr) {
    ResetSixFrequencies(tagged_per_freq);
    const bool jump_to_windows = ActiveRules().id == RuleSetId::kStandard;
    PairCounts counts;
    const auto tag = [&rule, &counts](RssiPulse& pulse, int& tagged_here) {
        if (pulse.classification != rule.tag) {
            ++tagged_here;
            ++counts.newly_tagged;
        }
        pulse.set_classification(rule.tag);
    };
    for (auto& entry : visits) {
        const CurrSubbandInfo& key = entry.first;
        std::vector<RssiPulse>& pulses = entry.second;
        int& tagged_here = tagged_per_freq[TruncatedFreq(key.curr_freq)];
        for (size_t i = 0; i < pulses.size(); ++i) {
            RssiPulse& pulse1 = pulses[i];
            const bool in_tail = TimeToVisitEnd(key, pulse1) <= rule.tail_exclusion;
            const FirstPulse verdict = rule.first(pulse1, rule.tag, in_tail);
            if (verdict == FirstPulse::Skip)
                continue;
            ++counts.candidates;
            if (verdict == FirstPulse::CountOnly)
                continue;
            for (size_t j = i + 1; j < pulses.size(); ++j) {
                RssiPulse& partner = pulses[j];
                const u64 gap = partner.start_time - pulse1.start_time;
                // Pulses are in start order: once one partner is too late,
                // every later one is too.
                if (gap > rule.max_gap)
                    break;
                // The windows mirror the standard timing rules only.
                const u64 wanted = jump_to_windows ? rule.next_gap(gap) : gap;
                if (wanted != gap) {
                    if (wanted > rule.max_gap)
                        break;
                    j = FirstStartingAt(pulses, j, pulse1.start_time + wanted) - 1;
                    continue;
                }
                if (!rule.partner(pulse1, partner, gap))
                    continue;
                ++counts.pairs;
                if (pair_starts != nullptr)
                    pair_starts->push_back(pulse1.start_time);
                tag(pulse1, tagged_here);
                tag(partner, tagged_here);
            }
        }
    }
    return counts;
}

// Handset pairs are one or two frames apart (CheckPulse::IsFhssTimingProperty).
u64 NextFhssGap(u64 gap) {
    if (gap < 2250)
        return 2250;
    if (gap <= 2750)
        return gap;
    if (gap < 4500)
        return 4500;
    return gap <= 5500 ? gap : kNoGap;
}

// Gaps within the jitter of a whole number of 625 us slots.
u64 NextSlotGridGap(u64 gap) {
    const u64 remainder = gap % BT_SLOT_US;
    if (remainder <= BT_SLOT_JITTER_LOW || remainder > BT_SLOT_JITTER_HIGH)
        return gap;
    return gap - remainder + BT_SLOT_JITTER_HIGH + 1;
}

float SampleIntervalOf(const RssiPulse& pulse) {
    return pulse.parent != nullptr ? pulse.parent->sample_interval_us : 0.0f;
}

bool CentreRisesLittle(const RssiPulse& first, const RssiPulse& partner) {
    // Refined: a hopper's next channel is pseudo-random, above or below.
    if (ActiveRules().hop_order_free) {
        return true;
    }
    // Signed: a partner lower in frequency by any amount qualifies.
    return partner.center_bin_number - first.center_bin_number <= MAX_PARTNER_CENTRE_RISE;
}

// FHSS handset: long narrow bursts paired on the handset's frame timing.
const PairRule kFhssPairs = {PULSE_FHSSPHONE_HIGH,
                             FHSS_TAIL_EXCLUSION,
                             FHSS_MAX_PARTNER_GAP,
                             [](const RssiPulse& pulse, PulseType, bool in_tail) {
                                 if (!CheckPulse::IsFhssphoneHigh(pulse))
                                     return FirstPulse::Skip;
                                 return in_tail ? FirstPulse::CountOnly : FirstPulse::Search;
                             },
                             [](const RssiPulse& first, const RssiPulse& partner, u64) {
                                 return CheckPulse::IsFhssphoneHigh(partner) &&
                                        CheckPulse::IsFhssTimingProperty(first, partner);
                             },
                             NextFhssGap};

// Bluetooth voice: short packets answered 500 to 800 us later.
const PairRule kBtScoPairs = {
    PULSE_BLUETOOTH_SCO,
    BT_TAIL_EXCLUSION,
    BTSCO_MAX_PAIR_GAP,
    [](const RssiPulse& pulse, PulseType tag, bool in_tail) {
        if (!CheckPulse::IsBluetoothSCOPulse(pulse))
            return FirstPulse::Skip;
        if (in_tail)
            return pulse.classification == tag ? FirstPulse::CountOnly : FirstPulse::Skip;
        return FirstPulse::Search;
    },
    [](const RssiPulse& first, const RssiPulse& partner, u64 gap) {
        return partner.classification == PULSE_FH_DEVICE &&
               CheckPulse::IsBluetoothSCOPulse(partner) && CentreRisesLittle(first, partner) &&
               gap >= BTSCO_MIN_PAIR_GAP;
    },
    [](u64 gap) { return std::max(gap, BTSCO_MIN_PAIR_GAP); }};

// Bluetooth data: packets on the 625 us slot grid and off the FHSS frame grid.
const PairRule kBtAclPairs = {
    PULSE_BLUETOOTH,
    BT_TAIL_EXCLUSION,
    BTACL_MAX_PARTNER_GAP,
    [](const RssiPulse& pulse, PulseType tag, bool in_tail) {
        if (pulse.classification == tag)
            return FirstPulse::CountOnly;
        if (pulse.classification != PULSE_FH_DEVICE || in_tail)
            return FirstPulse::Skip;
        return FirstPulse::Search;
    },
    [](const RssiPulse& first, const RssiPulse& partner, u64 gap) {
        if (partner.start_time == first.start_time || !CentreRisesLittle(first, partner) ||
            partner.classification != PULSE_FH_DEVICE) {
            return false;
        }
        const u64 slot_remainder = gap % BT_SLOT_US;
        const bool on_slot_grid =
            ActiveRules().durations_in_sample_intervals
                ? CheckPulse::IsOnSlotGrid(gap, SampleIntervalOf(first))
                : slot_remainder <= BT_SLOT_JITTER_LOW || slot_remainder > BT_SLOT_JITTER_HIGH;
        return on_slot_grid && !OnFhssFrameGrid(first, partner);
    },
    NextSlotGridGap};

void AppendFeature(std::string& line, int number, const std::string& value) {
    line += " ";
    line += getStr(number);
    line += ":";
    line += value;
}

std::string CountLine(const char* label, const RealIntMap& counts) {
    std::ostringstream out;
    out << label;
    for (const float freq : CONST_CENTER_FREQUENCIES) {
        const auto it = counts.find(freq);
        out << static_cast<double>(freq) << " " << (it == counts.end() ? 0 : it->second) << " ";
    }
    out << "\n";
    return out.str();
}

PowerTuple ZeroPowerTuple() {
    return PowerTuple{0.0f, 0.0f, 0.0f, 0.0f};
}

// A pulse's start (less the subband's earliest) and peak byte packed above
// its position in the list: one 64-bit word compares as the pair (start,
// peak) does, and the position rides along.
constexpr int kPositionBits = 20;
constexpr int kPeakBits = 8;
constexpr u64 kMaxStartSpan = ~u64{0} >> (kPositionBits + kPeakBits);
constexpr u64 kPositionMask = (u64{1} << kPositionBits) - 1;

// The peaks the subband stage produces are whole dB, 0 to 255 below 1 mW.
// A peak from elsewhere, a list too long for the position bits or starts
// too far apart for the word leave the pulses to the pair keys.
bool PackStartAndPeak(const std::vector<RssiPulse>& pulses, std::vector<u64>& packed) {
    if (pulses.size() > (size_t{1} << kPositionBits)) {
        return false;
    }
    u64 first = pulses[0].start_time;
    u64 last = first;
    bool whole_peaks = true;
    for (const RssiPulse& pulse : pulses) {
        const float peak = pulse.peak_rssi;
        whole_peaks = whole_peaks && peak >= 0.0f && peak <= 255.0f &&
                      peak == static_cast<float>(static_cast<int>(peak));
        first = std::min(first, pulse.start_time);
        last = std::max(last, pulse.start_time);
    }
    if (!whole_peaks || last - first > kMaxStartSpan) {
        return false;
    }
    packed.resize(pulses.size());
    for (size_t i = 0; i < pulses.size(); i++) {
        const u64 key =
            (pulses[i].start_time - first) << kPeakBits | static_cast<u64>(pulses[i].peak_rssi);
        packed[i] = key << kPositionBits | i;
    }
    return true;
}

}  // namespace

void SortByStartAndPeak(std::vector<RssiPulse>& pulses, PulseSortScratch& scratch) {
    const size_t n = pulses.size();
    if (n < 2) {
        return;
    }
    scratch.order.resize(n);
    if (PackStartAndPeak(pulses, scratch.packed)) {
        FixedOrderSort(scratch.packed.data(), scratch.packed.data() + n,
                       [](u64 a, u64 b) { return (a >> kPositionBits) < (b >> kPositionBits); });
        for (size_t i = 0; i < n; i++) {
            scratch.order[i] = static_cast<uint32_t>(scratch.packed[i] & kPositionMask);
        }
    } else {
        using Keyed = std::pair<std::pair<u64, float>, uint32_t>;
        std::vector<Keyed> keyed(n);
        for (size_t i = 0; i < n; i++) {
            keyed[i] = {StartOrderKey(pulses[i]), static_cast<uint32_t>(i)};
        }
        FixedOrderSort(keyed.data(), keyed.data() + n,
                       [](const Keyed& a, const Keyed& b) { return a.first < b.first; });
        for (size_t i = 0; i < n; i++) {
            scratch.order[i] = keyed[i].second;
        }
    }
    PermutePulses(pulses, scratch.order);
}

bool CurrSubbandInfo::operator<(const CurrSubbandInfo& other) const {
    if (curr_freq < other.curr_freq)
        return true;
    if (other.curr_freq < curr_freq)
        return false;
    if (start_time != other.start_time)
        return start_time < other.start_time;
    return end_time < other.end_time;
}

std::pair<u64, float> StartOrderKey(const RssiPulse& pulse) {
    return {pulse.start_time, pulse.peak_rssi};
}

int CountMultiSlotDataPackets(const SbInfoPulseListMap& pulses_per_visit) {
    int count = 0;
    for (const auto& entry : pulses_per_visit) {
        count += static_cast<int>(
            std::count_if(entry.second.begin(), entry.second.end(), [](const RssiPulse& pulse) {
                return pulse.classification == PULSE_BLUETOOTH &&
                       pulse.GetPulseDuration() > BT_SLOT_US;
            }));
    }
    return count;
}

bool IsHopSpread(const SbInfoPulseListMap& pulses_per_visit, PulseType type,
                 const std::list<SubBand>& visits, std::list<SubBand>::const_iterator begin) {
    std::array<int, CONST_SUBBAND_NUM_BINS> per_bin{};
    for (const auto& entry : pulses_per_visit) {
        for (const RssiPulse& pulse : entry.second) {
            if (pulse.classification == type) {
                CheckPulse::CountCentreBin(pulse, per_bin);
            }
        }
    }
    if (ActiveRules().hop_spread_per_clear_time) {
        return CheckPulse::IsSpreadOverClearView(per_bin, HopClearTimePerBin(visits, begin));
    }
    return CheckPulse::IsSpreadOverView(per_bin);
}

bool IsSpreadOverBand(const SbInfoPulseListMap& pulses_per_visit, PulseType type) {
    // Bins of the band from the lowest view's first bin, 3.2 a MHz.
    constexpr int kViewOffsetBins = static_cast<int>(
        (CONST_CENTER_FREQUENCIES[CONST_NUM_SUBBAND_FREQS - 1] - CONST_CENTER_FREQUENCIES[0]) *
        CONST_BINS_PER_MHZ);
    constexpr int kBandBins = kViewOffsetBins + CONST_SUBBAND_NUM_BINS;
    std::array<int, kBandBins> per_bin{};
    int total = 0;
    for (const auto& entry : pulses_per_visit) {
        const int offset = BinFrameOffset(entry.first.curr_freq, CONST_CENTER_FREQUENCIES[0]);
        for (const RssiPulse& pulse : entry.second) {
            const int bin = pulse.center_bin_number + offset;
            if (pulse.classification == type && bin >= 0 && bin < kBandBins) {
                per_bin[static_cast<size_t>(bin)]++;
                total++;
            }
        }
    }
    int densest = 0;
    int window = 0;
    for (int b = 0; b < kBandBins; b++) {
        window += per_bin[static_cast<size_t>(b)];
        if (b >= HOP_SPREAD_WINDOW_BINS)
            window -= per_bin[static_cast<size_t>(b - HOP_SPREAD_WINDOW_BINS)];
        densest = std::max(densest, window);
    }
    return total > 0 &&
           static_cast<float>(densest) <= HOP_SPREAD_MAX_SHARE * static_cast<float>(total);
}

std::vector<u64> TaggedStarts(const SbInfoPulseListMap& pulses_per_visit, PulseType type) {
    std::vector<u64> starts;
    for (const auto& entry : pulses_per_visit) {
        for (const RssiPulse& pulse : entry.second) {
            if (pulse.classification == type)
                starts.push_back(pulse.start_time);
        }
    }
    std::sort(starts.begin(), starts.end());
    return starts;
}

bool mySortByStartTime(const RssiPulse& pulse1, const RssiPulse& pulse2) {
    return StartOrderKey(pulse1) < StartOrderKey(pulse2);
}

FreqHoppingsDeviceAnalyser::FreqHoppingsDeviceAnalyser(std::list<SubBand>& subband_list,
                                                       std::list<SubBand>::iterator beginIt,
                                                       NkldDistMap& input_nkld_distribution_map,
                                                       int debug_id)
    : debug_id(debug_id),
      subband_list(subband_list),
      beginIt(beginIt),
      input_nkld_distribution_map(input_nkld_distribution_map) {
    for (const float freq : CONST_CENTER_FREQUENCIES) {
        subband_dwell_time[freq] = 0;
        count_pulses_per_subband[freq] = 0;
        subband_count[freq] = 0;
        subband_average_movement[freq] = 0.0f;
    }
}

void FreqHoppingsDeviceAnalyser::BuildFreqHoppingPulseInfo() {
    for (auto it = beginIt; it != subband_list.end(); ++it) {
        SubBand& subband = *it;
        const CurrSubbandInfo key{subband.curr_freq, subband.start_time, subband.end_time};
        // A visit whose end precedes its start carries no dwell time; the
        // wrapped difference would swamp the dwell normalisation.
        const u64 dwell =
            subband.end_time >= subband.start_time ? subband.end_time - subband.start_time : 0;
        subband_dwell_time[subband.curr_freq] += dwell;
        std::vector<RssiPulse>& entry = subband_freqhop_device_pulse_info[key];
        entry.clear();

        // Marking looks at each pulse alone, so it runs before the sort, on
        // the pulses the sort is about to read.
        const size_t hopper_shaped = CheckPulse::MarkHopperShaped(subband.completed_pulses_list);
        SortByStartAndPeak(subband.completed_pulses_list, sort_scratch);
        entry.reserve(hopper_shaped);
        FeatureMethods::RemoveOverlappingPulses(subband.completed_pulses_list, entry,
                                                PULSE_FH_DEVICE);

        count_pulses_per_subband[subband.curr_freq] += static_cast<int>(entry.size());
        subband_average_movement[subband.curr_freq] +=
            FeatureMethods::AverageFrequencyMovement(entry);
        subband_count[subband.curr_freq] += 1;
    }
    NormaliseCountsWithTime(count_pulses_per_subband);
}

void FreqHoppingsDeviceAnalyser::NormaliseCountsWithTime(RealIntMap& count_list) {
    u64 max_time = 0;
    for (const auto& entry : subband_dwell_time)
        max_time = std::max(max_time, entry.second);
    for (auto& entry : count_list) {
        if (entry.second <= 0)
            continue;
        const auto dwell = subband_dwell_time.find(entry.first);
        // No dwell time to scale by: keep the raw count.
        if (dwell == subband_dwell_time.end() || dwell->second == 0)
            continue;
        const u64 scaled = (max_time * static_cast<u64>(entry.second)) / dwell->second;
        entry.second = scaled > static_cast<u64>(INT_MAX) ? INT_MAX : static_cast<int>(scaled);
    }
}

PowerTuple FreqHoppingsDeviceAnalyser::GetPulsePowerDistribution(PulseType pulse_type) {
    std::vector<float> powers;
    for (const auto& entry : subband_freqhop_device_pulse_info) {
        for (const RssiPulse& pulse : entry.second) {
            if (pulse.classification == pulse_type)
                powers.push_back(pulse.GetAveragePulseRssi());
        }
    }
    if (powers.empty())
        return ZeroPowerTuple();
    float mean = 0.0f;
    float stddev = 0.0f;
    calc_mean_stdev(powers, mean, stddev);
    const auto extremes = std::minmax_element(powers.begin(), powers.end());
    return PowerTuple{-*extremes.second, -*extremes.first, -mean, stddev};
}

int FreqHoppingsDeviceAnalyser::FindAndTagFhssPulses(PowerTuple& ptuple,
                                                     unsigned long long& device_start_time,
                                                     unsigned long long& device_end_time) {
    const int total =
        SearchPairs(subband_freqhop_device_pulse_info, count_fhsshigh_pulse_perfreq, kFhssPairs)
            .candidates;

    // The device span runs from the first to the last tagged pulse in map
    // order; with nothing tagged both ends stay 0.
    device_start_time = 0;
    device_end_time = 0;
    int tagged = 0;
    for (const auto& entry : subband_freqhop_device_pulse_info) {
        for (const RssiPulse& pulse : entry.second) {
            if (pulse.classification != PULSE_FHSSPHONE_HIGH)
                continue;
            if (device_start_time == 0)
                device_start_time = pulse.start_time;
            device_end_time = pulse.end_time;
            ++tagged;
        }
    }
    if (total == 0) {
        ptuple = ZeroPowerTuple();
        return 0;
    }
    ptuple = GetPulsePowerDistribution(PULSE_FHSSPHONE_HIGH);
    return tagged;
}

int FreqHoppingsDeviceAnalyser::FindAndTagBluetoothSCOPulses(PowerTuple& ptuple) {
    voice_pair_starts.clear();
    const PairCounts counts =
        SearchPairs(subband_freqhop_device_pulse_info, count_btsco_pulse_perfreq, kBtScoPairs,
                    &voice_pair_starts);
    std::sort(voice_pair_starts.begin(), voice_pair_starts.end());
    ptuple = TaggedPower(counts.candidates, PULSE_BLUETOOTH_SCO);
    return counts.candidates == 0 ? 0 : counts.pairs;
}

bool FreqHoppingsDeviceAnalyser::IgnoreFhPulseCombination(const RssiPulse& pulse1,
                                                          const RssiPulse& pulse2) {
    return OnFhssFrameGrid(pulse1, pulse2);
}

int FreqHoppingsDeviceAnalyser::FindAndTagBluetoothPulses(PowerTuple& ptuple) {
    const PairCounts counts =
        SearchPairs(subband_freqhop_device_pulse_info, count_btacl_pulse_perfreq, kBtAclPairs);
    ptuple = TaggedPower(counts.candidates, PULSE_BLUETOOTH);
    return counts.candidates == 0 ? 0 : counts.newly_tagged;
}

// The power of the tagged pulses; zero when no pulse was a candidate.
PowerTuple FreqHoppingsDeviceAnalyser::TaggedPower(int candidates, PulseType tag) {
    return candidates == 0 ? ZeroPowerTuple() : GetPulsePowerDistribution(tag);
}

int FreqHoppingsDeviceAnalyser::CountFhssphoneHighDurationPulses() {
    int count = 0;
    for (const auto& entry : subband_freqhop_device_pulse_info) {
        for (const RssiPulse& pulse : entry.second) {
            const u64 duration = pulse.GetPulseDuration();
            if (duration > CONST_FHSSHIGH_PULSE_DURATION_MIN &&
                duration < CONST_FHSSHIGH_PULSE_DURATION_MAX) {
                ++count;
            }
        }
    }
    return count;
}

int FreqHoppingsDeviceAnalyser::CountBluetoothPulses(PowerTuple& ptuple) {
    std::vector<float> peaks;
    for (const auto& entry : subband_freqhop_device_pulse_info) {
        for (const RssiPulse& pulse : entry.second) {
            const u64 duration = pulse.GetPulseDuration();
            if (duration > CONST_BT_SHORT_PULSE_DURATION_MIN &&
                duration < CONST_BT_SHORT_PULSE_DURATION_MAX) {
                peaks.push_back(pulse.peak_rssi);
            }
        }
    }
    ptuple = GetPulsePowerDistributionFromList(peaks);
    return static_cast<int>(peaks.size());
}

int FreqHoppingsDeviceAnalyser::GetUnclassfiedFhPulsesInfo(float& mean_count, float& stddev_count,
                                                           PowerTuple& ptuple) {
    RealIntMap unclassified_per_freq;
    ResetSixFrequencies(unclassified_per_freq);
    int total = 0;
    for (const auto& entry : subband_freqhop_device_pulse_info) {
        const int count = static_cast<int>(std::count_if(
            entry.second.begin(), entry.second.end(),
            [](const RssiPulse& pulse) { return pulse.classification == PULSE_FH_DEVICE; }));
        unclassified_per_freq[entry.first.curr_freq] += count;
        total += count;
    }
    std::vector<float> counts;
    counts.reserve(unclassified_per_freq.size());
    for (const auto& entry : unclassified_per_freq)
        counts.push_back(static_cast<float>(entry.second));
    calc_mean_stdev(counts, mean_count, stddev_count);
    ptuple = GetPulsePowerDistribution(PULSE_FH_DEVICE);
    return total;
}

bool FreqHoppingsDeviceAnalyser::IsFhssPresent(int fhss_pulses_time_percentage,
                                               bool is_spurious_pulses) {
    return fhss_pulses_time_percentage >= MIN_FHSS_HIGH_PULSES && !is_spurious_pulses;
}

bool FreqHoppingsDeviceAnalyser::IsBTAclPresent(int btacl_pulses_time_percentage,
                                                bool is_spurious_pulses) {
    return btacl_pulses_time_percentage >= MIN_BTACL_PULSES && !is_spurious_pulses;
}

bool FreqHoppingsDeviceAnalyser::IsBTScoPresent(int btsco_pulses_time_percentage,
                                                bool is_spurious_pulses) {
    const int min_pairs =
        ActiveRules().min_voice_pairs > 0 ? ActiveRules().min_voice_pairs : MIN_BTSCO_PULSES;
    return btsco_pulses_time_percentage >= min_pairs && !is_spurious_pulses;
}

HopperVerdict FreqHoppingsDeviceAnalyser::Decide() {
    HopperVerdict v;
    v.fhss_pulses = FindAndTagFhssPulses(v.fhss_power, v.start_time, v.end_time);
    v.btsco_pulses = FindAndTagBluetoothSCOPulses(v.btsco_power);
    v.btacl_pulses = FindAndTagBluetoothPulses(v.btacl_power);

    // An overfull window is broadband interference, not hoppers.
    v.spurious = v.fhss_pulses > MAX_FHSS_PULSES || v.btsco_pulses > MAX_BTSCO_PULSES;
    if (v.spurious) {
        std::cout << "is_spurious_pulses: true " << v.fhss_pulses << " " << v.btsco_pulses << "\n";
    }
    v.fhss_present = IsFhssPresent(v.fhss_pulses, v.spurious);
    v.btsco_present = IsBTScoPresent(v.btsco_pulses, v.spurious);
    v.btacl_present = IsBTAclPresent(v.btacl_pulses, v.spurious);
    if (ActiveRules().hoppers_announced_separately) {
        // A phone's pairs land all over the view as it hops; pairs crowded
        // into a few bins are the skirt of a wide burst next door.
        v.fhss_present =
            v.fhss_present &&
            IsHopSpread(subband_freqhop_device_pulse_info, PULSE_FHSSPHONE_HIGH, subband_list,
                        beginIt) &&
            (!ActiveRules().hops_spread_over_band ||
             IsSpreadOverBand(subband_freqhop_device_pulse_info, PULSE_FHSSPHONE_HIGH));
        // A data link shows itself by multi-slot packets; a voice link's
        // packets, and chance pairs of other pulses on the slot grid, are
        // single-slot.
        v.btacl_present =
            v.btacl_present &&
            CountMultiSlotDataPackets(subband_freqhop_device_pulse_info) >= MIN_BTACL_PULSES &&
            (!ActiveRules().data_packets_hop ||
             IsSpreadOverBand(subband_freqhop_device_pulse_info, PULSE_BLUETOOTH));
    }
    if (ActiveRules().voice_link_keeps_its_slots && v.btsco_present)
        v.voice_pair_starts = voice_pair_starts;
    if (ActiveRules().phone_bursts_are_the_phones && v.fhss_present)
        v.phone_burst_starts =
            TaggedStarts(subband_freqhop_device_pulse_info, PULSE_FHSSPHONE_HIGH);
    return v;
}

void FreqHoppingsDeviceAnalyser::Report(const HopperVerdict& v) {
    std::vector<RssiPulse> no_pulses;
    const auto add = [&](const char* what, PulseType type, const PowerTuple& power, int pulses) {
        std::cout << "Adding a " << what << " device...\n";
        DeviceAnalyzer::AddNewFhDevice(no_pulses, type, v.start_time, v.end_time, power.mean,
                                       pulses);
    };
    // Refined: each timing signature is a device of its own; a voice link
    // and a data link (or a phone) side by side are not one unknown hopper.
    const bool each_class_alone = ActiveRules().hoppers_announced_separately;
    if (!each_class_alone && v.fhss_present && v.btsco_present && v.btacl_present) {
        add("Unknown FH", PULSE_UNK_FH, v.fhss_power, v.fhss_pulses);
        return;
    }
    if (v.fhss_present) {
        add("FHSS_Handset", PULSE_FHSSPHONE_HIGH, v.fhss_power, v.fhss_pulses);
    }
    if (v.btsco_present) {
        add("BTSCO", PULSE_BLUETOOTH_SCO, v.btsco_power, v.btsco_pulses);
    }
    if (v.btacl_present && (each_class_alone || !v.btsco_present)) {
        add("BTACL", PULSE_BLUETOOTH, v.btacl_power, v.btacl_pulses);
    }
}

void FreqHoppingsDeviceAnalyser::GetFeatures() {
    const HopperVerdict verdict = Decide();
    Report(verdict);
    for (const HopperFollowUp& follow_up : HopperFollowUps()) {
        if (follow_up.due(verdict)) {
            follow_up.run(subband_list, beginIt, verdict, debug_id);
        }
    }
    PrintFeatures(verdict);
}

namespace {

// The figures of one pass that the feature lines print besides the verdict.
struct HopperFigures {
    float mean_count = 0.0f;  // pulses per subband
    float stddev_count = 0.0f;
    int fhss_highdur_pulses = 0;
    int bt_dur_pulses = 0;
    PowerTuple bt_power = ZeroPowerTuple();
    int unclassified_pulses = 0;
    float mean_unclassified = 0.0f;
    float stddev_unclassified = 0.0f;
    PowerTuple unclassified_power = ZeroPowerTuple();
};

void AppendPowerTuple(int feature_count, std::string& line, const PowerTuple& tuple) {
    AppendFeature(line, feature_count + 1, getStr(tuple.min));
    AppendFeature(line, feature_count + 2, getStr(tuple.max));
    AppendFeature(line, feature_count + 3, getStr(tuple.mean));
    AppendFeature(line, feature_count + 4, getStr(tuple.stddev));
}

std::string FhssFeatureLine(int debug_id, const HopperVerdict& v, const HopperFigures& f,
                            const RealIntMap& fhsshigh_per_freq) {
    std::string line = (debug_id & 512) ? "FHSSHIGH 1" : "FHSSHIGH 0";
    AppendFeature(line, 2, getStr(0.0f));
    AppendFeature(line, 4, getStr(v.fhss_pulses));
    AppendFeature(line, 8, getStr(f.fhss_highdur_pulses));
    AppendFeature(line, 12, getStr(CheckPulse::GetPulseSpread(fhsshigh_per_freq)));
    AppendFeature(line, 15, getStr(CheckPulse::GetSpreadMax(fhsshigh_per_freq)));
    AppendFeature(line, 16, getStr(f.mean_count));
    AppendFeature(line, 17, getStr(f.stddev_count));
    AppendPowerTuple(19, line, v.fhss_power);
    return line;
}

// The two Bluetooth lines share their timing and spread features.
void AppendBluetoothFeatures(std::string& line, const HopperVerdict& v, const HopperFigures& f,
                             const RealIntMap& btsco_per_freq, const RealIntMap& btacl_per_freq) {
    AppendFeature(line, 2, getStr(0.0f));
    AppendFeature(line, 5, getStr(v.btsco_pulses));
    AppendFeature(line, 6, getStr(v.btacl_pulses));
    AppendFeature(line, 9, getStr(f.bt_dur_pulses));
    AppendFeature(line, 10, getStr(CheckPulse::GetPulseSpread(btsco_per_freq)));
    AppendFeature(line, 11, getStr(CheckPulse::GetPulseSpread(btacl_per_freq)));
    AppendFeature(line, 13, getStr(CheckPulse::GetSpreadMax(btsco_per_freq)));
    AppendFeature(line, 14, getStr(CheckPulse::GetSpreadMax(btacl_per_freq)));
    AppendFeature(line, 16, getStr(f.mean_count));
    AppendFeature(line, 17, getStr(f.stddev_count));
}

std::string AudioTxFeatureLine(int debug_id, const HopperFigures& f) {
    std::string line = (debug_id & 1024) ? "AUDIOTX 1" : "AUDIOTX 0";
    AppendFeature(line, 3, getStr(0.0f));
    AppendFeature(line, 7, getStr(f.unclassified_pulses));
    AppendFeature(line, 18, getStr(f.mean_unclassified));
    AppendFeature(line, 19, getStr(f.stddev_unclassified));
    AppendPowerTuple(31, line, f.unclassified_power);
    return line;
}

}  // namespace

void FreqHoppingsDeviceAnalyser::addPowerTuple(int feature_count, std::string& feature_string,
                                               const PowerTuple& tuple) {
    AppendPowerTuple(feature_count, feature_string, tuple);
}

void FreqHoppingsDeviceAnalyser::PrintFeatures(const HopperVerdict& v) {
    HopperFigures f;
    std::vector<float> subband_pulse_count;
    subband_pulse_count.reserve(count_pulses_per_subband.size());
    for (const auto& entry : count_pulses_per_subband) {
        subband_pulse_count.push_back(static_cast<float>(entry.second));
    }
    calc_mean_stdev(subband_pulse_count, f.mean_count, f.stddev_count);
    f.unclassified_pulses = GetUnclassfiedFhPulsesInfo(f.mean_unclassified, f.stddev_unclassified,
                                                       f.unclassified_power);
    f.fhss_highdur_pulses = CountFhssphoneHighDurationPulses();
    f.bt_dur_pulses = CountBluetoothPulses(f.bt_power);

    std::string btsco_line = (debug_id & 128) ? "BTSCO 1" : "BTSCO 0";
    std::string btacl_line = (debug_id & 256) ? "BTACL 1" : "BTACL 0";
    for (std::string* line : {&btsco_line, &btacl_line}) {
        AppendBluetoothFeatures(*line, v, f, count_btsco_pulse_perfreq, count_btacl_pulse_perfreq);
    }
    AppendPowerTuple(23, btsco_line, v.btsco_power);
    AppendPowerTuple(27, btsco_line, f.bt_power);
    AppendPowerTuple(27, btacl_line, f.bt_power);

    std::cout << FhssFeatureLine(debug_id, v, f, count_fhsshigh_pulse_perfreq) << "\n"
              << btsco_line << "\n"
              << btacl_line << "\n"
              << AudioTxFeatureLine(debug_id, f) << "\n";
    std::cout << CountLine("Btsco pulse_counts ", count_btsco_pulse_perfreq)
              << CountLine("Btacl pulse_counts ", count_btacl_pulse_perfreq)
              << CountLine("Fhsshigh pulse_counts ", count_fhsshigh_pulse_perfreq);
    std::cout.flush();
}
