// Frequency-hopper classifier over a window of the subband history: collects
// the pulses that could belong to a hopper, then finds FHSS cordless phones,
// Bluetooth voice (SCO) and data (ACL) links by their pulse-pair timing, and
// runs the Zigbee and Xbox checks over the same window.
#ifndef TESSARON_FHSS_GENERAL_ANALYSER_H
#define TESSARON_FHSS_GENERAL_ANALYSER_H

#include <cstdint>
#include <list>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "pulse_class.h"
#include "script_utils_module.h"
#include "subband_class.h"

// One visit of the radio to one subband.
struct CurrSubbandInfo {
    float curr_freq;
    u64 start_time;
    u64 end_time;

    // Frequency first, then visit start and end: maps keyed by it list each
    // frequency's visits in time order.
    bool operator<(const CurrSubbandInfo& other) const;
};

enum DeviceNames {
    CONST_MICROWAVE = 0,
    CONST_ANALOGPHONE = 1,
    CONST_ZIGBEE = 2,
    CONST_VIDEOCAM = 3,
    CONST_OTHER_NON_FH = 4,
    CONST_FH = 5,
    CONST_BT = 6,
    CONST_FH_LOW = 7,
    CONST_FH_HIGH = 8,
    CONST_AUDIOTX = 9,
};

typedef std::map<float, int> RealIntMap;
typedef std::map<float, u64> RealU64Map;
typedef std::map<float, float> RealRealMap;
typedef std::map<CurrSubbandInfo, std::vector<RssiPulse>> SbInfoPulseListMap;
typedef std::map<DeviceNames, std::map<float, std::vector<float>>> NkldDistMap;

// Start-time order; on equal start times the stronger pulse first.
// Start order, the stronger (smaller) peak first among equal starts.
std::pair<u64, float> StartOrderKey(const RssiPulse& pulse);
bool mySortByStartTime(const RssiPulse& pulse1, const RssiPulse& pulse2);

// Working storage of the start-order sort, kept from one subband to the next.
struct PulseSortScratch {
    std::vector<u64> packed;
    std::vector<uint32_t> order;
};

// Puts pulses in StartOrderKey order. Equal pulses land in the order of
// FixedOrderSort (fixed_order_sort.h), which is where the hopper pass has
// always left them: they print and sum in that order.
void SortByStartAndPeak(std::vector<RssiPulse>& pulses, PulseSortScratch& scratch);

// Bluetooth data packets tagged in the window that last longer than one
// 625 us slot: DH3/DH5 traffic, which a voice link never sends.
int CountMultiSlotDataPackets(const SbInfoPulseListMap& pulses_per_visit);

// Whether the pulses tagged `type` are spread over the view as a hopper's
// are (CheckPulse::IsSpreadOverView).
bool IsHopSpread(const SbInfoPulseListMap& pulses_per_visit, PulseType type);
// Whether the pulses tagged `type` spread over the band's frequencies: no
// HOP_SPREAD_WINDOW_BINS of the band, counted from the lowest view's first
// bin, hold more than HOP_SPREAD_MAX_SHARE of them.
bool IsSpreadOverBand(const SbInfoPulseListMap& pulses_per_visit, PulseType type);
// Start times of the pulses tagged `type`, in time order.
std::vector<u64> TaggedStarts(const SbInfoPulseListMap& pulses_per_visit, PulseType type);

// What one hopper pass found: the tagged pulse counts and powers of each
// hopper kind, the window's span, and which kinds are present.
struct HopperVerdict {
    int fhss_pulses = 0;
    int btsco_pulses = 0;
    int btacl_pulses = 0;
    PowerTuple fhss_power{0, 0, 0, 0};
    PowerTuple btsco_power{0, 0, 0, 0};
    PowerTuple btacl_power{0, 0, 0, 0};
    unsigned long long start_time = 0;
    unsigned long long end_time = 0;
    bool spurious = false;  // too many pulses: broadband interference
    bool fhss_present = false;
    bool btsco_present = false;
    bool btacl_present = false;
    // Refined, with a voice link present: the start of the first packet of
    // each of its tagged pairs, in time order (the link's slot clock).
    std::vector<u64> voice_pair_starts;
    // Refined, with an FHSS phone present: the starts of the bursts its
    // pair search tagged, in time order.
    std::vector<u64> phone_burst_starts;
};

// A pass that runs on the hopper window after the hopper pass, when due(verdict).
struct HopperFollowUp {
    const char* name;
    bool (*due)(const HopperVerdict& verdict);
    void (*run)(std::list<SubBand>& history, std::list<SubBand>::iterator begin,
                const HopperVerdict& verdict, int debug_id);
};
const std::vector<HopperFollowUp>& HopperFollowUps();

class FreqHoppingsDeviceAnalyser {
public:
    int debug_id;
    std::list<SubBand>& subband_list;
    std::list<SubBand>::iterator beginIt;
    SbInfoPulseListMap subband_freqhop_device_pulse_info;
    RealIntMap count_pulses_per_subband;
    RealU64Map subband_dwell_time;
    RealIntMap subband_count;
    RealRealMap subband_average_movement;
    NkldDistMap input_nkld_distribution_map;
    RealIntMap count_fhsshigh_pulse_perfreq;
    RealIntMap count_btsco_pulse_perfreq;
    RealIntMap count_btacl_pulse_perfreq;
    // Start of the first packet of each voice pair the last search tagged.
    std::vector<u64> voice_pair_starts;
    PulseSortScratch sort_scratch;

    FreqHoppingsDeviceAnalyser(std::list<SubBand>& subband_list,
                               std::list<SubBand>::iterator beginIt,
                               NkldDistMap& input_nkld_distribution_map, int debug_id);
    FreqHoppingsDeviceAnalyser(const FreqHoppingsDeviceAnalyser&) = delete;
    FreqHoppingsDeviceAnalyser& operator=(const FreqHoppingsDeviceAnalyser&) = delete;

    // Collection step: must run before GetFeatures. Sorts each subband's
    // completed pulses and tags hopper-shaped ones PULSE_FH_DEVICE in the
    // history.
    void BuildFreqHoppingPulseInfo();
    void NormaliseCountsWithTime(RealIntMap& count_list);
    PowerTuple GetPulsePowerDistribution(PulseType pulse_type);
    // The power of the pulses tagged `tag`; zero when the search had no candidates.
    PowerTuple TaggedPower(int candidates, PulseType tag);
    void addPowerTuple(int feature_count, std::string& feature_string, const PowerTuple& tuple);

    // Detection step: tags the collected copies, reports devices, prints the
    // feature and count lines.
    // The whole pass: Decide, Report, the due follow-ups, PrintFeatures.
    void GetFeatures();
    // Tags the pulses and decides which hopper kinds are present.
    HopperVerdict Decide();
    // Hands the present kinds to the tracker.
    void Report(const HopperVerdict& verdict);
    // The feature lines of the pass on stdout.
    void PrintFeatures(const HopperVerdict& verdict);
    int FindAndTagFhssPulses(PowerTuple& ptuple, unsigned long long& device_start_time,
                             unsigned long long& device_end_time);
    int FindAndTagBluetoothSCOPulses(PowerTuple& ptuple);
    int FindAndTagBluetoothPulses(PowerTuple& ptuple);
    bool IgnoreFhPulseCombination(const RssiPulse& pulse1, const RssiPulse& pulse2);
    int CountFhssphoneHighDurationPulses();
    int CountBluetoothPulses(PowerTuple& ptuple);
    int GetUnclassfiedFhPulsesInfo(float& mean_count, float& stddev_count, PowerTuple& ptuple);
    bool IsFhssPresent(int fhss_pulses_time_percentage, bool is_spurious_pulses);
    bool IsBTAclPresent(int btacl_pulses_time_percentage, bool is_spurious_pulses);
    bool IsBTScoPresent(int btsco_pulses_time_percentage, bool is_spurious_pulses);
};

#endif
