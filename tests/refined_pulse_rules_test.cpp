// Refined per-pulse and per-band rules: durations judged in the card's sample
// interval, hop spread, carrier width and Zigbee airtime share.
#include <gtest/gtest.h>

#include <cmath>
#include <random>

#include "carrier_width_rule.h"
#include "check_pulse_type.h"
#include "hopper_test_support.h"
#include "refined_test_support.h"
#include "subband_class.h"
#include "zigbee_pulse_analyser.h"

using refinedtest::RulesScope;

namespace {

// Duration the card shows for a burst of `length` us sampled every
// `interval` us from a random phase, with +-1 us on each timestamp.
u64 ShownDuration(double length, double interval, std::mt19937& rng) {
    std::uniform_real_distribution<double> phase(0.0, interval);
    std::uniform_int_distribution<int> jitter(-1, 1);
    const double first = phase(rng);
    const double n = std::floor((length - first) / interval);
    const double shown = std::max(0.0, n * interval) + jitter(rng) - jitter(rng);
    return static_cast<u64>(std::max(0.0, shown));
}

TEST(RefinedTimingTest, XboxPacketsAtAnySampleInterval) {
    std::mt19937 rng(4);
    for (const float interval : {57.0f, 64.0f, 114.0f}) {
        for (const double length : {270.0, 384.0}) {
            for (int i = 0; i < 200; i++) {
                const u64 d = ShownDuration(length, interval, rng);
                EXPECT_TRUE(CheckPulse::IsDurationOfBurst(d, 228, 285, interval) ||
                            CheckPulse::IsDurationOfBurst(d, 342, 399, interval))
                    << interval << " " << length << " " << d;
            }
        }
        // Data packets (DH3) are never mistaken for the controller.
        for (int i = 0; i < 50; i++) {
            const u64 d = ShownDuration(1626.0, interval, rng);
            EXPECT_FALSE(CheckPulse::IsDurationOfBurst(d, 342, 399, interval));
        }
    }
}

TEST(RefinedTimingTest, XboxShapeWantsFourOrFiveBinsWithinTheView) {
    RulesScope refined(RuleSetId::kRefined);
    hoppertest::PulseSpec spec;
    spec.duration = 228;
    spec.peak = 60.0f;
    for (const int width : {3, 4, 5, 6}) {
        spec.start_bin = 20;
        spec.end_bin = 20 + width;
        spec.centre = 22;
        EXPECT_EQ(CheckPulse::IsXboxPulseType(hoppertest::MakePulse(spec)),
                  width == 4 || width == 5)
            << width;
    }
    spec.start_bin = 51;
    spec.end_bin = 55;
    spec.centre = 53;
    EXPECT_FALSE(CheckPulse::IsXboxPulseType(hoppertest::MakePulse(spec)));
    // The standard test still wants the exact durations.
    SelectRules(RuleSetId::kStandard);
    spec.start_bin = 20;
    spec.end_bin = 24;
    spec.duration = 240;
    EXPECT_FALSE(CheckPulse::IsXboxPulseType(hoppertest::MakePulse(spec)));
}

TEST(RefinedTimingTest, VoicePacketsAreNotPollsAtAnyInterval) {
    std::mt19937 rng(8);
    for (const float interval : {57.0f, 64.0f, 114.0f}) {
        for (int i = 0; i < 200; i++) {
            EXPECT_TRUE(CheckPulse::IsDurationOfBurst(ShownDuration(366.0, interval, rng), 250, 500,
                                                      interval));
            EXPECT_FALSE(CheckPulse::IsDurationOfBurst(ShownDuration(126.0, interval, rng), 250,
                                                       500, interval))
                << interval;
        }
    }
}

TEST(RefinedTimingTest, SlotGridWithinOneInterval) {
    for (const float interval : {57.0f, 64.0f, 114.0f}) {
        for (const u64 slots : {1u, 2u, 5u}) {
            for (const int error : {-1, 1}) {
                const u64 gap = slots * 625 + static_cast<u64>(error * static_cast<int>(interval));
                EXPECT_TRUE(CheckPulse::IsOnSlotGrid(gap, interval)) << gap;
            }
        }
        EXPECT_FALSE(CheckPulse::IsOnSlotGrid(625 + 300, interval));
    }
    EXPECT_FALSE(CheckPulse::IsOnSlotGrid(625 + 100, 57.0f));
}

TEST(RefinedHopperTest, HopSpreadOverTheView) {
    std::array<int, CONST_SUBBAND_NUM_BINS> per_bin{};
    EXPECT_FALSE(CheckPulse::IsSpreadOverView(per_bin));
    for (int b = 1; b < 55; b++)
        per_bin[static_cast<size_t>(b)] = 3;
    EXPECT_TRUE(CheckPulse::IsSpreadOverView(per_bin));
    // The skirt of a Wi-Fi channel next door: most pulses in a few bins.
    per_bin[8] += 200;
    EXPECT_FALSE(CheckPulse::IsSpreadOverView(per_bin));
}

TEST(RefinedHopperTest, ViewEdgeCutsAreNoHops) {
    RulesScope refined(RuleSetId::kRefined);
    RssiPulse inside = hoppertest::HopPulse(0, 366, 20, 60.0f);
    EXPECT_TRUE(CheckPulse::IsBluetoothSCOPulse(inside));
    RssiPulse cut = hoppertest::HopPulse(0, 366, 54, 60.0f);
    cut.end_bin_number = 55;
    EXPECT_FALSE(CheckPulse::IsBluetoothSCOPulse(cut));
    EXPECT_FALSE(CheckPulse::IsFhssphoneHigh(cut));
    // A POLL packet shows 126 us at most: no voice.
    EXPECT_FALSE(CheckPulse::IsBluetoothSCOPulse(hoppertest::HopPulse(0, 114, 20, 60.0f)));
}

// Mean spectrum (dBm) of a carrier: a Gaussian of sigma_mhz at centre_bin,
// or a flat band, over a -97 dBm floor.
std::vector<float> Spectrum(double centre_bin, double sigma_mhz, bool flat, double peak_dbm) {
    std::vector<float> s(56);
    for (int b = 0; b < 56; b++) {
        const double df = (b - centre_bin) / 3.2;
        const double rel =
            flat ? (std::fabs(df) <= sigma_mhz ? 0.0 : -40.0)
                 : -10.0 * std::log10(std::exp(1.0)) * df * df / (2.0 * sigma_mhz * sigma_mhz);
        s[static_cast<size_t>(b)] = static_cast<float>(std::max(peak_dbm + rel, -97.0));
    }
    return s;
}

HighDutyMetrics Metrics(const std::vector<float>& s, float duty) {
    HighDutyMetrics m;
    m.norm_cfreq_bin = static_cast<int>(std::max_element(s.begin(), s.end()) - s.begin());
    m.duty_max = duty;
    return m;
}

TEST(CarrierWidthTest, WideFmIsVideoNarrowIsAnalogFlatIsLeftAlone) {
    // FM video, sigma 3 MHz: about 16 MHz wide at -15 dB, with some ripple.
    std::vector<float> video = Spectrum(28, 3.0, false, -56);
    for (size_t b = 0; b < video.size(); b += 3)
        video[b] -= 0.8f;
    EXPECT_EQ(CarrierClassByWidth(Metrics(video, 1.0f), video), PULSE_VIDEOCAM);
    // The same sender centred at the edge of the view.
    const std::vector<float> edge = Spectrum(1, 3.0, false, -56);
    EXPECT_EQ(CarrierClassByWidth(Metrics(edge, 1.0f), edge), PULSE_VIDEOCAM);
    // Narrowband FM voice: one bin.
    const std::vector<float> phone = Spectrum(12, 0.05, false, -56);
    EXPECT_EQ(CarrierClassByWidth(Metrics(phone, 1.0f), phone), PULSE_ANALOGPHONE);
    // A flat 4 MHz link and a flat 16 MHz OFDM band: width alone says nothing.
    const std::vector<float> link = Spectrum(40, 2.0, true, -63);
    EXPECT_EQ(CarrierClassByWidth(Metrics(link, 1.0f), link), PULSE_NONE);
    const std::vector<float> ofdm = Spectrum(28, 8.3, true, -70);
    EXPECT_EQ(CarrierClassByWidth(Metrics(ofdm, 1.0f), ofdm), PULSE_NONE);
    // Not continuous: not a carrier at all.
    EXPECT_EQ(CarrierClassByWidth(Metrics(video, 0.5f), video), PULSE_NONE);
    EXPECT_EQ(CarrierWidthMhz(video, -1, 15.0f), 0.0f);
}

// An analog phone 9 dB above the noise, whose averaged spectrum meets the
// noise (-97.5 dBm for a -95 dBm mean, with a little spread) before it has
// dropped 15 dB: measured to the noise, it is the narrow carrier it is;
// measured into the noise, it would span the view.
TEST(CarrierWidthTest, AWeakCarrierEndsWhereItMeetsTheNoise) {
    std::vector<float> phone = Spectrum(30, 0.05, false, -88.5);
    for (size_t b = 0; b < phone.size(); b++) {
        phone[b] = std::max(phone[b], b % 2 == 0 ? -97.2f : -97.8f);
    }
    EXPECT_NE(CarrierClassByWidth(Metrics(phone, 1.0f), phone), PULSE_ANALOGPHONE);
    EXPECT_EQ(CarrierClassByWidth(Metrics(phone, 1.0f), phone, -94.0f), PULSE_ANALOGPHONE);
    // A strong video sender is measured 15 dB down as before.
    const std::vector<float> video = Spectrum(28, 3.0, false, -56);
    EXPECT_EQ(CarrierClassByWidth(Metrics(video, 1.0f), video, -94.0f), PULSE_VIDEOCAM);
}

TEST(ZigbeeAirtimeTest, ShareOfTheChannelDwell) {
    // 2 % of 2.6 s on the channel, 20 frames: a quiet sensor network.
    EXPECT_TRUE(ZigbeePulseAnalyser::IsZigbeeAirtimeShare(52.0, 20, 2600.0, false));
    EXPECT_FALSE(ZigbeePulseAnalyser::IsZigbeeAirtimeShare(52.0, 20, 2600.0, true));
    EXPECT_FALSE(ZigbeePulseAnalyser::IsZigbeeAirtimeShare(13.0, 20, 2600.0, false));
    EXPECT_FALSE(ZigbeePulseAnalyser::IsZigbeeAirtimeShare(52.0, 3, 2600.0, false));
    EXPECT_FALSE(ZigbeePulseAnalyser::IsZigbeeAirtimeShare(52.0, 20, 0.0, false));
}

// A single narrowband line is at most the window's main lobe wide; a 1.5 MHz
// digital link (5 bins at -15 dB) is none, and its shape must not make it
// an analog phone.
TEST(CarrierWidthTest, OnlyANarrowLineCanBeAnAnalogPhone) {
    const std::vector<float> phone = Spectrum(12, 0.05, false, -56);
    EXPECT_TRUE(IsNarrowLine(Metrics(phone, 1.0f), phone));
    const std::vector<float> link = Spectrum(30, 0.75, true, -62);
    EXPECT_FALSE(IsNarrowLine(Metrics(link, 1.0f), link));
    EXPECT_EQ(CarrierClassByWidth(Metrics(link, 1.0f), link), PULSE_NONE);
}

}  // namespace
