// Pulse detection under the refined rules, against receiver noise as the
// card reports it: the floor follows the measured noise, noise alone makes
// no pulses, a weak headset does.
#include <gtest/gtest.h>

#include "access_point.h"
#include "check_pulse_type.h"
#include "refined_test_support.h"
#include "subband_class.h"

using refinedtest::RayleighNoise;
using refinedtest::RulesScope;

namespace {

constexpr u64 kInterval = 57;

struct Receiver {
    AccessPoint ap{"00:00:00:00:00:01", 0, "test"};
    RayleighNoise noise{-95.0, 11};
    u64 t = 100000;

    Receiver() { ap.AddNewSubband(&ap, t, 2437.0f, 95.0f, 0); }
    SubBand& Band() { return ap.GetCurrentSubband(); }
    void Feed(const std::vector<float>& row) {
        t += kInterval;
        Band().ProcessSubBand(t, 2437.0f, 95.0f, row);
    }
    void Noise(int samples) {
        for (int i = 0; i < samples; i++)
            Feed(noise.Sample());
    }
    void Close() { Band().ProcessBigTimeGapEvent(); }
};

TEST(RefinedDetectionTest, RayleighNoiseAloneMakesNoPulses) {
    RulesScope refined(RuleSetId::kRefined);
    Receiver run;
    // Two seconds of samples: about 2 million bin readings.
    run.Noise(35000);
    run.Close();
    EXPECT_NEAR(run.Band().noise_mean_dbm, -95.0f, 1.5f);
    EXPECT_NEAR(run.Band().sample_interval_us, 57.0f, 0.5f);
    // The pulse floor sits 13 dB over the mean: a lone bin gets there with
    // probability exp(-10^1.2) = 1.3e-7 (truncation to whole dB costs 1 dB),
    // so a handful at most, and none lasting two samples.
    size_t lasting = 0;
    for (const RssiPulse& p : run.Band().completed_pulses_list) {
        lasting += p.GetPulseDuration() > 0;
    }
    EXPECT_LE(run.Band().completed_pulses_list.size(), 3u);
    EXPECT_EQ(lasting, 0u);
}

// A Bluetooth headset in the next room: -78 dBm peak, its power over three
// bins, for one 366 us voice packet.
void AddHeadsetPacket(Receiver& run, int centre) {
    for (int i = 0; i < 7; i++) {
        std::vector<float> row = run.noise.Sample();
        run.noise.AddSignal(row, centre - 1, -84.0);
        run.noise.AddSignal(row, centre, -78.0);
        run.noise.AddSignal(row, centre + 1, -84.0);
        run.Feed(row);
    }
}

TEST(RefinedDetectionTest, WeakHeadsetAboveTheNoiseIsAHopperPulse) {
    for (const RuleSetId id : {RuleSetId::kStandard, RuleSetId::kRefined}) {
        RulesScope scope(id);
        Receiver run;
        run.Noise(2000);
        AddHeadsetPacket(run, 30);
        run.Noise(5);
        run.Close();
        const RssiPulse* packet = nullptr;
        for (const RssiPulse& p : run.Band().completed_pulses_list) {
            if (p.GetPulseDuration() >= 300 && p.center_bin_number >= 29 &&
                p.center_bin_number <= 31) {
                packet = &p;
            }
        }
        ASSERT_NE(packet, nullptr);
        if (id == RuleSetId::kStandard) {
            // Seen, but below the fixed -75 dBm evidence bar.
            EXPECT_FALSE(CheckPulse::IsInterestingPulse(*packet));
        } else {
            EXPECT_TRUE(CheckPulse::IsInterestingPulse(*packet));
            EXPECT_TRUE(CheckPulse::IsBluetoothSCOPulse(*packet));
            EXPECT_GE(packet->end_bin_number - packet->start_bin_number, 1);
        }
    }
}

TEST(RefinedDetectionTest, NoiseLikeWideBurstStaysOnePulse) {
    RulesScope refined(RuleSetId::kRefined);
    Receiver run;
    run.Noise(2000);
    // An OFDM frame 10 dB over the floor: its bins fluctuate like noise, so
    // at the floor it breaks into many runs.
    for (int i = 0; i < 20; i++) {
        std::vector<float> row = run.noise.Sample();
        RayleighNoise frame(-85.0, 100 + static_cast<unsigned>(i));
        for (int b = 2; b < 54; b++) {
            row[static_cast<size_t>(b)] = refinedtest::Stored(frame.PowerDbm());
        }
        run.Feed(row);
    }
    run.Close();
    size_t narrow_hoppers = 0;
    for (const RssiPulse& p : run.Band().completed_pulses_list) {
        narrow_hoppers += CheckPulse::IsFhssphoneHigh(p) || CheckPulse::IsBluetoothSCOPulse(p);
    }
    EXPECT_LE(narrow_hoppers, 2u);
}

TEST(RefinedDetectionTest, StandardFloorStaysFixed) {
    Receiver run;
    run.Noise(2000);
    EXPECT_EQ(run.Band().JoinFloorDbm(), -85.0f);
    EXPECT_EQ(run.Band().PeakFloorDbm(), -85.0f);
    EXPECT_EQ(run.Band().sample_interval_us, 0.0f);
    RulesScope refined(RuleSetId::kRefined);
    run.Noise(2000);
    EXPECT_NEAR(run.Band().JoinFloorDbm(), -87.0f, 1.5f);
    EXPECT_NEAR(run.Band().PeakFloorDbm(), -82.0f, 1.5f);
}

}  // namespace
