#include "zigbee_pulse_analyser.h"

#include <gtest/gtest.h>

#include "hopper_test_support.h"
#include "host_clock.h"

using hoppertest::MakePulse;
using hoppertest::PulseSpec;

namespace {

void FixedClock(timeval* now) {
    now->tv_sec = 1700000000;
    now->tv_usec = 250;
}

RssiPulse ZigbeeFrame(u64 start, u64 duration, int centre, int width = 6) {
    PulseSpec spec;
    spec.start = start;
    spec.duration = duration;
    spec.start_bin = centre - width / 2;
    spec.end_bin = spec.start_bin + width;
    spec.centre = centre;
    spec.average = 70.0f;
    return MakePulse(spec);
}

class ZigbeeTest : public hoppertest::ClassifierTest {
protected:
    void SetUp() override {
        ClassifierTest::SetUp();
        SetHostClock(FixedClock);
    }
    // Frames of the given length back to back, 2 ms apart, in one visit.
    SubBand& AddVisit(float freq, int frames, u64 duration, int centre, int width = 6) {
        const u64 start = history.empty() ? 0 : history.back().end_time;
        SubBand& subband = hoppertest::AddSubband(history, freq, start, start + 200000);
        for (int i = 0; i < frames; ++i) {
            subband.completed_pulses_list.push_back(
                ZigbeeFrame(start + 2000 * static_cast<u64>(i), duration, centre, width));
        }
        return subband;
    }
    std::string Run(bool spurious = false) {
        ZigbeePulseAnalyser::DetermineZigbeePresence(history, history.begin(), spurious);
        return TakeStdout();
    }
    static const std::vector<FixedFreqInterferer>& Devices() {
        return DeviceAnalyzer::ActiveFixedDevices();
    }
};

TEST(ZigbeeBandsTest, BandIdsAndChannelCentres) {
    EXPECT_EQ(ZigbeePulseAnalyser::GetZigbeeBandPulseBandId(ZigbeeFrame(0, 1, 14)), 0);
    EXPECT_EQ(ZigbeePulseAnalyser::GetZigbeeBandPulseBandId(ZigbeeFrame(0, 1, 15)), 1);
    EXPECT_EQ(ZigbeePulseAnalyser::GetZigbeeBandPulseBandId(ZigbeeFrame(0, 1, 44)), 2);
    EXPECT_EQ(ZigbeePulseAnalyser::GetZigbeeBandPulseBandId(ZigbeeFrame(0, 1, 45)), 3);
    EXPECT_EQ(ZigbeePulseAnalyser::GetCFFromBandId(0), 7);
    EXPECT_EQ(ZigbeePulseAnalyser::GetCFFromBandId(3), 52);
    EXPECT_EQ(ZigbeePulseAnalyser::GetCFFromBandId(4), -1);
    EXPECT_EQ(ZigbeePulseAnalyser::GetCFFromBandId(-1), -1);
    EXPECT_TRUE(ZigbeePulseAnalyser::IsZigbeePresent(55, false));
    EXPECT_FALSE(ZigbeePulseAnalyser::IsZigbeePresent(54, false));
    EXPECT_FALSE(ZigbeePulseAnalyser::IsZigbeePresent(55, true));
}

TEST_F(ZigbeeTest, SixtyLongFramesMakeOneDeviceAndFilterTheChannel) {
    AddVisit(2437.0f, 60, 1100, 22);
    const std::string out = Run();
    ASSERT_EQ(Devices().size(), 1u);
    const FixedFreqInterferer& device = Devices()[0];
    EXPECT_EQ(device.classification, PULSE_ZIGBEE);
    EXPECT_EQ(device.center_bin_number, 22);
    EXPECT_EQ(device.start_bin_number, 19);
    EXPECT_EQ(device.end_bin_number, 25);
    EXPECT_FLOAT_EQ(device.band_cfreq, 2437.0f);
    EXPECT_EQ(device.start_time, 0u);
    EXPECT_EQ(device.end_time, 200000u);
    EXPECT_EQ(device.host_start_time.tv_sec, 1700000000 - 6);
    EXPECT_EQ(device.host_end_time.tv_sec, 1700000000);
    EXPECT_NE(out.find("Filtering Zigbee pulses 2437 index 1....\n"), std::string::npos);
    EXPECT_NE(out.find("Zigbee_pulse_timebins: 2437 0 0 60 66 0 0 0 0\n"), std::string::npos);
    for (const RssiPulse& pulse : history.front().completed_pulses_list) {
        EXPECT_EQ(pulse.classification, PULSE_ZIGBEE);
    }
}

TEST_F(ZigbeeTest, AirtimeThresholdIsFiftyFiveMilliseconds) {
    AddVisit(2412.0f, 55, 1000, 7);  // 55000 us
    AddVisit(2422.0f, 54, 1000, 7).completed_pulses_list.push_back(ZigbeeFrame(150000, 999, 7));
    const std::string out = Run();
    ASSERT_EQ(Devices().size(), 1u);
    EXPECT_FLOAT_EQ(Devices()[0].band_cfreq, 2412.0f);
    EXPECT_NE(out.find("Zigbee_pulse_timebins: 2412 55 55 0 0 0 0 0 0\n"), std::string::npos);
    EXPECT_NE(out.find("Zigbee_pulse_timebins: 2422 55 54 0 0 0 0 0 0\n"), std::string::npos);
}

TEST_F(ZigbeeTest, UpperChannelIsClampedToTheLastBin) {
    AddVisit(2462.0f, 60, 1000, 52, 7);  // 8 bins each: half width 4
    Run();
    ASSERT_EQ(Devices().size(), 1u);
    EXPECT_EQ(Devices()[0].start_bin_number, 48);
    EXPECT_EQ(Devices()[0].end_bin_number, 55);
}

TEST_F(ZigbeeTest, TwoChannelsOnOneFrequencyFilterOnlyThatFrequency) {
    SubBand& first = AddVisit(2437.0f, 60, 1000, 7);
    for (int i = 0; i < 60; ++i) {
        first.completed_pulses_list.push_back(ZigbeeFrame(1000 + 2000 * i, 1000, 37));
    }
    AddVisit(2412.0f, 10, 1000, 37);
    SubBand& later = AddVisit(2437.0f, 0, 1000, 37);
    later.completed_pulses_list.push_back(ZigbeeFrame(later.start_time + 100, 10, 40, 2));
    const std::string out = Run();
    EXPECT_EQ(Devices().size(), 2u);
    EXPECT_EQ(CountOf(out, "Filtering Zigbee pulses 2437 index "), 2);
    // Both 2437 visits are filtered twice, the 2412 visit not at all.
    EXPECT_EQ(CountOf(out, "Filtering between bins: "), 4);
    auto it = history.begin();
    EXPECT_EQ(it->filtermap.size(), 14u);
    ++it;
    EXPECT_TRUE(it->filtermap.empty());
    EXPECT_EQ(it->completed_pulses_list[0].classification, PULSE_NONE);
    ++it;
    EXPECT_EQ(it->completed_pulses_list[0].classification, PULSE_ZIGBEE);
}

TEST_F(ZigbeeTest, SpuriousWindowAndOffCentreVisitsReportNothing) {
    AddVisit(2437.0f, 60, 1100, 22);
    AddVisit(2417.0f, 60, 1100, 22);  // not a channel centre: skipped
    const std::string out = Run(true);
    EXPECT_TRUE(Devices().empty());
    EXPECT_EQ(out.find("Filtering"), std::string::npos);
    EXPECT_EQ(CountOf(out, "Zigbee_pulse_timebins: "), 6);
    EXPECT_NE(out.find("Num frequencies: 6\n"), std::string::npos);
    EXPECT_NE(out.find("Zigbee_pulse_timebins: 2437 0 0 60 66 0 0 0 0\n"), std::string::npos);
}

TEST_F(ZigbeeTest, ZeroLengthFramesAndEmptyWindowAreHarmless) {
    AddVisit(2437.0f, 30, 0, 22);
    ZigbeePulseAnalyser::DetermineZigbeePresence(history, history.end(), false);
    const std::string out = Run();
    EXPECT_TRUE(Devices().empty());
    EXPECT_NE(out.find("Zigbee_pulse_timebins: 2437 0 0 30 0 0 0 0 0\n"), std::string::npos);
}

}  // namespace
