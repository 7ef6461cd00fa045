#include "channel_conditions.h"

#include <gtest/gtest.h>

#include <functional>
#include <random>

#include "refined_test_support.h"

using refinedtest::RayleighNoise;
using refinedtest::Stored;

namespace {

float EstimateAfter(int samples, RayleighNoise& noise,
                    const std::function<void(std::vector<float>&, int)>& add) {
    NoiseFloorEstimator estimator;
    for (int i = 0; i < samples; i++) {
        std::vector<float> row = noise.Sample();
        add(row, i);
        estimator.Observe(row);
    }
    EXPECT_TRUE(estimator.HasEstimate());
    return estimator.NoiseMeanDbm();
}

TEST(NoiseFloorEstimatorTest, FindsTheMeanOfRayleighNoiseAtAnyLevel) {
    for (const double mean : {-95.0, -100.0, -88.0}) {
        RayleighNoise noise(mean);
        const float estimate = EstimateAfter(4 * NoiseFloorEstimator::kBlockSamples, noise,
                                             [](std::vector<float>&, int) {});
        EXPECT_NEAR(estimate, mean, 1.5) << mean;
    }
    NoiseFloorEstimator fresh;
    EXPECT_FALSE(fresh.HasEstimate());
    EXPECT_EQ(fresh.NoiseMeanDbm(), NoiseFloorEstimator::kNominalNoiseDbm);
    // A short row is ignored rather than read past its end.
    fresh.Observe(std::vector<float>(10, 50.0f));
    EXPECT_FALSE(fresh.HasEstimate());
}

TEST(NoiseFloorEstimatorTest, EmittersDoNotLiftTheFloor) {
    RayleighNoise noise(-95.0);
    // A video sender over 40 of 56 bins all the time.
    const float under_video = EstimateAfter(2 * NoiseFloorEstimator::kBlockSamples, noise,
                                            [](std::vector<float>& row, int) {
                                                for (int b = 8; b < 48; b++)
                                                    row[static_cast<size_t>(b)] = Stored(-60.0);
                                            });
    EXPECT_NEAR(under_video, -95.0, 2.0);
    // Wi-Fi frames over the whole view half of the time lift the estimate
    // by about -10 log10(1 - 0.5) = 3 dB: less sensitive, never more.
    const float under_wifi = EstimateAfter(2 * NoiseFloorEstimator::kBlockSamples, noise,
                                           [](std::vector<float>& row, int i) {
                                               if (i % 10 < 5) {
                                                   for (float& v : row)
                                                       v = Stored(-70.0);
                                               }
                                           });
    EXPECT_GE(under_wifi, -96.0f);
    EXPECT_LE(under_wifi, -91.0f);
}

TEST(SampleIntervalEstimatorTest, MedianOfJitteredDifferencesWithinADwell) {
    for (const int interval : {57, 64, 114}) {
        SampleIntervalEstimator estimator;
        std::mt19937 rng(3);
        std::uniform_int_distribution<int> jitter(-1, 1);
        u64 t = 1000000;
        for (int i = 0; i < 200; i++) {
            // Now and then a lost sample or a gap: neither moves the median.
            const int lost = i % 23 == 0 ? 2 : 1;
            t += static_cast<u64>(lost * interval + jitter(rng));
            if (i % 50 == 49)
                t += 20000;
            estimator.Observe(t, 2437.0f);
        }
        EXPECT_NEAR(estimator.IntervalUs(), interval, 1.0) << interval;
    }
    // Channel changes and backwards times are no intervals at all.
    SampleIntervalEstimator estimator;
    for (int i = 0; i < 100; i++) {
        estimator.Observe(static_cast<u64>(1000 + (i % 2 == 0 ? i * 57 : 0)),
                          i % 2 == 0 ? 2412.0f : 2437.0f);
    }
    EXPECT_EQ(estimator.IntervalUs(), 0.0f);
}

TEST(ChannelConditionsTest, EachChannelKeepsItsOwnFloor) {
    ChannelConditions conditions;
    RayleighNoise quiet(-96.0, 1);
    RayleighNoise noisy(-90.0, 2);
    u64 t = 0;
    for (int i = 0; i < 2 * NoiseFloorEstimator::kBlockSamples; i++) {
        conditions.Observe(t += 57, 2412.0f, quiet.Sample());
    }
    for (int i = 0; i < 2 * NoiseFloorEstimator::kBlockSamples; i++) {
        conditions.Observe(t += 57, 2462.0f, noisy.Sample());
    }
    EXPECT_NEAR(conditions.NoiseMeanDbm(2412.0f), -96.0, 1.5);
    EXPECT_NEAR(conditions.NoiseMeanDbm(2462.0f), -90.0, 1.5);
    EXPECT_EQ(conditions.NoiseMeanDbm(2437.0f), NoiseFloorEstimator::kNominalNoiseDbm);
    EXPECT_NEAR(conditions.SampleIntervalUs(), 57.0f, 0.5f);
}

}  // namespace
