#include "fhss_general_analyser.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <initializer_list>
#include <memory>

#include "hopper_test_support.h"

using hoppertest::HopPulse;
using hoppertest::MakePulse;
using hoppertest::PulseSpec;

namespace {

constexpr u64 GROUP_SPACING = 20000;  // beyond every pair search's reach

class HopperTest : public hoppertest::ClassifierTest {
protected:
    std::unique_ptr<FreqHoppingsDeviceAnalyser> Collect(int debug_id = 0) {
        auto analyser =
            std::make_unique<FreqHoppingsDeviceAnalyser>(history, history.begin(), nkld, debug_id);
        analyser->BuildFreqHoppingPulseInfo();
        return analyser;
    }
    void RunPass(int debug_id = 0) { Collect(debug_id)->GetFeatures(); }

    // One pass over a visit to freq filled by add(n - 1) reports nothing; a
    // fresh pass over add(n) does. Returns the second pass's stdout.
    template <typename Add>
    std::string ReportedFrom(float freq, int n, Add add) {
        add(hoppertest::AddSubband(history, freq, 0, 0), n - 1);
        RunPass();
        EXPECT_TRUE(TrackedTypes().empty());
        history.clear();
        add(hoppertest::AddSubband(history, freq, 0, 0), n);
        RunPass();
        return TakeStdout();
    }

    // FHSS handset frames: groups of 2 or 3 pulses 2500 us apart.
    static void AddFhssGroups(SubBand& subband, int pairs, int triples) {
        u64 t = subband.start_time + 1000;
        for (int g = 0; g < pairs + triples; ++g, t += GROUP_SPACING) {
            const int size = g < triples ? 3 : 2;
            for (int k = 0; k < size; ++k) {
                subband.completed_pulses_list.push_back(HopPulse(t + 2500 * k, 300));
            }
        }
        subband.end_time = t + GROUP_SPACING;
    }
    // Voice link: one slot pair (625 us apart) every 3750 us.
    static void AddScoPairs(SubBand& subband, int pairs) {
        u64 t = subband.start_time + 1000;
        for (int p = 0; p < pairs; ++p, t += 3750) {
            subband.completed_pulses_list.push_back(HopPulse(t, 200, 30));
            subband.completed_pulses_list.push_back(HopPulse(t + 625, 200, 30));
        }
        subband.end_time = t + 5000;
    }
    // Data link: groups of 2 or 3 packets one slot (625 us) apart; a tagged
    // packet does not start a pairing of its own.
    static void AddAclGroups(SubBand& subband, int pairs, int triples) {
        u64 t = subband.start_time + 1000;
        for (int g = 0; g < pairs + triples; ++g, t += GROUP_SPACING) {
            const int size = g < triples ? 3 : 2;
            for (int k = 0; k < size; ++k) {
                subband.completed_pulses_list.push_back(HopPulse(t + 625 * k, 550, 40));
            }
        }
        subband.end_time = t + GROUP_SPACING;
    }

    std::vector<PulseType> TrackedTypes() const {
        std::vector<PulseType> types;
        for (const FhInterferer& device : DeviceAnalyzer::ActiveHoppers()) {
            types.push_back(device.classification);
        }
        return types;
    }

    // Tags of the collected copies, in map order.
    static std::vector<PulseType> Tags(const FreqHoppingsDeviceAnalyser& analyser) {
        std::vector<PulseType> tags;
        for (const auto& entry : analyser.subband_freqhop_device_pulse_info) {
            for (const RssiPulse& pulse : entry.second)
                tags.push_back(pulse.classification);
        }
        return tags;
    }

    NkldDistMap nkld;
};

// One visit on 2437 MHz with pulses at the given start offsets.
SubBand& VisitWith(std::list<SubBand>& history, std::initializer_list<RssiPulse> pulses,
                   u64 end = 20000) {
    SubBand& subband = hoppertest::AddSubband(history, 2437.0f, 0, end);
    subband.completed_pulses_list.assign(pulses);
    return subband;
}

TEST_F(HopperTest, ConstructionSeedsSixFrequenciesAndEmptyWindowStaysZero) {
    hoppertest::AddSubband(history, 2437.0f, 0, 50000);
    FreqHoppingsDeviceAnalyser analyser(history, history.end(), nkld, 0);
    analyser.BuildFreqHoppingPulseInfo();
    for (const RealIntMap* map : {&analyser.count_pulses_per_subband, &analyser.subband_count}) {
        ASSERT_EQ(map->size(), 6u);
        for (const auto& entry : *map)
            EXPECT_EQ(entry.second, 0);
    }
    EXPECT_EQ(analyser.subband_dwell_time.size(), 6u);
    EXPECT_EQ(analyser.subband_average_movement.size(), 6u);
    EXPECT_TRUE(analyser.subband_freqhop_device_pulse_info.empty());
}

TEST_F(HopperTest, OrderingOfPulsesAndVisits) {
    RssiPulse weak = HopPulse(100, 300, 20, 60.0f);
    RssiPulse strong = HopPulse(100, 300, 20, 40.0f);
    EXPECT_TRUE(mySortByStartTime(strong, weak));
    EXPECT_FALSE(mySortByStartTime(weak, strong));
    EXPECT_TRUE(mySortByStartTime(HopPulse(99, 1, 20, 90.0f), strong));

    const CurrSubbandInfo low_late{2412.0f, 900, 1000};
    const CurrSubbandInfo high_early{2437.0f, 0, 100};
    const CurrSubbandInfo high_longer{2437.0f, 0, 200};
    EXPECT_TRUE(low_late < high_early);
    EXPECT_TRUE(high_early < high_longer);
    EXPECT_FALSE(high_longer < high_early);
    EXPECT_FALSE(high_early < high_early);
}

namespace {

// A busy subband's pulses as they close: in end order, many of them
// starting in the same sample at the same whole-dB peak; end_bin_number
// tells them apart.
std::vector<RssiPulse> ClosedPulses(size_t count, u64 first_start) {
    std::vector<RssiPulse> pulses;
    uint32_t state = 2412u;
    const auto next = [&state] {
        state = state * 1103515245u + 12345u;
        return state >> 8;
    };
    for (size_t i = 0; i < count; ++i) {
        const u64 end = first_start + (i * 110000) / (count + 1);
        const u64 duration = next() % 8 == 0 ? next() % 3000 : next() % 200;
        RssiPulse pulse = HopPulse(end > duration ? (end - duration) / 8 * 8 : 0, 0, 20,
                                   static_cast<float>(60 + next() % 4));
        pulse.end_time = end;
        pulse.end_bin_number = static_cast<int16_t>(i % 56);
        pulses.push_back(pulse);
    }
    return pulses;
}

// Positions (end_bin_number) after std::sort on StartOrderKey, and after
// the hopper pass's own sort.
std::vector<int> OrderAfter(std::vector<RssiPulse> pulses, bool library) {
    if (library) {
        std::sort(pulses.begin(), pulses.end(), mySortByStartTime);
    } else {
        PulseSortScratch scratch;
        SortByStartAndPeak(pulses, scratch);
    }
    std::vector<int> order;
    for (const RssiPulse& pulse : pulses)
        order.push_back(pulse.end_bin_number);
    return order;
}

}  // namespace

// Pulses equal in start and peak print and sum in list order: the hopper
// pass leaves them where the comparison sort always has, whether the keys
// pack into one word or not.
TEST_F(HopperTest, EqualPulsesKeepTheirPlaceInStartOrder) {
    for (const size_t count : {0u, 1u, 2u, 17u, 300u, 15000u}) {
        const std::vector<RssiPulse> pulses = ClosedPulses(count, 1700000000000000ULL);
        EXPECT_EQ(OrderAfter(pulses, false), OrderAfter(pulses, true)) << count << " pulses";
    }
    std::vector<RssiPulse> fractional = ClosedPulses(500, 1000);
    fractional[7].peak_rssi = 60.5f;
    EXPECT_EQ(OrderAfter(fractional, false), OrderAfter(fractional, true));
    std::vector<RssiPulse> far_apart = ClosedPulses(500, 1000);
    far_apart[3].start_time = ~u64{0} - 5;
    EXPECT_EQ(OrderAfter(far_apart, false), OrderAfter(far_apart, true));
}

TEST_F(HopperTest, CollectionSortsAndTagsTheHistory) {
    PulseSpec wide;
    wide.start = 500;
    wide.start_bin = 5;
    wide.end_bin = 15;  // 10 bins: no hopper
    wide.centre = 10;
    wide.type = PULSE_MWO;
    RssiPulse masked = HopPulse(2100, 300, 20, 70.0f);  // under a stronger copy
    SubBand& subband = VisitWith(
        history, {HopPulse(8000, 1000, 30), MakePulse(wide), masked, HopPulse(2000, 400, 21)});
    hoppertest::AddSubband(history, 2462.0f, 30000, 40000);  // no pulses at all

    auto analyser = Collect();

    std::vector<u64> starts;
    for (const RssiPulse& p : subband.completed_pulses_list)
        starts.push_back(p.start_time);
    EXPECT_EQ(starts, (std::vector<u64>{500, 2000, 2100, 8000}));
    EXPECT_EQ(subband.completed_pulses_list[0].classification, PULSE_MWO);
    for (size_t i = 1; i < 4; ++i) {
        EXPECT_EQ(subband.completed_pulses_list[i].classification, PULSE_FH_DEVICE);
    }
    const auto& info = analyser->subband_freqhop_device_pulse_info;
    ASSERT_EQ(info.size(), 2u);
    const auto& copies = info.begin()->second;
    ASSERT_EQ(copies.size(), 2u);
    EXPECT_EQ(copies[0].start_time, 2000u);
    EXPECT_EQ(copies[1].start_time, 8000u);
    EXPECT_TRUE(info.rbegin()->second.empty());
    EXPECT_EQ(analyser->subband_count.at(2462.0f), 1);
    EXPECT_EQ(analyser->subband_dwell_time.at(2462.0f), 10000u);
    EXPECT_EQ(analyser->subband_dwell_time.at(2437.0f), 20000u);
    // 2 pulses over the shorter visit scale to the longer dwell.
    EXPECT_EQ(analyser->count_pulses_per_subband.at(2437.0f), 2);
    EXPECT_EQ(analyser->count_pulses_per_subband.at(2462.0f), 0);

    // A second pass over the same history finds the same candidates.
    auto again = Collect();
    EXPECT_EQ(again->subband_freqhop_device_pulse_info.begin()->second.size(), 2u);
}

TEST_F(HopperTest, RepeatedVisitKeyKeepsOnlyTheLaterPulses) {
    VisitWith(history, {HopPulse(1000, 300), HopPulse(5000, 300)});
    VisitWith(history, {HopPulse(9000, 300)});
    auto analyser = Collect();
    ASSERT_EQ(analyser->subband_freqhop_device_pulse_info.size(), 1u);
    EXPECT_EQ(analyser->subband_freqhop_device_pulse_info.begin()->second.size(), 1u);
    EXPECT_EQ(analyser->subband_count.at(2437.0f), 2);
    EXPECT_EQ(analyser->subband_dwell_time.at(2437.0f), 40000u);
    EXPECT_EQ(analyser->count_pulses_per_subband.at(2437.0f), 3);
}

TEST_F(HopperTest, CountsNormaliseToTheLongestDwell) {
    FreqHoppingsDeviceAnalyser analyser(history, history.end(), nkld, 0);
    analyser.subband_dwell_time[2412.0f] = 100000;
    analyser.subband_dwell_time[2437.0f] = 50000;
    RealIntMap counts{{2412.0f, 10}, {2437.0f, 10}, {2452.0f, 0}, {2462.0f, 7}};
    analyser.NormaliseCountsWithTime(counts);
    EXPECT_EQ(counts.at(2412.0f), 10);
    EXPECT_EQ(counts.at(2437.0f), 20);
    EXPECT_EQ(counts.at(2452.0f), 0);
    // Pulses counted on a frequency with no dwell time stay as counted.
    EXPECT_EQ(counts.at(2462.0f), 7);
}

TEST_F(HopperTest, PowerDistributionAndPowerFeatures) {
    VisitWith(history, {HopPulse(1000, 300, 20, 58.0f), HopPulse(9000, 300, 20, 68.0f)});
    auto analyser = Collect();
    const PowerTuple none = analyser->GetPulsePowerDistribution(PULSE_BLUETOOTH);
    EXPECT_EQ(none.min, 0.0f);
    EXPECT_EQ(none.max, 0.0f);
    EXPECT_EQ(none.mean, 0.0f);
    EXPECT_EQ(none.stddev, 0.0f);
    PowerTuple tuple = analyser->GetPulsePowerDistribution(PULSE_FH_DEVICE);  // averages 60, 70
    EXPECT_FLOAT_EQ(tuple.min, -70.0f);
    EXPECT_FLOAT_EQ(tuple.max, -60.0f);
    EXPECT_FLOAT_EQ(tuple.mean, -65.0f);
    EXPECT_FLOAT_EQ(tuple.stddev, 5.0f);
    std::string line = "X";
    analyser->addPowerTuple(27, line, tuple);
    EXPECT_EQ(line, "X 28:-70.00 29:-60.00 30:-65.00 31:5.00");
}

TEST_F(HopperTest, FhssPairsOnTheFrameGrid) {
    for (const u64 gap : {2250u, 2500u, 2750u, 4500u, 5500u, 2751u, 3000u}) {
        history.clear();
        VisitWith(history, {HopPulse(1000, 300, 20), HopPulse(1000 + gap, 300, 21)});
        auto analyser = Collect();
        PowerTuple tuple{};
        unsigned long long start = 1, end = 1;
        const int tagged = analyser->FindAndTagFhssPulses(tuple, start, end);
        const bool pairs = gap <= 2750 || (gap >= 4500 && gap <= 5500);
        EXPECT_EQ(tagged, pairs ? 2 : 0) << gap;
        EXPECT_EQ(analyser->count_fhsshigh_pulse_perfreq.at(2437.0f), pairs ? 2 : 0) << gap;
        EXPECT_EQ(start, pairs ? 1000u : 0u) << gap;
        EXPECT_EQ(end, pairs ? 1000 + gap + 300 : 0u) << gap;
    }
    history.clear();
    VisitWith(history, {HopPulse(1000, 300, 20), HopPulse(3500, 300, 23)});
    PowerTuple tuple{};
    unsigned long long start = 0, end = 0;
    EXPECT_EQ(Collect()->FindAndTagFhssPulses(tuple, start, end), 0);
}

TEST_F(HopperTest, FhssFirstPulseNeedsFourMillisecondsOfVisitLeft) {
    for (const u64 left : {3999u, 4000u}) {
        history.clear();
        VisitWith(history, {HopPulse(1000, 300, 20), HopPulse(3500, 300, 21)}, 1000 + left);
        PowerTuple tuple{};
        unsigned long long start = 0, end = 0;
        EXPECT_EQ(Collect()->FindAndTagFhssPulses(tuple, start, end), left == 4000 ? 2 : 0);
    }
}

TEST_F(HopperTest, FhssFirstPulsePairsWithSeveralPartners) {
    VisitWith(history, {HopPulse(1000, 300), HopPulse(3500, 300), HopPulse(6000, 300)});
    auto analyser = Collect();
    PowerTuple tuple{};
    unsigned long long start = 0, end = 0;
    EXPECT_EQ(analyser->FindAndTagFhssPulses(tuple, start, end), 3);
    EXPECT_EQ(analyser->count_fhsshigh_pulse_perfreq.at(2437.0f), 3);
    EXPECT_FLOAT_EQ(tuple.mean, -62.0f);
}

TEST_F(HopperTest, ScoPairsFiveHundredToEightHundredApart) {
    for (const u64 gap : {499u, 500u, 800u, 801u}) {
        history.clear();
        VisitWith(history, {HopPulse(1000, 200, 20), HopPulse(1000 + gap, 200, 20)});
        auto analyser = Collect();
        PowerTuple tuple{};
        const bool pairs = gap == 500 || gap == 800;
        EXPECT_EQ(analyser->FindAndTagBluetoothSCOPulses(tuple), pairs ? 1 : 0) << gap;
        EXPECT_EQ(analyser->count_btsco_pulse_perfreq.at(2437.0f), pairs ? 2 : 0) << gap;
    }
}

TEST_F(HopperTest, ScoPartnerMayLieAnyAmountBelowButAtMostTwoBinsAbove) {
    for (const int offset : {-5, 2, 3}) {
        history.clear();
        VisitWith(history, {HopPulse(1000, 200, 20), HopPulse(1625, 200, 20 + offset)});
        PowerTuple tuple{};
        EXPECT_EQ(Collect()->FindAndTagBluetoothSCOPulses(tuple), offset <= 2 ? 1 : 0) << offset;
    }
    // The slot pair in the last 800 us of the visit is not searched.
    history.clear();
    VisitWith(history, {HopPulse(1000, 200, 20), HopPulse(1625, 200, 20)}, 1799);
    PowerTuple tuple{};
    EXPECT_EQ(Collect()->FindAndTagBluetoothSCOPulses(tuple), 0);
}

TEST_F(HopperTest, AclPairsOnTheSlotGridButOffTheHandsetGrid) {
    const std::vector<std::pair<u64, bool>> cases{{625, true},  {1250, true},  {1270, true},
                                                  {3125, true}, {1300, false}, {2500, false},
                                                  {3750, false}};
    for (const auto& c : cases) {
        history.clear();
        VisitWith(history, {HopPulse(1000, 550, 20), HopPulse(1000 + c.first, 550, 20)});
        auto analyser = Collect();
        PowerTuple tuple{};
        EXPECT_EQ(analyser->FindAndTagBluetoothPulses(tuple), c.second ? 2 : 0) << c.first;
        EXPECT_EQ(analyser->count_btacl_pulse_perfreq.at(2437.0f), c.second ? 2 : 0) << c.first;
    }
    for (const int offset : {-5, 3}) {
        history.clear();
        VisitWith(history, {HopPulse(1000, 550, 20), HopPulse(2250, 550, 20 + offset)});
        PowerTuple tuple{};
        EXPECT_EQ(Collect()->FindAndTagBluetoothPulses(tuple), offset < 0 ? 2 : 0) << offset;
    }
}

TEST_F(HopperTest, HandsetGridCombinationsAreIgnored) {
    FreqHoppingsDeviceAnalyser analyser(history, history.end(), nkld, 0);
    const RssiPulse first = HopPulse(1000, 1);
    for (const u64 gap : {250u, 2250u, 2500u, 4750u, 5000u, 10000u}) {
        EXPECT_TRUE(analyser.IgnoreFhPulseCombination(first, HopPulse(1000 + gap, 1))) << gap;
    }
    for (const u64 gap : {251u, 1250u, 2249u, 10001u}) {
        EXPECT_FALSE(analyser.IgnoreFhPulseCombination(first, HopPulse(1000 + gap, 1))) << gap;
    }
}

TEST_F(HopperTest, FhssHandsetReportedFromNinetyFiveTaggedPulses) {
    // 94 pulses in 47 pairs, then 95 in 46 pairs and a triple.
    const std::string out = ReportedFrom(2412.0f, 95, [](SubBand& subband, int pulses) {
        AddFhssGroups(subband, pulses % 2 == 0 ? pulses / 2 : pulses / 2 - 1, pulses % 2);
    });
    EXPECT_EQ(CountOf(out, "Adding a FHSS_Handset device...\n"), 1);
    EXPECT_NE(out.find("FHSSHIGH 0 2:0.00 4:95 "), std::string::npos);
    ASSERT_EQ(TrackedTypes(), std::vector<PulseType>{PULSE_FHSSPHONE_HIGH});
    const FhInterferer& device = DeviceAnalyzer::ActiveHoppers()[0];
    EXPECT_EQ(device.start_time, 1000u);
    EXPECT_EQ(device.end_time, 1000u + 46 * GROUP_SPACING + 2500 + 300);
    EXPECT_EQ(device.count_pulses, 95);
}

TEST_F(HopperTest, BluetoothVoiceReportedFromTwentySevenPairs) {
    const std::string out = ReportedFrom(2437.0f, 27, AddScoPairs);
    EXPECT_EQ(CountOf(out, "Adding a BTSCO device...\n"), 1);
    // The first pass ran the Xbox check, the voice-link pass did not.
    EXPECT_EQ(CountOf(out, "XBOX 0"), 1);
    ASSERT_EQ(TrackedTypes(), std::vector<PulseType>{PULSE_BLUETOOTH_SCO});
    // No handset frame tagged: the reported span is empty.
    EXPECT_EQ(DeviceAnalyzer::ActiveHoppers()[0].start_time, 0u);
    EXPECT_EQ(DeviceAnalyzer::ActiveHoppers()[0].end_time, 0u);
    EXPECT_EQ(DeviceAnalyzer::ActiveHoppers()[0].count_pulses, 27);
}

TEST_F(HopperTest, BluetoothDataReportedFromElevenTaggedPulses) {
    // 10 pulses in 5 pairs, then 11 in 4 pairs and a triple.
    const std::string out = ReportedFrom(2462.0f, 11, [](SubBand& subband, int pulses) {
        AddAclGroups(subband, pulses % 2 == 0 ? pulses / 2 : pulses / 2 - 1, pulses % 2);
    });
    EXPECT_EQ(CountOf(out, "Adding a BTACL device...\n"), 1);
    ASSERT_EQ(TrackedTypes(), std::vector<PulseType>{PULSE_BLUETOOTH});
    EXPECT_EQ(DeviceAnalyzer::ActiveHoppers()[0].count_pulses, 11);
}

TEST_F(HopperTest, VoiceLinkHidesDataLink) {
    AddScoPairs(hoppertest::AddSubband(history, 2437.0f, 0, 0), 27);
    AddAclGroups(hoppertest::AddSubband(history, 2462.0f, 200000, 0), 4, 1);
    RunPass();
    const std::string out = TakeStdout();
    EXPECT_EQ(CountOf(out, "Adding a BTSCO device...\n"), 1);
    EXPECT_EQ(CountOf(out, "Adding a BTACL device...\n"), 0);
}

TEST_F(HopperTest, SpuriousWindowSuppressesEveryReport) {
    AddFhssGroups(hoppertest::AddSubband(history, 2412.0f, 0, 0), 399, 1);  // 801 pulses
    AddScoPairs(hoppertest::AddSubband(history, 2437.0f, 0, 0), 27);
    RunPass();
    const std::string out = TakeStdout();
    EXPECT_NE(out.find("is_spurious_pulses: true 801 27\n"), std::string::npos);
    EXPECT_EQ(out.find("Adding a"), std::string::npos);
    EXPECT_TRUE(TrackedTypes().empty());
}

TEST_F(HopperTest, AllThreeHoppersReportOneUnknownHopper) {
    AddFhssGroups(hoppertest::AddSubband(history, 2412.0f, 0, 0), 46, 1);
    AddScoPairs(hoppertest::AddSubband(history, 2437.0f, 0, 0), 27);
    AddAclGroups(hoppertest::AddSubband(history, 2462.0f, 0, 0), 4, 1);  // 11 pulses
    RunPass();
    const std::string out = TakeStdout();
    EXPECT_EQ(CountOf(out, "Adding a"), 1);
    EXPECT_EQ(CountOf(out, "Adding a Unknown FH device...\n"), 1);
    ASSERT_EQ(TrackedTypes(), std::vector<PulseType>{PULSE_UNK_FH});
    EXPECT_EQ(DeviceAnalyzer::ActiveHoppers()[0].count_pulses, 95);
    EXPECT_NE(out.find("Btsco pulse_counts 2412 0 2422 0 2437 54 2442 0 2452 0 2462 0 \n"),
              std::string::npos);
    EXPECT_NE(out.find("Btacl pulse_counts 2412 0 2422 0 2437 0 2442 0 2452 0 2462 11 \n"),
              std::string::npos);
    EXPECT_NE(out.find("Fhsshigh pulse_counts 2412 95 2422 0 2437 0 2442 0 2452 0 2462 0 \n"),
              std::string::npos);
}

TEST_F(HopperTest, DebugBitsSelectPositiveLabels) {
    RunPass(640);
    const std::string out = TakeStdout();
    EXPECT_NE(out.find("\nFHSSHIGH 1 "), std::string::npos);
    EXPECT_NE(out.find("\nBTSCO 1 "), std::string::npos);
    EXPECT_NE(out.find("\nBTACL 0 "), std::string::npos);
    EXPECT_NE(out.find("\nAUDIOTX 0 "), std::string::npos);
}

TEST_F(HopperTest, FullPassPrintsExactFeatureAndCountLines) {
    // A handset frame pair (averages 62 and 72 dB below 1 mW) and one data
    // packet that pairs with nothing, stored out of time order.
    // start, duration (us), start, end and centre bin, peak and average.
    const PulseSpec lone{15000, 1000, 38, 42, 40, 50.0f, 55.0f};
    const PulseSpec second{3500, 300, 19, 23, 21, 70.0f, 72.0f};
    VisitWith(history, {MakePulse(lone), MakePulse(second), HopPulse(1000, 300, 20, 60.0f)});
    RunPass();
    const std::string expected =
        "Num frequencies: 6\n"
        "Zigbee_pulse_timebins: 2412 0 0 0 0 0 0 0 0\n"
        "Zigbee_pulse_timebins: 2422 0 0 0 0 0 0 0 0\n"
        "Zigbee_pulse_timebins: 2437 0 0 0 0 0 0 0 0\n"
        "Zigbee_pulse_timebins: 2442 0 0 0 0 0 0 0 0\n"
        "Zigbee_pulse_timebins: 2452 0 0 0 0 0 0 0 0\n"
        "Zigbee_pulse_timebins: 2462 0 0 0 0 0 0 0 0\n"
        "XBOX 0 1:0 2:0 3:0 4:0 5:0 6:0 7:0 8:0 9:0 10:0 11:0\n"
        "Xbox pulse_counts 2412 0 2422 0 2437 0 2442 0 2452 0 2462 0 \n"
        "FHSSHIGH 0 2:0.00 4:2 8:0 12:1.00 15:2.00 16:0.50 17:1.12 20:-72.00 21:-62.00 "
        "22:-67.00 23:5.00\n"
        "BTSCO 0 2:0.00 5:0 6:0 9:0 10:0.00 11:0.00 13:0.00 14:0.00 16:0.50 17:1.12 24:0.00 "
        "25:0.00 26:0.00 27:0.00 28:0.00 29:0.00 30:0.00 31:0.00\n"
        "BTACL 0 2:0.00 5:0 6:0 9:0 10:0.00 11:0.00 13:0.00 14:0.00 16:0.50 17:1.12 28:0.00 "
        "29:0.00 30:0.00 31:0.00\n"
        "AUDIOTX 0 3:0.00 7:1 18:0.17 19:0.37 32:-55.00 33:-55.00 34:-55.00 35:0.00\n"
        "Btsco pulse_counts 2412 0 2422 0 2437 0 2442 0 2452 0 2462 0 \n"
        "Btacl pulse_counts 2412 0 2422 0 2437 0 2442 0 2452 0 2462 0 \n"
        "Fhsshigh pulse_counts 2412 0 2422 0 2437 2 2442 0 2452 0 2462 0 \n";
    EXPECT_EQ(TakeStdout(), expected);
    EXPECT_TRUE(TrackedTypes().empty());
}

// One fixed channel (2415 MHz) seen from the two views that hold it lands
// at bin 37 of one and bin 15 of the other: in the view frame two clusters,
// each exactly half, which pass for a hopper's spread; in the band it is
// one channel. A hopper's pulses spread over the band either way.
TEST(HopSpreadTest, OneChannelSeenFromTwoViewsIsNoSpreadInTheBand) {
    SbInfoPulseListMap fixed;
    for (int i = 0; i < 10; i++) {
        const u64 t = 1000 * static_cast<u64>(i);
        fixed[{2412.0f, 0, 100000}].push_back(
            MakePulse({t, 700, 35, 39, 37, 60.0f, 62.0f, PULSE_FHSSPHONE_HIGH}));
        fixed[{2422.0f, 200000, 300000}].push_back(
            MakePulse({200000 + t, 700, 13, 17, 15, 60.0f, 62.0f, PULSE_FHSSPHONE_HIGH}));
    }
    EXPECT_TRUE(IsHopSpread(fixed, PULSE_FHSSPHONE_HIGH));
    EXPECT_FALSE(IsSpreadOverBand(fixed, PULSE_FHSSPHONE_HIGH));

    SbInfoPulseListMap hops;
    int k = 0;
    for (const float view : CONST_CENTER_FREQUENCIES) {
        for (int bin = 4; bin < 56; bin += 12) {
            const u64 t = 1000 * static_cast<u64>(k++);
            hops[{view, 0, 0}].push_back(
                MakePulse({t, 700, bin - 1, bin + 1, bin, 60.0f, 62.0f, PULSE_FHSSPHONE_HIGH}));
        }
    }
    EXPECT_TRUE(IsSpreadOverBand(hops, PULSE_FHSSPHONE_HIGH));
    EXPECT_FALSE(IsSpreadOverBand(hops, PULSE_BLUETOOTH)) << "none of that type";
}

}  // namespace
