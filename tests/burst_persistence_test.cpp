// Weak packets believed by their persistence over samples, and receiver
// noise that never persists long enough to be believed.
#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <vector>

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
constexpr float kNoiseDbm = -95.0f;
// A bin far under the noise: it adds nothing to a summed window.
constexpr uint8_t kQuiet = 115;

uint64_t Bins(int first, int last) {
    uint64_t bits = 0;
    for (int b = first; b <= last; b++) {
        bits |= uint64_t{1} << b;
    }
    return bits;
}

// A sample whose `bits` read `above` whole dB over the noise, the rest quiet.
RssiPulse::Profile Row(uint64_t bits, int above) {
    RssiPulse::Profile row;
    row.fill(kQuiet);
    for (int b = 0; b < 56; b++) {
        if ((bits >> b) & 1u) {
            row[static_cast<size_t>(b)] = static_cast<uint8_t>(95 - above);
        }
    }
    return row;
}

// Feeds the detector one sample with `row`; `run` is its one run above the
// join level (0: none), `peak` that run's strongest bin.
BurstPersistence::Belief Step(BurstPersistence& p, u64& t, const RssiPulse::Profile& row,
                              uint64_t run, int peak) {
    t += kInterval;
    p.NextSample(t, row.data(), run, kNoiseDbm);
    if (run == 0) {
        return {};
    }
    return p.Observe(run, run, row.data(), peak, kNoiseDbm);
}

// A run one bin wide at `above` over the noise, its neighbours quiet.
int Persisted(BurstPersistence& p, u64& t, int bin, int above) {
    const uint64_t run = Bins(bin, bin);
    return Step(p, t, Row(run, above), run, bin).samples;
}

TEST(BurstPersistenceTest, WeakerPeaksNeedLongerRunsOnOverlappingBins) {
    RulesScope refined(RuleSetId::kRefined);
    BurstPersistence p;
    u64 t = 1000;
    // One sample at N + 11 is noise as often as not; the second on the
    // neighbouring bin makes it a packet that started one sample back.
    EXPECT_EQ(Persisted(p, t, 20, 11), 0);
    EXPECT_EQ(Persisted(p, t, 21, 11), 2);
    EXPECT_EQ(p.SampleTime(1), t - kInterval);

    // At N + 10 it takes three samples, at N + 9 four (and at N + 8 five).
    p.Reset();
    EXPECT_EQ(Persisted(p, t, 30, 10), 0);
    EXPECT_EQ(Persisted(p, t, 30, 10), 0);
    EXPECT_EQ(Persisted(p, t, 31, 10), 3);
    p.Reset();
    for (int i = 0; i < 3; i++) {
        EXPECT_EQ(Persisted(p, t, 41, 9), 0);
    }
    EXPECT_EQ(Persisted(p, t, 41, 9), 4);
    // Once believed it stays believed while it lasts (by now five samples
    // long, which N + 8 would already do).
    EXPECT_EQ(Persisted(p, t, 41, 9), 5);
    EXPECT_EQ(Persisted(p, t, 41, 9), 5);

    // Two bins apart is another frequency: the chain starts again.
    p.Reset();
    EXPECT_EQ(Persisted(p, t, 10, 11), 0);
    EXPECT_EQ(Persisted(p, t, 12, 11), 0);
    // A quiet sample breaks it too.
    EXPECT_EQ(Step(p, t, Row(0, 0), 0, 0).samples, 0);
    EXPECT_EQ(Persisted(p, t, 12, 11), 0);
    // Below every level nothing is believed, however long.
    p.Reset();
    for (int i = 0; i < 10; i++) {
        EXPECT_EQ(Persisted(p, t, 5, 7), 0);
    }
}

// A 1 MHz packet landing between two bins puts its power in both: N + 9
// each, which one bin needs four samples to believe. The two together hold
// 12 dB over the noise of one bin, believed in three samples: a voice
// packet sampled every 114 us lasts only three.
TEST(BurstPersistenceTest, PacketStraddlingTwoBinsIsBelievedByItsSummedPower) {
    RulesScope refined(RuleSetId::kRefined);
    const uint64_t pair = Bins(20, 21);
    const RssiPulse::Profile straddling = Row(pair, 9);
    BurstPersistence p;
    u64 t = 1000;
    EXPECT_EQ(Step(p, t, straddling, pair, 20).samples, 0);
    EXPECT_EQ(Step(p, t, straddling, pair, 21).samples, 0);
    const BurstPersistence::Belief third = Step(p, t, straddling, pair, 20);
    EXPECT_EQ(third.samples, 3);
    EXPECT_TRUE(third.by_band);
    EXPECT_EQ(p.SampleTime(2), t - 2 * kInterval);

    // The same peak alone, its neighbours quiet, is no stronger than its
    // one bin: three samples are not enough.
    p.Reset();
    for (int i = 0; i < 3; i++) {
        EXPECT_EQ(Persisted(p, t, 20, 9), 0);
    }

    // Where the strongest bin dips under the join level for a sample (noise
    // adding at the wrong phase), the pair still holds 10 dB together and
    // carries the chain: the packet is believed from its first sample.
    p.Reset();
    EXPECT_EQ(Step(p, t, straddling, pair, 20).samples, 0);
    EXPECT_EQ(Step(p, t, Row(pair, 7), 0, 0).samples, 0);
    EXPECT_EQ(Step(p, t, straddling, pair, 20).samples, 0);
    EXPECT_EQ(Step(p, t, straddling, pair, 20).samples, 0);
    EXPECT_EQ(Step(p, t, straddling, pair, 20).samples, 5);
    EXPECT_EQ(p.SampleTime(4), t - 4 * kInterval);

    // Carried only in place: a carrier that slid a bin while under the join
    // level is not a packet keeping its channel, and its chain starts again.
    p.Reset();
    const uint64_t slid = Bins(21, 22);
    EXPECT_EQ(Step(p, t, straddling, pair, 20).samples, 0);
    EXPECT_EQ(Step(p, t, Row(slid, 7), 0, 0).samples, 0);
    EXPECT_EQ(Step(p, t, Row(slid, 9), slid, 21).samples, 0);
    EXPECT_EQ(Step(p, t, Row(slid, 9), slid, 21).samples, 0);
    EXPECT_EQ(Step(p, t, Row(slid, 9), slid, 21).samples, 3);

    // A run wider than three bins (a 2 MHz Zigbee frame at N + 9) is wider
    // than a packet of the kind summed: part of it proves nothing about a
    // packet, and it waits its four samples like one bin.
    p.Reset();
    const uint64_t frame = Bins(20, 25);
    for (int i = 0; i < 3; i++) {
        EXPECT_EQ(Step(p, t, Row(frame, 9), frame, 22).samples, 0);
    }
    const BurstPersistence::Belief fourth = Step(p, t, Row(frame, 9), frame, 22);
    EXPECT_EQ(fourth.samples, 4);
    EXPECT_FALSE(fourth.by_band);
}

// The game controller's packet at -80 dBm: a flat top over four bins at
// N + 8 each, an edge bin under the join level. Its run is too wide for the
// 2-3-bin windows and its bins too weak for the one-bin levels within the
// four samples its short packet lasts; the four bins together hold N + 14.
TEST(BurstPersistenceTest, WeakControllerPacketIsBelievedByItsFourOrFiveBins) {
    RulesScope refined(RuleSetId::kRefined);
    const uint64_t top = Bins(20, 23);
    RssiPulse::Profile packet = Row(top, 8);
    packet[24] = 95 - 5;
    BurstPersistence p;
    u64 t = 1000;
    EXPECT_EQ(Step(p, t, packet, top, 21).samples, 0);
    const BurstPersistence::Belief second = Step(p, t, packet, top, 21);
    EXPECT_EQ(second.samples, 2);
    EXPECT_TRUE(second.by_wide_band);
    // Evidence for the controller's packet only, not for a hop's.
    EXPECT_FALSE(second.by_band);
    EXPECT_EQ(p.SampleTime(1), t - kInterval);
    // Believed while it lasts.
    EXPECT_GT(Step(p, t, packet, top, 22).samples, 0);
    EXPECT_GT(Step(p, t, packet, top, 22).samples, 0);

    // Under the standard rules nothing is believed by persistence.
    RulesScope standard(RuleSetId::kStandard);
    p.Reset();
    for (int i = 0; i < 5; i++) {
        EXPECT_EQ(Step(p, t, packet, top, 21).samples, 0);
    }
}

// Receiver noise through the summing windows, sample after sample: the
// 4- and 5-bin levels let it through about once an hour at the fastest
// card's rate, so some 11 seconds of noise rows never make a belief. A
// level set as if a sum of bins were one exponential bin (N + 8 for five
// samples) would pass it many times a second.
TEST(BurstPersistenceTest, NoiseAloneIsNeverBelievedByTheWideWindows) {
    RulesScope refined(RuleSetId::kRefined);
    std::mt19937 rng(5);
    std::exponential_distribution<double> power(1.0);
    const double noise_mw = std::pow(10.0, kNoiseDbm / 10.0);
    BurstPersistence p;
    u64 t = 1000;
    int believed = 0;
    int runs = 0;
    for (int sample = 0; sample < 200000; sample++) {
        RssiPulse::Profile row;
        uint64_t active = 0;
        for (int b = 0; b < 56; b++) {
            const double dbm = 10.0 * std::log10(noise_mw * power(rng));
            row[static_cast<size_t>(b)] = static_cast<uint8_t>(std::trunc(-dbm));
            // The join level, N + 8.
            active |= static_cast<uint64_t>(row[static_cast<size_t>(b)] <= 87) << b;
        }
        t += kInterval;
        p.NextSample(t, row.data(), active, kNoiseDbm);
        for (uint64_t rest = active; rest != 0; rest &= rest + (rest & (~rest + 1))) {
            const uint64_t run = rest & ~(rest + (rest & (~rest + 1)));
            const int peak = __builtin_ctzll(run);
            runs++;
            const BurstPersistence::Belief belief =
                p.Observe(run, active, row.data(), peak, kNoiseDbm);
            believed += belief.by_band || belief.by_wide_band;
        }
    }
    EXPECT_GT(runs, 10000);  // noise over the join level does start runs
    EXPECT_EQ(believed, 0);
}

// Noise summed over k bins is Gamma(k), not exponential: each band level,
// with truncated readings and 2k + 1 windows a chain may step to, must let
// receiver noise through no more often than the one-bin levels do (at most
// once in some ten minutes at 17,500 samples/s over 56 bins).
TEST(BurstPersistenceTest, BandLevelsKeepNoiseToTheOneBinFalseAlarmRate) {
    const auto gamma_tail = [](int k, double x) {
        double term = 1.0;
        double sum = 0.0;
        for (int i = 0; i < k; i++) {
            sum += term;
            term *= x / (i + 1);
        }
        return std::exp(-x) * sum;
    };
    std::vector<BandPersistenceLevel> levels(RefinedRules().persistent_band.begin(),
                                             RefinedRules().persistent_band.end());
    levels.insert(levels.end(), RefinedRules().persistent_wide_band.begin(),
                  RefinedRules().persistent_wide_band.end());
    double total = 0.0;
    for (const BandPersistenceLevel& level : levels) {
        ASSERT_GE(level.bins, 2);
        ASSERT_GE(level.samples, 2);
        ASSERT_LE(level.samples, BurstPersistence::kMaxSamples);
        const double p = gamma_tail(level.bins, std::pow(10.0, (level.margin_db - 1.0) / 10.0));
        const double rate =
            56.0 * std::pow(2.0 * level.bins + 1.0, level.samples - 1) * std::pow(p, level.samples);
        EXPECT_LT(rate, 1.0e-7) << level.bins << " bins, " << level.samples << " samples";
        total += rate;
    }
    EXPECT_LT(total * 17500.0 * 60.0, 1.0) << "noise believed more than once a minute";
    for (const BandPersistenceLevel& level : StandardRules().persistent_band) {
        EXPECT_EQ(level.samples, 0);
    }
    for (const BandPersistenceLevel& level : StandardRules().persistent_wide_band) {
        EXPECT_EQ(level.samples, 0);
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
    const RssiPulse::Profile crowded_row = Row(crowded, 11);
    for (int i = 0; i < 6; i++) {
        t += kInterval;
        p.NextSample(t, crowded_row.data(), crowded, kNoiseDbm);
        EXPECT_EQ(p.Observe(run, crowded, crowded_row.data(), 20, kNoiseDbm).samples, 0);
    }
    // Four bins away is clear of it.
    const uint64_t clear = run | Bins(25, 25);
    const RssiPulse::Profile clear_row = Row(clear, 11);
    t += kInterval;
    p.NextSample(t, clear_row.data(), clear, kNoiseDbm);
    EXPECT_EQ(p.Observe(run, clear, clear_row.data(), 20, kNoiseDbm).samples, 0);
    t += kInterval;
    p.NextSample(t, clear_row.data(), clear, kNoiseDbm);
    EXPECT_EQ(p.Observe(run, clear, clear_row.data(), 20, kNoiseDbm).samples, 2);
}

TEST(BurstPersistenceTest, StandardRulesBelieveNothingByPersistence) {
    BurstPersistence p;
    u64 t = 1000;
    const uint64_t run = Bins(20, 22);
    for (int i = 0; i < 6; i++) {
        EXPECT_EQ(Step(p, t, Row(run, 12), run, 21).samples, 0);
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

// Packets spread over the view after settled noise: each of `packets`
// packets follows 30 samples of noise, lasts `samples` samples with the
// signals add(row, low) puts in, and is followed by 3 of noise. Counts the
// completed pulses found(pulse, first sample, low) accepts.
template <class AddSignals, class Found>
int PacketsFoundOverNoise(Receiver& run, int packets, int samples, AddSignals add, Found found) {
    run.Noise(2000);
    int count = 0;
    for (int k = 0; k < packets; k++) {
        run.Noise(30);
        const u64 first = run.t + kInterval;
        const int low = 10 + (k * 7) % 36;
        run.Rows(samples, [&](std::vector<float>& row) { add(row, low); });
        run.Noise(3);
        for (const RssiPulse& p : run.Band().completed_pulses_list) {
            count += found(p, first, low);
        }
        run.Band().completed_pulses_list.clear();
    }
    return count;
}

// The straddling packet over receiver noise: a voice packet's three
// samples at a 114 us interval, -86 dBm in each of two bins (N + 9).
// Noise adds to each bin's power at a random phase, so some samples fall
// short, but most packets are found from their first sample and count as
// hopper evidence, which their strongest bin alone never would.
TEST(BurstPersistenceTest, StraddlingPacketOverNoiseIsHopperEvidence) {
    RulesScope refined(RuleSetId::kRefined);
    Receiver run(41);
    const int packets = 40;
    const int found = PacketsFoundOverNoise(
        run, packets, 3,
        [&](std::vector<float>& row, int low) {
            run.noise.AddSignal(row, low, -86.0);
            run.noise.AddSignal(row, low + 1, -86.0);
        },
        [](const RssiPulse& p, u64 first, int low) {
            return p.start_time == first && p.believed_by_band &&
                   std::abs(p.center_bin_number - low) <= 1 && CheckPulse::IsInterestingPulse(p);
        });
    EXPECT_GE(found, packets * 3 / 4);
}

// The controller at -80 dBm over receiver noise: four bins at -86.5 dBm
// (N + 8.5), its edge bins at -88 and -92 dBm (the packet sits a quarter
// bin off the grid), for the four samples of its short packet. Noise adds
// to each bin at a random phase, so its run above the join level is 3-5
// bins wide and its strongest bin seldom stands at N + 11; yet most packets
// are found from their first sample by the power of their bins together,
// which is the controller test's evidence. (Centred on a bin, both edges
// join the run: six bins, which no window holds, and the packet is judged
// by its strongest bin alone.)
TEST(BurstPersistenceTest, WeakControllerPacketOverNoiseIsFoundWhole) {
    RulesScope refined(RuleSetId::kRefined);
    Receiver run(43);
    const int packets = 40;
    const int found = PacketsFoundOverNoise(
        run, packets, 4,
        [&](std::vector<float>& row, int low) {
            run.noise.AddSignal(row, low - 1, -88.0);
            for (int b = low; b < low + 4; b++) {
                run.noise.AddSignal(row, b, -86.5);
            }
            run.noise.AddSignal(row, low + 4, -92.0);
        },
        [](const RssiPulse& p, u64 first, int low) {
            // Evidence for the controller test alone, never a hop's packet.
            if (p.believed_by_wide_band && !p.believed_by_band) {
                EXPECT_FALSE(CheckPulse::IsInterestingPulse(p));
            }
            return p.start_time == first && p.believed_by_wide_band && p.center_bin_number >= low &&
                   p.center_bin_number < low + 4;
        });
    EXPECT_GE(found, packets * 3 / 4);
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
