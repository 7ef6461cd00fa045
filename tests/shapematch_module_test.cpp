#include "shapematch_module.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

namespace {

using ::testing::HasSubstr;

std::string WriteTempFile(const std::string& contents) {
    char path[] = "/tmp/ff_sigXXXXXX";
    const int fd = mkstemp(path);
    EXPECT_GE(fd, 0);
    close(fd);
    std::ofstream out(path);
    out << contents;
    return path;
}

std::string ShippedSignatureFile() {
    const std::string here = __FILE__;
    return here.substr(0, here.rfind("/tests/")) + "/data/signatures.txt";
}

std::vector<float> Flat(float dbm) {
    return std::vector<float>(56, dbm);
}

std::vector<float> Unit(std::vector<float> v) {
    float sumsq = 0;
    for (float x : v)
        sumsq += x * x;
    for (float& x : v)
        x /= sqrtf(sumsq);
    return v;
}

class ShapeMetricsTest : public ::testing::Test {};

TEST_F(ShapeMetricsTest, ParsesRecordsCommentsAndKeepsFirstOfDuplicateIds) {
    const std::string file = WriteTempFile(
        "# header comment\n"
        "1 Phone 1 -1 1 -0.5,-0.7,-0.5  \t\n"
        "# comment between records\n"
        "3 Cam 2 -1 0 -0.6,-0.8 0 1 -0.8,-0.6\n"
        "1 Second 1 0 0 -1\n"
        "\n"
        "4 NeverRead 1 0 0 -1\n");
    ShapeMetrics::ParseSpecShape(file);
    ASSERT_EQ(ShapeMetrics::shape_map.size(), 2u);
    const DeviceSignatures& phone = ShapeMetrics::shape_map.at(PULSE_ANALOGPHONE);
    EXPECT_EQ(phone.dev_name, "Phone");
    EXPECT_EQ(phone.num_shapes, 1);
    ASSERT_EQ(phone.signature_list.size(), 1u);
    EXPECT_THAT(phone.signature_list[0], ::testing::ElementsAre(-0.5f, -0.7f, -0.5f));
    EXPECT_EQ(phone.offset_list[0], std::make_pair(-1, 1));
    const DeviceSignatures& cam = ShapeMetrics::shape_map.at(PULSE_VIDEOCAM);
    ASSERT_EQ(cam.signature_list.size(), 2u);
    EXPECT_EQ(cam.offset_list[1], std::make_pair(0, 1));
    EXPECT_EQ(ShapeMetrics::shape_map.count(PULSE_UNK_HIGHDUTY), 0u);
}

TEST_F(ShapeMetricsTest, EmptyFirstLineEndsTheFile) {
    ShapeMetrics::ParseSpecShape(WriteTempFile("\n1 Phone 1 0 0 -1\n"));
    EXPECT_TRUE(ShapeMetrics::shape_map.empty());
    std::vector<HighDutyMetrics> metrics;
    std::vector<float> spectrum = Flat(-95);
    spectrum[20] = -50;
    ShapeMetrics::ObtainShapeMetrics(spectrum, std::vector<float>(56, 1.0f), -80, metrics);
    ASSERT_EQ(metrics.size(), 1u);
    EXPECT_TRUE(metrics[0].mintheta_map.empty());
}

TEST_F(ShapeMetricsTest, ShortRecordIsRefusedWithItsLineAndTheRestLoads) {
    const std::string file = WriteTempFile(
        "# line 1\n"
        "1 Phone 2 -1 1 -0.5,-0.7,-0.5\n"
        "3 Cam 1 0 0 -1\n"
        "   \n");
    testing::internal::CaptureStderr();
    ShapeMetrics::ParseSpecShape(file);
    const std::string err = testing::internal::GetCapturedStderr();
    EXPECT_THAT(err, HasSubstr("line 2"));
    EXPECT_THAT(err, HasSubstr("line 4"));
    EXPECT_EQ(ShapeMetrics::shape_map.count(PULSE_ANALOGPHONE), 0u);
    EXPECT_EQ(ShapeMetrics::shape_map.count(PULSE_VIDEOCAM), 1u);
}

TEST_F(ShapeMetricsTest, ShapeOfWrongLengthIsReportedAndComparedOverTheShorterLength) {
    testing::internal::CaptureStderr();
    ShapeMetrics::ParseSpecShape(WriteTempFile("1 Phone 1 -3 3 -0.6,-0.8\n"));
    EXPECT_THAT(testing::internal::GetCapturedStderr(), HasSubstr("line 1"));
    const DeviceSignatures& phone = ShapeMetrics::shape_map.at(PULSE_ANALOGPHONE);
    std::vector<float> spectrum = Flat(-90);
    testing::internal::CaptureStdout();
    const float theta = phone.GetMinTheta(spectrum, 20);
    EXPECT_THAT(
        testing::internal::GetCapturedStdout(),
        HasSubstr("Error! Subspec sizes don't match\nsub_specsig.size(): 2sub_spec.size(): 7"));
    EXPECT_TRUE(std::isfinite(theta));
    // Both the spectrum window cut to the edge and the shape are shorter
    // than the window: no read past either end.
    EXPECT_TRUE(std::isfinite(phone.GetMinTheta(spectrum, 54)));
}

TEST_F(ShapeMetricsTest, UnopenableFileExitsWithStatusOne) {
    EXPECT_EXIT(
        {
            dup2(2, 1);
            ShapeMetrics::InitShapeMetrics("/nonexistent/dir/signatures.txt");
        },
        ::testing::ExitedWithCode(1), "Could not open file\\.\\.\\. Exiting\\.\\.\\.");
}

TEST_F(ShapeMetricsTest, ShippedSignaturesAreUnitLengthAndMatchTheirOffsets) {
    ShapeMetrics::ParseSpecShape(ShippedSignatureFile());
    ASSERT_EQ(ShapeMetrics::shape_map.count(PULSE_ANALOGPHONE), 1u);
    ASSERT_EQ(ShapeMetrics::shape_map.count(PULSE_VIDEOCAM), 1u);
    for (const auto& entry : ShapeMetrics::shape_map) {
        const DeviceSignatures& sig = entry.second;
        ASSERT_EQ(sig.signature_list.size(), static_cast<size_t>(sig.num_shapes));
        for (size_t i = 0; i < sig.signature_list.size(); ++i) {
            const auto& shape = sig.signature_list[i];
            EXPECT_EQ(static_cast<int>(shape.size()),
                      sig.offset_list[i].second - sig.offset_list[i].first + 1);
            double sumsq = 0;
            for (float v : shape)
                sumsq += v * v;
            EXPECT_NEAR(sumsq, 1.0, 1e-5);
        }
    }
}

TEST_F(ShapeMetricsTest, ShippedSignaturesTellANarrowCarrierFromAWideSender) {
    ShapeMetrics::ParseSpecShape(ShippedSignatureFile());
    std::vector<float> carrier = Flat(-92);
    const float leak[] = {0, -12, -24, -34, -44};
    for (int k = -4; k <= 4; ++k)
        carrier[30 + k] = std::max(-50 + leak[std::abs(k)], -92.0f);
    std::vector<float> video = Flat(-92);
    for (int k = -24; k <= 24; ++k)
        video[28 + k] = -55 - 10.0f * (k / 16.0f) * (k / 16.0f);

    const auto& analog = ShapeMetrics::shape_map.at(PULSE_ANALOGPHONE);
    const auto& cam = ShapeMetrics::shape_map.at(PULSE_VIDEOCAM);
    // The shipped shapes are measured (tessaron-signature on the simulator's
    // models), so these idealised spectra are not within the rules' angles;
    // the accuracy suite checks that the devices themselves are named. Here:
    // each idealised spectrum lies nearer its own class.
    EXPECT_LT(analog.GetMinTheta(carrier, 30), cam.GetMinTheta(carrier, 30));
    EXPECT_LT(cam.GetMinTheta(video, 28), analog.GetMinTheta(video, 28));
    EXPECT_LT(analog.GetMinTheta(carrier, 30), 0.1f);
    EXPECT_LT(cam.GetMinTheta(video, 28), 0.05f);
}

TEST(ShapeBandsTest, SpectrumBelowTheFloorHasNoBands) {
    std::vector<std::vector<int>> bands;
    ShapeMetrics::ObtainPeakPowerIndices(Flat(-80.5f), -80, bands);
    EXPECT_TRUE(bands.empty());
    // A bin exactly at the floor is high.
    std::vector<float> spectrum = Flat(-95);
    spectrum[7] = -80;
    testing::internal::CaptureStdout();
    ShapeMetrics::ObtainPeakPowerIndices(spectrum, -80, bands);
    EXPECT_EQ(testing::internal::GetCapturedStdout(),
              "GetInterestingBand: 7 7 7\nPeak indices: 7 7 7\n");
}

TEST(ShapeBandsTest, RunsMergingThroughTheMinus90GrowthKeepOnlyTheStrongerPeak) {
    std::vector<float> spectrum = Flat(-95);
    for (int b = 10; b <= 14; ++b)
        spectrum[b] = -85;  // bridge above -90 but below -80
    spectrum[9] = -60;
    spectrum[15] = -70;
    std::vector<std::vector<int>> bands;
    testing::internal::CaptureStdout();
    ShapeMetrics::ObtainPeakPowerIndices(spectrum, -80, bands);
    testing::internal::GetCapturedStdout();
    ASSERT_EQ(bands.size(), 1u);
    EXPECT_EQ(bands[0], (std::vector<int>{9, 15, 9}));

    // Two separate runs: the stronger is listed first.
    spectrum[12] = -95;
    bands.clear();
    testing::internal::CaptureStdout();
    ShapeMetrics::ObtainPeakPowerIndices(spectrum, -80, bands);
    testing::internal::GetCapturedStdout();
    ASSERT_EQ(bands.size(), 2u);
    EXPECT_EQ(bands[0], (std::vector<int>{9, 11, 9}));
    EXPECT_EQ(bands[1], (std::vector<int>{13, 15, 15}));
}

TEST(ShapeBandsTest, PeakTiesTakeTheUpperMiddleOccurrence) {
    std::vector<float> spectrum = Flat(-70);
    spectrum[10] = -50;
    spectrum[12] = -50;
    EXPECT_EQ(ShapeMetrics::GetPeakRssiIndexInRange(spectrum, 10, 20), 12);
    spectrum[14] = -50;
    EXPECT_EQ(ShapeMetrics::GetPeakRssiIndexInRange(spectrum, 10, 20), 12);
    spectrum[11] = -40;
    EXPECT_EQ(ShapeMetrics::GetPeakRssiIndexInRange(spectrum, 10, 20), 11);
    // A range opening on NaN stays inside the range.
    spectrum[10] = std::nanf("");
    const int peak = ShapeMetrics::GetPeakRssiIndexInRange(spectrum, 10, 20);
    EXPECT_GE(peak, 10);
    EXPECT_LE(peak, 20);
}

TEST(ShapeBandsTest, BandGrowthStopsAtTheEdgesTheFloorAndStrongerBins) {
    std::vector<float> spectrum = Flat(-85);
    int start = -1, end = -1;
    testing::internal::CaptureStdout();
    ShapeMetrics::GetInterestingBand(spectrum, -85, 55, start, end);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "GetInterestingBand: 55 0 55\n");
    ShapeMetrics::GetInterestingBand(spectrum, -85, 0, start, end);
    EXPECT_EQ(start, 0);
    EXPECT_EQ(end, 55);
    spectrum[5] = -91;   // below -90
    spectrum[30] = -60;  // stronger than the peak
    ShapeMetrics::GetInterestingBand(spectrum, -70, 20, start, end);
    EXPECT_EQ(start, 6);
    EXPECT_EQ(end, 29);
}

TEST(ShapeBandsTest, EnergyWidthCountsBinsWithin15DbAndNeverReachesTheUpperLimit) {
    std::vector<float> spectrum = Flat(-95);
    spectrum[18] = -66;  // 16 dB down: outside
    spectrum[19] = -65;  // exactly 15 dB down: inside
    spectrum[20] = -50;
    spectrum[21] = -55;
    spectrum[22] = -56;
    float width = -1;
    ShapeMetrics::determineSimpleBand(10, 30, 20, spectrum, width);
    EXPECT_FLOAT_EQ(width, 3.0f);  // bins 19..22
    ShapeMetrics::determineSimpleBand(10, 22, 20, spectrum, width);
    EXPECT_FLOAT_EQ(width, 2.0f);  // bin 22 is the limit itself
    ShapeMetrics::determineSimpleBand(20, 21, 20, spectrum, width);
    EXPECT_FLOAT_EQ(width, 0.0f);
}

TEST(ShapeBandsTest, DutyAroundThePeakStaysInsideTheSubband) {
    std::vector<float> duty(56, 0.0f);
    duty[0] = 0.5f;
    duty[1] = 1.0f;
    duty[2] = 0.9f;
    auto at0 = ShapeMetrics::GetDutyInformation(duty, 0);
    EXPECT_FLOAT_EQ(at0.first, 1.0f);
    EXPECT_FLOAT_EQ(at0.second, 0.75f);
    duty[55] = 0.3f;
    auto at55 = ShapeMetrics::GetDutyInformation(duty, 55);
    EXPECT_FLOAT_EQ(at55.first, 0.3f);
    EXPECT_FLOAT_EQ(at55.second, 0.15f);
    auto none = ShapeMetrics::GetDutyInformation(std::vector<float>(), 10);
    EXPECT_FLOAT_EQ(none.second, 0.0f);
}

TEST(ShapeThetaTest, ShapeCutAtTheEdgeIsRescaledBeforeComparing) {
    // Window -3..3 around a peak at bin 1: two values fall off the front.
    DeviceSignatures sig("1 Phone 1 -3 3 -1,-2,-9,-8,-5,-8,-9");
    ASSERT_TRUE(sig.valid);
    sig.signature_list[0] = Unit(sig.signature_list[0]);
    std::vector<float> spectrum = Flat(-95);
    const float tail[] = {-9, -8, -5, -8, -9};  // bins 0..4, proportional to the shape's rest
    for (int b = 0; b < 5; ++b)
        spectrum[b] = tail[b] * 10;
    EXPECT_NEAR(sig.GetMinTheta(spectrum, 1), 0.0f, 2e-3f);
}

TEST(ShapeThetaTest, AngleOfUnitVectors) {
    const std::vector<float> a = Unit({-1, -2, -3});
    EXPECT_NEAR(DeviceSignatures::GetTheta(a, a), 0.0f, 1e-3f);
    EXPECT_NEAR(DeviceSignatures::GetTheta({}, a), static_cast<float>(M_PI / 2), 1e-6f);
    EXPECT_NEAR(DeviceSignatures::GetTheta({0.6f, 0.8f}, {1.0f}), acosf(0.6f), 1e-6f);
    EXPECT_NEAR(DeviceSignatures::GetTheta({1.0f}, {0.6f, 0.8f}), acosf(0.6f), 1e-6f);
    DeviceSignatures empty("7 Nothing 0");
    EXPECT_FLOAT_EQ(empty.GetMinTheta(Flat(-90), 20), 1000.0f);
}

TEST(ShapeThetaTest, RecordParsingRejectsShortAndNegativeCounts) {
    EXPECT_FALSE(DeviceSignatures("1 Phone").valid);
    EXPECT_FALSE(DeviceSignatures("1 Phone -1").valid);
    EXPECT_FALSE(DeviceSignatures("1 Phone 2147483647 0 0 -1").valid);
    EXPECT_TRUE(DeviceSignatures("  1   Phone 1 0 1  -0.6,-0.8,").valid);
}

TEST(ShapeMetricsRecordTest, NarrowCarrierRecord) {
    ShapeMetrics::ParseSpecShape(
        WriteTempFile("3 Cam 0\n1 Phone 1 -1 1 -0.6528,-0.4635,-0.5992\n"));
    std::vector<float> spectrum = Flat(-95);
    spectrum[29] = -70.7f;
    spectrum[30] = -50.2f;
    spectrum[31] = -64.9f;
    std::vector<float> duty(56, 0.0f);
    duty[29] = 0.9f;
    duty[30] = 1.0f;
    duty[31] = 0.95f;
    std::vector<HighDutyMetrics> metrics;
    testing::internal::CaptureStdout();
    ShapeMetrics::ObtainShapeMetrics(spectrum, duty, -80, metrics);
    testing::internal::GetCapturedStdout();
    ASSERT_EQ(metrics.size(), 1u);
    const HighDutyMetrics& m = metrics[0];
    EXPECT_EQ(m.subband_object, nullptr);
    EXPECT_EQ(m.norm_cfreq_bin, 30);
    EXPECT_EQ(m.norm_cfreq_rssi, -50);
    EXPECT_EQ(m.norm_start_bin, 29);
    EXPECT_EQ(m.norm_end_bin, 31);
    EXPECT_EQ(m.norm_bw, 3);
    EXPECT_EQ(m.weighted_cfreq_bin, 30);
    EXPECT_EQ(m.weighted_cfreq_rssi, -50);
    EXPECT_EQ(m.weighted_bw, 0);  // bin 29 is 20.5 dB down; the upper walk stops before 31
    EXPECT_FLOAT_EQ(m.duty_max, 1.0f);
    EXPECT_NEAR(m.duty_avg, 0.95f, 1e-6f);
    ASSERT_EQ(m.mintheta_map.size(), 2u);
    EXPECT_FLOAT_EQ(m.mintheta_map.at(PULSE_VIDEOCAM), 1000.0f);
    EXPECT_LT(m.mintheta_map.at(PULSE_ANALOGPHONE), 0.01f);
}

}  // namespace
