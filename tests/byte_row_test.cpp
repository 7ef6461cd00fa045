#include "byte_row.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <random>
#include <utility>

#include "subband_analyser_class.h"

namespace {

using byte_row::kBins;

// Rows that mix quiet bins, strong bursts, ties and the byte extremes.
std::array<uint8_t, kBins> RandomRow(std::mt19937& rng) {
    std::array<uint8_t, kBins> row{};
    std::uniform_int_distribution<int> kind(0, 3);
    std::uniform_int_distribution<int> any(0, 255);
    std::uniform_int_distribution<int> near(80, 92);
    for (uint8_t& v : row) {
        const int k = kind(rng);
        v = static_cast<uint8_t>(k == 0 ? any(rng) : k == 1 ? near(rng) : k == 2 ? 60 : 90);
    }
    return row;
}

uint64_t NaiveMask(const uint8_t* row, int lo, int hi) {
    uint64_t mask = 0;
    for (int b = 0; b < kBins; b++) {
        if (lo <= row[b] && row[b] <= hi) {
            mask |= 1ULL << b;
        }
    }
    return mask;
}

// Two draws, the smaller first.
std::pair<int, int> OrderedPair(std::mt19937& rng, std::uniform_int_distribution<int>& dist) {
    const int a = dist(rng);
    const int b = dist(rng);
    return {std::min(a, b), std::max(a, b)};
}

TEST(ByteRow, MasksMatchABinByBinComparison) {
    std::mt19937 rng(3);
    std::uniform_int_distribution<int> bound(0, 255);
    for (int trial = 0; trial < 2000; trial++) {
        const auto row = RandomRow(rng);
        const auto [lo, hi] = OrderedPair(rng, bound);
        const auto l = static_cast<uint8_t>(lo);
        const auto h = static_cast<uint8_t>(hi);
        ASSERT_EQ(byte_row::MaskBetween(row.data(), l, h), NaiveMask(row.data(), lo, hi));
        ASSERT_EQ(byte_row::MaskBetweenPortable(row.data(), l, h), NaiveMask(row.data(), lo, hi));
        ASSERT_EQ(byte_row::MaskAtMost(row.data(), hi), NaiveMask(row.data(), 0, hi));
    }
    const std::array<uint8_t, kBins> row{};
    EXPECT_EQ(byte_row::MaskAtMost(row.data(), -1), 0u) << "no byte is below zero";
    EXPECT_EQ(byte_row::MaskAtMost(row.data(), 255), (1ULL << kBins) - 1);
}

// A byte is at or above a floor exactly when the float comparison the floor
// stands for says so, for whole, fractional and out-of-range floors.
TEST(ByteRow, FloorLimitAgreesWithTheFloatComparison) {
    for (const float floor_dbm : {-85.0f, -84.5f, -91.25f, -0.5f, 0.0f, 3.0f, -255.0f, -300.0f,
                                  std::numeric_limits<float>::quiet_NaN()}) {
        const int limit = byte_row::AtOrAboveLimit(floor_dbm);
        for (int v = 0; v < 256; v++) {
            const bool above = !(-static_cast<float>(v) < floor_dbm);
            EXPECT_EQ(v <= limit, above) << "floor " << floor_dbm << " byte " << v;
        }
    }
}

TEST(ByteRow, RunsAndMiddleStrongestMatchAWalk) {
    std::mt19937 rng(5);
    std::uniform_int_distribution<int> bin(0, kBins - 1);
    for (int trial = 0; trial < 2000; trial++) {
        const auto row = RandomRow(rng);
        const auto [first, last] = OrderedPair(rng, bin);
        // The middle of the strongest bins, the upper middle for an even
        // count, found by walking.
        uint8_t strongest = 255;
        for (int b = first; b <= last; b++) {
            strongest = std::min(strongest, row[b]);
        }
        std::vector<int> ties;
        for (int b = first; b <= last; b++) {
            if (row[b] == strongest) {
                ties.push_back(b);
            }
        }
        ASSERT_EQ(byte_row::MiddleStrongest(row.data(), first, last), ties[ties.size() / 2]);

        const uint64_t mask = NaiveMask(row.data(), 0, 85) | (1ULL << first);
        int run_first = 0;
        int run_last = 0;
        byte_row::RunAround(mask, first, run_first, run_last);
        int walk_first = first;
        while (walk_first > 0 && ((mask >> (walk_first - 1)) & 1)) {
            walk_first--;
        }
        int walk_last = first;
        while (walk_last < kBins - 1 && ((mask >> (walk_last + 1)) & 1)) {
            walk_last++;
        }
        ASSERT_EQ(run_first, walk_first);
        ASSERT_EQ(run_last, walk_last);
    }
}

// The conversion of raw magnitudes to power bytes, bin by bin in single
// precision, as the card's reports are read.
bool ReferenceConversion(spectrum_fft& s) {
    uint8_t* b = s.samples;
    b[0] = 0;
    b[1] = 0;
    b[30] = static_cast<uint8_t>((b[29] + b[31]) / 2);
    float sum_sq = 0;
    for (int i = 2; i < 58; i++) {
        sum_sq += static_cast<float>(b[i] * b[i]);
    }
    const float total_db = sum_sq > 0 ? 10 * log10f(sum_sq) : 0.0f;
    const float rssi_dbm = static_cast<float>(s.rssi - 95);
    bool clamped = false;
    for (int i = 2; i < 58; i++) {
        const float db = b[i] == 0 ? 0.0f : static_cast<float>(20.0 * log10(b[i]));
        const int magnitude = -static_cast<int>(rssi_dbm + db - total_db);
        clamped |= magnitude < 0 || magnitude > 255;
        b[i] = static_cast<uint8_t>(std::clamp(magnitude, 0, 255));
    }
    return clamped;
}

TEST(ByteRow, ConversionToPowerBytesMatchesTheBinByBinArithmetic) {
    std::mt19937 rng(11);
    std::uniform_int_distribution<int> rssi(-128, 127);
    int clamped_seen = 0;
    for (int trial = 0; trial < 3000; trial++) {
        spectrum_fft s{};
        const auto row = RandomRow(rng);
        std::memcpy(s.samples + 2, row.data(), row.size());
        // Now and then a quiet report, or one loud enough to saturate.
        s.rssi = static_cast<int8_t>(trial % 7 == 0 ? 127 : trial % 11 == 0 ? -128 : rssi(rng));
        if (trial % 13 == 0) {
            std::memset(s.samples, 0, sizeof(s.samples));
        }
        spectrum_fft expected = s;
        const bool expected_clamped = ReferenceConversion(expected);
        const bool clamped = ConvertSpectrumToDb(&s);
        ASSERT_EQ(clamped, expected_clamped) << "trial " << trial;
        ASSERT_EQ(std::memcmp(s.samples + 2, expected.samples + 2, kBins), 0) << "trial " << trial;
        clamped_seen += clamped;
    }
    EXPECT_GT(clamped_seen, 100) << "the saturating path was exercised";
}

}  // namespace
