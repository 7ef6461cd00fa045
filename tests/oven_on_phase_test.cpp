// Oven on-phases from the strongest bin of each row: a magnetron gated by the
// mains, sweeping while on, against the hopper exchanges and carriers that
// used to pass for one.
#include "oven_on_phase.h"

#include <gtest/gtest.h>

#include <cmath>
#include <random>

#include "refined_test_support.h"
#include "subband_class.h"

namespace {

constexpr double kPi = 3.14159265358979323846;

struct Rows {
    std::vector<PeakRssiHistoryStruct> rows;
    void Add(u64 t, int bin) { rows.push_back({t, bin, 50.0f}); }
    void Gap(u64 t) { rows.push_back({t, -1, -1.0f}); }
};

// 110 ms of an oven: 8 ms on-phases every mains period, the peak rising
// `sweep_bins` and falling back, with one-bin FM flicker.
Rows Oven(double period_us, double interval_us, int sweep_bins = 16, int carrier_bin = -1) {
    Rows r;
    std::mt19937 rng(5);
    std::uniform_int_distribution<int> flicker(-1, 1);
    for (double t = 0; t < 110000; t += interval_us) {
        const double phase = std::fmod(t + 3000.0, period_us);
        const u64 at = static_cast<u64>(t);
        if (phase < 8000.0) {
            const int bin = 20 + static_cast<int>(sweep_bins * std::sin(kPi * phase / 8000.0));
            r.Add(at, std::clamp(bin + flicker(rng), 0, 55));
        } else if (carrier_bin >= 0) {
            r.Add(at, carrier_bin);
        } else {
            r.Gap(at);
        }
    }
    return r;
}

TEST(OvenOnPhaseTest, MainsGatedSweepsAreAnOvenAtEverySampleInterval) {
    for (const double period : {1e6 / 60.0, 1e6 / 50.0}) {
        for (const double interval : {57.0, 64.0, 114.0}) {
            const OvenOnPhases oven = FindOvenOnPhases(Oven(period, interval).rows, 1000, 0);
            EXPECT_TRUE(oven.mains_gated) << period << " " << interval;
            EXPECT_GE(oven.spans.size(), 5u);
            for (const auto& span : oven.spans) {
                EXPECT_GE(span.end - span.start, OVEN_MIN_ON_PHASE_US);
                EXPECT_GE(span.start, 1000u);  // card times, not offsets
            }
        }
    }
}

// An oven a room away (-80 dBm at its peak): its power follows the
// half-sine of the anode current, so its rows pass the margin only while
// the current is high, the middle 56 % of the on-phase, where the sweep
// turns and dwells on its top bins. The rest of the subband's rows have no
// peak and are left out of the history once 800 us have passed.
Rows WeakOven(double period_us, double interval_us, double top_share) {
    Rows r;
    const double on_us = 0.48 * period_us;
    u64 last_peak = 0;
    for (double t = 0; t < 110000; t += interval_us) {
        const double phase = std::fmod(t + 3000.0, period_us);
        const u64 at = static_cast<u64>(t);
        const double current = phase < on_us ? std::sin(kPi * phase / on_us) : 0.0;
        if (current >= 1.0 - top_share) {
            // 5 MHz (16 bins) of sweep over the whole current.
            r.Add(at, 20 + static_cast<int>(std::lround(16.0 * current)));
            last_peak = at;
        } else if (at - last_peak > 800) {
            r.Gap(at);
        }
    }
    return r;
}

TEST(OvenOnPhaseTest, WeakOvenIsFoundAtEverySampleInterval) {
    for (const double period : {1e6 / 60.0, 1e6 / 50.0}) {
        for (const double interval : {57.0, 64.0, 114.0}) {
            const Rows oven = WeakOven(period, interval, 0.37);
            const size_t all_rows = static_cast<size_t>(110000 / interval);
            EXPECT_TRUE(FindOvenOnPhases(oven.rows, 0, all_rows).mains_gated)
                << period << " " << interval;
        }
    }
}

TEST(OvenOnPhaseTest, AnalogCarrierInTheViewDoesNotHideTheOven) {
    // Between on-phases the carrier is the strongest bin of every row.
    EXPECT_TRUE(FindOvenOnPhases(Oven(1e6 / 60.0, 57.0, 16, 44).rows, 0, 0).mains_gated);
}

TEST(OvenOnPhaseTest, HopperExchangesAreNoOnPhases) {
    // A Bluetooth voice exchange every 3.75 ms: two 366 us packets 625 us
    // apart on different hops.
    for (const u64 interval : {57u, 64u, 114u}) {
        Rows voice;
        for (u64 t = 0; t < 110000; t += interval) {
            const u64 in_frame = t % 3750;
            if (in_frame < 366 || (in_frame >= 625 && in_frame < 991)) {
                voice.Add(t, 10 + static_cast<int>((t / 3750) % 30));
            } else {
                voice.Gap(t);
            }
        }
        EXPECT_TRUE(FindOvenOnPhases(voice.rows, 0, 0).spans.empty()) << interval;
    }
    std::mt19937 rng(9);
    std::uniform_int_distribution<int> hop(2, 53);
    // Back-to-back data: 2.87 ms packets and 366 us replies on new hops,
    // 254 us apart, joined into long busy stretches that jump.
    Rows data;
    int bin = hop(rng);
    u64 next_hop = 0;
    for (u64 t = 0; t < 110000; t += 57) {
        if (t >= next_hop) {
            bin = hop(rng);
            next_hop = t + (next_hop % 2 == 0 ? 3125 : 625);
        }
        data.Add(t, bin);
    }
    EXPECT_FALSE(FindOvenOnPhases(data.rows, 0, 0).mains_gated);
}

TEST(OvenOnPhaseTest, SweepNeedsSmallStepsAndTravel) {
    std::vector<int> sweep;
    for (int i = 0; i < 140; i++)
        sweep.push_back(20 + static_cast<int>(12 * std::sin(kPi * i / 140)));
    EXPECT_TRUE(IsSweepingOnPhase(sweep));
    // One jump between two steady hops: large span, no travel.
    std::vector<int> jump(70, 10);
    jump.insert(jump.end(), 70, 40);
    EXPECT_FALSE(IsSweepingOnPhase(jump));
    // An OFDM frame: the strongest subcarrier is anywhere in every row.
    std::vector<int> ofdm;
    std::mt19937 rng(1);
    std::uniform_int_distribution<int> any(2, 53);
    for (int i = 0; i < 140; i++)
        ofdm.push_back(any(rng));
    EXPECT_FALSE(IsSweepingOnPhase(ofdm));
    EXPECT_FALSE(IsSweepingOnPhase({1, 2, 3}));
}

TEST(OvenOnPhaseTest, MainsSpacing) {
    EXPECT_TRUE(AreMainsSpaced({4000, 20667, 37333, 70667}));  // 60 Hz, one phase missed
    EXPECT_TRUE(AreMainsSpaced({4000, 24000, 44500}));         // 50 Hz
    EXPECT_FALSE(AreMainsSpaced({4000, 14000, 24000}));        // 10 ms apart
    EXPECT_FALSE(AreMainsSpaced({4000, 20667, 40667}));        // periods mixed
    EXPECT_FALSE(AreMainsSpaced({4000}));
}

TEST(OvenOnPhaseTest, OnlyPulsesOnTheSweepInsideOnPhasesAreDiscarded) {
    SubBand band(nullptr, 0, 2452.0f, 95.0f, 0);
    // The oven's peak crossed bins 20-36 in both on-phases.
    band.drift_analyser.oven_on_phase_spans = {{1000, 9000, 20, 36}, {17667, 25667, 20, 36}};
    band.drift_analyser.oven_mains_gated = true;
    const std::vector<float> row(56, 60.0f);
    // Start and bins of each pulse: before the first phase; inside it on
    // the sweep; between phases; overlapping the second one's end; on the
    // sweep's line edge; after it; and inside a phase, far off the sweep
    // (a hopper packet elsewhere in the view).
    const struct {
        u64 start;
        int low;
        int high;
    } pulses[] = {{100, 25, 28},  {5000, 25, 28},  {12000, 25, 28}, {25000, 25, 28},
                  {3000, 38, 41}, {30000, 25, 28}, {6000, 2, 5}};
    for (const auto& p : pulses) {
        band.completed_pulses_list.emplace_back(p.start, 2452.0f, p.low, p.high, p.low + 1, row,
                                                nullptr);
        band.completed_pulses_list.back().end_time = p.start + 600;
    }
    band.completed_pulses_list[2].classification = PULSE_BLUETOOTH;
    EXPECT_TRUE(HasOvenOnPhases(band));
    EXPECT_EQ(DiscardOvenOnPhasePulses(band), 3u);
    const PulseType expected[] = {PULSE_NONE,    PULSE_DISCARD, PULSE_BLUETOOTH, PULSE_DISCARD,
                                  PULSE_DISCARD, PULSE_NONE,    PULSE_NONE};
    for (size_t i = 0; i < 7; i++) {
        EXPECT_EQ(band.completed_pulses_list[i].classification, expected[i]) << i;
    }
}

// A full-wave oven's on-phases come every half mains cycle, locked to the
// crest of each rectified half: three or more of them, each within 0.5 ms
// of the half period, are an oven under the refined rules; two, or a
// looser fit that chance bursts give, are not.
TEST(OvenOnPhaseTest, RefinedFullWaveOnPhasesEveryHalfCycle) {
    refinedtest::RulesScope refined(RuleSetId::kRefined);
    EXPECT_TRUE(AreMainsSpaced({4000, 14000, 24000, 34100}));  // 100 Hz
    EXPECT_TRUE(AreMainsSpaced({4000, 12333, 29000}));         // 120 Hz, one missed
    EXPECT_FALSE(AreMainsSpaced({4000, 14000}));               // too few
    EXPECT_FALSE(AreMainsSpaced({4000, 14900, 24000}));        // 0.9 ms off
    EXPECT_TRUE(AreMainsSpaced({4000, 20667, 37333}));         // half-wave still
}

}  // namespace
