// A signature measured from a device alone must be the shape the daemon's
// own comparison finds closest to that device, and bad recordings must be
// reported and survived.
#include "signature.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstring>

#include "capture_file.h"
#include "fft_data.h"
#include "scenarios.h"
#include "shapematch_module.h"

namespace {

// The mean spectra of a short simulator run, through the datagram path.
signature::SpectrumAverage Recorded(const std::string& scenario, double attenuate_db,
                                    signature::Warnings& warnings) {
    signature::SpectrumAverage average;
    auto s = sim::BuildScenario(scenario, 1, 3.0, attenuate_db);
    sim::RunScenario(*s, sim::CardConfig(), 1,
                     [&](const uint8_t* wire, size_t len, int64_t, int64_t) {
                         signature::AddDatagram(wire, len, average, warnings);
                         return true;
                     });
    return average;
}

float DaemonTheta(const std::string& record, const std::vector<double>& mean, int peak) {
    const DeviceSignatures sig(record);
    EXPECT_TRUE(sig.valid) << record;
    return sig.GetMinTheta(std::vector<float>(mean.begin(), mean.end()), peak);
}

TEST(Signature, MeasuredShapeIsWhatTheDaemonMatches) {
    signature::Warnings warnings;
    const signature::SpectrumAverage phone = Recorded("analog-phone", 0, warnings);
    EXPECT_EQ(warnings.Count("samples off the monitored channels"), 0);
    // The carrier at 2447 MHz is seen on 2442 (bin 44) and 2452 (bin 12).
    const uint16_t channel = phone.StrongestChannel();
    ASSERT_TRUE(channel == 2442 || channel == 2452) << channel;
    const std::vector<double> mean = phone.Mean(channel);
    signature::Shape shape;
    std::string error;
    ASSERT_TRUE(signature::MakeShape(mean, signature::DefaultWindow(1, mean), &shape, &error))
        << error;
    EXPECT_EQ(shape.peak_bin, channel == 2442 ? 44 : 12);
    EXPECT_NEAR(shape.peak_dbm, -55.0, 3.0);
    ASSERT_EQ(shape.values.size(), 9u);
    double norm = 0;
    for (const double v : shape.values) {
        EXPECT_LT(v, 0.0);
        norm += v * v;
    }
    EXPECT_NEAR(norm, 1.0, 1e-9);
    EXPECT_EQ(shape.values[4], *std::max_element(shape.values.begin(), shape.values.end()))
        << "the peak bin is the strongest, so the least negative value";

    const std::string record = signature::FormatRecord(1, "Analog_Phone", {shape});
    EXPECT_EQ(record.rfind("1 Analog_Phone 1 -4 4 -", 0), 0u) << record;
    EXPECT_LT(DaemonTheta(record, mean, shape.peak_bin), 0.002);

    // A video sender recorded the same way is far from the phone's shape.
    const signature::SpectrumAverage video = Recorded("video-sender", 0, warnings);
    const std::vector<double> vmean = video.Mean(video.StrongestChannel());
    const int vpeak =
        static_cast<int>(std::max_element(vmean.begin(), vmean.end()) - vmean.begin());
    EXPECT_GT(DaemonTheta(record, vmean, vpeak), 0.02);
}

TEST(Signature, WindowsThatLeaveTheChannelOrHoldNothingAreRefused) {
    std::vector<double> mean(signature::BINS, -95.0);
    mean[3] = -50.0;
    signature::Shape shape;
    std::string error;
    EXPECT_FALSE(signature::MakeShape(mean, {-4, 4}, &shape, &error));
    EXPECT_NE(error.find("leaves the channel"), std::string::npos) << error;
    EXPECT_TRUE(signature::MakeShape(mean, {-3, 4}, &shape, &error)) << error;
    EXPECT_FALSE(
        signature::MakeShape(std::vector<double>(signature::BINS, 0.0), {-1, 1}, &shape, &error));
    EXPECT_FALSE(signature::MakeShape(std::vector<double>(10, -90.0), {-1, 1}, &shape, &error));
    // Noise alone makes no signature.
    mean[3] = -91.0;
    EXPECT_FALSE(signature::MakeShape(mean, {-3, 4}, &shape, &error));
    EXPECT_NE(error.find("stands out"), std::string::npos) << error;
    // An unknown class gets its band plus two floor bins on each side.
    std::vector<double> band(signature::BINS, -95.0);
    for (int i = 20; i <= 26; i++) {
        band[static_cast<size_t>(i)] = -60.0;
    }
    band[23] = -55.0;
    EXPECT_EQ(signature::DefaultWindow(9, band), std::make_pair(-5, 5));
}

TEST(Signature, BadDatagramsAreWarnedAboutAndDropped) {
    signature::SpectrumAverage average;
    signature::Warnings warnings(1);
    uint8_t wire[FFT_DATA_WIRE_SIZE] = {};
    signature::AddDatagram(wire, 100, average, warnings);
    fft_data d;
    memset(&d, 0, sizeof(d));
    d.count = 99;
    EncodeFftData(d, wire);
    signature::AddDatagram(wire, sizeof(wire), average, warnings);
    d.count = 2;
    d.samples[0].freq = 2437;
    d.samples[0].rssi = -40;
    d.samples[0].samples[10] = 200;
    d.samples[1].freq = 5180;
    EncodeFftData(d, wire);
    signature::AddDatagram(wire, sizeof(wire), average, warnings);
    signature::AddDatagram(wire, sizeof(wire), average, warnings);
    EXPECT_EQ(warnings.Count("datagrams of the wrong size"), 1);
    EXPECT_EQ(warnings.Count("datagrams with a bad sample count"), 1);
    EXPECT_EQ(warnings.Count("samples off the monitored channels"), 2);
    EXPECT_EQ(average.Count(2437), 2u) << "the good samples are kept";
    EXPECT_EQ(average.Count(5180), 0u);
    EXPECT_NE(warnings.Summary().find("1 more samples off"), std::string::npos);
}

std::string Group(int value) {
    std::string g;
    for (int i = 0; i < signature::BINS; i++) {
        g += std::to_string(value) + "_";
    }
    return g;
}

std::string SpectrumLine(const std::string& freq, const std::string& samples,
                         const std::string& mean_group) {
    return "SPECTRUM 1700000001.5 1057114 " + freq + " " + samples + " 0 " + Group(0) + " " +
           Group(0) + " " + mean_group + " " + Group(0) + " " + Group(0) + " " + Group(90) + "\n";
}

TEST(Signature, EnergyLogLinesAreWeightedAndCheckedFieldByField) {
    signature::SpectrumAverage average;
    signature::Warnings warnings;
    std::string with_peak = Group(90);
    with_peak.replace(0, 3, "60_");
    const std::string log =
        SpectrumLine("2437", "300", with_peak) + SpectrumLine("2437", "100", Group(94)) +
        // every kind of damage, each line skipped on its own
        "garbage\n" + SpectrumLine("2436", "100", Group(50)) +
        SpectrumLine("2437", "0", Group(50)) + SpectrumLine("2437", "x", Group(50)) +
        SpectrumLine("2437", "100", Group(50).substr(3)) +
        SpectrumLine("2437", "100", Group(50) + "7_") + SpectrumLine("2437", "100", Group(300)) +
        SpectrumLine("2437", "100", Group(50) + " extra") + "SPECTRUM 1 2 2437\n" +
        "SPECTRUM 1 2 99999999999999999999 4 5 6\n";
    signature::AddEnergyLog(log, average, warnings);
    EXPECT_EQ(average.Count(2437), 400u);
    const std::vector<double> mean = average.Mean(2437);
    EXPECT_DOUBLE_EQ(mean[0], (300 * -60.0 + 100 * -94.0) / 400);
    EXPECT_DOUBLE_EQ(mean[1], (300 * -90.0 + 100 * -94.0) / 400);
    EXPECT_EQ(warnings.Count("lines that are not SPECTRUM lines"), 1);
    EXPECT_EQ(warnings.Count("lines off the monitored channels"), 1);
    EXPECT_EQ(warnings.Count("lines with a bad sample count"), 1);
    EXPECT_EQ(warnings.Count("lines with a bad mean-power group"), 3);
    EXPECT_EQ(warnings.Count("malformed SPECTRUM lines"), 4);
}

TEST(Signature, CommandLineWritesARecordOrSaysWhyNot) {
    const std::string dir = testing::TempDir() + "/sig" + std::to_string(getpid());
    ASSERT_EQ(system(("mkdir -p " + dir).c_str()), 0);
    auto s = sim::BuildScenario("analog-phone", 1, 2.0);
    {
        sim::PcapFile pcap;
        ASSERT_TRUE(pcap.Open(dir + "/phone.pcap"));
        sim::RunScenario(*s, sim::CardConfig(), 1,
                         [&pcap](const uint8_t* wire, size_t len, int64_t sec, int64_t usec) {
                             return pcap.WriteUdp(wire, len, sec, usec);
                         });
        ASSERT_TRUE(pcap.Close());
    }
    const auto run = [&](const std::string& args, int* status) {
        FILE* p =
            popen((std::string(TESSARON_SIGNATURE_BINARY) + " " + args + " 2>&1").c_str(), "r");
        std::string out;
        char buf[4096];
        size_t n;
        while ((n = fread(buf, 1, sizeof(buf), p)) > 0) {
            out.append(buf, n);
        }
        *status = pclose(p);
        return out;
    };
    int status = 0;
    std::string out = run(
        "--id 1 --name Analog_Phone " + dir + "/phone.pcap " + dir + "/phone.pcap --channel 2442",
        &status);
    EXPECT_EQ(WEXITSTATUS(status), 0) << out;
    EXPECT_NE(out.find("\n1 Analog_Phone 2 -4 4 -"), std::string::npos) << out;
    EXPECT_NE(out.find("2442 MHz"), std::string::npos) << out;

    ASSERT_EQ(system(("head -c 3000 " + dir + "/phone.pcap > " + dir + "/cut.pcap").c_str()), 0);
    ASSERT_EQ(system(("printf 'hello' > " + dir + "/text").c_str()), 0);
    // Cut after two datagrams of a channel the phone is not on: the damage
    // is reported, and noise is not passed off as a shape.
    out = run("--id 1 --name Analog_Phone " + dir + "/cut.pcap", &status);
    EXPECT_EQ(WEXITSTATUS(status), 1) << out;
    EXPECT_NE(out.find("read so far kept"), std::string::npos) << out;
    EXPECT_NE(out.find("stands out"), std::string::npos) << out;
    out = run("--id 1 --name Analog_Phone " + dir + "/text", &status);
    EXPECT_EQ(WEXITSTATUS(status), 1);
    EXPECT_NE(out.find("neither a capture nor an energy log"), std::string::npos) << out;
    out = run("--id 1 --name 'two words' " + dir + "/phone.pcap", &status);
    EXPECT_EQ(WEXITSTATUS(status), 2) << out;
    out = run("--id 1 --name Analog_Phone --window 2:4 " + dir + "/phone.pcap", &status);
    EXPECT_EQ(WEXITSTATUS(status), 2) << out;
    ASSERT_EQ(system(("rm -rf " + dir).c_str()), 0);
}

}  // namespace
