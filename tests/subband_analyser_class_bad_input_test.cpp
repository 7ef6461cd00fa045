// The receive path against hostile or broken producers: every malformed
// datagram or sample is reported on stderr, and the good samples around it
// are analysed as if it had never come.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>

#include "analyser_fixture.h"
#include "channel_visit.h"
#include "device_analyzer.h"
#include "subband_analyser_class.h"
#include "temp_path.h"
#include "tessaron_main.h"

using ::testing::HasSubstr;

namespace {

class BadInputTest : public AnalyserFixture {
protected:
    void SetUp() override {
        AnalyserFixture::SetUp();
        memset(&d, 0, sizeof(d));
    }

    // 14 samples on `freq`, `step` us apart from t0, with quiet bins.
    void Fill(uint16_t freq, u64 t0, u64 step = 1000) {
        d.count = 14;
        for (int i = 0; i < 14; i++) {
            d.samples[i].freq = freq;
            d.samples[i].ts = t0 + static_cast<u64>(i) * step;
            d.samples[i].rssi = 10;
            memset(d.samples[i].samples, 2, sizeof(d.samples[i].samples));
        }
    }
    // Sends `d`; returns what went to stderr.
    std::string Send() {
        uint8_t wire[FFT_DATA_WIRE_SIZE];
        EncodeFftData(d, wire);
        testing::internal::CaptureStderr();
        analyser->ProcessDatagram(wire, static_cast<ssize_t>(sizeof(wire)));
        return testing::internal::GetCapturedStderr();
    }
    u64 Rows() { return ap->GetCurrentSubband().num_rows; }

    fft_data d;
};

}  // namespace

TEST_F(BadInputTest, EveryWrongSizeWarnsOnceAndTouchesNothing) {
    uint8_t buffer[CONST_RECEIVE_BUFFER_SIZE];
    memset(buffer, 0xA5, sizeof(buffer));
    testing::internal::CaptureStderr();
    for (ssize_t len = -1; len <= static_cast<ssize_t>(sizeof(buffer)); len++) {
        if (len != static_cast<ssize_t>(FFT_DATA_WIRE_SIZE)) {
            analyser->ProcessDatagram(buffer, len);
        }
    }
    const std::string err = testing::internal::GetCapturedStderr();
    EXPECT_THAT(err, HasSubstr("not of the right size: 0\n"));
    EXPECT_THAT(err, HasSubstr("not of the right size: 1359\n"));
    EXPECT_THAT(err, HasSubstr("not of the right size: 1400\n"));
    EXPECT_EQ(std::count(err.begin(), err.end(), '\n'), 1401);
    EXPECT_EQ(analyser->GetDatagramCounters().wrong_size, 1401u);
    EXPECT_EQ(ap->start_time, CONST_INVALID_TIME);
    EXPECT_TRUE(ap->completed_sub_bands_list.empty());
}

TEST_F(BadInputTest, SampleCountsOutsideTheRecordAreRejected) {
    Fill(2437, 1000);
    for (const int32_t bad : {-1, 15, INT_MIN, INT_MAX}) {
        d.count = bad;
        EXPECT_EQ(Send(), "Warning!! Received packet with sample count out of range: " +
                              std::to_string(bad) + "\n");
    }
    EXPECT_EQ(analyser->GetDatagramCounters().bad_count, 4u);
    EXPECT_TRUE(ap->completed_sub_bands_list.empty());
}

TEST_F(BadInputTest, OffCentreSamplesAreReportedAndEndTheOpenSubband) {
    Fill(2437, 1000);
    Send();
    Fill(2437, 15000);
    d.samples[5].freq = 2440;
    d.samples[9].freq = 0;
    const std::string err = Send();
    EXPECT_THAT(err, HasSubstr("Sample on 2440 MHz: not a monitored channel centre frequency, it "
                               "ends the open subband (1 so far)"));
    EXPECT_EQ(std::count(err.begin(), err.end(), '\n'), 1);  // repeats are counted, not shouted
    // Each stray sample cut the stream like a channel change: the short
    // pieces were dropped, the four samples after the last one are open.
    ASSERT_EQ(ap->completed_sub_bands_list.size(), 1u);
    EXPECT_EQ(Rows(), 4u);
    EXPECT_EQ(analyser->GetDatagramCounters().off_centre, 2u);
}

TEST_F(BadInputTest, RepeatedBackwardsAndWrappingTimesAreReported) {
    Fill(2437, 1000);
    d.samples[4].ts = d.samples[3].ts;
    EXPECT_THAT(Send(), HasSubstr("Sample time 4000 us repeats the previous sample's (1 so far)"));
    EXPECT_EQ(Rows(), 13u);

    Fill(2437, 20000);
    d.samples[6].ts = 9000;
    EXPECT_THAT(Send(), HasSubstr("Sample time went back from 25000 to 9000 us"));
    EXPECT_EQ(analyser->GetDatagramCounters().time_backwards, 1u);
    EXPECT_EQ(Rows(), 13u + 14u);  // nothing dropped, pulses merely ended

    // The card's 32-bit clock starting over is told apart from going back.
    Fill(2437, MAX_MAC_TIMESTAMP_VAL - 6000);
    for (spectrum_fft& sample : d.samples) {
        sample.ts &= MAX_MAC_TIMESTAMP_VAL;
    }
    const std::string err = Send();
    EXPECT_THAT(err, HasSubstr("Card clock wrapped from 4294967295 to 999 us"));
    EXPECT_EQ(analyser->GetDatagramCounters().clock_wraps, 1u);
    EXPECT_EQ(analyser->GetDatagramCounters().time_backwards, 1u);
}

TEST_F(BadInputTest, ExtremeBinsSaturateInsteadOfWrapping) {
    spectrum_fft s;
    memset(&s, 0, sizeof(s));
    s.rssi = 127;  // all bins 255 at +32 dBm: above 0 dBm, the strongest a byte holds
    memset(s.samples, 255, sizeof(s.samples));
    testing::internal::CaptureStderr();
    analyser->ProcessSpectrumFFT(&s);
    EXPECT_THAT(testing::internal::GetCapturedStderr(),
                HasSubstr("Sample power outside 0 to -255 dBm (rssi 127) clamped (1 so far)"));
    for (int i = 2; i < 58; i++) {
        EXPECT_EQ(s.samples[i], 0) << i;
    }

    // One bin at full scale, the rest at 1, at -223 dBm in all: the weak
    // bins lie below -255 dBm and must read as the weakest, not as -15 dBm.
    memset(&s, 0, sizeof(s));
    s.rssi = -128;
    memset(s.samples, 1, sizeof(s.samples));
    s.samples[40] = 255;
    testing::internal::CaptureStderr();
    analyser->ProcessSpectrumFFT(&s);
    testing::internal::GetCapturedStderr();
    EXPECT_EQ(s.samples[10], 255);
    EXPECT_EQ(s.samples[40], 223);
    EXPECT_EQ(analyser->GetDatagramCounters().clamped, 2u);

    // All-zero bins stay in range: 95 - rssi, no warning.
    memset(&s, 0, sizeof(s));
    s.rssi = 10;
    testing::internal::CaptureStderr();
    analyser->ProcessSpectrumFFT(&s);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
    EXPECT_EQ(s.samples[2], 85);
}

// The wire record must mean the same on a 32-bit target: a card time past
// 32 bits and a count of 0xFFFFFFFF decode the same through the receive path.
TEST_F(BadInputTest, WireFieldsKeepTheirWidthThroughTheReceivePath) {
    uint8_t wire[FFT_DATA_WIRE_SIZE];
    memset(wire, 0, sizeof(wire));
    for (int i = 0; i < 2; i++) {
        uint8_t* s = wire + i * SPECTRUM_FFT_WIRE_SIZE;
        s[0] = 0x85;  // 2437 = 0x0985
        s[1] = 0x09;
        const uint64_t ts = 0x123456789ULL + static_cast<uint64_t>(i) * 1000;
        for (int b = 0; b < 8; b++) {
            s[8 + b] = static_cast<uint8_t>(ts >> (8 * b));
        }
    }
    wire[1344] = 2;
    analyser->ProcessDatagram(wire, 1360);
    EXPECT_EQ(ap->GetCurrTime(), 0x123456789ULL + 1000);
    EXPECT_EQ(ap->start_time, 0x123456789ULL);
    EXPECT_EQ(ap->GetCurrFreq(), 2437.0f);

    memset(wire + 1344, 0xFF, 4);
    testing::internal::CaptureStderr();
    analyser->ProcessDatagram(wire, 1360);
    EXPECT_EQ(testing::internal::GetCapturedStderr(),
              "Warning!! Received packet with sample count out of range: -1\n");
}

TEST_F(BadInputTest, MappingFileShortLinesAreSkippedWithTheirLineNumber) {
    const std::string path = TestTempPath("mapping_short_lines");
    FILE* f = fopen(path.c_str(), "w");
    ASSERT_NE(f, nullptr);
    fputs("# ether wireless name\n00:11 \nAA:BB CC:DD\n11:22 00:0e:8e:30:9c:05 den\n", f);
    fclose(f);
    testing::internal::CaptureStdout();
    testing::internal::CaptureStderr();
    analyser->GetApInformation(path);
    const std::string err = testing::internal::GetCapturedStderr();
    testing::internal::GetCapturedStdout();
    EXPECT_THAT(err, HasSubstr(":2: access point record needs three fields, skipped"));
    EXPECT_THAT(err, HasSubstr(":3: access point record needs three fields, skipped"));
    EXPECT_EQ(analyser->reference_mac, "00:0E:8E:30:9C:05");
    EXPECT_EQ(analyser->access_point_name_map.at("00:0E:8E:30:9C:05"), "DEN");
    remove(path.c_str());
}
