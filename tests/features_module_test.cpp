#include "features_module.h"

#include <gtest/gtest.h>

#include "hopper_test_support.h"

using hoppertest::HopPulse;
using hoppertest::MakePulse;
using hoppertest::PulseSpec;

namespace {

RssiPulse Span(u64 start, u64 end, int start_bin, int end_bin, float peak = 60.0f,
               PulseType type = PULSE_FH_DEVICE) {
    PulseSpec spec;
    spec.start = start;
    spec.duration = end - start;
    spec.start_bin = start_bin;
    spec.end_bin = end_bin;
    spec.centre = (start_bin + end_bin) / 2;
    spec.peak = peak;
    spec.type = type;
    return MakePulse(spec);
}

TEST(FeatureMethodsTest, OverlapIsStrictInBinsAndTime) {
    EXPECT_TRUE(FeatureMethods::IsOverlappingInFrequency(Span(0, 1, 10, 14), Span(0, 1, 13, 20)));
    EXPECT_FALSE(FeatureMethods::IsOverlappingInFrequency(Span(0, 1, 10, 14), Span(0, 1, 14, 20)));
    EXPECT_FALSE(FeatureMethods::IsOverlappingInFrequency(Span(0, 1, 12, 12), Span(0, 1, 12, 12)));
    EXPECT_TRUE(FeatureMethods::IsOverlappingInTime(Span(100, 200, 1, 2), Span(199, 300, 1, 2)));
    EXPECT_FALSE(FeatureMethods::IsOverlappingInTime(Span(100, 200, 1, 2), Span(200, 300, 1, 2)));
    EXPECT_FALSE(FeatureMethods::IsOverlappingInTime(Span(200, 300, 1, 2), Span(100, 200, 1, 2)));
}

TEST(FeatureMethodsTest, AverageMovementInBinsPerHop) {
    EXPECT_EQ(FeatureMethods::AverageFrequencyMovement({}), 0.0f);
    EXPECT_EQ(FeatureMethods::AverageFrequencyMovement({HopPulse(0, 1, 10), HopPulse(5, 1, 40)}),
              0.0f);
    EXPECT_FLOAT_EQ(FeatureMethods::AverageFrequencyMovement(
                        {HopPulse(0, 1, 10), HopPulse(5, 1, 20), HopPulse(9, 1, 15)}),
                    7.5f);
}

TEST(FeatureMethodsTest, WeakerOverlappingPulseOfTheTypeIsMasked) {
    const std::vector<RssiPulse> pulses{
        Span(100, 400, 10, 14, 70.0f),             // weaker, masked
        Span(200, 500, 12, 16, 50.0f),             // stronger, kept
        Span(300, 600, 12, 16, 40.0f, PULSE_MWO),  // other type: neither masks nor kept
        Span(1000, 1300, 30, 34, 60.0f),           // equal power pair: both kept
        Span(1100, 1400, 31, 35, 60.0f),
        Span(2000, 2300, 40, 44, 55.0f),  // no bin overlap: kept
        Span(2100, 2400, 44, 48, 45.0f),
    };
    std::vector<RssiPulse> valid;
    FeatureMethods::RemoveOverlappingPulses(pulses, valid, PULSE_FH_DEVICE);
    ASSERT_EQ(valid.size(), 5u);
    EXPECT_EQ(valid[0].start_time, 200u);
    EXPECT_EQ(valid[1].start_time, 1000u);
    EXPECT_EQ(valid[2].start_time, 1100u);
    EXPECT_EQ(valid[3].start_time, 2000u);
    EXPECT_EQ(valid[4].start_time, 2100u);
}

TEST(FeatureMethodsTest, RemoveOverlappingAppendsWithoutClearing) {
    std::vector<RssiPulse> valid{HopPulse(1, 1)};
    FeatureMethods::RemoveOverlappingPulses({Span(5, 10, 1, 3)}, valid, PULSE_FH_DEVICE);
    FeatureMethods::RemoveOverlappingPulses({}, valid, PULSE_FH_DEVICE);
    EXPECT_EQ(valid.size(), 2u);
}

}  // namespace
