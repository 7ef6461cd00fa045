// Hop spread judged against the time each bin lay open to a hopper: what
// hides a bin in one visit, and the spread test beside continuous emitters.
#include <gtest/gtest.h>

#include <list>
#include <random>

#include "check_pulse_type.h"
#include "hop_clear_time.h"
#include "hopper_test_support.h"
#include "oven_on_phase.h"
#include "subband_class.h"

namespace {

constexpr u64 kDwell = 110000;

SubBand& OpenVisit(std::list<SubBand>& visits, float freq) {
    const u64 start = visits.empty() ? 1000 : visits.back().end_time + 50;
    return hoppertest::AddSubband(visits, freq, start, start + kDwell);
}

TEST(HopClearTimeTest, WhatHidesABinInOneVisit) {
    std::list<SubBand> visits;
    SubBand& visit = OpenVisit(visits, 2422.0f);
    // A video sender next door claimed the upper half of the view.
    for (int b = 30; b < CONST_SUBBAND_NUM_BINS; b++) {
        visit.filtermap[b] = PULSE_VIDEOCAM;
    }
    // A carrier not (yet) named holds bin 10 nearly all the time; bin 12
    // is only busy now and then.
    visit.duty_avg_list.assign(CONST_SUBBAND_NUM_BINS, 0.35f);
    visit.duty_avg_list[10] = 0.95f;
    visit.duty_avg_list[12] = 0.6f;
    BinClearTime clear{};
    AddVisitClearTime(visit, clear);
    // A packet centred one bin off a held band still touches it.
    EXPECT_EQ(clear[28], kDwell);
    EXPECT_EQ(clear[29], 0.0);
    EXPECT_EQ(clear[55], 0.0);
    EXPECT_EQ(clear[8], kDwell);
    EXPECT_EQ(clear[9], 0.0);
    EXPECT_EQ(clear[11], 0.0);
    EXPECT_EQ(clear[12], kDwell);

    // A second visit adds its own dwell.
    OpenVisit(visits, 2412.0f);
    const BinClearTime window = HopClearTimePerBin(visits, visits.begin());
    EXPECT_EQ(window[40], kDwell);
    EXPECT_EQ(window[5], 2 * kDwell);
}

TEST(HopClearTimeTest, OvenOnPhasesHideTheirBinsForTheirLength) {
    std::list<SubBand> visits;
    SubBand& visit = OpenVisit(visits, 2452.0f);
    const u64 t = visit.start_time;
    visit.drift_analyser.oven_on_phase_spans = {{t + 1000, t + 9000, 20, 36},
                                                {t + 17667, t + 25667, 20, 36}};
    // Spans that never repeat at the mains period are no oven's.
    BinClearTime ungated{};
    AddVisitClearTime(visit, ungated);
    EXPECT_EQ(ungated[28], kDwell);

    visit.drift_analyser.oven_mains_gated = true;
    BinClearTime clear{};
    AddVisitClearTime(visit, clear);
    EXPECT_EQ(clear[28], kDwell - 16000.0);
    // The line's skirt and a packet's half width beyond the swept bins.
    const std::pair<int, int> bins = OvenOnPhaseBins(visit.drift_analyser.oven_on_phase_spans[0]);
    EXPECT_EQ(clear[static_cast<size_t>(bins.first - 1)], kDwell - 16000.0);
    EXPECT_EQ(clear[static_cast<size_t>(bins.first - 2)], kDwell);
    EXPECT_EQ(clear[static_cast<size_t>(bins.second + 1)], kDwell - 16000.0);
    EXPECT_EQ(clear[static_cast<size_t>(bins.second + 2)], kDwell);

    // Hidden for longer than the visit lasted is hidden throughout, never
    // less than nothing.
    visit.filtermap[28] = PULSE_ANALOGPHONE;
    BinClearTime held{};
    AddVisitClearTime(visit, held);
    EXPECT_EQ(held[28], 0.0);
}

// Six views; a video sender, an oven and a carrier hold all but the lowest
// quarter of four of them, the rest lies open. Returns the clear time per
// bin.
BinClearTime MostHiddenInFourOfSixViews() {
    BinClearTime clear{};
    for (int view = 0; view < 6; view++) {
        for (int b = 0; b < CONST_SUBBAND_NUM_BINS; b++) {
            const bool hidden = view < 4 && b >= HOP_SPREAD_WINDOW_BINS;
            clear[static_cast<size_t>(b)] += hidden ? 0.0 : static_cast<double>(kDwell);
        }
    }
    return clear;
}

TEST(HopClearTimeTest, PhoneBesideContinuousEmittersIsSpread) {
    const BinClearTime clear = MostHiddenInFourOfSixViews();
    // Counts exactly in proportion to the open time weigh out to an even
    // spread: a quarter of the view holds a quarter.
    std::array<int, CONST_SUBBAND_NUM_BINS> proportional{};
    for (size_t b = 0; b < proportional.size(); b++) {
        proportional[b] = static_cast<int>(3.0 * clear[b] / kDwell);
    }
    EXPECT_NEAR(CheckPulse::SpreadShareOverClearView(proportional, clear), 0.25, 1e-9);

    // A phone hopping uniformly: each bin shows packets in proportion to
    // its open time (6 views in the lowest quarter, 2 above), drawn at
    // random.
    std::mt19937 rng(11);
    int plain_passes = 0;
    int weighted_passes = 0;
    constexpr int kWindows = 200;
    for (int w = 0; w < kWindows; w++) {
        std::array<int, CONST_SUBBAND_NUM_BINS> per_bin{};
        for (size_t b = 0; b < per_bin.size(); b++) {
            std::poisson_distribution<int> packets(0.9 * clear[b] / kDwell);
            per_bin[b] = packets(rng);
        }
        plain_passes += CheckPulse::IsSpreadOverView(per_bin);
        weighted_passes += CheckPulse::IsSpreadOverClearView(per_bin, clear);
    }
    // Half the packets sit in the open lowest quarter: the plain test
    // finds more than half there about every other window.
    EXPECT_LT(plain_passes, kWindows * 9 / 10);
    EXPECT_EQ(weighted_passes, kWindows);
}

TEST(HopClearTimeTest, ConcentratedFragmentsStillFail) {
    const BinClearTime clear = MostHiddenInFourOfSixViews();
    // A Wi-Fi channel's fragments crowd into a few bins of the open part,
    // with some scattered over the mostly hidden rest.
    std::array<int, CONST_SUBBAND_NUM_BINS> per_bin{};
    for (int b = 8; b < 14; b++) {
        per_bin[static_cast<size_t>(b)] = 30;
    }
    for (int b = 20; b < 54; b += 3) {
        per_bin[static_cast<size_t>(b)] = 4;
    }
    EXPECT_FALSE(CheckPulse::IsSpreadOverClearView(per_bin, clear));
    // The same fragments in bins held by the emitter: weighed up, never down.
    std::array<int, CONST_SUBBAND_NUM_BINS> in_hidden{};
    for (int b = 40; b < 46; b++) {
        in_hidden[static_cast<size_t>(b)] = 30;
    }
    EXPECT_FALSE(CheckPulse::IsSpreadOverClearView(in_hidden, clear));
    // Nothing counted is no hopper.
    EXPECT_FALSE(CheckPulse::IsSpreadOverClearView({}, clear));
}

TEST(HopClearTimeTest, AllOpenIsThePlainTest) {
    BinClearTime open{};
    open.fill(6.0 * kDwell);
    std::mt19937 rng(5);
    std::uniform_int_distribution<int> count(0, 12);
    std::uniform_int_distribution<int> lump(0, 41);
    for (int w = 0; w < 300; w++) {
        std::array<int, CONST_SUBBAND_NUM_BINS> per_bin{};
        for (int& c : per_bin) {
            c = count(rng) < 4 ? count(rng) : 0;
        }
        per_bin[static_cast<size_t>(lump(rng))] += count(rng) * 4;
        EXPECT_EQ(CheckPulse::IsSpreadOverClearView(per_bin, open),
                  CheckPulse::IsSpreadOverView(per_bin));
    }
    // A view seen not at all leaves the counts as they are.
    std::array<int, CONST_SUBBAND_NUM_BINS> per_bin{};
    per_bin[3] = 5;
    per_bin[40] = 5;
    EXPECT_EQ(CheckPulse::IsSpreadOverClearView(per_bin, BinClearTime{}),
              CheckPulse::IsSpreadOverView(per_bin));
}

}  // namespace
