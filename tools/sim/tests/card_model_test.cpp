// The card model: what the daemon decodes from a synthesised report must be
// the power the model meant, and the card's timing must follow its scan.
#include "card_model.h"

#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <set>

#include "subband_analyser_class.h"

namespace {

// Runs the daemon's own conversion on an encoded report.
std::vector<double> DaemonDecode(const spectrum_fft& encoded) {
    static SubBandAnalyser analyser(
        "output.txt", 100000000, std::string(TESSARON_SOURCE_DIR) + "/data/signatures.txt", 65535);
    spectrum_fft copy = encoded;
    analyser.ProcessSpectrumFFT(&copy);
    std::vector<double> dbm(sim::CARD_BINS);
    for (int b = 0; b < sim::CARD_BINS; b++) {
        dbm[b] = -static_cast<double>(copy.samples[2 + b]);
    }
    return dbm;
}

TEST(EncodeBins, DaemonGetsIntendedPowerBack) {
    std::mt19937 rng(7);
    std::uniform_real_distribution<double> level(-90.0, -30.0);
    std::uniform_real_distribution<double> spread(0.0, 28.0);
    for (int trial = 0; trial < 2000; trial++) {
        double dbm[sim::CARD_BINS];
        const double peak = level(rng);
        for (double& v : dbm) {
            v = peak - spread(rng);
        }
        dbm[trial % sim::CARD_BINS] = peak;
        spectrum_fft s{};
        sim::EncodeBins(dbm, s);
        const std::vector<double> decoded = DaemonDecode(s);
        for (int b = 0; b < sim::CARD_BINS; b++) {
            if (b == sim::CARD_DC_BIN) {
                continue;  // replaced by the receiver's DC-spur removal
            }
            // rssi gives the total power in whole dB, the receiver truncates
            // toward zero and the magnitudes are 8-bit: about 1 dB, 1.25 dB
            // at worst, down to 20 dB below the strongest bin; 1.35 dB down
            // to 28 dB below it.
            const double tolerance = dbm[b] >= peak - 20.0 ? 1.25 : 1.35;
            ASSERT_LE(std::fabs(decoded[b] - dbm[b]), tolerance)
                << "trial " << trial << " bin " << b << " intended " << dbm[b] << " peak " << peak;
        }
    }
}

TEST(EncodeBins, NoiseOnlySpectrumAndDcSpur) {
    sim::NoiseRng rng(3);
    double dbm[sim::CARD_BINS];
    sim::SynthesiseBins(2437.0, {}, -95.0, rng, dbm);
    spectrum_fft s{};
    sim::EncodeBins(dbm, s);
    // The card's DC spur stands out in the raw centre bin...
    EXPECT_GT(s.samples[30], (s.samples[29] + s.samples[31]) / 2);
    // ...and the receiver's replacement gives the neighbours' mean back.
    const std::vector<double> decoded = DaemonDecode(s);
    double mean = 0;
    for (int b = 0; b < sim::CARD_BINS; b++) {
        if (b != sim::CARD_DC_BIN && dbm[b] > *std::max_element(dbm, dbm + 56) - 20) {
            EXPECT_LE(std::fabs(decoded[b] - dbm[b]), 1.25) << "bin " << b;
        }
        mean += std::pow(10.0, decoded[b] / 10.0);
    }
    // Mean noise power per bin comes back near -95 dBm.
    EXPECT_NEAR(10.0 * std::log10(mean / sim::CARD_BINS), -95.0, 1.5);
}

TEST(EncodeBins, StrongSignalLiftsTheFloorToTheMagnitudeRange) {
    double dbm[sim::CARD_BINS];
    for (double& v : dbm) {
        v = -95.0;
    }
    dbm[10] = -30.0;
    spectrum_fft s{};
    sim::EncodeBins(dbm, s);
    const std::vector<double> decoded = DaemonDecode(s);
    EXPECT_NEAR(decoded[10], -30.0, 1.0);
    // 8-bit magnitudes span 48 dB: the floor comes back there, not at -95.
    EXPECT_NEAR(decoded[40], -30.0 - 48.0, 1.5);
}

TEST(SynthesiseBins, MaskPowerLandsInTheRightBins) {
    sim::Mask gfsk;
    gfsk.kind = sim::MaskKind::kGaussian;
    gfsk.width_mhz = 0.2;
    gfsk.jitter_db = 0.0;
    // Total over all bins of any mask is the emitted power.
    double sum = 0;
    for (int b = -20; b <= 20; b++) {
        sum += gfsk.FractionInBin(b * sim::CARD_BIN_MHZ + 0.1);
    }
    EXPECT_NEAR(sum, 1.0, 0.01);
    sim::NoiseRng rng(1);
    double dbm[sim::CARD_BINS];
    const double f = sim::BinFrequencyMhz(2437.0, 40);
    sim::SynthesiseBins(2437.0, {sim::Emission{f, -50.0, &gfsk}}, -95.0, rng, dbm);
    EXPECT_EQ(std::max_element(dbm, dbm + sim::CARD_BINS) - dbm, 40);
    EXPECT_NEAR(dbm[40], -50.0 + 10 * std::log10(gfsk.FractionInBin(0.0)), 0.2);
    EXPECT_LT(dbm[37], -85.0);  // a Bluetooth packet is about 3 bins wide

    sim::Mask msk;
    msk.kind = sim::MaskKind::kMsk;
    msk.width_mhz = 2.0;
    msk.jitter_db = 0.0;
    // 802.15.4: 15 dB down between 0.94 and 1.25 MHz from the centre.
    EXPECT_GT(10 * std::log10(msk.FractionInBin(0.9375) / msk.FractionInBin(0.0)), -15.0);
    EXPECT_LT(10 * std::log10(msk.FractionInBin(1.25) / msk.FractionInBin(0.0)), -15.0);
}

TEST(CardClock, DwellsInScanOrderWithRetuneGaps) {
    sim::CardConfig config;
    sim::CardClock clock(config, 5);
    std::vector<uint16_t> order;
    uint64_t t = 0, prev = 0, dwell_first = 0;
    uint16_t f = 0;
    int in_dwell = 0;
    bool first = true;
    while (order.size() < 7) {
        if (!clock.Next(&t, &f)) {
            EXPECT_NEAR(static_cast<double>(prev - dwell_first), 410000.0, 100.0);
            EXPECT_NEAR(static_cast<double>(in_dwell), 410000.0 / 57.0, 2.0);
            in_dwell = 0;
            first = true;
            continue;
        }
        if (first) {
            if (!order.empty()) {
                // Retune: 25 to 35 ms without samples.
                EXPECT_GE(t - prev, 24000u);
                EXPECT_LE(t - prev, 36000u);
            }
            order.push_back(f);
            dwell_first = t;
            first = false;
        } else {
            EXPECT_GE(t - prev, 55u);
            EXPECT_LE(t - prev, 59u);
        }
        prev = t;
        in_dwell++;
    }
    const std::vector<uint16_t> expected = {2422, 2437, 2442, 2452, 2462, 2412, 2422};
    EXPECT_EQ(order, expected);
}

TEST(CardClock, OtherSampleIntervalsFillTheDwellEvenly) {
    for (const double interval : {64.0, 114.0}) {
        sim::CardConfig config;
        config.interval_us = interval;
        sim::CardClock clock(config, 9);
        uint64_t t = 0, prev = 0;
        uint16_t f = 0;
        int n = 0;
        while (clock.Next(&t, &f)) {
            if (n > 0) {
                EXPECT_NEAR(static_cast<double>(t - prev), interval, 2.0) << interval;
            }
            prev = t;
            n++;
        }
        EXPECT_NEAR(n, 410000.0 / interval, 2.0) << interval;
    }
}

TEST(CardClock, WrapsThe32BitCounter) {
    sim::CardConfig config;
    config.clock_wrap = true;
    sim::CardClock clock(config, 1);
    EXPECT_EQ(clock.CardTime(0), (uint64_t{1} << 32) - 5000000);
    EXPECT_EQ(clock.CardTime(5000000), 0u);
    EXPECT_EQ(clock.CardTime(5000123), 123u);
    config.clock_wrap = false;
    sim::CardClock plain(config, 1);
    EXPECT_EQ(plain.CardTime(7000000), 8000000u);
}

}  // namespace
