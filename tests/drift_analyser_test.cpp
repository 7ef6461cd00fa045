#include "drift_analyser.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <string>
#include <utility>
#include <vector>

#include "refined_test_support.h"
#include "subband_class.h"

namespace {

constexpr u64 kStart = 1000;
constexpr float kQuiet = 90.0f;

// A row whose strongest bin is `bin` at `value`; every other bin is quiet.
std::vector<float> Row(int bin, float value) {
    std::vector<float> row(56, kQuiet);
    row[bin] = value;
    return row;
}

std::vector<float> QuietRow() {
    return std::vector<float>(56, kQuiet);
}

std::vector<PeakRssiHistoryStruct> Readings(const std::vector<int>& bins) {
    std::vector<PeakRssiHistoryStruct> readings;
    u64 t = 0;
    for (const int bin : bins) {
        readings.push_back({t, bin, 60.0f});
        t += 100;
    }
    return readings;
}

// The longest sweep: its length in readings and its excursion in bins.
std::pair<int, int> Sweep(DriftAnalyser& drift, const std::vector<PeakRssiHistoryStruct>& rows) {
    int length = -1;
    int freq = -1;
    drift.MaxSweepLength(rows, length, freq);
    return {length, freq};
}

// Feeds one episode of peak rows 100 us apart starting at `t`; returns the
// time of its last row.
u64 FeedEpisode(DriftAnalyser& drift, u64 t, const std::vector<int>& bins) {
    for (const int bin : bins) {
        drift.UpdateDriftAnalyser(t, Row(bin, 60.0f));
        t += 100;
    }
    return t - 100;
}

const std::vector<int> kRising = {10, 11, 12, 12, 13, 14, 15, 16, 17, 18};
// Up for four steps, down for five, then up again: one measured turn pair.
const std::vector<int> kSweep = {10, 11, 12, 13, 14, 13, 12, 11, 10, 9, 10, 11};

std::string Evaluate(DriftAnalyser& drift) {
    testing::internal::CaptureStdout();
    drift.IsMicrowavePresent();
    return testing::internal::GetCapturedStdout();
}

// An oven a room away peaks at -80 dBm, 15 dB over a -95 dBm noise floor:
// under the refined rules its rows are recorded (the standard -75 dBm limit
// drops them all), while the strongest of 56 Rayleigh noise bins passes the
// limit, 10 dB over the noise, in only a few rows in a thousand.
TEST(DriftRecording, RefinedRowsFollowTheMeasuredNoise) {
    refinedtest::RulesScope refined(RuleSetId::kRefined);
    SubBand subband(nullptr, kStart, 2462, 95.0f, 0);
    subband.noise_mean_dbm = -95.0f;
    DriftAnalyser drift(kStart, 2462, &subband);
    EXPECT_FLOAT_EQ(drift.RowPeakLimit(), 85.0f);
    refinedtest::RayleighNoise noise(-95.0, 5);
    int kept = 0;
    int oven_rows = 0;
    u64 t = kStart;
    for (int r = 0; r < 4000; r++, t += 57) {
        std::vector<float> row = noise.Sample();
        kept += row[static_cast<size_t>(std::min_element(row.begin(), row.end()) - row.begin())] <
                        drift.RowPeakLimit()
                    ? 1
                    : 0;
        noise.AddSignal(row, 20, -80.0);
        oven_rows += row[20] < drift.RowPeakLimit() ? 1 : 0;
    }
    EXPECT_LT(kept, 40);
    EXPECT_GT(oven_rows, 3900);
    refinedtest::RulesScope standard(RuleSetId::kStandard);
    EXPECT_FLOAT_EQ(drift.RowPeakLimit(), 75.0f);
}

}  // namespace

TEST(DriftRecording, PeakNeedsStrongerThanMinus75AndLowestBinWinsTies) {
    DriftAnalyser drift(kStart, 2437.0f, nullptr);

    drift.UpdateDriftAnalyser(kStart + 100, Row(20, 75.0f));
    EXPECT_TRUE(drift.peak_rssi_history.empty()) << "exactly -75 dBm is no peak";

    std::vector<float> tie = Row(30, 70.0f);
    tie[40] = 70.0f;
    drift.UpdateDriftAnalyser(kStart + 200, tie);
    ASSERT_EQ(drift.peak_rssi_history.size(), 1u);
    EXPECT_EQ(drift.peak_rssi_history.back().index, 30);
    EXPECT_FLOAT_EQ(drift.peak_rssi_history.back().rssi, 70.0f);
    EXPECT_EQ(drift.peak_rssi_history.back().diffTime, 200u);
    EXPECT_EQ(drift.end_time, kStart + 200);
}

// The receive path hands the row over as whole-dB bytes: the record must be
// the one the float row gives, ties, threshold, edges and gaps included.
TEST(DriftRecording, ByteRowsRecordWhatFloatRowsRecord) {
    std::vector<std::vector<float>> rows = {Row(20, 75.0f), Row(0, 50.0f), Row(55, 74.0f),
                                            QuietRow(), QuietRow()};
    std::vector<float> tie = Row(30, 70.0f);
    tie[40] = 70.0f;
    tie[12] = 71.0f;
    rows.push_back(tie);
    DriftAnalyser from_floats(kStart, 2437.0f, nullptr);
    DriftAnalyser from_bytes(kStart, 2437.0f, nullptr);
    u64 t = kStart;
    for (const std::vector<float>& row : rows) {
        t += 600;
        from_floats.UpdateDriftAnalyser(t, row);
        from_bytes.UpdateDriftAnalyser(t, RssiPulse::ToProfile(row));
    }
    ASSERT_EQ(from_bytes.peak_rssi_history.size(), from_floats.peak_rssi_history.size());
    for (size_t i = 0; i < from_floats.peak_rssi_history.size(); i++) {
        EXPECT_EQ(from_bytes.peak_rssi_history[i].diffTime,
                  from_floats.peak_rssi_history[i].diffTime);
        EXPECT_EQ(from_bytes.peak_rssi_history[i].index, from_floats.peak_rssi_history[i].index);
        EXPECT_EQ(from_bytes.peak_rssi_history[i].rssi, from_floats.peak_rssi_history[i].rssi);
    }
    EXPECT_EQ(from_bytes.end_time, from_floats.end_time);
}

TEST(DriftRecording, PeaklessRowsCountFromLastPeakRow) {
    DriftAnalyser drift(kStart, 2412.0f, nullptr);
    // Within the first 800 us of the subband nothing is recorded.
    drift.UpdateDriftAnalyser(kStart + 800, QuietRow());
    EXPECT_TRUE(drift.peak_rssi_history.empty());

    drift.UpdateDriftAnalyser(kStart + 1000, Row(5, 50.0f));
    drift.UpdateDriftAnalyser(kStart + 1800, QuietRow());
    EXPECT_EQ(drift.peak_rssi_history.size(), 1u) << "800 us after the peak is still a gap";

    drift.UpdateDriftAnalyser(kStart + 1801, QuietRow());
    drift.UpdateDriftAnalyser(kStart + 1900, QuietRow());
    ASSERT_EQ(drift.peak_rssi_history.size(), 3u);
    EXPECT_EQ(drift.peak_rssi_history.back().index, -1);
    EXPECT_FLOAT_EQ(drift.peak_rssi_history.back().rssi, -1.0f);
    EXPECT_EQ(drift.peak_rssi_history.back().diffTime, 1900u);
    EXPECT_EQ(drift.end_time, kStart + 1000) << "peakless rows do not move the peak time";
}

TEST(DriftRecording, ShortOrEmptyRowIsReadWithinItsBounds) {
    DriftAnalyser drift(kStart, 2412.0f, nullptr);
    drift.UpdateDriftAnalyser(kStart + 100, std::vector<float>{80.0f, 60.0f});
    ASSERT_EQ(drift.peak_rssi_history.size(), 1u);
    EXPECT_EQ(drift.peak_rssi_history.back().index, 1);

    drift.UpdateDriftAnalyser(kStart + 5000, std::vector<float>{});
    ASSERT_EQ(drift.peak_rssi_history.size(), 2u);
    EXPECT_EQ(drift.peak_rssi_history.back().index, -1);
}

TEST(DriftTest, MonotoneOrSingleTurnEpisodesDrift) {
    DriftAnalyser drift(kStart, 2412.0f, nullptr);
    EXPECT_TRUE(drift.IsDrift(Readings(kRising)));
    EXPECT_TRUE(drift.IsDrift(Readings({20, 19, 18, 17, 16, 15, 14, 13, 12, 11})));
    EXPECT_TRUE(drift.IsDrift(Readings({20, 18, 16, 14, 12, 12, 14, 16, 18, 20})));  // V
    EXPECT_TRUE(drift.IsDrift(Readings({12, 14, 16, 18, 20, 20, 18, 16, 14, 12})));  // inverted V
}

TEST(DriftTest, ZigzagConstantAndShortEpisodesDoNotDrift) {
    DriftAnalyser drift(kStart, 2412.0f, nullptr);
    EXPECT_FALSE(drift.IsDrift(Readings({10, 12, 10, 12, 10, 12, 10, 12, 10, 12})));
    EXPECT_FALSE(drift.IsDrift(Readings(std::vector<int>(10, 20))));
    EXPECT_FALSE(drift.IsDrift(Readings({10, 11, 12, 13, 14, 15, 16, 17, 18})));
}

TEST(SweepLength, MeasuresTheTwoRunsMeetingAtTheLongestTurn) {
    DriftAnalyser drift(kStart, 2412.0f, nullptr);
    const auto [length, freq] = Sweep(drift, Readings(kSweep));
    // Second turn at reading 10: runs 0..4 up and 5..9 down; 9 - 0 readings,
    // excursions (|9 - 14| + |14 - 10|) / 2 bins.
    EXPECT_EQ(length, 9);
    EXPECT_EQ(freq, 4);
}

TEST(SweepLength, NoTurnOrTooFewReadingsGivesNoSweep) {
    DriftAnalyser drift(kStart, 2412.0f, nullptr);
    EXPECT_EQ(Sweep(drift, Readings(kRising)), std::make_pair(0, 0));
    EXPECT_EQ(Sweep(drift, Readings({10, 11, 12, 13, 14, 13, 12, 11, 10})).first, 0);
}

TEST(DriftEvaluation, EmptyHistoryKeepsInitialResultsAndPrintsNothing) {
    DriftAnalyser drift(kStart, 2412.0f, nullptr);
    EXPECT_EQ(Evaluate(drift), "");
    EXPECT_EQ(drift.num_drift_instances, 0u);
    EXPECT_EQ(drift.num_on_pulses, 0u);
    EXPECT_EQ(drift.count_sweep_length, 0);
    EXPECT_EQ(drift.max_sweep_length, 0);
    EXPECT_FLOAT_EQ(drift.stdev_on_drift_times, 100000.0f);
    EXPECT_FLOAT_EQ(drift.stdev_on_start_times, 100000.0f);
}

TEST(DriftEvaluation, EpisodesSplitOnInvalidReadingsAndLastOneCounts) {
    DriftAnalyser drift(kStart, 2437.0f, nullptr);
    // Three drifting bursts one mains period apart (plus 100 us of jitter
    // each), the last one not followed by a peakless row.
    u64 t = kStart;
    for (int burst = 0; burst < 3; burst++) {
        const u64 burst_start = kStart + static_cast<u64>(burst) * (CONST_MWO_PERIOD + 100);
        const u64 last = FeedEpisode(drift, burst_start, kRising);
        if (burst < 2) {
            t = last + 900;
            drift.UpdateDriftAnalyser(t, QuietRow());
        }
    }
    EXPECT_EQ(Evaluate(drift), "");
    EXPECT_EQ(drift.num_drift_instances, 3u);
    EXPECT_EQ(drift.num_on_pulses, drift.num_drift_instances);
    // Burst starts are offsets 0, 16778 and 33556 from the subband start, from
    // which the start time is subtracted once more before folding.
    float mean = 0.0f;
    float expected = 0.0f;
    calc_mean_stdev({15678.0f, 15778.0f, 15878.0f}, mean, expected);
    EXPECT_FLOAT_EQ(drift.stdev_on_drift_times, expected);
    EXPECT_NEAR(drift.stdev_on_drift_times, 81.65f, 1.0f);
}

TEST(DriftEvaluation, TwoDriftsLeaveTheSpreadUnset) {
    DriftAnalyser drift(kStart, 2412.0f, nullptr);
    const u64 last = FeedEpisode(drift, kStart, kRising);
    drift.UpdateDriftAnalyser(last + 900, QuietRow());
    FeedEpisode(drift, last + 1000, kRising);
    Evaluate(drift);
    EXPECT_EQ(drift.num_drift_instances, 2u);
    EXPECT_EQ(drift.num_on_pulses, 2u);
    EXPECT_FLOAT_EQ(drift.stdev_on_drift_times, 100000.0f);
}

TEST(DriftEvaluation, SweepsAreAveragedOverEveryEpisodeAndPrinted) {
    DriftAnalyser drift(kStart, 2437.0f, nullptr);
    // An inverted V drifts and sweeps 4 readings over 2 bins.
    u64 last = FeedEpisode(drift, kStart, {10, 11, 12, 13, 14, 13, 12, 11, 10, 9});
    drift.UpdateDriftAnalyser(last + 900, QuietRow());
    // A zigzag does not drift but still sweeps: 2 readings over 2 bins.
    FeedEpisode(drift, last + 1000, {10, 12, 10, 12, 10, 12, 10, 12, 10, 12});
    EXPECT_EQ(Evaluate(drift), "Sweep: 2.437 2 3 4 2\n");
    EXPECT_EQ(drift.num_drift_instances, 1u);
    EXPECT_EQ(drift.count_sweep_length, 2);
    EXPECT_EQ(drift.avg_sweep_lengths, (4 + 2) / 2);
    EXPECT_EQ(drift.avg_sweep_freq, (2 + 2) / 2);
    EXPECT_EQ(drift.max_sweep_length, 4);
}

TEST(DriftEvaluation, PeakRssiIsTheWeakestRowPeakEarliestFirst) {
    DriftAnalyser drift(kStart, 2412.0f, nullptr);
    drift.UpdateDriftAnalyser(kStart + 100, Row(3, 50.0f));
    drift.UpdateDriftAnalyser(kStart + 200, Row(7, 70.0f));
    drift.UpdateDriftAnalyser(kStart + 300, Row(9, 70.0f));
    drift.UpdateDriftAnalyser(kStart + 5000, QuietRow());
    Evaluate(drift);
    EXPECT_FLOAT_EQ(drift.peak_rssi, 70.0f);
    EXPECT_EQ(drift.peak_index, 7);
}

TEST(ModifiedMod, FoldsIntoOnePeriod) {
    EXPECT_EQ(modifiedMod(16679, 16678), 1);
    EXPECT_EQ(modifiedMod(-1000, 16678), 15678);
    EXPECT_EQ(modifiedMod(-16678, 16678), 0);
    EXPECT_EQ(modifiedMod(5, 0), 5) << "no period: no division by zero";
}

// 110 ms of rows at 57 us in 7 ms windows every 60 Hz mains period. With
// `line`, each row is a magnetron's narrow line (two bins, noise beside
// them) walking from bin 12 over 14 bins and back. Otherwise the window
// holds OFDM frames of 1.5 ms, 0.5 ms apart, at the edge of a Wi-Fi channel
// below the view: its top 3.4 MHz, each subcarrier at -60 dBm with Rayleigh
// fading, the strongest bin wherever the fading puts it. Returns whether
// the drift record finds a mains-gated oven.
bool MainsGatedOven(bool line) {
    const refinedtest::RulesScope refined(RuleSetId::kRefined);
    DriftAnalyser drift(kStart, 2452.0f, nullptr);
    refinedtest::RayleighNoise noise(-95.0, 3);
    refinedtest::RayleighNoise ofdm(-60.0, 4);
    constexpr double kPeriodUs = 1e6 / 60.0;
    for (double t = 0; t < 110000; t += 57.0) {
        const double phase = std::fmod(t + 2000.0, kPeriodUs);
        std::vector<float> row = noise.Sample();
        if (phase < 7000.0) {
            const int centre = 12 + static_cast<int>(14 * std::sin(3.14159265 * phase / 7000.0));
            if (line) {
                row[static_cast<size_t>(centre)] = refinedtest::Stored(-62.0);
                row[static_cast<size_t>(centre + 1)] = refinedtest::Stored(-64.0);
            } else {
                for (int b = 0; b < 11 && std::fmod(phase, 2000.0) < 1500.0; b++) {
                    row[static_cast<size_t>(b)] = refinedtest::Stored(ofdm.PowerDbm());
                }
            }
        }
        drift.UpdateDriftAnalyser(kStart + static_cast<u64>(t), RssiPulse::ToProfile(row));
    }
    drift.IsMicrowavePresent();
    return drift.oven_mains_gated;
}

TEST(DriftAnalyserTest, OnlyANarrowSweepingLineMakesOvenOnPhases) {
    EXPECT_TRUE(MainsGatedOven(true));
    // OFDM frames at mains spacing: the fading moves the strongest bin about
    // in small steps, but the frame is flat, so no row is a line.
    EXPECT_FALSE(MainsGatedOven(false));
}
