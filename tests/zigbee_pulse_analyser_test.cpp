#include "zigbee_pulse_analyser.h"

#include <gtest/gtest.h>

#include "check_pulse_type.h"
#include "hopper_test_support.h"
#include "host_clock.h"
#include "refined_test_support.h"

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

// --- Refined: frames judged by their main lobe under their own top --------

using refinedtest::Receiver;
using refinedtest::RulesScope;

constexpr double kPi = 3.14159265358979323846;
constexpr double kBinMhz = 0.3125;

// Share of an O-QPSK half-sine (MSK) frame's power, 2 Mchip/s, falling in
// the 312.5 kHz bin whose centre lies df MHz from the carrier.
double MskPsd(double f) {
    const double x = std::fabs(f) / 2.0;
    const double den = 1.0 - 16.0 * x * x;
    const double v = std::fabs(den) < 1e-9 ? kPi / 4.0 : std::cos(2.0 * kPi * x) / den;
    return v * v;
}

double MskShare(double df) {
    static const double total = [] {
        double sum = 0.0;
        for (double f = -5.0; f <= 5.0; f += 0.001) {
            sum += MskPsd(f) * 0.001;
        }
        return sum;
    }();
    return MskPsd(df) * kBinMhz / total;
}

// Bin of the receiver's 2437 MHz view at a frequency.
double BinAt(double mhz) {
    return CONST_SUBBAND_CENTER_BIN + (mhz - 2437.0) * CONST_BINS_PER_MHZ;
}

// A frame of `dbm` in total on carrier `mhz` for `samples` samples, then
// quiet long enough for it to end.
void Frame(Receiver& run, double mhz, double dbm, int samples) {
    const double centre = BinAt(mhz);
    for (int i = 0; i < samples; i++) {
        std::vector<float> row = run.noise.Sample();
        for (int b = 0; b < CONST_SUBBAND_NUM_BINS; b++) {
            const double share = MskShare((b - centre) * kBinMhz);
            if (share > 1e-4) {
                run.noise.AddSignal(row, b, dbm + 10.0 * std::log10(share));
            }
        }
        run.Feed(row);
    }
    run.Noise(10);
}

// The completed pulses lasting at least `samples` samples.
std::vector<RssiPulse> LongPulses(Receiver& run, int samples) {
    std::vector<RssiPulse> found;
    for (const RssiPulse& p : run.Band().completed_pulses_list) {
        if (p.reading_counts >= samples)
            found.push_back(p);
    }
    return found;
}

TEST(ZigbeeChannelTest, OffsetFromTheNearestChannel) {
    EXPECT_NEAR(ZigbeePulseAnalyser::ChannelOffsetMhz(2405.0), 0.0, 1e-9);
    EXPECT_NEAR(ZigbeePulseAnalyser::ChannelOffsetMhz(2440.3), 0.3, 1e-9);
    EXPECT_NEAR(ZigbeePulseAnalyser::ChannelOffsetMhz(2442.4), 2.4, 1e-9);
    EXPECT_NEAR(ZigbeePulseAnalyser::ChannelOffsetMhz(2442.6), -2.4, 1e-9);
    // Outside channels 11 to 26 the nearest is the band's first or last.
    EXPECT_NEAR(ZigbeePulseAnalyser::ChannelOffsetMhz(2398.0), -7.0, 1e-9);
    EXPECT_NEAR(ZigbeePulseAnalyser::ChannelOffsetMhz(2488.0), 8.0, 1e-9);
    // The four channels of a view sit at bins 5.6, 21.6, 37.6 and 53.6.
    RssiPulse pulse = ZigbeeFrame(0, 1000, 38);
    pulse.lobe_centre_q = 150;  // bin 37.5
    EXPECT_NEAR(ZigbeePulseAnalyser::LobeCentreMhz(pulse, 2437.0f), 2439.97, 0.01);
}

class RefinedZigbeeFrameTest : public ::testing::Test {
protected:
    RulesScope refined{RuleSetId::kRefined};
    Receiver run;
    void SetUp() override { run.Noise(600); }
};

// A frame at -78 dBm spread over 2 MHz stands about 9 dB over the noise in
// its top bins: the noise, not the frame, decides which of them is the
// strongest. Channel 15 (2430 MHz) lies at bin 5.6 of the 2437 MHz view,
// where the top lands on bin 5 as often as on 6, outside the fixed channel
// bin 7 +- 1. Its lobe under its own top still finds it on its channel and
// 5-7 bins wide.
TEST_F(RefinedZigbeeFrameTest, WeakFrameIsFoundWhereverNoisePutsItsTop) {
    for (int i = 0; i < 24; i++) {
        Frame(run, 2430.0, -78.0, 40);
    }
    run.Close();
    // Near the noise a frame may break into two pulses.
    const std::vector<RssiPulse> frames = LongPulses(run, 15);
    ASSERT_GE(frames.size(), 20u);
    int lobes = 0;
    int top_off_channel_bin = 0;
    for (const RssiPulse& p : frames) {
        lobes += ZigbeePulseAnalyser::IsZigbeeLobe(p, 2437.0f);
        top_off_channel_bin +=
            std::abs(p.center_bin_number - ZigbeePulseAnalyser::GetCFFromBandId(0)) > 1;
        EXPECT_NEAR(p.lobe_centre_q / 4.0, BinAt(2430.0), 1.0);
    }
    EXPECT_GE(lobes, static_cast<int>(frames.size()) - 1);
    // The case in point: the noise put the top on bin 5.
    EXPECT_GE(top_off_channel_bin, 3);
}

TEST_F(RefinedZigbeeFrameTest, StrongFrameMeasuresLikeAWeakOne) {
    Frame(run, 2440.0, -45.0, 40);
    run.Close();
    const std::vector<RssiPulse> frames = LongPulses(run, 20);
    ASSERT_EQ(frames.size(), 1u);
    EXPECT_TRUE(ZigbeePulseAnalyser::IsZigbeeLobe(frames[0], 2437.0f));
    EXPECT_GE(frames[0].lobe_width, ZIGBEE_MIN_LOBE_BINS);
    EXPECT_LE(frames[0].lobe_width, 6);
}

// A 2 MHz frame half-way between two channels is no 802.15.4 frame.
TEST_F(RefinedZigbeeFrameTest, FrameBetweenChannelsIsNoZigbee) {
    Frame(run, 2442.5, -50.0, 40);
    Frame(run, 2441.0, -50.0, 40);
    run.Close();
    const std::vector<RssiPulse> frames = LongPulses(run, 20);
    ASSERT_EQ(frames.size(), 2u);
    for (const RssiPulse& p : frames) {
        EXPECT_FALSE(ZigbeePulseAnalyser::IsZigbeeLobe(p, 2437.0f)) << p.lobe_centre_q / 4.0;
    }
}

// A Bluetooth packet (1 MHz GFSK) on 2440 MHz sits exactly on Zigbee
// channel 18, and one on 2441 MHz beside it: 2-3 bins under their tops,
// strong or weak, never a frame's 5.
TEST_F(RefinedZigbeeFrameTest, BluetoothPacketOnAChannelIsNoFrame) {
    const int on_channel = static_cast<int>(std::lround(BinAt(2440.0)));
    const int beside = static_cast<int>(std::lround(BinAt(2441.0)));
    for (const double peak : {-45.0, -70.0, -82.0}) {
        for (const int centre : {on_channel, beside}) {
            run.Packet(centre, peak, peak - 3.0, 12);
            run.Noise(10);
        }
    }
    run.Close();
    const std::vector<RssiPulse> packets = LongPulses(run, 4);
    ASSERT_GE(packets.size(), 5u);
    for (const RssiPulse& p : packets) {
        EXPECT_FALSE(ZigbeePulseAnalyser::IsZigbeeLobe(p, 2437.0f))
            << "lobe " << static_cast<int>(p.lobe_width) << " at " << p.lobe_centre_q / 4.0;
    }
}

// Twenty weak frames in one 200 ms visit, 5 % of its time: a network on
// channel 18, whose frames the standard rules would mostly have dropped.
TEST_F(RefinedZigbeeFrameTest, WeakNetworkIsAnnounced) {
    SetHostClock(FixedClock);
    DeviceAnalyzer::ResetForTests();
    for (int i = 0; i < 20; i++) {
        Frame(run, 2440.0, -78.0, 30);
        run.Noise(120);
    }
    run.Close();
    std::list<SubBand>& history = run.ap.completed_sub_bands_list;
    ZigbeePulseAnalyser::DetermineZigbeePresence(history, history.begin(), false);
    const std::vector<FixedFreqInterferer>& devices = DeviceAnalyzer::ActiveFixedDevices();
    ASSERT_EQ(devices.size(), 1u);
    EXPECT_EQ(devices[0].classification, PULSE_ZIGBEE);
    EXPECT_EQ(devices[0].center_bin_number, ZigbeePulseAnalyser::GetCFFromBandId(2));
    DeviceAnalyzer::ResetForTests();
}

// Channel 24 (2470 MHz) lies at bin 53.6 of the top (2462 MHz) view, whose
// last bin ends at 2470.6 MHz: its lobe is cut in every view, and without
// the edge rule the channel was never found. The same cut lobe in the
// 2412 MHz view is channel 14 (2420 MHz), which the 2422 MHz view holds
// whole: there the cut sighting stays no frame.
TEST_F(RefinedZigbeeFrameTest, TopChannelCutByTheLastViewIsStillAFrame) {
    EXPECT_FALSE(ZigbeePulseAnalyser::IsLobeWholeInSomeView(2470.0));
    EXPECT_TRUE(ZigbeePulseAnalyser::IsLobeWholeInSomeView(2405.0));
    EXPECT_TRUE(ZigbeePulseAnalyser::IsLobeWholeInSomeView(2420.0));
    // Bin 53.6 of the receiver's 2437 MHz frame.
    Frame(run, 2437.0 + (2470.0 - 2462.0), -55.0, 40);
    run.Close();
    const std::vector<RssiPulse> frames = LongPulses(run, 20);
    ASSERT_EQ(frames.size(), 1u);
    ASSERT_EQ(frames[0].end_bin_number, CONST_SUBBAND_LAST_BIN) << "cut by the view's edge";
    EXPECT_TRUE(ZigbeePulseAnalyser::IsZigbeeLobe(frames[0], 2462.0f));
    EXPECT_FALSE(ZigbeePulseAnalyser::IsZigbeeLobe(frames[0], 2412.0f));
    RulesScope standard{RuleSetId::kStandard};
    EXPECT_FALSE(ZigbeePulseAnalyser::IsCutEdgeChannelLobe(frames[0], 2462.0f));
}

}  // namespace
