#include "script_utils_module.h"

#include <gtest/gtest.h>

#include <cmath>

TEST(FrequencyLookup, ExactCentreFrequenciesOnly) {
    EXPECT_EQ(GetNumSubbandFreq(), 6);
    EXPECT_EQ(GetFreqToBin(2412.0f), 0);
    EXPECT_EQ(GetFreqToBin(2462.0f), 5);
    testing::internal::CaptureStderr();
    EXPECT_EQ(GetFreqToBin(2417.0f), -1);
    EXPECT_EQ(testing::internal::GetCapturedStderr(),
              "Warning... GetFreqToBin: 2417 not found..\n");
}

TEST(Statistics, MeanStdevMedianAndPowerSummary) {
    float mean = 0, stdev = 0;
    calc_mean_stdev({1, 2, 3, 4}, mean, stdev);
    EXPECT_FLOAT_EQ(mean, 2.5f);
    EXPECT_NEAR(stdev, 1.118f, 1e-3);
    calc_mean_stdev({}, mean, stdev);
    EXPECT_EQ(mean, -1.0f);
    EXPECT_EQ(stdev, -1.0f);
    // A constant list must give a zero spread, never NaN from rounding.
    calc_mean_stdev(std::vector<float>(56, 87.3f), mean, stdev);
    EXPECT_FALSE(std::isnan(stdev));
    EXPECT_NEAR(stdev, 0.0f, 1e-2);

    EXPECT_EQ(calc_median({3, 1, 2}), 2.0f);
    EXPECT_EQ(calc_median({4, 1, 3, 2}), 2.5f);

    const PowerTuple t = GetPulsePowerDistributionFromList({60, 70});
    EXPECT_EQ(t.min, -70.0f);
    EXPECT_EQ(t.max, -60.0f);
    EXPECT_EQ(t.mean, -65.0f);
    EXPECT_EQ(t.stddev, 5.0f);
    const PowerTuple empty = GetPulsePowerDistributionFromList({});
    EXPECT_EQ(empty.min, 0.0f);
    EXPECT_EQ(empty.stddev, 0.0f);

    EXPECT_EQ(GetAdaptiveNF(-90, -85), -85);
    EXPECT_EQ(GetAdaptiveNF(-80, -85), -80);
}

TEST(NumberText, FormatsAsTheLogsExpect) {
    EXPECT_EQ(getStr(2412.0f), "2412.00");
    EXPECT_EQ(getStr(-75.0), "-75.00");
    EXPECT_EQ(getStr(-3), "-3");
    EXPECT_EQ(getStr(static_cast<u64>(1) << 32), "4294967296");
    EXPECT_EQ(floattostr(2412.0f), "2412");
    EXPECT_EQ(floattostr(0.5f), "0.5");
    EXPECT_EQ(floattostr(1234567.0f), "1.23457e+06");
    EXPECT_EQ(inttostr(-42), "-42");
    EXPECT_EQ(u64tostr(18446744073709551615ULL), "18446744073709551615");
    EXPECT_EQ(NumberedFeatureLine("MICROWAVE 0", {"2437", "-61.5"}), "MICROWAVE 0 1:2437 2:-61.5");
    EXPECT_EQ(NumberedFeatureLine("HIGHDUTY 1", {}), "HIGHDUTY 1");
}

TEST(TextParsing, LenientNumbersTrimAndSplit) {
    EXPECT_EQ(stoint("  42abc"), 42);
    EXPECT_EQ(stoint("abc"), 0);
    EXPECT_EQ(stoint("99999999999999"), 2147483647);
    EXPECT_EQ(stofloat("3.5 x"), 3.5f);
    EXPECT_EQ(stofloat(""), 0.0f);
    EXPECT_EQ(stofloat("nan"), 0.0f);

    EXPECT_EQ(rtrim("ab \t "), "ab");
    EXPECT_EQ(rtrim(" \t"), "");

    std::vector<std::string> tokens = {"keep"};
    split("   x    y  ", " ", tokens);
    EXPECT_EQ(tokens, (std::vector<std::string>{"keep", "x", "y"}));
    tokens.clear();
    split("a,,b,", ",", tokens);
    EXPECT_EQ(tokens, (std::vector<std::string>{"a", "b"}));

    std::string mac = "00:0e:8e:ab";
    stoupper(mac);
    EXPECT_EQ(mac, "00:0E:8E:AB");
}

TEST(EmptyLists, ZeroFilled) {
    EXPECT_EQ(GetEmptyList(56), std::vector<float>(56, 0.0f));
    EXPECT_EQ(GetEmptyListInt(216).size(), 216u);
    EXPECT_EQ(abs(static_cast<u64>(3) - static_cast<u64>(5)), 18446744073709551614ULL);
}
