#include "subband_class.h"

#include <gtest/gtest.h>

#include <climits>
#include <string>
#include <utility>
#include <vector>

#include "host_clock.h"

namespace {

constexpr float kQuiet = 90.0f;  // -90 dBm: below the -85 dBm segmentation floor
constexpr float kNoiseFloor = 95.0f;

std::vector<float> QuietSample() {
    return std::vector<float>(56, kQuiet);
}

// A quiet sample with single active bins at the given powers.
std::vector<float> Tones(const std::vector<std::pair<int, float>>& tones) {
    std::vector<float> sample = QuietSample();
    for (const auto& [bin, power] : tones) {
        sample[bin] = power;
    }
    return sample;
}

// A sample with bins [first, last] at `value` and the rest quiet.
std::vector<float> Burst(int first, int last, float value) {
    std::vector<float> sample = QuietSample();
    for (int b = first; b <= last; b++) {
        sample[b] = value;
    }
    return sample;
}

SubBand MakeSubBand(u64 start = 1000) {
    return SubBand(nullptr, start, 2437.0f, kNoiseFloor, 0);
}

std::vector<RssiPulse> PulsesOf(SubBand& subband, const std::vector<float>& sample, u64 t = 2000) {
    std::vector<RssiPulse> pulses;
    subband.ProcessSingleRssiBand2(t, subband.curr_freq, sample, pulses);
    return pulses;
}

// A pulse's centre, first and last bin.
void ExpectBins(const RssiPulse& pulse, int centre, int start, int end) {
    EXPECT_EQ(pulse.center_bin_number, centre);
    EXPECT_EQ(pulse.start_bin_number, start);
    EXPECT_EQ(pulse.end_bin_number, end);
}

// A sample with two pulses: bins 5-6 and bin 30.
std::vector<float> TwoPulses() {
    std::vector<float> two = Burst(5, 6, 60.0f);
    two[30] = 50.0f;
    return two;
}

void FixedClock(timeval* now) {
    now->tv_sec = 1700000000;
    now->tv_usec = 250;
}

}  // namespace

TEST(SubBandSetup, StampsHostTimeThroughTheHostClock) {
    SetHostClock(FixedClock);
    SubBand subband(nullptr, 5000, 2412.0f, 95.0f, 0);
    EXPECT_EQ(subband.startUnixTime.tv_sec, 1700000000);
    EXPECT_EQ(subband.startUnixTime.tv_usec, 250);
    EXPECT_EQ(subband.drift_analyser.start_time, 5000u);
}

TEST(PeakSearch, MiddleOfEqualStrongestBins) {
    const SubBand subband = MakeSubBand();
    std::vector<float> sample = Burst(10, 12, 50.0f);
    EXPECT_EQ(subband.GetPeakRssiIndexInRange(sample, 0, 55), 11);
    sample[12] = 60.0f;
    EXPECT_EQ(subband.GetPeakRssiIndexInRange(sample, 0, 55), 11) << "two ties: upper middle";
    sample = Burst(10, 13, 50.0f);
    EXPECT_EQ(subband.GetPeakRssiIndexInRange(sample, 0, 55), 12);
    // A stronger bin later restarts the ties.
    sample[40] = 40.0f;
    EXPECT_EQ(subband.GetPeakRssiIndexInRange(sample, 0, 55), 40);
    EXPECT_EQ(subband.GetPeakRssiIndexInRange(sample, 5, 5), 5);
}

TEST(PeakSearch, RangeIsClippedToTheList) {
    const SubBand subband = MakeSubBand();
    const std::vector<float> sample = Burst(54, 55, 50.0f);
    EXPECT_EQ(subband.GetPeakRssiIndexInRange(sample, 50, 80), 55);
    EXPECT_EQ(subband.GetPeakRssiIndexInRange(sample, -5, 3), 2);
    EXPECT_EQ(subband.GetPeakRssiIndexInRange({}, 0, -1), -1);
    EXPECT_EQ(subband.GetPeakRssiIndexInRange(sample, 10, 9), -1);
}

TEST(Segmentation, QuietSampleYieldsNoPulse) {
    SubBand subband = MakeSubBand();
    EXPECT_TRUE(PulsesOf(subband, QuietSample()).empty());
    EXPECT_EQ(subband.end_time, 2000u);
}

TEST(Segmentation, ExactlyMinus85IsActiveAndWholeBandIsOnePulse) {
    SubBand subband = MakeSubBand();
    std::vector<float> sample(56, 85.0f);
    sample[30] = 70.0f;
    std::vector<RssiPulse> pulses = PulsesOf(subband, sample);
    ASSERT_EQ(pulses.size(), 1u);
    ExpectBins(pulses[0], 30, 0, 55);
}

TEST(Segmentation, TwoSegmentsStrongerFirst) {
    SubBand subband = MakeSubBand();
    std::vector<float> sample = Burst(5, 8, 80.0f);
    sample[6] = 70.0f;
    for (int b = 40; b <= 42; b++) {
        sample[b] = 60.0f;
    }
    sample[9] = 86.0f;  // the strongest whole power below the floor: quiet
    std::vector<RssiPulse> pulses = PulsesOf(subband, sample, 3000);
    ASSERT_EQ(pulses.size(), 2u);
    ExpectBins(pulses[0], 41, 40, 42);
    ExpectBins(pulses[1], 6, 5, 8);
    EXPECT_EQ(pulses[1].parent, &subband);
}

TEST(Segmentation, RunOpenAtTheTopBinEndsThere) {
    SubBand subband = MakeSubBand();
    std::vector<RssiPulse> pulses = PulsesOf(subband, Burst(50, 55, 70.0f));
    ASSERT_EQ(pulses.size(), 1u);
    ExpectBins(pulses[0], 53, 50, 55);
}

TEST(Segmentation, EveryOtherBinActiveGivesTheMostSingleBinPulses) {
    SubBand subband = MakeSubBand();
    std::vector<float> sample = QuietSample();
    for (int b = 0; b < 56; b += 2) {
        sample[b] = 50.0f + static_cast<float>(b / 2);  // bin 0 strongest
    }
    std::vector<RssiPulse> pulses = PulsesOf(subband, sample);
    ASSERT_EQ(pulses.size(), 28u);
    for (size_t i = 0; i < pulses.size(); i++) {
        const int bin = static_cast<int>(2 * i);
        ExpectBins(pulses[i], bin, bin, bin);
    }
}

TEST(PulseTracking, PulseGrowsWhileContinuedAndEndsOnFirstMiss) {
    SubBand subband = MakeSubBand();
    subband.ProcessSubBand(2000, 2437.0f, kNoiseFloor, Burst(20, 22, 60.0f));
    subband.ProcessSubBand(2000, 2437.0f, kNoiseFloor, QuietSample());
    EXPECT_EQ(subband.active_pulses_list.size(), 1u) << "same timestamp does not end it";
    std::vector<float> wider = Burst(20, 23, 65.0f);
    wider[21] = 55.0f;
    subband.ProcessSubBand(2100, 2437.0f, kNoiseFloor, wider);
    ASSERT_EQ(subband.active_pulses_list.size(), 1u);
    EXPECT_TRUE(subband.completed_pulses_list.empty());
    const RssiPulse& grown = subband.active_pulses_list[0];
    EXPECT_EQ(grown.reading_counts, 2);
    EXPECT_EQ(grown.end_time, 2100u);
    EXPECT_FLOAT_EQ(grown.peak_rssi, 55.0f);

    subband.ProcessSubBand(2200, 2437.0f, kNoiseFloor, QuietSample());
    EXPECT_TRUE(subband.active_pulses_list.empty());
    ASSERT_EQ(subband.completed_pulses_list.size(), 1u);
    const RssiPulse& done = subband.completed_pulses_list[0];
    EXPECT_EQ(done.start_time, 2000u);
    EXPECT_EQ(done.GetPulseDuration(), 100u);
    EXPECT_FLOAT_EQ(done.GetAveragePulseRssi(), (60.0f + 55.0f + 60.0f + 65.0f) / 4);
}

TEST(PulseTracking, ActivePulseTakesFirstMatchAndOthersStartAnew) {
    SubBand subband = MakeSubBand();
    subband.ProcessSubBand(2000, 2437.0f, kNoiseFloor, Burst(20, 21, 60.0f));
    ASSERT_EQ(subband.active_pulses_list.size(), 1u);
    // A narrow active pulse matches both adjacent new pulses; the stronger
    // one comes first and is taken.
    std::vector<float> two = Burst(20, 20, 70.0f);
    two[22] = 50.0f;
    subband.ProcessSubBand(2100, 2437.0f, kNoiseFloor, two);
    ASSERT_EQ(subband.active_pulses_list.size(), 2u);
    EXPECT_EQ(subband.active_pulses_list[0].reading_counts, 2);
    EXPECT_EQ(subband.active_pulses_list[0].center_bin_number, 22);
    EXPECT_EQ(subband.active_pulses_list[1].reading_counts, 1);
    EXPECT_EQ(subband.active_pulses_list[1].center_bin_number, 20);
    EXPECT_TRUE(subband.completed_pulses_list.empty());
}

TEST(PulseTracking, EndedPulsesLeaveTheRestInOrder) {
    SubBand subband = MakeSubBand();
    subband.ProcessSubBand(2000, 2437.0f, kNoiseFloor,
                           Tones({{5, 60.0f}, {25, 50.0f}, {45, 40.0f}}));
    ASSERT_EQ(subband.active_pulses_list.size(), 3u);
    EXPECT_EQ(subband.active_pulses_list[0].center_bin_number, 45);

    subband.ProcessSubBand(2100, 2437.0f, kNoiseFloor,
                           Tones({{5, 60.0f}, {45, 40.0f}, {50, 45.0f}}));
    ASSERT_EQ(subband.completed_pulses_list.size(), 1u);
    EXPECT_EQ(subband.completed_pulses_list[0].center_bin_number, 25);
    ASSERT_EQ(subband.active_pulses_list.size(), 3u);
    EXPECT_EQ(subband.active_pulses_list[0].center_bin_number, 45);
    EXPECT_EQ(subband.active_pulses_list[1].center_bin_number, 5);
    EXPECT_EQ(subband.active_pulses_list[2].center_bin_number, 50);
}

TEST(PulseTracking, BigGapEndsEveryActivePulse) {
    SubBand subband = MakeSubBand();
    subband.ProcessSubBand(2000, 2437.0f, kNoiseFloor, TwoPulses());
    subband.ProcessBigTimeGapEvent();
    EXPECT_TRUE(subband.active_pulses_list.empty());
    ASSERT_EQ(subband.completed_pulses_list.size(), 2u);
    EXPECT_FLOAT_EQ(subband.completed_pulses_list[0].GetAveragePulseRssi(), 50.0f);
    EXPECT_FLOAT_EQ(subband.completed_pulses_list[1].GetAveragePulseRssi(), 60.0f);
}

TEST(SubBandStatistics, NoiseFloorAveragesFromTheSecondSampleAndDutyCountsAboveFloor) {
    SubBand subband(nullptr, 1000, 2437.0f, 90.0f, 0);
    subband.ProcessSubBand(2000, 2437.0f, 96.0f, Burst(3, 3, 60.0f));
    EXPECT_EQ(subband.num_rows, 1u);
    EXPECT_FLOAT_EQ(subband.avg_nf, 90.0f);
    subband.ProcessSubBand(2100, 2437.0f, 96.0f, Burst(3, 3, 92.0f));
    EXPECT_FLOAT_EQ(subband.avg_nf, 93.0f);
    EXPECT_FLOAT_EQ(subband.DbSums()[3], 152.0f);
    EXPECT_FLOAT_EQ(subband.DbSums()[0], 180.0f);
    // Floor 90 then 93: bin 3 beats it twice; the quiet 90.0 bins only when
    // the floor has risen to 93.
    EXPECT_FLOAT_EQ(subband.DutySums()[3], 2.0f);
    EXPECT_FLOAT_EQ(subband.DutySums()[0], 1.0f);
    EXPECT_EQ(subband.end_time, 2100u);
    EXPECT_EQ(subband.drift_analyser.peak_rssi_history.size(), 1u);
}

// A floor between two whole dB values: the byte just stronger than it is
// counted, the byte just weaker is not, over more samples than the narrow
// counters hold before they are folded.
TEST(SubBandStatistics, DutyCountsAgainstAFractionalFloorOverManySamples) {
    SubBand subband(nullptr, 1000, 2437.0f, 92.5f, 0);
    std::vector<float> sample = QuietSample();
    sample[0] = 92.0f;
    sample[1] = 93.0f;
    for (u64 n = 0; n < 600; n++) {
        subband.ProcessSubBand(2000 + 4 * n, 2437.0f, 92.5f, sample);
    }
    EXPECT_EQ(subband.avg_nf, 92.5f);
    EXPECT_EQ(subband.DutySums()[0], 600.0f);
    EXPECT_EQ(subband.DutySums()[1], 0.0f);
    EXPECT_EQ(subband.DutySums()[2], 600.0f);
    EXPECT_EQ(subband.DbSums()[1], 93.0f * 600);
}

TEST(SubBandStatistics, MalformedSampleIsDroppedWithWarning) {
    SubBand subband = MakeSubBand();
    testing::internal::CaptureStderr();
    subband.ProcessSubBand(2000, 2437.0f, kNoiseFloor, std::vector<float>(10, 60.0f));
    const std::string warning = testing::internal::GetCapturedStderr();
    EXPECT_NE(warning.find("10 bins dropped"), std::string::npos) << warning;
    EXPECT_EQ(subband.num_rows, 0u);
    EXPECT_TRUE(subband.active_pulses_list.empty());
    EXPECT_TRUE(PulsesOf(subband, std::vector<float>(10, 60.0f)).empty());
}

TEST(SubBandFilter, WholeBandFilterTagsEveryPulse) {
    SubBand subband = MakeSubBand();
    subband.ProcessSubBand(2000, 2437.0f, kNoiseFloor, TwoPulses());
    subband.ProcessBigTimeGapEvent();
    testing::internal::CaptureStdout();
    subband.UpdateFilter(0, 55, PULSE_DISCARD);
    EXPECT_EQ(testing::internal::GetCapturedStdout(),
              "Filtering between bins: 0 and 55 for device 112\n"
              "Filtered 2 pulses... Remaining 0 pulses...\n");
    for (const RssiPulse& pulse : subband.completed_pulses_list) {
        EXPECT_EQ(pulse.get_classification(), PULSE_DISCARD);
    }
    EXPECT_EQ(subband.filtermap.size(), 56u);
}

TEST(SubBandFilter, BandFilterLeavesOthersAndReportsBigOnes) {
    SubBand subband = MakeSubBand();
    subband.ProcessSubBand(2000, 2437.0f, kNoiseFloor, TwoPulses());
    subband.ProcessSubBand(2600, 2437.0f, kNoiseFloor, TwoPulses());
    subband.ProcessBigTimeGapEvent();
    ASSERT_EQ(subband.completed_pulses_list.size(), 2u);
    const std::string big = subband.completed_pulses_list[1].toString(subband.sync_offset);

    testing::internal::CaptureStdout();
    subband.UpdateFilter(28, 33, PULSE_ZIGBEE);
    EXPECT_EQ(testing::internal::GetCapturedStdout(),
              "Filtering between bins: 28 and 33 for device 2\n"
              "Subband::UpdateFilter Not filtering big pulse: " +
                  big + "\n" + "Filtered 1 pulses... Remaining 1 pulses...\n");
    EXPECT_EQ(subband.completed_pulses_list[0].get_classification(), PULSE_ZIGBEE);
    EXPECT_EQ(subband.completed_pulses_list[1].get_classification(), PULSE_NONE);
    EXPECT_EQ(subband.filtermap.size(), 6u);
    EXPECT_EQ(subband.filtermap.at(28), PULSE_ZIGBEE);
}

TEST(SubBandFilter, OversizedRangeClaimsOnlyRealBins) {
    SubBand subband = MakeSubBand();
    subband.ProcessSubBand(2000, 2437.0f, kNoiseFloor, Burst(5, 6, 60.0f));
    subband.ProcessBigTimeGapEvent();
    testing::internal::CaptureStdout();
    subband.UpdateFilter(-10, INT_MAX, PULSE_UNK_HIGHDUTY);
    testing::internal::GetCapturedStdout();
    EXPECT_EQ(subband.completed_pulses_list[0].get_classification(), PULSE_UNK_HIGHDUTY);
    EXPECT_EQ(subband.filtermap.size(), 56u);
    EXPECT_EQ(subband.filtermap.begin()->first, 0);
    EXPECT_EQ(subband.filtermap.rbegin()->first, 55);
}
