#include "pulse_class.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <utility>
#include <vector>

namespace {

// A quiet 56-bin row (-100 dBm everywhere) with the given bins set.
std::vector<float> Row(std::initializer_list<std::pair<int, float>> bins) {
    std::vector<float> row(56, 100.0f);
    for (const auto& [bin, value] : bins) {
        row[bin] = value;
    }
    return row;
}

RssiPulse Pulse(int start, int end, int centre, const std::vector<float>& row, u64 t = 1000) {
    return RssiPulse(t, 2412.0f, start, end, centre, row, nullptr);
}

}  // namespace

TEST(InterestingBand, GrowsWithinFifteenDbAndAboveTheFloor) {
    int s = -1, e = -1;
    // Peak at bin 0 grows only to the right.
    GetInterestingBand(Row({{0, 60}, {1, 70}, {2, 75}}), 60, 0, s, e);
    EXPECT_EQ(s, 0);
    EXPECT_EQ(e, 2);
    // Peak at bin 55 grows only to the left and never looks right.
    GetInterestingBand(Row({{55, 60}, {54, 61}}), 60, 55, s, e);
    EXPECT_EQ(s, 54);
    EXPECT_EQ(e, 55);
    // Exactly 15 dB weaker joins, 15.0001 does not.
    GetInterestingBand(Row({{10, 60}, {9, 75.0f}, {11, 75.0001f}}), 60, 10, s, e);
    EXPECT_EQ(s, 9);
    EXPECT_EQ(e, 10);
    // Exactly -85 dBm joins; -85.5 dBm stops the walk.
    GetInterestingBand(Row({{20, 80}, {19, 85.0f}, {21, 85.5f}, {22, 81}}), 80, 20, s, e);
    EXPECT_EQ(s, 19);
    EXPECT_EQ(e, 20);
    // A stronger neighbour stops the walk without joining.
    GetInterestingBand(Row({{30, 70}, {29, 65}, {31, 72}, {32, 71}}), 70, 30, s, e);
    EXPECT_EQ(s, 30);
    EXPECT_EQ(e, 32);
}

TEST(PulseMatching, AdjacencyAndCentreRules) {
    const std::vector<float> row = Row({});
    const RssiPulse wide = Pulse(10, 14, 12, row);
    EXPECT_FALSE(wide.IsMatchingPulse(Pulse(15, 20, 17, row)));
    // Centres 14 and 15 are adjacent but 15 lies outside [10, 14].
    const RssiPulse wide14 = Pulse(10, 14, 14, row);
    EXPECT_FALSE(wide14.IsMatchingPulse(Pulse(15, 20, 15, row)));
    EXPECT_TRUE(wide.IsMatchingPulse(Pulse(13, 20, 14, row)));
    // Narrow pulses match any adjacent pulse.
    const RssiPulse narrow = Pulse(10, 11, 10, row);
    EXPECT_TRUE(narrow.IsMatchingPulse(Pulse(11, 30, 25, row)));
    EXPECT_FALSE(narrow.IsMatchingPulse(Pulse(13, 14, 13, row)));
    EXPECT_TRUE(wide.IsOverlappingBinRange(14, 20));
    EXPECT_FALSE(wide.IsOverlappingBinRange(15, 20));
}

TEST(PulseMerging, KeepsStrongestProfileAndLowerBinOnTies) {
    const std::vector<float> row_a = Row({{10, 70}, {11, 60}, {12, 70}});
    const std::vector<float> row_b = Row({{11, 65}, {12, 60}, {13, 60}});
    RssiPulse a = Pulse(10, 12, 11, row_a, 1000);
    RssiPulse b = Pulse(11, 13, 13, row_b, 1100);
    b.end_time = 1100;
    RssiPulse::Profile profile = RssiPulse::ToProfile(row_a);
    a.UpdatePulse(b, profile, RssiPulse::ToProfile(row_b));
    EXPECT_EQ(a.end_time, 1100u);
    EXPECT_EQ(a.reading_counts, 2);
    // Bin 12 ties the old peak (60): the lower bin 11 keeps the peak.
    EXPECT_EQ(a.center_bin_number, 11);
    EXPECT_EQ(a.peak_rssi, 60.0f);
    EXPECT_EQ(profile[12], 60);
    EXPECT_EQ(a.start_bin_number, 10);
    EXPECT_EQ(a.end_bin_number, 13);
    a.EndPulse(profile);
    EXPECT_FLOAT_EQ(a.average_pulse_rssi, (70 + 60 + 60 + 60) / 4.0f);
    EXPECT_EQ(a.GetPulseDuration(), 100u);
}

TEST(PulseNames, DisplayNamesOfEveryClass) {
    EXPECT_EQ(RssiPulse::getClassification(PULSE_DISCARD), "Unknown_Device_xxx");
    EXPECT_EQ(RssiPulse::getClassification(PULSE_BLUETOOTH_SCO), "Bluetooth_Streaming");
    EXPECT_EQ(RssiPulse::getClassification(PULSE_ANALOGPHONE), "Analog_Phone");
    EXPECT_EQ(RssiPulse::getClassification(PULSE_FHSSPHONE_HIGH), "FHSS_Phone_(Handset)");
    EXPECT_EQ(RssiPulse::getClassification(PULSE_UNK_FH), "Unknown_Hop_Device");
    EXPECT_EQ(RssiPulse::getClassification(static_cast<PulseType>(109)), "Unknown_Device_xxx");
    const RssiPulse p = Pulse(1, 3, 2, Row({{2, 61.5f}}), 4294967300ULL);
    EXPECT_EQ(p.toString(), "2.412e+06 [5, 5] [1, 2, 3] 61.5 0 100 []");
}
