#include "subband_analyser_class.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <fstream>

#include "analyser_fixture.h"
#include "channel_visit.h"
#include "device_analyzer.h"
#include "temp_path.h"
#include "tessaron_main.h"

namespace {

// A sample whose bins already hold power bytes (dB below 1 mW), as the
// conversion leaves them.
spectrum_fft ConvertedSample(uint16_t freq, u64 ts, uint8_t level = 100) {
    spectrum_fft s;
    memset(&s, 0, sizeof(s));
    s.freq = freq;
    s.ts = ts;
    s.start_index = 2;
    for (int i = 2; i < 58; i++) {
        s.samples[i] = level;
    }
    return s;
}

class SubBandAnalyserTest : public AnalyserFixture {
protected:
    // Feeds `rows` samples on one frequency, `step` us apart, starting at t0.
    void Feed(uint16_t freq, u64 t0, int rows, u64 step, uint8_t level = 100) {
        for (int i = 0; i < rows; i++) {
            analyser->ExtractPulsesFromFFT(ConvertedSample(freq, t0 + i * step, level));
        }
    }
};

}  // namespace

TEST_F(SubBandAnalyserTest, ConvertsRawMagnitudesToStoredPower) {
    spectrum_fft s;
    memset(&s, 0, sizeof(s));
    s.rssi = 10;
    s.start_index = 9;
    s.samples[0] = 77;
    analyser->ProcessSpectrumFFT(&s);
    EXPECT_EQ(s.start_index, 2);
    EXPECT_EQ(s.samples[0], 0);
    for (int i = 2; i < 58; i++) {
        EXPECT_EQ(s.samples[i], 85) << i;  // all-zero bins: 95 - rssi
    }

    memset(&s, 0, sizeof(s));
    s.rssi = -10;
    s.samples[10] = 100;
    s.samples[11] = 50;
    s.samples[29] = 0;
    s.samples[31] = 0;
    s.samples[30] = 255;  // DC spur: replaced by the mean of its neighbours
    analyser->ProcessSpectrumFFT(&s);
    // S = 12500: bin 10 is -105 + 40 - 40.969 = -105.97 -> 105 (truncated,
    // not rounded); bin 11 is -111.99 -> 111; empty bins -145.97 -> 145.
    EXPECT_EQ(s.samples[10], 105);
    EXPECT_EQ(s.samples[11], 111);
    EXPECT_EQ(s.samples[30], 145);
    EXPECT_EQ(s.samples[40], 145);
}

TEST_F(SubBandAnalyserTest, BandChangesOnNewFrequencyTimeSliceAndClockWrap) {
    ap->curr_freq = 2412;
    ap->prev_freq = 2437;
    EXPECT_TRUE(analyser->CanChangeBand(ap));
    ap->prev_freq = 2412;
    ap->last_subband_change_time = 1000;
    ap->curr_time = 111000;  // exactly 110000 us later
    EXPECT_FALSE(analyser->CanChangeBand(ap));
    ap->curr_time = 111001;
    EXPECT_TRUE(analyser->CanChangeBand(ap));
    ap->curr_time = 1000;  // equal times are taken as a full wrap
    EXPECT_TRUE(analyser->CanChangeBand(ap));
    ap->last_subband_change_time = 4294967000ULL;
    ap->curr_time = 100;  // wrapped 395 us after the change
    EXPECT_FALSE(analyser->CanChangeBand(ap));
}

TEST_F(SubBandAnalyserTest, FirstSampleOnlyOpensTheHistory) {
    analyser->ExtractPulsesFromFFT(ConvertedSample(2412, 5000, 60));
    ASSERT_EQ(ap->completed_sub_bands_list.size(), 1u);
    EXPECT_EQ(ap->GetCurrentSubband().num_rows, 0u);
    EXPECT_EQ(ap->GetCycleCount(), 0u);
    analyser->ExtractPulsesFromFFT(ConvertedSample(2412, 5100, 60));
    EXPECT_EQ(ap->GetCurrentSubband().num_rows, 1u);
}

TEST_F(SubBandAnalyserTest, GapsOverThreeMillisecondsEndPulsesInFlight) {
    Feed(2412, 1000, 3, 100, 60);  // one wide pulse in flight
    ASSERT_EQ(ap->GetCurrentSubband().active_pulses_list.size(), 1u);
    analyser->ExtractPulsesFromFFT(ConvertedSample(2412, 1200 + 3000, 60));
    EXPECT_EQ(ap->GetCurrentSubband().completed_pulses_list.size(), 0u);
    analyser->ExtractPulsesFromFFT(ConvertedSample(2412, 4200 + 3001, 60));
    EXPECT_EQ(ap->GetCurrentSubband().completed_pulses_list.size(), 1u);
    // A clock going backwards is a gap too.
    analyser->ExtractPulsesFromFFT(ConvertedSample(2412, 7000, 60));
    EXPECT_EQ(ap->GetCurrentSubband().completed_pulses_list.size(), 2u);
}

TEST_F(SubBandAnalyserTest, ShortSubbandsAreDroppedLongEnoughOnesCounted) {
    analyser->ExtractPulsesFromFFT(ConvertedSample(2412, 1000));  // opens history
    Feed(2412, 2000, 49, 400);                                    // 49 rows
    analyser->ExtractPulsesFromFFT(ConvertedSample(2437, 100000));
    EXPECT_EQ(ap->GetCycleCount(), 0u);
    ASSERT_EQ(ap->completed_sub_bands_list.size(), 1u);
    EXPECT_EQ(ap->GetCurrentSubband().curr_freq, 2437.0f);

    // The subband opened at 100000 gets 49 more rows: 50 rows spanning
    // exactly 15000 us is accepted.
    Feed(2437, 100000 + 15000 - 48 * 10, 48, 10);
    analyser->ExtractPulsesFromFFT(ConvertedSample(2437, 115000));
    Feed(2462, 120000, 1, 1);
    EXPECT_EQ(ap->GetCycleCount(), 1u);
    ASSERT_EQ(ap->completed_sub_bands_list.size(), 2u);
    const SubBand& closed = ap->completed_sub_bands_list.front();
    EXPECT_EQ(closed.num_rows, 50u);
    EXPECT_EQ(closed.GetBandDuration(), 15000u);
    ASSERT_EQ(closed.db_avg_list.size(), 56u);
    EXPECT_FLOAT_EQ(closed.db_avg_list[0], 100.0f);
    EXPECT_TRUE(closed.active_pulses_list.empty());
}

TEST_F(SubBandAnalyserTest, RejectsWrongSizesAndSampleCounts) {
    uint8_t wire[1400] = {};
    testing::internal::CaptureStderr();
    analyser->ProcessDatagram(wire, 1359);
    analyser->ProcessDatagram(wire, 1361);
    analyser->ProcessDatagram(wire, -1);
    EXPECT_EQ(testing::internal::GetCapturedStderr(),
              "Warning!! Received packet not of the right size: 1359\n"
              "Warning!! Received packet not of the right size: 1361\n"
              "Warning!! Received packet not of the right size: -1\n");
    EXPECT_TRUE(ap->completed_sub_bands_list.empty());

    fft_data d;
    memset(&d, 0, sizeof(d));
    for (int i = 0; i < 14; i++) {
        d.samples[i].freq = 2412;
        d.samples[i].ts = 1000 + i * 60;
    }
    for (int32_t bad : {-1, 15, 1000000}) {
        d.count = bad;
        EncodeFftData(d, wire);
        testing::internal::CaptureStderr();
        analyser->ProcessDatagram(wire, 1360);
        EXPECT_EQ(testing::internal::GetCapturedStderr(),
                  "Warning!! Received packet with sample count out of range: " +
                      std::to_string(bad) + "\n");
    }
    d.count = 0;
    EncodeFftData(d, wire);
    testing::internal::CaptureStderr();
    analyser->ProcessDatagram(wire, 1360);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
    EXPECT_TRUE(ap->completed_sub_bands_list.empty());

    d.count = 14;
    EncodeFftData(d, wire);
    analyser->ProcessDatagram(wire, 1360);
    ASSERT_EQ(ap->completed_sub_bands_list.size(), 1u);
    EXPECT_EQ(ap->GetCurrentSubband().num_rows, 13u);  // the first sample only opens it
    EXPECT_EQ(analyser->GetDatagramCounters().wrong_size, 3u);
    EXPECT_EQ(analyser->GetDatagramCounters().bad_count, 3u);
    EXPECT_EQ(analyser->GetDatagramCounters().used, 2u);
}

TEST(ClassifierSchedule, PeriodsAndWindows) {
    // Single channel: microwave and high-duty every 18 cycles, hoppers every 72.
    EXPECT_FALSE(IsClassifierDue(0, 0, 1, 18));
    EXPECT_TRUE(IsClassifierDue(18, 0, 1, 18));
    EXPECT_FALSE(IsClassifierDue(18, 0, 1, 72));
    EXPECT_TRUE(IsClassifierDue(72, 0, 1, 72));
    EXPECT_TRUE(IsClassifierDue(72, 0, 1, 18));
    EXPECT_FALSE(IsClassifierDue(17, 0, 1, 18));
    // Scan mode: six subbands per cycle.
    EXPECT_TRUE(IsClassifierDue(2, 0, 6, 2));
    EXPECT_FALSE(IsClassifierDue(2, 3, 6, 2));
}

TEST_F(SubBandAnalyserTest, FilterListHidesOnlyUnclassifiedPulses) {
    std::list<SubBand>& history = ap->completed_sub_bands_list;
    ap->AddNewSubband(ap, 0, 2437, 95, 0);  // global bins 80..135
    const std::vector<float> row(56, 60.0f);
    SubBand& s = history.back();
    s.completed_pulses_list.emplace_back(0, 2437.0f, 10, 12, 11, row, &s);
    s.completed_pulses_list.emplace_back(0, 2437.0f, 10, 12, 11, row, &s);
    s.completed_pulses_list.back().set_classification(PULSE_BLUETOOTH);
    s.completed_pulses_list.emplace_back(0, 2437.0f, 40, 42, 41, row, &s);

    analyser->ApplyFilterList(history, history.begin(), {{136, 200}});  // above the subband
    EXPECT_EQ(s.completed_pulses_list[0].get_classification(), PULSE_NONE);
    analyser->ApplyFilterList(history, history.begin(), {{89, 91}});
    EXPECT_EQ(s.completed_pulses_list[0].get_classification(), PULSE_DISCARD);
    EXPECT_EQ(s.completed_pulses_list[1].get_classification(), PULSE_BLUETOOTH);
    EXPECT_EQ(s.completed_pulses_list[2].get_classification(), PULSE_NONE);
}

TEST_F(SubBandAnalyserTest, MappingFileNamesTheAccessPoint) {
    const std::string path = TestTempPath("ap_mapping");
    {
        std::ofstream out(path);
        out << "# ether wireless name\n"
            << "aa:bb:cc:dd:ee:01 00:0e:8e:30:9c:99 lab-ap \t\n"
            << "short line\n"
            << "aa:bb:cc:dd:ee:02 00:0e:8e:30:9c:99 second-name\n"
            << "\n"
            << "aa:bb:cc:dd:ee:03 11:22:33:44:55:66 after-blank\n";
    }
    testing::internal::CaptureStdout();
    testing::internal::CaptureStderr();
    analyser->GetApInformation(path);
    EXPECT_EQ(testing::internal::GetCapturedStdout(),
              "GetApInformation [AA:BB:CC:DD:EE:01, 00:0E:8E:30:9C:99, LAB-AP] AP_MAC: "
              "00:0E:8E:30:9C:99\n");
    EXPECT_NE(testing::internal::GetCapturedStderr().find(":3:"), std::string::npos);
    EXPECT_EQ(analyser->reference_mac, "00:0E:8E:30:9C:99");
    EXPECT_EQ(analyser->access_point_name_map["00:0E:8E:30:9C:99"], "LAB-AP");
    EXPECT_EQ(analyser->access_point_map.count("11:22:33:44:55:66"), 0u);
    std::remove(path.c_str());
}

namespace {

// Closes `subbands` subbands of 51 rows spanning exactly 15000 us each,
// alternating between two channels, with a narrow carrier in the first.
void CloseSubbands(SubBandAnalyser& analyser, int subbands, uint16_t f1 = 2412,
                   uint16_t f2 = 2437) {
    static u64 t = 1000;
    static int closed = 0;
    for (int s = 0; s < subbands; s++) {
        const uint16_t freq = closed++ % 2 == 0 ? f1 : f2;
        for (int row = 0; row < 51; row++, t += 300) {
            spectrum_fft sample = ConvertedSample(freq, t, 95);
            sample.samples[2 + 20] = 50;
            analyser.ExtractPulsesFromFFT(sample);
        }
        t += 300;
    }
}

}  // namespace

TEST_F(SubBandAnalyserTest, ScheduleRunsClassifiersInOrderOverTheirWindows) {
    CloseSubbands(*analyser, 2);  // opens the history; the first closes nothing
    ASSERT_EQ(ap->GetCycleCount(), 1u);
    testing::internal::CaptureStdout();
    CloseSubbands(*analyser, 17);
    std::string out = testing::internal::GetCapturedStdout();
    ASSERT_EQ(ap->GetCycleCount(), 18u);
    // Cycle 18: microwave, then high-duty; no hopper pass.
    const size_t microwave = out.find("MICROWAVE 1 ");
    const size_t high_duty = out.find("HIGHDUTY 1 ");
    ASSERT_NE(microwave, std::string::npos);
    ASSERT_NE(high_duty, std::string::npos);
    EXPECT_LT(microwave, high_duty);
    EXPECT_EQ(out.find("SubBandAnalyser: subband_list"), std::string::npos);
    // The classifiers run before the next subband opens: the window of 18
    // covers exactly the 18 closed subbands.
    int tagged = 0;
    for (const SubBand& s : ap->completed_sub_bands_list) {
        tagged += s.analogphone_tagging_completed ? 1 : 0;
        EXPECT_FALSE(s.pulse_tagging_completed);
    }
    EXPECT_EQ(tagged, 18);

    testing::internal::CaptureStdout();
    CloseSubbands(*analyser, 54);
    out = testing::internal::GetCapturedStdout();
    ASSERT_EQ(ap->GetCycleCount(), 72u);
    const size_t last_microwave = out.rfind("MICROWAVE 1 ");
    const size_t last_high_duty = out.rfind("HIGHDUTY 1 ");
    const size_t hopper = out.find("SubBandAnalyser: subband_list 00:0E:8E:30:9C:04 72 72 72\n");
    ASSERT_NE(hopper, std::string::npos) << out.substr(out.size() > 2000 ? out.size() - 2000 : 0);
    EXPECT_LT(last_microwave, last_high_duty);
    EXPECT_LT(last_high_duty, hopper);
    int hopper_tagged = 0;
    for (const SubBand& s : ap->completed_sub_bands_list) {
        hopper_tagged += s.pulse_tagging_completed ? 1 : 0;
    }
    EXPECT_EQ(hopper_tagged, 72);
}

TEST_F(SubBandAnalyserTest, OffCentreFrequenciesAndClockWrapsDoNotDerailTheSchedule) {
    // 2417 MHz is no centre frequency: classifiers must skip, not index -1.
    testing::internal::CaptureStdout();
    testing::internal::CaptureStderr();
    CloseSubbands(*analyser, 74, 2417, 2462);
    // The card clock wraps back to zero.
    for (int row = 0; row < 60; row++) {
        analyser->ExtractPulsesFromFFT(ConvertedSample(2462, 4294967200ULL + row * 300u, 60));
    }
    for (int row = 0; row < 60; row++) {
        analyser->ExtractPulsesFromFFT(ConvertedSample(2462, 100 + row * 300u, 60));
    }
    testing::internal::GetCapturedStdout();
    const std::string err = testing::internal::GetCapturedStderr();
    EXPECT_NE(err.find("Warning... GetFreqToBin: 2417 not found..\n"), std::string::npos);
    EXPECT_GE(ap->GetCycleCount(), 73u);
}
