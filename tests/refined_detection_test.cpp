// Pulse detection under the refined rules, against receiver noise as the
// card reports it: the floor follows the measured noise, noise alone makes
// no pulses, a weak headset does.
#include <gtest/gtest.h>

#include "access_point.h"
#include "check_pulse_type.h"
#include "emitter_skirts.h"
#include "refined_test_support.h"
#include "subband_class.h"

using refinedtest::RayleighNoise;
using refinedtest::Receiver;
using refinedtest::RulesScope;

namespace {

constexpr u64 kInterval = 57;

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
    run.Packet(centre, -78.0, -84.0, 7);
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
    unsigned frame_seed = 100;
    run.Rows(20, [&](std::vector<float>& row) {
        RayleighNoise frame(-85.0, frame_seed++);
        for (int b = 2; b < 54; b++) {
            row[static_cast<size_t>(b)] = refinedtest::Stored(frame.PowerDbm());
        }
    });
    run.Close();
    size_t narrow_hoppers = 0;
    for (const RssiPulse& p : run.Band().completed_pulses_list) {
        narrow_hoppers += CheckPulse::IsFhssphoneHigh(p) || CheckPulse::IsBluetoothSCOPulse(p);
    }
    EXPECT_LE(narrow_hoppers, 2u);
}

// A strong emitter's spectrum in one sample: a main lobe 2 MHz wide at
// `centre`, and sidelobes every 3 bins on both sides (Zigbee's every 1 MHz),
// the first 25 dB under the peak and each further one 6 dB lower, with
// nulls between.
void AddStrongEmitter(Receiver& run, std::vector<float>& row, int centre, double peak_dbm) {
    for (int d = -4; d <= 4; d++) {
        run.noise.AddSignal(row, centre + d, peak_dbm - 1.2 * d * d);
    }
    for (int lobe = 1; lobe <= 5; lobe++) {
        const double level = peak_dbm - 25.0 - 6.0 * (lobe - 1);
        for (const int side : {-1, 1}) {
            const int at = centre + side * (4 + 3 * lobe);
            if (at >= 1 && at <= 54) {
                run.noise.AddSignal(row, at, level);
                run.noise.AddSignal(row, at - side, level - 4.0);
            }
        }
    }
}

TEST(SkirtTest, StrongZigbeePacketIsOnePulseNotAWideBurst) {
    RulesScope refined(RuleSetId::kRefined);
    Receiver run;
    run.Noise(2000);
    // A Zigbee packet at -40 dBm on the channel at the view's bin 22 for
    // 1 ms, with a weak headset packet (-78 dBm) far off in the same view at
    // the same time.
    run.Rows(18, [&](std::vector<float>& row) {
        AddStrongEmitter(run, row, 22, -40.0);
        run.AddPacket(row, 50, -78.0, -84.0);
    });
    run.Noise(5);
    run.Close();
    size_t zigbee = 0;
    size_t headset = 0;
    size_t others = 0;
    for (const RssiPulse& p : run.Band().completed_pulses_list) {
        EXPECT_LE(p.end_bin_number - p.start_bin_number, 7) << "wide burst";
        if (p.center_bin_number >= 45) {
            headset++;
        } else if (p.GetPulseDuration() >= 900 && CheckPulse::IsZigbeePulseType(p) &&
                   p.center_bin_number == 22) {
            zigbee++;
        } else {
            others++;
        }
    }
    EXPECT_EQ(zigbee, 1u);
    // The packet of its own is kept; the sidelobes make no pulses.
    EXPECT_GE(headset, 1u);
    EXPECT_EQ(others, 0u);
}

TEST(SkirtTest, StrongCarrierSkirtsMakeNoHopperPulses) {
    RulesScope refined(RuleSetId::kRefined);
    Receiver run;
    run.Noise(2000);
    // A narrow carrier at -45 dBm held for 200 ms: its sidelobes sit near
    // the floor and flicker with the noise, but are no packets.
    run.Rows(3500, [&](std::vector<float>& row) { AddStrongEmitter(run, row, 20, -45.0); });
    run.Close();
    for (const RssiPulse& p : run.Band().completed_pulses_list) {
        EXPECT_TRUE(p.start_bin_number <= 22 && p.end_bin_number >= 18)
            << "pulse off the carrier at bins " << p.start_bin_number << "-" << p.end_bin_number;
    }
}

TEST(SkirtTest, SkirtsAreWeakRunsJoinedToAStrongOne) {
    std::vector<uint8_t> row(56, 95);
    // Strong run 20-24 (peak 40), skirts 26-27 (68) and 30 (75) above it,
    // 17-18 (70) below it; a weak run of its own at 40-42 (72), 9 quiet
    // bins past the last skirt.
    const BinRun runs[] = {
        {17, 18, 70.0f}, {20, 24, 40.0f}, {26, 27, 68.0f}, {30, 30, 75.0f}, {40, 42, 72.0f}};
    for (int b = 20; b <= 24; b++) {
        row[static_cast<size_t>(b)] = b == 22 ? 40 : 52;
    }
    row[24] = 64;  // the main lobe's own edge, 24 dB down
    const SampleSkirts skirts = FindSkirts(row.data(), runs, 5, 20.0f, 3);
    const uint64_t expected = (uint64_t{3} << 17) | (uint64_t{3} << 26) | (uint64_t{1} << 30);
    EXPECT_EQ(skirts.skirt_bins, expected);
    // Bins 20-23 of the strong run and the weak run of its own.
    EXPECT_EQ(skirts.wide_bins, 4 + 3);
    // A noise-like burst with every run within the depth: nothing set aside.
    const BinRun flat[] = {{2, 5, 80.0f}, {7, 9, 78.0f}, {11, 30, 76.0f}};
    EXPECT_EQ(FindSkirts(row.data(), flat, 3, 20.0f, 3).skirt_bins, 0u);
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
