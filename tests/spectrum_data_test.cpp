#include "channel_visit.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <sstream>

#include "access_point.h"
#include "host_clock.h"
#include "temp_dir.h"
#include "temp_path.h"
#include "ui_event_listener.h"

namespace {

std::vector<std::string> Fields(const std::string& line) {
    std::vector<std::string> out;
    std::istringstream in(line);
    std::string f;
    while (in >> f) {
        out.push_back(f);
    }
    return out;
}

std::string Group(const std::vector<int>& v) {
    std::string s;
    for (int x : v) {
        s += std::to_string(x) + "_";
    }
    return s;
}

// Byte rows and float rows of the same powers must give the same totals,
// bin for bin.
void ExpectSameTotals(const SpectrumMeasurement::Totals& bytes,
                      const SpectrumMeasurement::Totals& floats) {
    EXPECT_EQ(bytes.samples, floats.samples);
    EXPECT_EQ(bytes.high_energy, floats.high_energy);
    EXPECT_EQ(bytes.duty, floats.duty);
    EXPECT_EQ(bytes.highduty, floats.highduty);
    EXPECT_EQ(bytes.db, floats.db);
    EXPECT_EQ(bytes.duty_filtered, floats.duty_filtered);
    EXPECT_EQ(bytes.highduty_filtered, floats.highduty_filtered);
    EXPECT_EQ(bytes.db_filtered, floats.db_filtered);
}

std::string Repeat(const std::string& item, int n) {
    std::string s;
    for (int i = 0; i < n; ++i) {
        s += item;
    }
    return s;
}

class SpectrumMeasurementTest : public ::testing::Test {
protected:
    void SetUp() override {
        SetHostClock(FakeHostClock::Read);
        FakeHostClock::Set(1700000000, 12);
    }
    SpectrumMeasurement::Totals Sum() const { return m.Sum(); }
    SpectrumMeasurement m;
};

TEST_F(SpectrumMeasurementTest, WidebandSpectraAreLeftOutOfTheFilteredSums) {
    std::vector<float> busy(56, 95.0f);
    for (int i = 0; i < 29; ++i) {
        busy[i] = 60.0f;
    }
    m.Add(busy);
    EXPECT_EQ(Sum().samples, 1);
    EXPECT_EQ(Sum().high_energy, 1);
    EXPECT_EQ(Sum().duty[0], 1);
    EXPECT_EQ(Sum().highduty[0], 1);
    EXPECT_FLOAT_EQ(Sum().db[40], -95.0f);
    EXPECT_EQ(Sum().duty_filtered[0], 0);
    EXPECT_FLOAT_EQ(Sum().db_filtered[40], 0.0f);

    // Exactly half the bins above the floor is not high energy.
    busy[28] = 95.0f;
    m.Add(busy);
    EXPECT_EQ(Sum().samples, 2);
    EXPECT_EQ(Sum().high_energy, 1);
    EXPECT_EQ(Sum().duty[0], 2);
    EXPECT_EQ(Sum().duty_filtered[0], 1);
    EXPECT_EQ(Sum().duty_filtered[28], 0);
    EXPECT_FLOAT_EQ(Sum().db_filtered[40], -95.0f);
}

// The strongest and weakest bytes over a whole visit, in runs longer than a
// batch of narrow counters: counts and sums must not wrap.
TEST_F(SpectrumMeasurementTest, ByteRowsCountAndSumAsFloatsOverAWholeVisit) {
    SpectrumMeasurement floats;
    std::vector<uint8_t> row(56);
    for (int n = 0; n < NUM_SAMPLES_PER_FFT; ++n) {
        const bool strong = n < 600;  // all bins at 0 dBm, then all at -255 dBm
        for (size_t b = 0; b < row.size(); ++b) {
            row[b] = strong ? 0 : (b < 20 ? 74 : 255);
        }
        m.Add(row.data());
        floats.Add(std::vector<float>(row.begin(), row.end()));
    }
    const SpectrumMeasurement::Totals bytes = Sum();
    const SpectrumMeasurement::Totals expected = floats.Sum();
    EXPECT_EQ(bytes.samples, NUM_SAMPLES_PER_FFT);
    EXPECT_EQ(bytes.high_energy, 600);
    EXPECT_EQ(bytes.duty[0], NUM_SAMPLES_PER_FFT);
    EXPECT_EQ(bytes.duty_filtered[0], 400);
    EXPECT_EQ(bytes.db[55], -255.0f * 400);
    ExpectSameTotals(bytes, expected);
    EXPECT_EQ(m.BuildSpectrumLine({5, 0}, 7, 2412.0f),
              floats.BuildSpectrumLine({5, 0}, 7, 2412.0f));
}

TEST_F(SpectrumMeasurementTest, ThresholdsAreStrict) {
    std::vector<float> s(56, 100.0f);
    s[0] = 85.0f;  // exactly the floor: not above
    s[1] = 84.9f;
    s[2] = 75.0f;  // above the floor, not above the peak threshold
    s[3] = 74.9f;
    m.Add(s);
    const std::vector<int> duty = Sum().duty;
    const std::vector<int> high = Sum().highduty;
    EXPECT_EQ(std::vector<int>(duty.begin(), duty.begin() + 4), (std::vector<int>{0, 1, 1, 1}));
    EXPECT_EQ(std::vector<int>(high.begin(), high.begin() + 4), (std::vector<int>{0, 0, 0, 1}));
    EXPECT_EQ(Sum().duty_filtered[1], 1);
}

TEST_F(SpectrumMeasurementTest, LineLayout) {
    std::vector<float> s(56, 90.0f);
    for (float v : {70.0f, 72.0f, 75.0f}) {
        s[0] = v;
        m.Add(s);
    }
    const std::string line = m.BuildSpectrumLine({1700000000, 12}, 4294967296ULL, 2437.0f);
    std::vector<int> high(56, 0), duty(56, 0), mean(56, 90);
    high[0] = 2;
    duty[0] = 3;
    mean[0] = 72;  // -72.33 dBm truncated
    const std::string expected = "SPECTRUM 1700000000.000012 4294967296 2437 3 0 " + Group(high) +
                                 " " + Group(duty) + " " + Group(mean) + " " + Group(high) + " " +
                                 Group(duty) + " " + Group(mean) + "\n";
    EXPECT_EQ(line, expected);

    // Host times in the log sort as numbers: 12 us past a second is earlier
    // than 500000 us past it.
    const std::string early = m.BuildSpectrumLine({1700000000, 12}, 1, 2437.0f);
    const std::string late = m.BuildSpectrumLine({1700000000, 500000}, 1, 2437.0f);
    EXPECT_LT(std::stod(early.substr(9)), std::stod(late.substr(9)));
}

TEST_F(SpectrumMeasurementTest, VisitOfOnlyWidebandSpectraWritesZeroFilteredGroups) {
    const std::vector<float> wide(56, 70.0f);
    m.Add(wide);
    m.Add(wide);
    const std::vector<std::string> f = Fields(m.BuildSpectrumLine({5, 0}, 7, 2412.0f));
    ASSERT_EQ(f.size(), 12u);
    EXPECT_EQ(f[4], "2");
    EXPECT_EQ(f[5], "2");
    EXPECT_EQ(f[6], Repeat("2_", 56));
    EXPECT_EQ(f[8], Repeat("70_", 56));
    for (int g = 9; g < 12; ++g) {
        EXPECT_EQ(f[g], Repeat("0_", 56)) << "group " << g;
    }
}

TEST_F(SpectrumMeasurementTest, EmptyVisitAndShortSpectraAreHandled) {
    std::vector<std::string> f = Fields(m.BuildSpectrumLine({5, 0}, 7, 2412.0f));
    ASSERT_EQ(f.size(), 12u);
    EXPECT_EQ(f[8], Repeat("0_", 56));

    testing::internal::CaptureStderr();
    m.Add(std::vector<float>(20, 60.0f));
    EXPECT_NE(testing::internal::GetCapturedStderr().find("Warning"), std::string::npos);
    EXPECT_EQ(Sum().samples, 0);
}

TEST_F(SpectrumMeasurementTest, WritesAppendToTheEnergyLog) {
    const std::string path = TestTempPath("trk_spectrum_log.txt");
    std::remove(path.c_str());
    m.Add(std::vector<float>(56, 90.0f));
    m.WriteSpectrumDataToLog(path, 99, 2462.0f);
    FakeHostClock::Set(1700000001, 500000);
    m.WriteSpectrumDataToLog(path, 100, 2462.0f);
    const std::string log = ReadFile(path);
    EXPECT_EQ(log.find("SPECTRUM 1700000000.000012 99 2462 1 0 "), 0u);
    EXPECT_NE(log.find("\nSPECTRUM 1700000001.500000 100 2462 1 0 "), std::string::npos);
    std::remove(path.c_str());

    testing::internal::CaptureStderr();
    m.WriteSpectrumDataToLog("", 1, 2462.0f);
    m.WriteSpectrumDataToLog("/nonexistent-trk-dir/e.log", 1, 2462.0f);
    m.WriteSpectrumDataToLog("/nonexistent-trk-dir/e.log", 2, 2462.0f);
    const std::string err = testing::internal::GetCapturedStderr();
    EXPECT_EQ(err.find("/nonexistent-trk-dir/e.log"), err.rfind("/nonexistent-trk-dir/e.log"));
    EXPECT_NE(err.find("/nonexistent-trk-dir/e.log"), std::string::npos);
}

}  // namespace

namespace {

// What a visit holds after a run of spectra: the energy-log statistics and
// the average the UI is sent.
struct VisitState {
    SpectrumMeasurement::Totals totals;
    std::vector<float> average;
};

VisitState Visit(const std::vector<std::vector<float>>& rows, bool as_bytes) {
    ChannelVisit::Reset();
    AccessPoint ap{"local", 0, "ap"};
    ap.curr_freq = 2437.0f;
    for (const std::vector<float>& row : rows) {
        if (as_bytes) {
            std::vector<uint8_t> bytes(row.begin(), row.end());
            ChannelVisit::AddSpectrum(bytes.data(), &ap);
        } else {
            ChannelVisit::AddSpectrum(row, &ap);
        }
    }
    VisitState s;
    s.totals = ChannelVisit::Statistics().Sum();
    const ChannelSpectrumRecord record = ChannelVisit::Spectrum(0, 2437.0f);
    // The running mW sums, before a finished visit turns them into dB.
    s.average.assign(record.db_below_mw, record.db_below_mw + record.bins);
    return s;
}

// The receive path adds whole-dB byte rows; they must count, sum and average
// exactly as the same rows given as floats, around both thresholds.
TEST(SpectrumOfByteRows, MatchesTheSameRowsAsFloats) {
    std::vector<std::vector<float>> rows;
    unsigned seed = 7;
    // A whole visit: the byte rows are folded into the totals in batches.
    for (int n = 0; n <= NUM_SAMPLES_PER_FFT; ++n) {
        std::vector<float> row(56);
        for (float& v : row) {
            seed = seed * 1103515245u + 12345u;
            const unsigned r = (seed >> 16) % 100;
            // Mostly around the -85 and -75 dBm thresholds, some anywhere.
            v = static_cast<float>(r < 70 ? 70 + r % 22 : (seed >> 8) % 256);
        }
        rows.push_back(row);
    }
    // The first spectrum only opens the visit; the rest are counted.
    const VisitState floats = Visit(rows, false);
    const VisitState bytes = Visit(rows, true);
    EXPECT_EQ(bytes.totals.samples, NUM_SAMPLES_PER_FFT);
    EXPECT_GT(floats.totals.high_energy, 0);
    EXPECT_LT(floats.totals.high_energy, floats.totals.samples);
    ExpectSameTotals(bytes.totals, floats.totals);
    EXPECT_EQ(bytes.average, floats.average);
}

}  // namespace
