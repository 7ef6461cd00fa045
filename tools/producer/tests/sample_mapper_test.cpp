// The mapping of card reports into spectrum samples, checked against the
// daemon's own conversion, and the packing of samples into datagrams.
#include "sample_mapper.h"

#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <vector>

#include "subband_analyser_class.h"

namespace {

using relay::Ht20Report;
using relay::SampleMapper;

const std::string kSignatures = std::string(TESSARON_SOURCE_DIR) + "/data/signatures.txt";

Ht20Report Report(int rssi, int noise, const std::vector<uint8_t>& bins) {
    Ht20Report r = {};
    r.freq = 2437;
    r.tsf = 5000;
    r.rssi = static_cast<int8_t>(rssi);
    r.noise = static_cast<int8_t>(noise);
    for (size_t i = 0; i < relay::HT20_BINS; i++) {
        r.bins[i] = bins[i];
    }
    return r;
}

// The card's absolute power of one bin: its report power plus the bin's
// share of the report's energy.
double CardBinPower(int noise, int rssi, const uint8_t* bins, size_t i) {
    double sum = 0;
    for (size_t k = 0; k < relay::HT20_BINS; k++) {
        sum += static_cast<double>(bins[k]) * bins[k];
    }
    return noise + rssi + 20.0 * std::log10(static_cast<double>(bins[i])) - 10.0 * std::log10(sum);
}

std::vector<uint8_t> RandomBins(std::mt19937& rng) {
    std::vector<uint8_t> bins(relay::HT20_BINS);
    const int style = static_cast<int>(rng() % 4);
    for (uint8_t& b : bins) {
        b = static_cast<uint8_t>(style == 0 ? rng() % 256 : 1 + rng() % (style == 1 ? 8 : 60));
    }
    if (style == 2) {
        bins[relay::CARD_DC_BIN] = static_cast<uint8_t>(150 + rng() % 106);  // a DC spur
    } else if (style == 3) {
        bins[relay::CARD_DC_BIN] = 0;  // a notched DC bin
        bins[10 + rng() % 30] = static_cast<uint8_t>(200 + rng() % 56);
    }
    return bins;
}

TEST(SampleMapper, DaemonPowerPerBinIsTheCardsAbsolutePowerWithinOneDb) {
    SubBandAnalyser daemon("output.txt", 1000, kSignatures, 65535);
    std::mt19937 rng(2024);
    int checked = 0;
    for (int trial = 0; trial < 20000; trial++) {
        const int noise = -110 + static_cast<int>(rng() % 51);
        const int rssi = -20 + static_cast<int>(rng() % 100);
        const std::vector<uint8_t> bins = RandomBins(rng);
        SampleMapper mapper;
        mapper.SetQuiet(true);
        spectrum_fft sample;
        const Ht20Report report = Report(rssi, noise, bins);
        mapper.MapReport(report, sample);
        ASSERT_EQ(mapper.Counters().rssi_clamped, 0u);
        daemon.ProcessSpectrumFFT(&sample);
        for (size_t i = 0; i < relay::HT20_BINS; i++) {
            // The daemon interpolates the centre bin on purpose; a zero bin
            // has no power in dB to compare with.
            if (static_cast<int>(i) == relay::CARD_DC_BIN || bins[i] == 0) {
                continue;
            }
            const double expected = CardBinPower(noise, rssi, report.bins, i);
            if (expected < -255.0 || expected > 0.0) {
                continue;  // outside what the daemon's byte can hold
            }
            const double got = -static_cast<double>(sample.samples[relay::SAMPLE_FIRST_ENTRY + i]);
            ASSERT_LE(std::fabs(got - expected), 1.0 + 1e-4)
                << "trial " << trial << " bin " << i << " noise " << noise << " rssi " << rssi;
            checked++;
        }
    }
    EXPECT_GT(checked, 500000);
}

TEST(SampleMapper, PlacesFieldsAndBinsWhereTheDaemonReadsThem) {
    std::vector<uint8_t> bins(relay::HT20_BINS);
    for (size_t i = 0; i < bins.size(); i++) {
        bins[i] = static_cast<uint8_t>(i + 1);
    }
    Ht20Report report = Report(30, -90, bins);
    report.tsf = 0x1234567890ULL;
    SampleMapper mapper;
    spectrum_fft s;
    mapper.MapReport(report, s);
    EXPECT_EQ(s.freq, 2437);
    EXPECT_EQ(s.ts, 0x1234567890ULL);
    EXPECT_EQ(s.start_index, 2);
    EXPECT_EQ(s.samples[2], 1);
    EXPECT_EQ(s.samples[30], 29);  // the centre bin
    EXPECT_EQ(s.samples[57], 56);
    EXPECT_EQ(s.samples[58], 0);
    // The centre bin equals the mean of its neighbours: no correction.
    EXPECT_EQ(s.rssi, -90 + 30 + 95);
}

TEST(SampleMapper, ImplausibleNoiseFloorsAndOverrides) {
    const std::vector<uint8_t> bins(relay::HT20_BINS, 20);
    spectrum_fft s;
    {
        SampleMapper mapper;
        testing::internal::CaptureStderr();
        mapper.MapReport(Report(10, 0, bins), s);  // a zero noise floor
        EXPECT_EQ(s.rssi, 10);                     // -95 + 10 + 95
        mapper.MapReport(Report(10, -30, bins), s);
        mapper.MapReport(Report(10, -87, bins), s);
        EXPECT_EQ(s.rssi, -87 + 10 + 95);
        const std::string warnings = testing::internal::GetCapturedStderr();
        EXPECT_EQ(mapper.Counters().implausible_noise, 2u);
        // One warning, naming the override.
        EXPECT_NE(warnings.find("--noise-floor"), std::string::npos);
        EXPECT_EQ(warnings.find("Warning", 1), std::string::npos) << warnings;
    }
    {
        SampleMapper mapper(-100);
        mapper.MapReport(Report(10, -87, bins), s);
        EXPECT_EQ(s.rssi, -100 + 10 + 95);
        mapper.MapReport(Report(10, 0, bins), s);
        EXPECT_EQ(s.rssi, 5);
        EXPECT_EQ(mapper.Counters().implausible_noise, 0u);
    }
}

TEST(SampleMapper, PowersBeyondTheFieldAreClampedAndCounted) {
    const std::vector<uint8_t> bins(relay::HT20_BINS, 20);
    bool clamped = false;
    EXPECT_EQ(relay::DaemonRssi(-50, 127, bins.data(), &clamped), 127);
    EXPECT_TRUE(clamped);
    EXPECT_EQ(relay::DaemonRssi(-120, -128, bins.data(), &clamped), -128);
    EXPECT_TRUE(clamped);
    EXPECT_EQ(relay::DaemonRssi(-120, -103, bins.data(), &clamped), -128);
    EXPECT_FALSE(clamped);
    // A DC spur the daemon removes: the sum it sees is smaller, so the
    // field comes down by the whole dB that compensates.
    std::vector<uint8_t> spur(relay::HT20_BINS, 10);
    spur[relay::CARD_DC_BIN] = 100;  // card sum 15500, daemon sum 5600: 4.42 dB
    EXPECT_EQ(relay::DaemonRssi(-95, 20, spur.data(), &clamped), 20 - 5);
}

TEST(DatagramBatcher, FourteenSamplesADatagramWithCountAndSequence) {
    std::vector<fft_data> sent;
    std::vector<uint64_t> last_ts;
    relay::DatagramBatcher batcher([&](const uint8_t* wire, size_t len, uint64_t ts) {
        ASSERT_EQ(len, FFT_DATA_WIRE_SIZE);
        fft_data d;
        DecodeFftData(wire, d);
        sent.push_back(d);
        last_ts.push_back(ts);
    });
    for (int i = 0; i < 30; i++) {
        spectrum_fft& slot = batcher.NextSlot();
        memset(&slot, 0, sizeof(slot));
        slot.freq = 2412;
        slot.ts = 100 + static_cast<uint64_t>(i);
        batcher.Commit();
    }
    EXPECT_TRUE(batcher.Pending());
    batcher.Flush();
    batcher.Flush();  // nothing pending: nothing sent
    ASSERT_EQ(sent.size(), 3u);
    EXPECT_EQ(batcher.Datagrams(), 3u);
    EXPECT_EQ(sent[0].count, 14);
    EXPECT_EQ(sent[1].count, 14);
    EXPECT_EQ(sent[2].count, 2);
    for (size_t k = 0; k < sent.size(); k++) {
        EXPECT_EQ(sent[k].seq_num, k);
    }
    EXPECT_EQ(sent[1].samples[0].ts, 114u);
    EXPECT_EQ(last_ts[2], 129u);
    // The unused slots of the last datagram are zero, not stale samples.
    EXPECT_EQ(sent[2].samples[2].ts, 0u);
    EXPECT_EQ(sent[2].samples[13].freq, 0);
}

}  // namespace
