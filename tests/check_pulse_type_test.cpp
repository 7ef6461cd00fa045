#include "check_pulse_type.h"

#include <gtest/gtest.h>

#include <vector>

#include "hopper_test_support.h"
#include "rule_set.h"

using hoppertest::HopPulse;
using hoppertest::MakePulse;
using hoppertest::PulseSpec;

namespace {

RssiPulse Shaped(int width, u64 duration, PulseType type = PULSE_NONE, int centre = 20) {
    PulseSpec spec;
    spec.start = 1000;
    spec.duration = duration;
    spec.start_bin = centre - width / 2;
    spec.end_bin = spec.start_bin + width;
    spec.centre = centre;
    spec.type = type;
    return MakePulse(spec);
}

TEST(CheckPulseTest, InterestingPulseNeedsPowerAboveMinus75AndNoDiscard) {
    RssiPulse pulse = HopPulse(0, 300, 20, 75.0f);
    EXPECT_FALSE(CheckPulse::IsInterestingPulse(pulse));
    pulse.peak_rssi = 74.9f;
    EXPECT_TRUE(CheckPulse::IsInterestingPulse(pulse));
    pulse.peak_rssi = 10.0f;
    pulse.classification = PULSE_DISCARD;
    EXPECT_FALSE(CheckPulse::IsInterestingPulse(pulse));
    // A weak pulse fails every power-gated shape test.
    RssiPulse weak = HopPulse(0, 1000, 20, 80.0f);
    EXPECT_FALSE(CheckPulse::IsBluetoothPulse(weak));
    EXPECT_FALSE(CheckPulse::IsFhssphoneHigh(weak));
}

TEST(CheckPulseTest, HopperWidthMustBeOneToSevenBins) {
    for (const int width : {0, 8}) {
        EXPECT_FALSE(CheckPulse::IsBluetoothPulse(Shaped(width, 1000))) << width;
        EXPECT_FALSE(CheckPulse::IsBluetoothSCOPulse(Shaped(width, 300))) << width;
        EXPECT_FALSE(CheckPulse::IsFhssphoneHigh(Shaped(width, 300))) << width;
    }
    for (const int width : {1, 7}) {
        EXPECT_TRUE(CheckPulse::IsBluetoothPulse(Shaped(width, 1000))) << width;
        EXPECT_TRUE(CheckPulse::IsBluetoothSCOPulse(Shaped(width, 300))) << width;
        EXPECT_TRUE(CheckPulse::IsFhssphoneHigh(Shaped(width, 300))) << width;
    }
}

// The hopper collection's one test takes exactly the pulses that either
// shape test takes, under both rule sets, across the edges of every window
// and every class; marking a subband's pulses tags exactly those.
TEST(CheckPulseTest, HopperShapedIsBluetoothOrHandset) {
    for (const RuleSetId rules : {RuleSetId::kStandard, RuleSetId::kRefined}) {
        SelectRules(rules);
        std::vector<RssiPulse> subband;
        std::vector<bool> shaped;
        for (const PulseType type :
             {PULSE_ANALOGPHONE, PULSE_NONE, PULSE_FHSSPHONE_LOW_CANDIDATE, PULSE_XBOX_CANDIDATE,
              PULSE_XBOX, PULSE_FH_DEVICE, PULSE_FHSSPHONE_HIGH, PULSE_BLUETOOTH,
              PULSE_BLUETOOTH_SCO, PULSE_MWO, PULSE_DISCARD, PULSE_UNK_FH}) {
            for (const int width : {0, 1, 4, 7, 8}) {
                for (const u64 duration : {0u, 1u, 499u, 500u, 501u, 2499u, 2500u, 2999u, 3000u}) {
                    for (const float peak : {60.0f, 75.0f, 80.0f}) {
                        RssiPulse pulse = Shaped(width, duration, type);
                        pulse.peak_rssi = peak;
                        const bool either = CheckPulse::IsBluetoothPulse(pulse) ||
                                            CheckPulse::IsFhssphoneHigh(pulse);
                        EXPECT_EQ(CheckPulse::IsHopperShaped(pulse), either)
                            << "width " << width << ", " << duration << " us, class " << type;
                        subband.push_back(pulse);
                        shaped.push_back(either);
                    }
                }
            }
        }
        size_t tagged = 0;
        for (size_t i = 0; i < subband.size(); ++i) {
            tagged += shaped[i] || subband[i].classification == PULSE_FH_DEVICE;
        }
        const std::vector<RssiPulse> before = subband;
        EXPECT_EQ(CheckPulse::MarkHopperShaped(subband), tagged);
        for (size_t i = 0; i < subband.size(); ++i) {
            EXPECT_EQ(subband[i].classification,
                      shaped[i] ? PULSE_FH_DEVICE : before[i].classification)
                << "pulse " << i;
        }
    }
    SelectRules(RuleSetId::kStandard);
}

TEST(CheckPulseTest, DurationWindowsOfBluetoothScoAndHandset) {
    EXPECT_FALSE(CheckPulse::IsBluetoothPulse(Shaped(4, 500)));
    EXPECT_TRUE(CheckPulse::IsBluetoothPulse(Shaped(4, 501)));
    EXPECT_TRUE(CheckPulse::IsBluetoothPulse(Shaped(4, 2999)));
    EXPECT_FALSE(CheckPulse::IsBluetoothPulse(Shaped(4, 3000)));
    EXPECT_TRUE(CheckPulse::IsBluetoothSCOPulse(Shaped(4, 499)));
    EXPECT_FALSE(CheckPulse::IsBluetoothSCOPulse(Shaped(4, 500)));
    EXPECT_TRUE(CheckPulse::IsFhssphoneHigh(Shaped(4, 2499)));
    EXPECT_FALSE(CheckPulse::IsFhssphoneHigh(Shaped(4, 2500)));
    EXPECT_FALSE(CheckPulse::IsBluetoothPulse(Shaped(4, 0)));
    EXPECT_FALSE(CheckPulse::IsBluetoothSCOPulse(Shaped(4, 0)));
    EXPECT_FALSE(CheckPulse::IsFhssphoneHigh(Shaped(4, 0)));
}

TEST(CheckPulseTest, TaggedBluetoothPulsesStayOpenOnlyToBluetoothTests) {
    for (const PulseType type : {PULSE_BLUETOOTH, PULSE_BLUETOOTH_SCO}) {
        EXPECT_TRUE(CheckPulse::IsBluetoothPulse(Shaped(4, 1000, type)));
        EXPECT_TRUE(CheckPulse::IsBluetoothSCOPulse(Shaped(4, 300, type)));
        EXPECT_FALSE(CheckPulse::IsFhssphoneHigh(Shaped(4, 300, type)));
        EXPECT_FALSE(CheckPulse::IsXboxPulseType(Shaped(4, 228, type)));
        EXPECT_FALSE(CheckPulse::IsZigbeePulseType(Shaped(6, 1000, type, 22)));
    }
    EXPECT_FALSE(CheckPulse::IsFhssphoneHigh(Shaped(4, 300, PULSE_FHSSPHONE_HIGH)));
    EXPECT_FALSE(CheckPulse::IsBluetoothPulse(Shaped(4, 1000, PULSE_MWO)));
}

TEST(CheckPulseTest, XboxShapeIsFourBinsAndFourExactDurations) {
    for (const u64 duration : {227u, 228u, 342u, 343u}) {
        EXPECT_TRUE(CheckPulse::IsXboxPulseType(Shaped(4, duration))) << duration;
    }
    for (const u64 duration : {226u, 229u, 341u, 344u}) {
        EXPECT_FALSE(CheckPulse::IsXboxPulseType(Shaped(4, duration))) << duration;
    }
    EXPECT_FALSE(CheckPulse::IsXboxPulseType(Shaped(3, 228)));
    EXPECT_FALSE(CheckPulse::IsXboxPulseType(Shaped(5, 228)));
    // Still open to the hopper tests: untagged or a hopper candidate only.
    EXPECT_TRUE(CheckPulse::IsXboxPulseType(Shaped(4, 342, PULSE_XBOX_CANDIDATE)));
    EXPECT_TRUE(CheckPulse::IsXboxPulseType(Shaped(4, 343, PULSE_FHSSPHONE_LOW_CANDIDATE)));
    for (const PulseType taken : {PULSE_ANALOGPHONE, PULSE_XBOX, PULSE_BLUETOOTH, PULSE_UNK_FH}) {
        EXPECT_FALSE(CheckPulse::IsXboxPulseType(Shaped(4, 228, taken))) << taken;
    }
    // Power is not part of the Xbox shape.
    RssiPulse weak = Shaped(4, 228);
    weak.peak_rssi = 90.0f;
    EXPECT_TRUE(CheckPulse::IsXboxPulseType(weak));
}

TEST(CheckPulseTest, ZigbeeShapeNeedsChannelCentreAndWidthSixOrSeven) {
    EXPECT_TRUE(CheckPulse::IsZigbeePulseType(Shaped(6, 1000, PULSE_NONE, 21)));
    EXPECT_TRUE(CheckPulse::IsZigbeePulseType(Shaped(7, 1000, PULSE_FH_DEVICE, 23)));
    EXPECT_FALSE(CheckPulse::IsZigbeePulseType(Shaped(6, 1000, PULSE_NONE, 20)));
    EXPECT_FALSE(CheckPulse::IsZigbeePulseType(Shaped(6, 1000, PULSE_NONE, 24)));
    EXPECT_FALSE(CheckPulse::IsZigbeePulseType(Shaped(5, 1000, PULSE_NONE, 22)));
    EXPECT_FALSE(CheckPulse::IsZigbeePulseType(Shaped(8, 1000, PULSE_NONE, 22)));
    for (const int centre : {6, 8, 36, 38, 51, 53}) {
        EXPECT_TRUE(CheckPulse::IsZigbeePulseType(Shaped(6, 1000, PULSE_NONE, centre))) << centre;
    }
    for (const int centre : {5, 9, 35, 39, 50, 54}) {
        EXPECT_FALSE(CheckPulse::IsZigbeePulseType(Shaped(6, 1000, PULSE_NONE, centre))) << centre;
    }
    for (const PulseType taken : {PULSE_ANALOGPHONE, PULSE_XBOX_CANDIDATE, PULSE_ZIGBEE}) {
        EXPECT_FALSE(CheckPulse::IsZigbeePulseType(Shaped(6, 1000, taken, 22))) << taken;
    }
    // Zero airtime and weak power do not matter to the shape.
    EXPECT_TRUE(CheckPulse::IsZigbeePulseType(Shaped(6, 0, PULSE_NONE, 52)));
}

TEST(CheckPulseTest, FhssTimingPairWindows) {
    const RssiPulse first = HopPulse(10000, 300, 20);
    for (const u64 gap : {2250u, 2500u, 2750u, 4500u, 5500u}) {
        EXPECT_TRUE(CheckPulse::IsFhssTimingProperty(first, HopPulse(10000 + gap, 300, 22))) << gap;
    }
    for (const u64 gap : {2249u, 2751u, 3000u, 4499u, 5501u}) {
        EXPECT_FALSE(CheckPulse::IsFhssTimingProperty(first, HopPulse(10000 + gap, 300, 20)))
            << gap;
    }
    EXPECT_FALSE(CheckPulse::IsFhssTimingProperty(first, HopPulse(12500, 300, 23)));
    EXPECT_TRUE(CheckPulse::IsFhssTimingProperty(first, HopPulse(12500, 300, 18)));
    // A partner that starts first wraps to a huge gap.
    EXPECT_FALSE(CheckPulse::IsFhssTimingProperty(first, HopPulse(7500, 300, 20)));
}

TEST(CheckPulseTest, SpreadOfPerFrequencyHistogram) {
    const std::map<float, int> counts{{2400.0f, 3}, {2420.0f, 1}};
    EXPECT_FLOAT_EQ(CheckPulse::GetPulseSpread(counts), 0.75f);
    EXPECT_FLOAT_EQ(CheckPulse::GetSpreadMax(counts), 3.0f);
    std::map<float, int> zeros;
    for (const float freq : CONST_CENTER_FREQUENCIES)
        zeros[freq] = 0;
    EXPECT_EQ(CheckPulse::GetPulseSpread(zeros), 0.0f);
    EXPECT_EQ(CheckPulse::GetSpreadMax(zeros), 0.0f);
    EXPECT_EQ(CheckPulse::GetPulseSpread({}), 0.0f);
    // Counts cancelling to a zero sum give no share rather than infinity.
    EXPECT_EQ(CheckPulse::GetPulseSpread({{2412.0f, 2}, {2422.0f, -2}}), 0.0f);
}

TEST(CheckPulseTest, HighDutyDevicesAreAnalogPhoneAndVideoCamera) {
    EXPECT_TRUE(CheckPulse::IsHighDutyDevice(PULSE_ANALOGPHONE));
    EXPECT_TRUE(CheckPulse::IsHighDutyDevice(PULSE_VIDEOCAM));
    EXPECT_FALSE(CheckPulse::IsHighDutyDevice(PULSE_ZIGBEE));
    EXPECT_FALSE(CheckPulse::IsHighDutyDevice(PULSE_UNK_HIGHDUTY));
}

}  // namespace
