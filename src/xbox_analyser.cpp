// Xbox console detection. The console's controller link hops like Bluetooth
// but its packets are exactly 4 bins (1.25 MHz) wide and last 227/228 or
// 342/343 us. A console is declared when enough such pulses fall in the
// window and no single frequency holds more than half of them (a hopper
// spreads its pulses; a fixed emitter does not). Refined: each view is held
// to the share its clear spectrum would give a hopper.
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

constexpr u64 BT_SLOT_US = 625;
// A voice link reserves every 4th or 6th slot; longest first. A link on
// every 2nd slot fills the slot grid: its pairs start on either packet
// (each answer is followed one slot later by the next master), and a data
// link's single-slot exchanges show the same spacings, so crediting its
// slots would take a controller's packets on the whole slot grid.
constexpr u64 VOICE_LINK_INTERVALS_US[] = {6 * BT_SLOT_US, 4 * BT_SLOT_US};
// The link's clock and the card's each run within 20 ppm of nominal.
constexpr double CLOCK_DRIFT = 40e-6;
// Beyond this a pair says nothing about a packet's phase: the clocks may
// have slipped apart by 4 us, and the search stays local.
constexpr u64 MAX_PHASE_SPAN_US = 100000;
// Timestamps carry +-1 us of jitter at each end.
constexpr double TIMESTAMP_JITTER_US = 2.0;
// Before the interval is measured, the card's usual one.
constexpr float DEFAULT_SAMPLE_INTERVAL_US = 57.0f;

// How far from the slot pattern a start may be read after `span` us: each
// start is seen up to one sample interval late.
double PhaseTolerance(u64 span, float sample_interval_us) {
    const double t = sample_interval_us > 0.0f ? sample_interval_us : DEFAULT_SAMPLE_INTERVAL_US;
    return t + TIMESTAMP_JITTER_US + CLOCK_DRIFT * static_cast<double>(span);
}

// Distance (us) of `offset` from the nearest whole multiple of `period`.
double OffGrid(u64 offset, u64 period) {
    const u64 r = offset % period;
    return static_cast<double>(std::min(r, period - r));
}

// A packet believed by the summed power of the controller's 4-5 bins has
// shown its evidence there, as a hop believed by its 2-3 bins has, though
// its strongest bin alone stands little over the join level. Those windows
// are evidence for the controller's packet only: a Zigbee frame near the
// noise fills them as well.
bool IsControllerPacket(const RssiPulse& pulse) {
    if (!pulse.believed_by_wide_band || pulse.believed_by_band) {
        return CheckPulse::IsXboxPulseType(pulse);
    }
    RssiPulse judged = pulse;
    judged.believed_by_band = 1;
    return CheckPulse::IsXboxPulseType(judged);
}

float SampleIntervalOf(const RssiPulse& pulse) {
    return pulse.parent != nullptr ? pulse.parent->sample_interval_us : 0.0f;
}

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

namespace {
// Whether three quarters or more of the spacings between successive pairs
// (those under MAX_PHASE_SPAN_US) are whole multiples of `period`.
bool MostSpacingsFit(const std::vector<u64>& pair_starts, u64 period, float sample_interval_us) {
    int spacings = 0;
    int fitting = 0;
    for (size_t i = 1; i < pair_starts.size(); ++i) {
        const u64 span = pair_starts[i] - pair_starts[i - 1];
        if (span == 0 || span > MAX_PHASE_SPAN_US)
            continue;
        ++spacings;
        if (OffGrid(span, period) <= PhaseTolerance(span, sample_interval_us))
            ++fitting;
    }
    return spacings > 0 && 4 * fitting >= 3 * spacings;
}
}  // namespace

bool XboxAnalyser::IsRetransmittingLink(const std::vector<u64>& pair_starts,
                                        float sample_interval_us) {
    // Reserved and retransmitted pairs, and a slave's packet paired with
    // the master's retransmission after it, start on any slot.
    return MostSpacingsFit(pair_starts, BT_SLOT_US, sample_interval_us);
}

u64 XboxAnalyser::VoiceLinkInterval(const std::vector<u64>& pair_starts, float sample_interval_us) {
    // Spacings at random fit one interval in 10 or fewer; a link at a
    // shorter interval fits a longer one in 2 or 3 (every 2nd or 3rd
    // spacing). Three quarters tells the link's own interval apart.
    for (const u64 interval : VOICE_LINK_INTERVALS_US) {
        if (MostSpacingsFit(pair_starts, interval, sample_interval_us))
            return interval;
    }
    return 0;
}

bool XboxAnalyser::InVoiceLinkSlot(u64 start, const std::vector<u64>& pair_starts,
                                   u64 link_interval_us, float sample_interval_us) {
    if (pair_starts.empty())
        return false;
    const auto after = std::lower_bound(pair_starts.begin(), pair_starts.end(), start);
    u64 nearest = after != pair_starts.end() ? *after : pair_starts.back();
    if (after != pair_starts.begin() &&
        (after == pair_starts.end() || start - *(after - 1) < *after - start)) {
        nearest = *(after - 1);
    }
    const u64 span = start > nearest ? start - nearest : nearest - start;
    if (span > MAX_PHASE_SPAN_US)
        return false;
    // The link's own offsets from the pair: the master's slot and, one
    // slot later, the slave's, repeating every reserved interval.
    const u64 period = link_interval_us;
    const u64 offset = start >= nearest ? start - nearest : period - (nearest - start) % period;
    const double tolerance = PhaseTolerance(span, sample_interval_us);
    return OffGrid(offset, period) <= tolerance ||
           OffGrid(offset + period - BT_SLOT_US, period) <= tolerance;
}

std::map<float, double> XboxAnalyser::ClearSpectrumPerView(
    const std::list<SubBand>& subband_list, std::list<SubBand>::const_iterator beginIt) {
    std::map<float, double> clear;
    for (auto it = beginIt; it != subband_list.end(); ++it) {
        const std::vector<float>& duty = it->duty_avg_list;
        const double dwell_us = static_cast<double>(it->GetBandDuration());
        const auto busy = std::count_if(duty.begin(), duty.end(), CheckPulse::IsContinuousBinDuty);
        // Without measured duty the view is taken as clear.
        const double clear_share =
            duty.empty() ? 1.0
                         : static_cast<double>(duty.size() - static_cast<size_t>(busy)) /
                               static_cast<double>(duty.size());
        clear[static_cast<float>(static_cast<int>(it->curr_freq))] += dwell_us * clear_share;
    }
    return clear;
}

bool XboxAnalyser::IsHopperSpread(float max_pulse_pdf) const {
    if (!ActiveRules().xbox_spread_per_clear_view)
        return max_pulse_pdf <= MAX_PULSE_PDF_PERSUBBAND;
    const std::map<float, double> clear = ClearSpectrumPerView(subband_list, beginIt);
    double all_clear = 0.0;
    for (const auto& view : clear)
        all_clear += view.second;
    int total = 0;
    for (const auto& view : count_xbox_pulses_perfreq)
        total += view.second;
    if (total == 0 || all_clear <= 0.0)
        return max_pulse_pdf <= MAX_PULSE_PDF_PERSUBBAND;
    for (const auto& view : count_xbox_pulses_perfreq) {
        const auto found = clear.find(view.first);
        const double expected = found != clear.end() ? found->second / all_clear : 0.0;
        const double share = static_cast<double>(view.second) / total;
        if (share > (1.0 + expected) / 2.0)
            return false;
    }
    return true;
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
    const bool voice_link = ActiveRules().voice_link_keeps_its_slots && !voice_pair_starts.empty();
    const float link_sample_interval =
        beginIt != subband_list.end() ? beginIt->sample_interval_us : 0.0f;
    // Without a reserved interval read from the pairs (too few of them
    // close together, or pairs of more than one link), the link's slots
    // cannot be placed and nothing is credited to it.
    u64 link_interval = voice_link ? VoiceLinkInterval(voice_pair_starts, link_sample_interval) : 0;
    // Refined: a link that retransmits may use any slot of its grid.
    if (voice_link && link_interval == 0 && ActiveRules().voice_retransmission_window &&
        IsRetransmittingLink(voice_pair_starts, link_sample_interval))
        link_interval = BT_SLOT_US;
    for (auto it = beginIt; it != subband_list.end(); ++it) {
        const float whole_mhz = static_cast<float>(static_cast<int>(it->curr_freq));
        for (const RssiPulse& pulse : it->completed_pulses_list) {
            if (!IsControllerPacket(pulse))
                continue;
            // Refined: a packet in a voice link's slot is the link's.
            if (link_interval != 0 && InVoiceLinkSlot(pulse.start_time, voice_pair_starts,
                                                      link_interval, SampleIntervalOf(pulse)))
                continue;
            // Refined: a burst paired on its channel a half-frame later is
            // the phone's.
            if (std::binary_search(phone_burst_starts.begin(), phone_burst_starts.end(),
                                   pulse.start_time))
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

    if (EnoughPulses(new_xbox_pulsecount) && IsHopperSpread(max_pulse_pdf)) {
        std::cout << "Adding a XBox device...\n";
        std::vector<RssiPulse> no_pulses;
        DeviceAnalyzer::AddNewFhDevice(no_pulses, PULSE_XBOX, device_start_time, device_end_time,
                                       tuple.mean, new_xbox_pulsecount);
    }
}
