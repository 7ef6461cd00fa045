// Weak packets believed by their persistence over samples, and receiver
// noise that never persists long enough to be believed.
#include <gtest/gtest.h>

#include "access_point.h"
#include "burst_persistence.h"
#include "check_pulse_type.h"
#include "refined_test_support.h"
#include "subband_class.h"

using refinedtest::RayleighNoise;
using refinedtest::Receiver;
using refinedtest::RulesScope;

namespace {

constexpr u64 kInterval = 57;

uint64_t Bins(int first, int last) {
    uint64_t bits = 0;
    for (int b = first; b <= last; b++) {
        bits |= uint64_t{1} << b;
    }
    return bits;
}

// Feeds the detector one run a sample, at `above` dB over the noise.
int Persisted(BurstPersistence& p, u64& t, uint64_t run, float above) {
    t += kInterval;
    p.NextSample(t);
    return p.Observe(run, run, above);
}

TEST(BurstPersistenceTest, WeakerPeaksNeedLongerRunsOnOverlappingBins) {
    RulesScope refined(RuleSetId::kRefined);
    BurstPersistence p;
    u64 t = 1000;
    // One sample at N + 11 is noise as often as not; the second on the
    // neighbouring bin makes it a packet that started one sample back.
    EXPECT_EQ(Persisted(p, t, Bins(20, 20), 11.0f), 0);
    EXPECT_EQ(Persisted(p, t, Bins(21, 21), 11.0f), 2);
    EXPECT_EQ(p.SampleTime(1), t - kInterval);

    // At N + 10 it takes three samples, at N + 9 four (and at N + 8 five).
    p.Reset();
    EXPECT_EQ(Persisted(p, t, Bins(30, 31), 10.0f), 0);
    EXPECT_EQ(Persisted(p, t, Bins(30, 31), 10.0f), 0);
    EXPECT_EQ(Persisted(p, t, Bins(31, 32), 10.0f), 3);
    p.Reset();
    for (int i = 0; i < 3; i++) {
        EXPECT_EQ(Persisted(p, t, Bins(40, 42), 9.0f), 0);
    }
    EXPECT_EQ(Persisted(p, t, Bins(40, 42), 9.0f), 4);
    // Once believed it stays believed while it lasts (by now five samples
    // long, which N + 8 would already do).
    EXPECT_EQ(Persisted(p, t, Bins(40, 42), 9.0f), 5);
    EXPECT_EQ(Persisted(p, t, Bins(40, 42), 9.0f), 5);

    // Two bins apart is another frequency: the chain starts again.
    p.Reset();
    EXPECT_EQ(Persisted(p, t, Bins(10, 10), 11.0f), 0);
    EXPECT_EQ(Persisted(p, t, Bins(12, 12), 11.0f), 0);
    // A quiet sample breaks it too.
    EXPECT_EQ(Persisted(p, t, 0, 0.0f), 0);
    EXPECT_EQ(Persisted(p, t, Bins(12, 12), 11.0f), 0);
    // Below every level nothing is believed, however long.
    p.Reset();
    for (int i = 0; i < 10; i++) {
        EXPECT_EQ(Persisted(p, t, Bins(5, 6), 7.5f), 0);
    }
}

TEST(BurstPersistenceTest, RunsBesideOtherRunsAreSkirtsNotPackets) {
    RulesScope refined(RuleSetId::kRefined);
    BurstPersistence p;
    u64 t = 1000;
    // Bins 20-21 persist at N + 11, but every sample has another run two
    // bins away: the flicker of a wide noise-like emission.
    const uint64_t run = Bins(20, 21);
    const uint64_t crowded = run | Bins(24, 24);
    for (int i = 0; i < 6; i++) {
        t += kInterval;
        p.NextSample(t);
        EXPECT_EQ(p.Observe(run, crowded, 11.0f), 0);
    }
    // Four bins away is clear of it.
    const uint64_t clear = run | Bins(25, 25);
    t += kInterval;
    p.NextSample(t);
    EXPECT_EQ(p.Observe(run, clear, 11.0f), 0);
    t += kInterval;
    p.NextSample(t);
    EXPECT_EQ(p.Observe(run, clear, 11.0f), 2);
}

TEST(BurstPersistenceTest, StandardRulesBelieveNothingByPersistence) {
    BurstPersistence p;
    u64 t = 1000;
    for (int i = 0; i < 6; i++) {
        EXPECT_EQ(Persisted(p, t, Bins(20, 22), 12.5f), 0);
    }
}

TEST(BurstPersistenceTest, RayleighNoiseNeverPersistsIntoAPulse) {
    RulesScope refined(RuleSetId::kRefined);
    // Ten seconds of samples at the fastest card's rate: 10 million bin
    // readings. The persistence levels let a two-sample blip through about
    // once in three minutes, so none is expected here; lone one-sample
    // blips at the single-sample margin (0.13 a second) are.
    for (const unsigned seed : {3u}) {
        Receiver run(seed);
        run.Noise(175000);
        run.Band().ProcessBigTimeGapEvent();
        size_t lasting = 0;
        size_t evidence = 0;
        for (const RssiPulse& p : run.Band().completed_pulses_list) {
            lasting += p.GetPulseDuration() > 0;
            evidence += CheckPulse::IsInterestingPulse(p);
        }
        EXPECT_EQ(lasting, 0u) << "seed " << seed;
        EXPECT_EQ(evidence, 0u) << "seed " << seed;
        EXPECT_LE(run.Band().completed_pulses_list.size(), 4u) << "seed " << seed;
    }
}

// A Bluetooth voice packet from a headset two rooms away: -82 dBm over
// three bins, about N + 10 in its middle bin, for 366 us (seven samples).
int FindWeakVoicePackets(Receiver& run, int packets) {
    int found = 0;
    for (int k = 0; k < packets; k++) {
        run.Noise(40);
        const u64 first = run.t + kInterval;
        const int centre = 10 + (k * 7) % 36;
        run.Packet(centre, -85.0, -89.0, 7);
        run.Noise(3);
        for (const RssiPulse& p : run.Band().completed_pulses_list) {
            found += p.start_time == first && std::abs(p.center_bin_number - centre) <= 1 &&
                     CheckPulse::IsBluetoothSCOPulse(p);
        }
        for (const RssiPulse& p : run.Band().completed_pulses_list)
            printf(
                "k %d c %d first %llu start %llu dur %llu bins %d-%d-%d peak %.0f rc %d sco "
                "%d\n",
                k, centre, (unsigned long long)first, (unsigned long long)p.start_time,
                (unsigned long long)p.GetPulseDuration(), p.start_bin_number, p.center_bin_number,
                p.end_bin_number, p.peak_rssi, p.reading_counts,
                (int)CheckPulse::IsBluetoothSCOPulse(p));
        run.Band().completed_pulses_list.clear();
    }
    return found;
}

TEST(BurstPersistenceTest, WeakVoicePacketPersistingIsFoundWhole) {
    {
        RulesScope refined(RuleSetId::kRefined);
        Receiver run(21);
        run.Noise(2000);
        // Whole: starting at its first sample, so that its duration is that
        // of a voice packet, and strong enough as hopper evidence. Some 1 in
        // 10 dips below N + 8 in a sample, or has noise beside it, and is
        // lost.
        EXPECT_GE(FindWeakVoicePackets(run, 50), 40);
    }
    Receiver run(21);
    run.Noise(2000);
    EXPECT_EQ(FindWeakVoicePackets(run, 10), 0);
}

// A Zigbee frame a few rooms away: -78 dBm over 2 MHz, about N + 9 in
// each of its six bins, for 1 ms. No sample of it reaches the one-sample
// margin, yet it is one pulse over its whole band and length.
TEST(BurstPersistenceTest, WeakZigbeeFrameIsOnePulse) {
    RulesScope refined(RuleSetId::kRefined);
    Receiver run(33);
    run.Noise(2000);
    const u64 first = run.t + kInterval;
    for (int i = 0; i < 18; i++) {
        std::vector<float> row = run.noise.Sample();
        for (int b = 19; b <= 24; b++) {
            run.noise.AddSignal(row, b, -86.0);
        }
        run.Feed(row);
    }
    run.Noise(3);
    const RssiPulse* frame = nullptr;
    for (const RssiPulse& p : run.Band().completed_pulses_list) {
        if (p.GetPulseDuration() >= 10 * kInterval) {
            EXPECT_EQ(frame, nullptr) << "frame broken into pieces";
            frame = &p;
        }
    }
    ASSERT_NE(frame, nullptr);
    EXPECT_LE(frame->start_time, first + kInterval);
    EXPECT_LE(frame->start_bin_number, 20);
    EXPECT_GE(frame->end_bin_number, 23);
    // Its band stands above the noise all at once.
    EXPECT_GE(frame->widest_sample_width, 4);
}

// An oven a few rooms away: a narrow carrier about N + 12 over two bins,
// sweeping a bin every three samples. Over 18 samples it covers 2 MHz, as a
// Zigbee frame does, but never more than two bins at once: no frame. Nor is
// it a data packet of a hopper, which keeps its channel while it lasts.
TEST(BurstPersistenceTest, DriftingCarrierIsNoZigbeeFrameNorHop) {
    RulesScope refined(RuleSetId::kRefined);
    Receiver run(34);
    run.Noise(2000);
    std::vector<float> row(56, 95.0f);
    row[19] = row[20] = 83.0f;
    RssiPulse sweep(run.t, 2437.0f, 19, 20, 19, row, &run.Band());
    RssiPulse::Profile profile = RssiPulse::ToProfile(row);
    for (int i = 3; i < 18; i++) {
        const int low = 19 + i / 3;
        std::vector<float> next(56, 95.0f);
        next[static_cast<size_t>(low)] = next[static_cast<size_t>(low + 1)] = 83.0f;
        RssiPulse piece(run.t + static_cast<u64>(i) * kInterval, 2437.0f, low, low + 1, low, next,
                        &run.Band());
        sweep.UpdatePulse(piece, profile, RssiPulse::ToProfile(next));
    }
    sweep.EndPulse(profile);
    ASSERT_EQ(sweep.end_bin_number - sweep.start_bin_number, CONST_MIN_ZIGBEE_BW);
    EXPECT_EQ(sweep.widest_sample_width, 1);
    EXPECT_FALSE(CheckPulse::IsZigbeePulseType(sweep));
    EXPECT_FALSE(CheckPulse::IsBluetoothPulse(sweep));
    EXPECT_FALSE(CheckPulse::IsFhssphoneHigh(sweep));
    // The same band on the air at once is a frame's width.
    RssiPulse frame(run.t, 2437.0f, 19, 25, 22, row, &run.Band());
    EXPECT_EQ(frame.widest_sample_width, CONST_MIN_ZIGBEE_BW);
}

}  // namespace
