#include "highduty_general_analyzer.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cmath>
#include <fstream>
#include <list>
#include <random>
#include <string>
#include <vector>

#include "carrier_width_rule.h"
#include "device_analyzer.h"
#include "fixedfreq_interferer_class.h"
#include "host_clock.h"
#include "refined_test_support.h"
#include "shapematch_module.h"
#include "tessaron_main.h"
#include "ui_event_listener.h"

namespace {

using ::testing::HasSubstr;
using ::testing::Not;

void LoadSignatures(const std::string& contents) {
    char path[] = "/tmp/ff_hdXXXXXX";
    const int fd = mkstemp(path);
    close(fd);
    std::ofstream(path) << contents;
    ShapeMetrics::ParseSpecShape(path);
}

HighDutyMetrics Metrics(float duty_max, int norm_bw, int weighted_bw, float analog_theta,
                        float video_theta) {
    HighDutyMetrics m;
    m.duty_max = duty_max;
    m.norm_bw = norm_bw;
    m.weighted_bw = weighted_bw;
    m.mintheta_map[PULSE_ANALOGPHONE] = analog_theta;
    m.mintheta_map[PULSE_VIDEOCAM] = video_theta;
    return m;
}

// A closed subband whose averaged spectrum is -95 dBm except for a band of
// equal power at [first, last] (values stored as dB below 1 mW).
SubBand ClosedSubband(float freq, u64 start, int first, int last, float band_db, float duty) {
    SubBand sb(nullptr, start, freq, 95.0f, 0);
    sb.end_time = start + 110000;
    sb.num_rows = 300;
    sb.db_avg_list.assign(56, 95.0f);
    sb.duty_avg_list.assign(56, 0.0f);
    for (int b = first; b <= last; ++b) {
        sb.db_avg_list[b] = band_db;
        sb.duty_avg_list[b] = duty;
    }
    RssiPulse pulse(start + 10, freq * 1000, first, last, (first + last) / 2, sb.db_avg_list,
                    nullptr);
    sb.completed_pulses_list.push_back(pulse);
    return sb;
}

class HighDutyTest : public ::testing::Test {
protected:
    void SetUp() override { FakeHostClock::Install(1000); }

    std::string Run(std::list<SubBand>& history) {
        testing::internal::CaptureStdout();
        analyzer.ComputeMetrics(history, history.begin());
        return testing::internal::GetCapturedStdout();
    }

    HighDutyAnalyzer analyzer{0xffff};
};

TEST_F(HighDutyTest, AnalogPhoneRulesAtTheirBoundaries) {
    float theta = -1;
    // Rule 1: near-continuous and the signature fits.
    EXPECT_TRUE(analyzer.IsAnalogphonePresent(Metrics(0.96f, 10, 10, 0.04f, 1), theta));
    EXPECT_FLOAT_EQ(theta, 0.04f);
    EXPECT_FALSE(analyzer.IsAnalogphonePresent(Metrics(0.96f, 4, 5, 0.041f, 1), theta));
    EXPECT_FALSE(analyzer.IsAnalogphonePresent(Metrics(0.95f, 10, 10, 0.0f, 1), theta));
    // Rule 2: almost always on and narrow in energy.
    EXPECT_TRUE(analyzer.IsAnalogphonePresent(Metrics(0.99f, 10, 4, 1, 1), theta));
    EXPECT_FALSE(analyzer.IsAnalogphonePresent(Metrics(0.99f, 10, 5, 1, 1), theta));
    EXPECT_FALSE(analyzer.IsAnalogphonePresent(Metrics(0.984f, 10, 4, 1, 1), theta));
    // Compared in double: the float nearest 0.985 lies just above it, the
    // float nearest 0.95 just below.
    EXPECT_TRUE(analyzer.IsAnalogphonePresent(Metrics(0.985f, 10, 4, 1, 1), theta));
    // Rule 3: a carrier only a few bins wide.
    EXPECT_TRUE(analyzer.IsAnalogphonePresent(Metrics(0.8f, 3, 10, 1, 1), theta));
    EXPECT_FALSE(analyzer.IsAnalogphonePresent(Metrics(0.79f, 3, 10, 1, 1), theta));
    EXPECT_FALSE(analyzer.IsAnalogphonePresent(Metrics(0.8f, 4, 10, 1, 1), theta));
}

TEST_F(HighDutyTest, VideoCameraRuleAtItsBoundaries) {
    float theta = -1;
    HighDutyMetrics m = Metrics(0.5f, 30, 3, 1, 0.005f);
    m.duty_avg = 0.2f;
    EXPECT_TRUE(analyzer.IsVideocamPresent(m, theta));
    m.norm_bw = 29;
    EXPECT_FALSE(analyzer.IsVideocamPresent(m, theta));
    EXPECT_FLOAT_EQ(theta, 0.005f);  // handed back before the width test
    m.norm_bw = 30;
    m.duty_avg = 0.19f;
    EXPECT_FALSE(analyzer.IsVideocamPresent(m, theta));
    m.weighted_bw = 5;
    EXPECT_TRUE(analyzer.IsVideocamPresent(m, theta));
    m.weighted_bw = 3;
    m.duty_max = 0.91f;
    EXPECT_TRUE(analyzer.IsVideocamPresent(m, theta));
    m.mintheta_map[PULSE_VIDEOCAM] = 0.0051f;
    EXPECT_FALSE(analyzer.IsVideocamPresent(m, theta));
}

TEST_F(HighDutyTest, AClassWithoutSignaturesFailsItsThetaConditions) {
    HighDutyMetrics m;
    m.duty_max = 1.0f;
    m.duty_avg = 1.0f;
    m.norm_bw = 40;
    m.weighted_bw = 40;
    float analog = 0, video = 0;
    EXPECT_FALSE(analyzer.IsAnalogphonePresent(m, analog));
    EXPECT_FALSE(analyzer.IsVideocamPresent(m, video));
    EXPECT_FLOAT_EQ(analog, 1000.0f);
    EXPECT_FLOAT_EQ(video, 1000.0f);
    m.norm_bw = 3;  // the theta-free rules still hold
    EXPECT_TRUE(analyzer.IsAnalogphonePresent(m, analog));
}

TEST_F(HighDutyTest, EqualThetasMakeAVideoCamera) {
    const std::string flat = "-2 2 -0.447214,-0.447214,-0.447214,-0.447214,-0.447214";
    LoadSignatures("1 Phone 1 " + flat + "\n3 Cam 1 " + flat + "\n");
    std::list<SubBand> history;
    history.push_back(ClosedSubband(2437, 1000, 5, 50, 50.0f, 1.0f));
    const std::string out = Run(history);
    EXPECT_THAT(out, HasSubstr("analog: 1 videocam: 1"));
    EXPECT_THAT(out, HasSubstr("HighDutyAnalyzer: videocam detected...\n"));
    EXPECT_THAT(out, HasSubstr("HighDutyAnalyzer::AddDetectedDevice: -50\n"));
    EXPECT_THAT(out, HasSubstr("Final Device: 3\n"));
    ASSERT_EQ(DeviceAnalyzer::ActiveFixedDevices().size(), 1u);
    const FixedFreqInterferer& cam = DeviceAnalyzer::ActiveFixedDevices()[0];
    EXPECT_EQ(cam.classification, PULSE_VIDEOCAM);
    EXPECT_EQ(cam.start_bin_number, 5);
    EXPECT_EQ(cam.end_bin_number, 50);
    EXPECT_EQ(cam.center_bin_number, 28);
    EXPECT_FLOAT_EQ(cam.bandwidth, 46.0f);
    EXPECT_FLOAT_EQ(cam.peak_rssi, 50.0f);
    EXPECT_EQ(cam.host_start_time.tv_sec, 1000);
    EXPECT_EQ(history.front().completed_pulses_list[0].classification, PULSE_VIDEOCAM);
}

TEST_F(HighDutyTest, AStrictlyBetterAnalogFitWinsOverAFiringVideoRule) {
    const std::string flat = "-2 2 -0.447214,-0.447214,-0.447214,-0.447214,-0.447214";
    LoadSignatures("1 Phone 1 " + flat +
                   "\n3 Cam 1 -2 2 -0.4845,-0.43605,-0.3876,-0.43605,-0.4845\n");
    std::list<SubBand> history;
    history.push_back(ClosedSubband(2437, 1000, 5, 50, 50.0f, 1.0f));
    const std::string out = Run(history);
    EXPECT_THAT(out, HasSubstr("analog: 1 videocam: 0"));
    EXPECT_THAT(out, HasSubstr("HighDutyAnalyzer: analogphone1 detected...\n"));
    ASSERT_EQ(DeviceAnalyzer::ActiveFixedDevices().size(), 1u);
    EXPECT_EQ(DeviceAnalyzer::ActiveFixedDevices()[0].classification, PULSE_ANALOGPHONE);
}

TEST_F(HighDutyTest, UnknownHighDutyBandMergesIntoAnOverlappingPhone) {
    std::list<SubBand> history;
    history.push_back(ClosedSubband(2437, 1000, 29, 31, 50.0f, 1.0f));     // narrow: analog
    history.push_back(ClosedSubband(2437, 200000, 26, 34, 60.0f, 0.96f));  // neither rule
    history.push_back(ClosedSubband(2437, 400000, 5, 12, 60.0f, 0.5f));    // low duty: nothing
    const std::string out = Run(history);
    EXPECT_THAT(out, HasSubstr("HighDutyAnalyzer: analogphone detected...\n"));
    EXPECT_THAT(out, HasSubstr("HighDutyAnalyzer: unknown_high_duty_dev detected...\n"));
    EXPECT_THAT(out, HasSubstr("Final Device: 1\n"));
    EXPECT_THAT(out, Not(HasSubstr("Final Device: 4")));
    ASSERT_EQ(DeviceAnalyzer::ActiveFixedDevices().size(), 1u);
    const FixedFreqInterferer& phone = DeviceAnalyzer::ActiveFixedDevices()[0];
    EXPECT_EQ(phone.classification, PULSE_ANALOGPHONE);
    EXPECT_EQ(phone.count_instances, 2);
    EXPECT_EQ(phone.end_time, 310000u);
    // Each band's pulses carry the class decided for that band.
    auto it = history.begin();
    EXPECT_EQ(it->completed_pulses_list[0].classification, PULSE_ANALOGPHONE);
    EXPECT_EQ((++it)->completed_pulses_list[0].classification, PULSE_UNK_HIGHDUTY);
    EXPECT_EQ((++it)->completed_pulses_list[0].classification, PULSE_NONE);
}

FixedFreqInterferer Device(PulseType type, int first, int last, int instances) {
    FixedFreqInterferer d({static_cast<float>((first + last) / 2), static_cast<float>(first),
                           static_cast<float>(last), static_cast<float>(last - first + 1), 60.0f},
                          1000, 2000, 2437, type);
    d.count_instances = instances;
    return d;
}

TEST_F(HighDutyTest, ConsolidationTakesTheClassSeenInMoreInstances) {
    std::vector<FixedFreqInterferer> merged;
    testing::internal::CaptureStdout();
    analyzer.ConsolidateNewDevices(
        {Device(PULSE_ANALOGPHONE, 10, 14, 1), Device(PULSE_VIDEOCAM, 12, 40, 3),
         Device(PULSE_UNK_HIGHDUTY, 45, 50, 1)},
        merged);
    EXPECT_EQ(testing::internal::GetCapturedStdout().find("Final Device: 3\nFinal Device: 4\n") !=
                  std::string::npos,
              true);
    ASSERT_EQ(merged.size(), 2u);
    EXPECT_EQ(merged[0].classification, PULSE_VIDEOCAM);
    EXPECT_EQ(merged[0].count_instances, 4);
    EXPECT_EQ(merged[1].classification, PULSE_UNK_HIGHDUTY);

    merged.clear();
    testing::internal::CaptureStdout();
    analyzer.ConsolidateNewDevices(
        {Device(PULSE_ANALOGPHONE, 10, 14, 2), Device(PULSE_VIDEOCAM, 12, 40, 2)}, merged);
    testing::internal::GetCapturedStdout();
    ASSERT_EQ(merged.size(), 1u);
    EXPECT_EQ(merged[0].classification, PULSE_ANALOGPHONE);
}

TEST_F(HighDutyTest, NewInstanceJoinsOnlyAMatchingClassOverTheSameBins) {
    std::vector<FixedFreqInterferer> devices;
    testing::internal::CaptureStdout();
    analyzer.HandleNewInstance(devices, Device(PULSE_ANALOGPHONE, 10, 14, 1));
    analyzer.HandleNewInstance(devices, Device(PULSE_VIDEOCAM, 10, 14, 1));
    analyzer.HandleNewInstance(devices, Device(PULSE_ANALOGPHONE, 14, 16, 1));
    analyzer.HandleNewInstance(devices, Device(PULSE_ANALOGPHONE, 20, 22, 1));
    testing::internal::GetCapturedStdout();
    ASSERT_EQ(devices.size(), 3u);
    EXPECT_EQ(devices[0].count_instances, 2);
    EXPECT_EQ(devices[1].classification, PULSE_VIDEOCAM);
    EXPECT_EQ(devices[2].start_bin_number, 20);
}

TEST_F(HighDutyTest, FeatureLine) {
    SubBand sb(nullptr, 1000, 2437, 95.0f, 0);
    sb.end_time = 111000;
    sb.num_rows = 300;
    HighDutyMetrics m;
    m.norm_cfreq_bin = 28;
    m.norm_cfreq_rssi = -50;
    m.norm_bw = 46;
    m.weighted_cfreq_bin = 28;
    m.weighted_cfreq_rssi = -50;
    m.weighted_bw = 44;
    m.duty_max = 1.0f;
    m.duty_avg = 0.95f;
    m.mintheta_map[PULSE_VIDEOCAM] = 0.25f;
    m.mintheta_map[PULSE_ANALOGPHONE] = 0.5f;
    testing::internal::CaptureStdout();
    analyzer.PrintMetrics(sb, m);
    HighDutyAnalyzer(0).PrintMetrics(sb, HighDutyMetrics());
    EXPECT_EQ(testing::internal::GetCapturedStdout(),
              "HIGHDUTY 1 1:2437 2:1000 3:110000 4:300 5:28 6:-50 7:46 8:28 9:-50 10:44 11:1 "
              "12:0.95 13:1 14:0.5 15:3 16:0.25\n"
              "HIGHDUTY 0 1:2437 2:1000 3:110000 4:300 5:0 6:0 7:0 8:0 9:0 10:0 11:0 12:0\n");
}

// A subband's spectrum averaged in dB over `rows` samples of -95 dBm
// Rayleigh noise, with a continuous emitter of `dbm` per bin over
// [first, last] (none when first > last), as stored (dB below 1 mW).
SubBand AveragedSubband(u64 start, int first, int last, double dbm, unsigned seed) {
    constexpr int rows = 300;
    refinedtest::RayleighNoise noise(-95.0, seed);
    std::vector<double> sum(56, 0.0);
    std::vector<double> above(56, 0.0);
    for (int r = 0; r < rows; r++) {
        std::vector<float> row = noise.Sample();
        for (int b = first; b <= last; b++) {
            noise.AddSignal(row, b, dbm);
        }
        for (size_t b = 0; b < 56; b++) {
            sum[b] += row[b];
            above[b] += row[b] < 95.0f ? 1.0 : 0.0;
        }
    }
    SubBand sb(nullptr, start, 2462, 95.0f, 0);
    sb.end_time = start + 110000;
    sb.num_rows = rows;
    sb.noise_mean_dbm = -95.0f;
    for (size_t b = 0; b < 56; b++) {
        sb.db_avg_list.push_back(static_cast<float>(sum[b] / rows));
        sb.duty_avg_list.push_back(static_cast<float>(above[b] / rows));
    }
    return sb;
}

// A 4 MHz continuous emitter 11 dB above the noise per bin averages to
// about -84 dBm: below the fixed -80 dBm floor, yet far above the 0.3 dB
// spread of averaged noise. The refined rules name it, over its own bins
// only, and averaged noise alone never makes a band.
TEST_F(HighDutyTest, RefinedFindsAContinuousEmitterNearTheMeasuredNoise) {
    for (const RuleSetId rules : {RuleSetId::kStandard, RuleSetId::kRefined}) {
        refinedtest::RulesScope scope(rules);
        std::list<SubBand> history;
        history.push_back(AveragedSubband(1000, 40, 52, -84.0, 3));
        const std::string out = Run(history);
        if (rules == RuleSetId::kStandard) {
            EXPECT_THAT(out, Not(HasSubstr("detected")));
            continue;
        }
        EXPECT_THAT(out, HasSubstr("HighDutyAnalyzer: unknown_high_duty_dev detected...\n"));
        EXPECT_THAT(out, HasSubstr("Peak indices: 40 52 "));
    }
    refinedtest::RulesScope refined(RuleSetId::kRefined);
    for (unsigned seed = 1; seed <= 20; seed++) {
        std::list<SubBand> history;
        history.push_back(AveragedSubband(1000, 1, 0, 0.0, seed));
        EXPECT_THAT(Run(history), Not(HasSubstr("Peak indices"))) << seed;
    }
}

// A video sender centred at 2432 MHz reaches into the 2452 MHz view as a
// skirt falling away from its lowest bin. That view must not name it as a
// second, narrow device (the 2437 MHz view names it whole), but its
// fragments stay set aside as the sender's. In the lowest view, with no
// view below, a band at the edge is all there is and is named.
TEST_F(HighDutyTest, RefinedLeavesAViewEdgeSkirtToTheNeighbouringView) {
    refinedtest::RulesScope refined(RuleSetId::kRefined);
    for (const float freq : {2452.0f, 2412.0f}) {
        std::list<SubBand> history;
        history.push_back(ClosedSubband(freq, 1000, 0, 0, 80.0f, 1.0f));
        SubBand& sb = history.back();
        sb.noise_mean_dbm = -95.0f;
        for (int b = 0; b < 56; b++) {
            sb.db_avg_list[static_cast<size_t>(b)] = b <= 6 ? 80.0f + 2.0f * b : 97.5f;
            sb.duty_avg_list[static_cast<size_t>(b)] = b <= 6 ? 1.0f : 0.37f;
        }
        const std::string out = Run(history);
        if (freq == 2452.0f) {
            EXPECT_THAT(out, Not(HasSubstr("detected")));
            EXPECT_EQ(sb.completed_pulses_list[0].classification, PULSE_DISCARD);
        } else {
            EXPECT_THAT(out, HasSubstr("unknown_high_duty_dev detected"));
        }
    }
}

}  // namespace

namespace {

// The averaged spectrum one view shows of an FM video sender at 2432 MHz:
// Gaussian, sigma 3 MHz, -56 dBm at its peak, over -95 dBm noise; `duty`
// over the bins it raises 3 dB or more.
SubBand VideoSenderView(float view_mhz, u64 start, float duty) {
    SubBand sb(nullptr, start, view_mhz, 95.0f, 0);
    sb.end_time = start + 110000;
    sb.num_rows = 1900;
    sb.noise_mean_dbm = -95.0f;
    for (int b = 0; b < 56; b++) {
        const double offset_mhz = view_mhz - 8.75 + (b + 0.5) / 3.2 - 2432.0;
        const double signal_mw = std::pow(10.0, -5.6) * std::exp(-offset_mhz * offset_mhz / 18.0);
        const double noise_mw = std::pow(10.0, -9.5);
        sb.db_avg_list.push_back(static_cast<float>(-10.0 * std::log10(signal_mw + noise_mw)));
        sb.duty_avg_list.push_back(signal_mw > noise_mw ? duty : 0.37f);
    }
    return sb;
}

}  // namespace

// The sender is whole only in the 2437 MHz view; the 2442 MHz view, visited
// at another time, shows its upper skirt falling away from bin 0. That skirt,
// on the air throughout the visit, is the sender seen from a second tuning:
// it confirms the device in this pass. Alone it names nothing, and a skirt
// that was off part of its visit is no evidence of a continuous emitter.
TEST_F(HighDutyTest, RefinedCountsANeighboursContinuousSkirtAsASecondView) {
    refinedtest::RulesScope refined(RuleSetId::kRefined);
    for (const float skirt_duty : {1.0f, 0.6f}) {
        DeviceAnalyzer::ResetForTests();
        std::list<SubBand> history;
        history.push_back(VideoSenderView(2437.0f, 1000, 1.0f));
        history.push_back(VideoSenderView(2442.0f, 420000, skirt_duty));
        const std::string out = Run(history);
        EXPECT_THAT(out, HasSubstr("for device 112\n"));  // the skirt, set aside
        if (skirt_duty == 1.0f) {
            EXPECT_THAT(out, HasSubstr("\"Video_Camera\",\"1000\",\"1000\",\"0\""));
        } else {
            EXPECT_THAT(out, HasSubstr("Not sending active/completed device"));
        }
        ASSERT_EQ(DeviceAnalyzer::ActiveFixedDevices().size(), 1u) << skirt_duty;
        const FixedFreqInterferer& sender = DeviceAnalyzer::ActiveFixedDevices()[0];
        EXPECT_EQ(sender.classification, PULSE_VIDEOCAM);
        EXPECT_EQ(sender.band_cfreq, 2437.0f);
        EXPECT_EQ(sender.ViewsSeen(), skirt_duty == 1.0f ? 2 : 1);
    }
    DeviceAnalyzer::ResetForTests();
    std::list<SubBand> skirt_only;
    skirt_only.push_back(VideoSenderView(2442.0f, 420000, 1.0f));
    Run(skirt_only);
    EXPECT_TRUE(DeviceAnalyzer::ActiveFixedDevices().empty());
}

// Noise on the sender's flat top moves the peak one bin off the view edge in
// the 2422 and 2442 MHz views, which then name its two halves; they share no
// bin and their views lie 20 MHz apart. Only the 2437 MHz sighting overlaps
// both: under the refined rules the three are one sender seen from three
// views, where the standard rules keep two devices.
TEST_F(HighDutyTest, RefinedJoinsSightingsChainedThroughAnOverlappingView) {
    for (const RuleSetId rules : {RuleSetId::kStandard, RuleSetId::kRefined}) {
        refinedtest::RulesScope scope(rules);
        DeviceAnalyzer::ResetForTests();
        std::list<SubBand> history;
        history.push_back(VideoSenderView(2422.0f, 1000, 1.0f));
        history.back().db_avg_list[54] = history.back().db_avg_list[55] - 0.3f;
        history.push_back(VideoSenderView(2437.0f, 420000, 1.0f));
        history.push_back(VideoSenderView(2442.0f, 840000, 1.0f));
        history.back().db_avg_list[1] = history.back().db_avg_list[0] - 0.3f;
        Run(history);
        const std::vector<FixedFreqInterferer>& devices = DeviceAnalyzer::ActiveFixedDevices();
        if (rules == RuleSetId::kStandard) {
            EXPECT_EQ(devices.size(), 2u);
            continue;
        }
        ASSERT_EQ(devices.size(), 1u);
        EXPECT_EQ(devices[0].classification, PULSE_VIDEOCAM);
        EXPECT_EQ(devices[0].ViewsSeen(), 3);
    }
}

// --- Continuous emitters near the noise -----------------------------------

// One 110 ms dwell at 57 us (1900 samples) of -95 dBm receiver noise with a
// noise-like emitter (FM video, a digital link) of mean power signal_dbm[b]
// per bin, on the air in the first `share` of every 100 samples; a bin whose
// floor stands floor_rise_db higher on its own (a receiver spur). Averaged
// and counted as the subband does: dB mean of stored values, and the share
// of samples over -95 dBm.
struct Dwell {
    std::vector<double> signal_dbm = std::vector<double>(56, -300.0);
    double share = 1.0;
    int spur_bin = -1;
    double floor_rise_db = 0.0;
};

SubBand DwellSubband(const Dwell& d, float freq, u64 start, unsigned seed) {
    constexpr int rows = 1900;
    std::mt19937 rng(seed);
    std::exponential_distribution<double> unit(1.0);
    std::vector<double> sum(56, 0.0);
    std::vector<double> above(56, 0.0);
    for (int r = 0; r < rows; r++) {
        const bool on = (r % 100) < static_cast<int>(d.share * 100.0);
        for (size_t b = 0; b < 56; b++) {
            const double floor_dbm =
                -95.0 + (static_cast<int>(b) == d.spur_bin ? d.floor_rise_db : 0.0);
            double mw = std::pow(10.0, floor_dbm / 10.0) * unit(rng);
            if (on) {
                mw += std::pow(10.0, d.signal_dbm[b] / 10.0) * unit(rng);
            }
            const float stored = refinedtest::Stored(10.0 * std::log10(mw));
            sum[b] += stored;
            above[b] += stored <= 94.0f ? 1.0 : 0.0;
        }
    }
    SubBand sb(nullptr, start, freq, 95.0f, 0);
    sb.end_time = start + 110000;
    sb.num_rows = rows;
    sb.noise_mean_dbm = -95.0f;
    for (size_t b = 0; b < 56; b++) {
        sb.db_avg_list.push_back(static_cast<float>(sum[b] / rows));
        sb.duty_avg_list.push_back(static_cast<float>(above[b] / rows));
    }
    return sb;
}

size_t CountOf(const std::string& text, const std::string& word) {
    size_t count = 0;
    for (size_t at = text.find(word); at != std::string::npos; at = text.find(word, at + 1)) {
        count++;
    }
    return count;
}

// A flat emitter of dbm per bin over [first, last].
Dwell Flat(int first, int last, double dbm, double share = 1.0) {
    Dwell d;
    for (int b = first; b <= last; b++) {
        d.signal_dbm[static_cast<size_t>(b)] = dbm;
    }
    d.share = share;
    return d;
}

// The on-share read from a bin's dB average and duty: a continuous emitter
// only 4 dB over the noise passes -95 dBm in just 75 % of its samples, yet
// is on all the time; Wi-Fi bursts on 40 % of the time at N + 10 average
// as high, but pass far less often; noise alone tells nothing.
TEST(OnShareTest, ContinuousNearTheNoiseTrafficAndNoise) {
    const auto share_of = [](const Dwell& d) {
        const SubBand sb = DwellSubband(d, 2462.0f, 1000, 5);
        return OnShareOfBin(-sb.db_avg_list[30], sb.duty_avg_list[30], -95.0f, -95.0f);
    };
    const OnShare carrier = share_of(Flat(24, 36, -91.0));
    EXPECT_TRUE(carrier.informative);
    EXPECT_GE(carrier.share, 0.9f);
    EXPECT_LE(share_of(Flat(24, 36, -97.0)).share, 1.0f);
    const OnShare bursts = share_of(Flat(24, 36, -85.0, 0.4));
    EXPECT_TRUE(bursts.informative);
    EXPECT_NEAR(bursts.share, 0.4f, 0.1f);
    EXPECT_FALSE(share_of(Dwell()).informative);
    // On a card whose floor lies 18 dB under the duty counter's level,
    // bursts on 4 samples of 9 pass it more often than a continuous
    // emitter of their mean would: the duty says nothing of the share.
    EXPECT_FALSE(OnShareOfBin(-98.0f, 0.445f, -113.0f, -95.0f).informative);
}

// Refined: a 4 MHz link at -80 dBm (N + 4 a bin) is named over a whole
// dwell; the same bins busy 40 % of the time, noise alone over many dwells,
// and one bin whose floor stands 5 dB high name nothing.
TEST_F(HighDutyTest, RefinedNamesOnlyAContinuousEmitterNearTheNoise) {
    refinedtest::RulesScope refined(RuleSetId::kRefined);
    {
        std::list<SubBand> history;
        history.push_back(DwellSubband(Flat(24, 36, -91.0), 2462.0f, 1000, 1));
        EXPECT_THAT(Run(history), HasSubstr("unknown_high_duty_dev detected"));
    }
    {
        std::list<SubBand> history;
        history.push_back(DwellSubband(Flat(24, 36, -85.0, 0.4), 2462.0f, 1000, 2));
        EXPECT_THAT(Run(history), Not(HasSubstr("detected")));
    }
    for (unsigned seed = 10; seed < 30; seed++) {
        std::list<SubBand> history;
        Dwell spur;
        spur.spur_bin = 17;
        spur.floor_rise_db = seed % 2 == 0 ? 5.0 : 0.0;
        history.push_back(DwellSubband(spur, 2437.0f, 1000, seed));
        EXPECT_THAT(Run(history), Not(HasSubstr("detected"))) << seed;
    }
    {
        // A strong link's weak shoulder, separated from it by a bin that
        // dips towards the noise, is its skirt: one device only.
        Dwell shoulder = Flat(20, 40, -70.0);
        for (int b = 12; b <= 17; b++) {
            shoulder.signal_dbm[static_cast<size_t>(b)] = -91.0;
        }
        shoulder.signal_dbm[18] = -96.0;
        shoulder.signal_dbm[19] = -80.0;
        std::list<SubBand> history;
        history.push_back(DwellSubband(shoulder, 2462.0f, 1000, 3));
        const std::string out = Run(history);
        EXPECT_EQ(CountOf(out, "detected"), 1u) << out;
    }
    refinedtest::RulesScope standard(RuleSetId::kStandard);
    std::list<SubBand> history;
    history.push_back(DwellSubband(Flat(24, 36, -91.0), 2462.0f, 1000, 1));
    EXPECT_THAT(Run(history), Not(HasSubstr("detected")));
}

// Refined: a video sender at 2432 MHz, -80 dBm over its bell-shaped 18 MHz
// (sigma 3 MHz), stands only 1 dB over the noise in its best bin of the
// 2437 MHz view. Its width measured on its power over the noise, at the
// depth that power allows, still shows a wide FM carrier; a 4 MHz link as
// weak is not one.
TEST_F(HighDutyTest, RefinedNamesAWeakVideoSenderByItsWidthOverTheNoise) {
    refinedtest::RulesScope refined(RuleSetId::kRefined);
    Dwell video;
    for (int b = 0; b < 56; b++) {
        const double x = (b - 12) / 9.6;
        video.signal_dbm[static_cast<size_t>(b)] = -93.8 - 4.343 * 0.5 * x * x;
    }
    std::list<SubBand> history;
    history.push_back(DwellSubband(video, 2437.0f, 1000, 3));
    EXPECT_THAT(Run(history), HasSubstr("videocam detected"));
    history.clear();
    history.push_back(DwellSubband(Flat(24, 36, -91.0), 2437.0f, 1000, 4));
    EXPECT_THAT(Run(history), Not(HasSubstr("videocam detected")));
}

// A video sender at 2432 MHz and an analog phone at 2447 MHz, as in a busy
// house. The 2452 MHz view shows the phone's line at bin 12 over the
// sender's upper flank, which stays above the noise from bin 0 up to the
// line. The phone is one narrow line: its sightings cover its own bins, so
// they never overlap the sender's 2437 MHz sighting, and the pass holds
// two devices. Taken whole, the 2452 MHz band reached the sender's, and the
// phone's three sightings outvoted the sender's one: the sender's band was
// named a second analog phone.
TEST_F(HighDutyTest, RefinedKeepsAPhoneBesideAVideoSenderToItsLine) {
    refinedtest::RulesScope refined(RuleSetId::kRefined);
    DeviceAnalyzer::ResetForTests();
    std::list<SubBand> history;
    history.push_back(VideoSenderView(2437.0f, 1000, 1.0f));
    const std::vector<float> line = {-75.0f, -62.0f, -56.0f, -62.0f, -75.0f};
    for (const u64 start : {420000u, 530000u, 640000u}) {
        SubBand sb(nullptr, start, 2452.0f, 95.0f, 0);
        sb.end_time = start + 110000;
        sb.num_rows = 1900;
        sb.noise_mean_dbm = -95.0f;
        sb.db_avg_list.assign(56, -97.0f);
        sb.duty_avg_list.assign(56, 0.37f);
        for (int b = 0; b <= 14; b++) {
            sb.db_avg_list[static_cast<size_t>(b)] = b >= 10 ? line[b - 10] : -84.0f - b;
            sb.duty_avg_list[static_cast<size_t>(b)] = 1.0f;
        }
        history.push_back(sb);
    }
    const std::string out = Run(history);
    EXPECT_THAT(out, HasSubstr("analogphone detected"));
    const std::vector<FixedFreqInterferer>& devices = DeviceAnalyzer::ActiveFixedDevices();
    ASSERT_EQ(devices.size(), 2u);
    for (const FixedFreqInterferer& device : devices) {
        if (device.band_cfreq == 2437.0f) {
            EXPECT_EQ(device.classification, PULSE_VIDEOCAM);
        } else {
            EXPECT_EQ(device.classification, PULSE_ANALOGPHONE);
            EXPECT_EQ(device.band_cfreq, 2452.0f);
            EXPECT_GE(device.start_bin_number, 10);  // its line, not the flank
            EXPECT_LE(device.end_bin_number, 14);
        }
    }
}
