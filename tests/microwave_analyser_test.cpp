#include "microwave_analyser.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <list>
#include <string>

#include "device_analyzer.h"
#include "fixedfreq_interferer_class.h"
#include "host_clock.h"
#include "ui_event_listener.h"

namespace {

using ::testing::HasSubstr;
using ::testing::Not;

// A closed subband with a flat -90 dBm spectrum and the given drift results.
SubBand Closed(float freq, u64 start, u32 drift_instances = 0, int max_sweep = 0,
               int peak_index = 20, float peak_rssi = 70.0f) {
    SubBand sb(nullptr, start, freq, 95.0f, 0);
    sb.end_time = start + 110000;
    sb.num_rows = 300;
    sb.db_avg_list.assign(56, 90.0f);
    sb.duty_avg_list.assign(56, 0.0f);
    sb.drift_analyser.num_drift_instances = drift_instances;
    sb.drift_analyser.num_on_pulses = drift_instances;
    sb.drift_analyser.max_sweep_length = max_sweep;
    sb.drift_analyser.peak_index = peak_index;
    sb.drift_analyser.peak_rssi = peak_rssi;
    std::vector<float> profile(56, 90.0f);
    sb.completed_pulses_list.push_back(
        RssiPulse(start + 500, freq * 1000, 40, 45, 42, profile, nullptr));
    sb.completed_pulses_list.push_back(
        RssiPulse(start + 100, freq * 1000, 3, 5, 4, profile, nullptr));
    return sb;
}

class MicrowaveTest : public ::testing::Test {
protected:
    void SetUp() override { FakeHostClock::Install(5000); }

    std::string Run(std::list<SubBand>& history, std::list<SubBand>::iterator begin) {
        testing::internal::CaptureStdout();
        testing::internal::CaptureStderr();
        analyser.ComputeMetrics(history, begin, "00:11:22:33:44:55");
        err = testing::internal::GetCapturedStderr();
        return testing::internal::GetCapturedStdout();
    }
    std::string Run(std::list<SubBand>& history) { return Run(history, history.begin()); }

    MicrowaveAnalyser analyser{0xffff};
    std::string err;
};

TEST_F(MicrowaveTest, FeatureLineHoldsTheFifteenFeatures) {
    std::list<SubBand> history;
    history.push_back(Closed(2437, 1000, 2, 40));
    SubBand& sb = history.back();
    sb.db_avg_list[20] = 60.5f;
    sb.drift_analyser.stdev_on_drift_times = 1234.5f;
    sb.drift_analyser.count_sweep_length = 3;
    sb.drift_analyser.avg_sweep_lengths = 30;
    sb.drift_analyser.avg_sweep_freq = 5;
    EXPECT_EQ(Run(history),
              "MICROWAVE 1 1:2437 2:1000 3:300 4:110000 5:20 6:-60.5 7:2 8:1234.5 9:2 10:100000 "
              "11:3 12:30 13:40 14:5 15:-90\n");
    MicrowaveAnalyser quiet(2);
    testing::internal::CaptureStdout();
    quiet.ComputeMetrics(history, history.begin(), "mac");
    EXPECT_THAT(testing::internal::GetCapturedStdout(), ::testing::StartsWith("MICROWAVE 0 1:"));
}

TEST_F(MicrowaveTest, AChannelSeenOnceIsNeverChosen) {
    std::list<SubBand> history;
    history.push_back(Closed(2437, 1000, 9, 40));
    history.push_back(Closed(2412, 200000, 9, 40));
    const std::string out = Run(history);
    EXPECT_THAT(out, Not(HasSubstr("Microwave ++++")));
    EXPECT_TRUE(DeviceAnalyzer::ActiveFixedDevices().empty());
}

TEST_F(MicrowaveTest, TwoDriftingSubbandsOfThreeChooseTheChannel) {
    std::list<SubBand> history;
    history.push_back(Closed(2437, 1000, 2, 0, 20, 70.0f));
    history.push_back(Closed(2437, 200000, 0, 0, 25, 71.0f));
    history.push_back(Closed(2437, 400000, 2, 0, 27, 73.5f));
    const std::string out = Run(history);
    EXPECT_THAT(out, HasSubstr(" Microwave ++++: 2437 3 2 0\n"));
    EXPECT_THAT(out, HasSubstr("MicrowaveAnalyser:: drift info 2437 20 70adding 00:11:22:33:44:55 "
                               "0 MWO pulses\n"));
    EXPECT_THAT(out, HasSubstr("Adding Microwave at: 2437\n"));
    ASSERT_EQ(DeviceAnalyzer::ActiveFixedDevices().size(), 1u);
    const FixedFreqInterferer& oven = DeviceAnalyzer::ActiveFixedDevices()[0];
    EXPECT_EQ(oven.classification, PULSE_MWO);
    EXPECT_EQ(oven.center_bin_number, 24);  // (20 + 25 + 27) / 3 truncated
    EXPECT_FLOAT_EQ(oven.peak_rssi, 71.5f);
    EXPECT_EQ(oven.start_bin_number, 0);
    EXPECT_EQ(oven.end_bin_number, 55);
    EXPECT_FLOAT_EQ(oven.bandwidth, 56.0f);
    EXPECT_EQ(oven.host_start_time.tv_sec, 5000);
    // Every subband of the channel gave its pulses to the oven, in start order.
    for (const SubBand& sb : history) {
        ASSERT_EQ(sb.completed_pulses_list.size(), 2u);
        EXPECT_EQ(sb.completed_pulses_list[0].classification, PULSE_DISCARD);
        EXPECT_EQ(sb.completed_pulses_list[1].classification, PULSE_DISCARD);
        EXPECT_LT(sb.completed_pulses_list[0].start_time, sb.completed_pulses_list[1].start_time);
    }

    DeviceAnalyzer::ResetForTests();
    history.back().drift_analyser.num_drift_instances = 1;
    history.back().drift_analyser.num_on_pulses = 1;
    EXPECT_THAT(Run(history), Not(HasSubstr("Microwave ++++")));
    EXPECT_TRUE(DeviceAnalyzer::ActiveFixedDevices().empty());
}

TEST_F(MicrowaveTest, SweepWindowIsAbove26UpTo61) {
    for (int sweep : {26, 27, 61, 62}) {
        DeviceAnalyzer::ResetForTests();
        std::list<SubBand> history;
        history.push_back(Closed(2442, 1000, 0, sweep));
        history.push_back(Closed(2442, 200000, 0, sweep));
        const bool chosen = Run(history).find(" Microwave ++++: 2442 2 0 2\n") != std::string::npos;
        EXPECT_EQ(chosen, sweep == 27 || sweep == 61) << sweep;
    }
}

TEST_F(MicrowaveTest, AnActiveHighDutyDeviceExcusesTheSubband) {
    FixedFreqInterferer cam({30, 15, 35, 21, 50}, 0, 1, 2437, PULSE_VIDEOCAM);
    std::vector<FixedFreqInterferer> batch{cam};
    DeviceAnalyzer::AddNewDevices(batch);
    std::list<SubBand> history;
    history.push_back(Closed(2437, 1000, 3, 0, 20));
    history.push_back(Closed(2437, 200000, 3, 0, 20));
    const std::string out = Run(history);
    EXPECT_THAT(out, HasSubstr(" Microwave ++++: 2437 2 2 0\n"));
    EXPECT_THAT(out, HasSubstr("MicrowaveAnalyser:: HighDuty device already present...\n"));
    EXPECT_THAT(out, Not(HasSubstr("Adding Microwave")));
    EXPECT_EQ(DeviceAnalyzer::ActiveFixedDevices().size(), 1u);
    EXPECT_EQ(history.front().completed_pulses_list[0].classification, PULSE_NONE);
}

TEST_F(MicrowaveTest, OffCentreSubbandIsCountedInNoChannel) {
    std::list<SubBand> history;
    history.push_back(Closed(2417, 1000, 5, 40));
    history.push_back(Closed(2417, 200000, 5, 40));
    const std::string out = Run(history);
    EXPECT_THAT(out, HasSubstr("MICROWAVE 1 1:2417 "));
    EXPECT_THAT(out, Not(HasSubstr("Microwave ++++")));
    EXPECT_THAT(err, HasSubstr("2417"));
    EXPECT_EQ(history.front().completed_pulses_list[0].classification, PULSE_NONE);
}

TEST_F(MicrowaveTest, TwoOvensReportLowerFrequencyFirstOverTheWholeHistory) {
    std::list<SubBand> history;
    history.push_back(Closed(2462, 100, 0, 0));  // outside the examined range
    history.push_back(Closed(2437, 1000, 2, 0));
    history.push_back(Closed(2412, 200000, 2, 0));
    history.push_back(Closed(2437, 400000, 2, 0));
    history.push_back(Closed(2412, 600000, 2, 0));
    const std::string out = Run(history, std::next(history.begin()));
    const size_t low = out.find("Adding Microwave at: 2412\n");
    const size_t high = out.find("Adding Microwave at: 2437\n");
    ASSERT_NE(low, std::string::npos);
    ASSERT_NE(high, std::string::npos);
    EXPECT_LT(low, high);
    // The tracker folds every oven report into the oven it already tracks,
    // so the first report names the record.
    ASSERT_EQ(DeviceAnalyzer::ActiveFixedDevices().size(), 1u);
    EXPECT_EQ(DeviceAnalyzer::ActiveFixedDevices()[0].count_instances, 2);
    EXPECT_EQ(DeviceAnalyzer::ActiveFixedDevices()[0].band_cfreq, 2412.0f);
    EXPECT_EQ(DeviceAnalyzer::ActiveFixedDevices()[0].start_time, 100u);
    EXPECT_EQ(DeviceAnalyzer::ActiveFixedDevices()[0].end_time, 710000u);
    EXPECT_EQ(history.front().completed_pulses_list[0].classification, PULSE_NONE);
}

TEST_F(MicrowaveTest, EmptyRangeWritesAndReportsNothing) {
    std::list<SubBand> history;
    history.push_back(Closed(2437, 1000, 2, 0));
    EXPECT_EQ(Run(history, history.end()), "");
    std::list<SubBand> none;
    EXPECT_EQ(Run(none), "");
    EXPECT_TRUE(DeviceAnalyzer::ActiveFixedDevices().empty());
}

}  // namespace
