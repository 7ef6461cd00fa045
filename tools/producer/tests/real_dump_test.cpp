// The two real relay dumps in tests/data/realdata: their figures as
// published, and the whole producer path from dump to capture to the
// daemon's replay.
#include <gtest/gtest.h>
#include <unistd.h>

#include <fstream>
#include <iterator>
#include <map>
#include <set>

#include "host_clock.h"
#ifdef TESSARON_HAVE_PCAP
#include "pcap_capture.h"
#endif
#include "producer.h"
#include "relay_decoder.h"
#include "relay_test_support.h"
#include "subband_analyser_class.h"

namespace {

const std::string kData = std::string(TESSARON_SOURCE_DIR) + "/tests/data/realdata/";
const std::string kSignatures = std::string(TESSARON_SOURCE_DIR) + "/data/signatures.txt";
constexpr uint16_t kMonitored[] = {2412, 2422, 2437, 2442, 2452, 2462};

struct Figures {
    const char* file;
    size_t bytes;
    uint64_t records;
    uint64_t in_band;
    uint64_t on_centres;
    uint16_t first_freq;
    uint64_t first_tsf;
    uint16_t last_freq;
    uint64_t last_tsf;
    std::set<int> noise_floors;
    std::map<uint16_t, int> per_freq;
};

const Figures kCardA = {"card-a-chanscan.dump",
                        21508,
                        283,
                        98,
                        54,
                        2412,
                        8237,
                        5825,
                        20644,
                        {-95, -86},
                        {{2412, 9},
                         {2417, 8},
                         {2422, 9},
                         {2427, 9},
                         {2432, 9},
                         {2437, 9},
                         {2442, 9},
                         {2447, 9},
                         {2452, 9},
                         {2457, 9},
                         {2462, 9}}};
const Figures kCardB = {"card-b-chanscan.dump",
                        22116,
                        291,
                        103,
                        61,
                        2412,
                        9142,
                        2412,
                        21340,
                        {-95, -92, -91, -90, -87, -86},
                        {{2412, 18},
                         {2417, 9},
                         {2422, 9},
                         {2427, 9},
                         {2432, 6},
                         {2437, 9},
                         {2442, 8},
                         {2447, 9},
                         {2452, 9},
                         {2457, 9},
                         {2462, 8}}};

void PrintTo(const Figures& f, std::ostream* os) {
    *os << f.file;
}

std::vector<uint8_t> ReadDump(const std::string& name) {
    std::ifstream in(kData + name, std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
}

class RealDump : public testing::TestWithParam<Figures> {};

TEST_P(RealDump, DecodesToThePublishedFigures) {
    const Figures& f = GetParam();
    const std::vector<uint8_t> dump = ReadDump(f.file);
    ASSERT_EQ(dump.size(), f.bytes);
    relay::RelayDecoder decoder;
    relay_test::CollectingSink sink;
    ASSERT_EQ(decoder.Decode(dump.data(), dump.size(), true, sink), dump.size());
    const relay::DecoderCounters& c = decoder.Counters();
    EXPECT_EQ(c.records, f.records);
    EXPECT_EQ(c.by_type[1], f.records);
    EXPECT_EQ(c.reports, f.in_band);
    EXPECT_EQ(c.Skipped(relay::SkipReason::kOutOfBand), f.records - f.in_band);
    EXPECT_EQ(c.SkippedTotal(), f.records - f.in_band);
    EXPECT_EQ(c.garbage_bytes + c.one_byte_short + c.overlong, 0u);

    std::map<uint16_t, int> per_freq;
    std::set<int> noise;
    uint64_t on_centres = 0;
    bool went_back = false;
    for (size_t k = 0; k < sink.reports.size(); k++) {
        const relay::Ht20Report& r = sink.reports[k];
        per_freq[r.freq]++;
        noise.insert(r.noise);
        on_centres += std::count(std::begin(kMonitored), std::end(kMonitored), r.freq);
        went_back = went_back || (k > 0 && r.tsf < sink.reports[k - 1].tsf);
    }
    for (const relay::Ht20Report& r : sink.out_of_band) {
        EXPECT_GE(r.freq, 5180);
        EXPECT_LE(r.freq, 5825);
        noise.insert(r.noise);
    }
    EXPECT_EQ(per_freq, f.per_freq);
    EXPECT_EQ(on_centres, f.on_centres);
    EXPECT_EQ(noise, f.noise_floors);
    // The card restarts its clock when it retunes; times are kept as sent.
    EXPECT_TRUE(went_back);
    // First and last records of the file, whichever band they are in.
    const bool first_in_band = sink.reports.front().freq == f.first_freq;
    ASSERT_TRUE(first_in_band);
    EXPECT_EQ(sink.reports.front().tsf, f.first_tsf);
    const relay::Ht20Report& last =
        f.last_freq >= 5000 ? sink.out_of_band.back() : sink.reports.back();
    EXPECT_EQ(last.freq, f.last_freq);
    EXPECT_EQ(last.tsf, f.last_tsf);
}

#ifdef TESSARON_HAVE_PCAP
TEST_P(RealDump, ConvertsToACaptureTheDaemonReplays) {
    const Figures& f = GetParam();
    const std::string pcap = "/tmp/tessaron-producer-test-" + std::to_string(getpid()) + ".pcap";
    const std::string input = kData + f.file;
    const char* argv[] = {"tessaron-producer", "--input", input.c_str(), "--pcap", pcap.c_str()};
    relay::ProducerOptions options;
    std::string error;
    ASSERT_TRUE(relay::ParseProducerOptions(5, argv, &options, &error)) << error;
    relay::ProducerSummary summary;
    testing::internal::CaptureStderr();
    ASSERT_EQ(relay::RunProducer(options, &summary), 0);
    testing::internal::GetCapturedStderr();
    const uint64_t datagrams = (f.in_band + 13) / 14;
    EXPECT_EQ(summary.datagrams, datagrams);
    EXPECT_EQ(summary.decoder.reports, f.in_band);
    EXPECT_EQ(summary.mapper.implausible_noise + summary.mapper.rssi_clamped, 0u);

    SubBandAnalyser daemon("output.txt", 1000, kSignatures, 65535);
    ReplaySummary replay;
    testing::internal::CaptureStderr();
    testing::internal::CaptureStdout();
    ASSERT_TRUE(ReplayCapture(pcap, 10000, false, daemon, &replay));
    testing::internal::GetCapturedStdout();
    testing::internal::GetCapturedStderr();
    ResetHostClock();
    unlink(pcap.c_str());
    const DatagramCounters& got = daemon.GetDatagramCounters();
    EXPECT_EQ(replay.datagrams, datagrams);
    EXPECT_EQ(got.used, datagrams);
    EXPECT_EQ(got.wrong_size + got.bad_count, 0u);
    // Samples between the six monitored centres reach the daemon and are
    // reported there as such.
    EXPECT_EQ(got.off_centre, f.in_band - f.on_centres);
}
#endif

INSTANTIATE_TEST_SUITE_P(Cards, RealDump, testing::Values(kCardA, kCardB),
                         [](const testing::TestParamInfo<Figures>& info) {
                             return std::string(info.param.file[5] == 'a' ? "CardA" : "CardB");
                         });

TEST(ProducerOptions, DefaultsAndRefusals) {
    relay::ProducerOptions o;
    std::string error;
    const char* plain[] = {"p", "--input", "-"};
    ASSERT_TRUE(relay::ParseProducerOptions(3, plain, &o, &error));
    EXPECT_EQ(ntohs(o.to.sin_port), 10000);
    EXPECT_EQ(ntohl(o.to.sin_addr.s_addr), INADDR_LOOPBACK);
    EXPECT_EQ(o.flush_ms, 20);
    EXPECT_FALSE(o.noise_floor.has_value());
    const char* full[] = {"p",           "--input",    "x", "--follow",      "--to",
                          "127.0.0.2:9", "--flush-ms", "5", "--noise-floor", "-97"};
    ASSERT_TRUE(relay::ParseProducerOptions(10, full, &o, &error)) << error;
    EXPECT_TRUE(o.follow);
    EXPECT_EQ(ntohs(o.to.sin_port), 9);
    EXPECT_EQ(o.flush_ms, 5);
    EXPECT_EQ(o.noise_floor, -97);
    const std::vector<std::vector<const char*>> bad = {
        {"p"},
        {"p", "--input"},
        {"p", "--input", "x", "--to", "127.0.0.1"},
        {"p", "--input", "x", "--to", "127.0.0.1:0"},
        {"p", "--input", "x", "--to", "127.0.0.1:70000"},
        {"p", "--input", "x", "--flush-ms", "0"},
        {"p", "--input", "x", "--noise-floor", "12"},
        {"p", "--input", "x", "--noise-floor", "-9x"},
        {"p", "--input", "x", "--bogus"},
    };
    for (const auto& args : bad) {
        EXPECT_FALSE(
            relay::ParseProducerOptions(static_cast<int>(args.size()), args.data(), &o, &error))
            << args.back();
    }
}

}  // namespace
