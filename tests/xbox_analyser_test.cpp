#include "xbox_analyser.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "hopper_test_support.h"
#include "refined_test_support.h"

using hoppertest::MakePulse;
using hoppertest::PulseSpec;

namespace {

RssiPulse XboxPulse(u64 start, u64 duration = 228, PulseType type = PULSE_NONE) {
    PulseSpec spec;
    spec.start = start;
    spec.duration = duration;
    spec.start_bin = 10;
    spec.end_bin = 14;  // 4 bins wide
    spec.centre = 12;
    spec.average = 65.0f;
    spec.type = type;
    return MakePulse(spec);
}

class XboxTest : public hoppertest::ClassifierTest {
protected:
    // One visit per frequency, each holding the given number of pulses.
    void AddVisits(const std::vector<std::pair<float, int>>& counts) {
        u64 t = 0;
        for (const auto& c : counts) {
            SubBand& subband = hoppertest::AddSubband(history, c.first, t, t + 100000);
            for (int i = 0; i < c.second; ++i) {
                subband.completed_pulses_list.push_back(XboxPulse(t + 1000 * (i + 1)));
            }
            t += 100000;
        }
    }
    std::string Run(int debug_id = 0) {
        XboxAnalyser analyser(history, history.begin(), debug_id);
        analyser.GetFeatures();
        return TakeStdout();
    }
    static bool Reported(const std::string& out) {
        return out.find("Adding a XBox device...\n") != std::string::npos;
    }
};

TEST_F(XboxTest, SeventyFiveSpreadPulsesReportAConsole) {
    AddVisits({{2412.0f, 25}, {2437.0f, 25}, {2462.0f, 25}});
    const std::string out = Run();
    EXPECT_TRUE(Reported(out));
    ASSERT_EQ(DeviceAnalyzer::ActiveHoppers().size(), 1u);
    EXPECT_EQ(DeviceAnalyzer::ActiveHoppers()[0].classification, PULSE_XBOX);
    EXPECT_EQ(DeviceAnalyzer::ActiveHoppers()[0].count_pulses, 75);
    EXPECT_FLOAT_EQ(DeviceAnalyzer::ActiveHoppers()[0].device_rssi, -65.0f);
}

TEST_F(XboxTest, SeventyFourPulsesReportNothing) {
    AddVisits({{2412.0f, 25}, {2437.0f, 25}, {2462.0f, 24}});
    EXPECT_FALSE(Reported(Run()));
    EXPECT_TRUE(DeviceAnalyzer::ActiveHoppers().empty());
}

TEST_F(XboxTest, BusiestFrequencyMayHoldAtMostHalf) {
    AddVisits({{2412.0f, 50}, {2437.0f, 50}});
    EXPECT_TRUE(Reported(Run()));
    history.clear();
    ::testing::internal::CaptureStdout();
    AddVisits({{2412.0f, 51}, {2437.0f, 49}});
    EXPECT_FALSE(Reported(Run()));
    // 75 pulses over two frequencies always put more than half on one.
    history.clear();
    ::testing::internal::CaptureStdout();
    AddVisits({{2412.0f, 38}, {2437.0f, 37}});
    EXPECT_FALSE(Reported(Run()));
}

TEST_F(XboxTest, CountsOnlyXboxShapesStillOpenToHoppers) {
    SubBand& subband = hoppertest::AddSubband(history, 2442.0f, 0, 100000);
    subband.completed_pulses_list = {
        XboxPulse(1000, 229), XboxPulse(2000, 343), XboxPulse(3000, 227, PULSE_FH_DEVICE),
        XboxPulse(4000, 228, PULSE_MWO), XboxPulse(5000, 228, PULSE_DISCARD)};
    const std::string out = Run(32);
    EXPECT_NE(out.find("XBOX 1 1:0 2:2 3:1 4:0 5:0 6:0 7:0 8:-65 9:-65 10:-65 11:0\n"),
              std::string::npos);
    EXPECT_NE(out.find("Xbox pulse_counts 2412 0 2422 0 2437 0 2442 2 2452 0 2462 0 \n"),
              std::string::npos);
    // The history is read, not tagged.
    EXPECT_EQ(subband.completed_pulses_list[1].classification, PULSE_NONE);
}

// A video sender holding a quarter of every view hides a quarter of the
// controller's hops: under the refined rules 60 packets seen in the clear
// three quarters stand for the 75 a clear band would show. Nothing is
// extrapolated from less than half the view, and the standard rules keep the
// fixed count.
TEST_F(XboxTest, RefinedCountFollowsTheClearShareOfTheView) {
    const auto hold_bins = [this](int busy_bins) {
        for (SubBand& subband : history) {
            subband.duty_avg_list.assign(CONST_SUBBAND_NUM_BINS, 0.02f);
            std::fill_n(subband.duty_avg_list.begin(), busy_bins, 1.0f);
        }
    };
    const auto reported = [this, &hold_bins](const std::vector<std::pair<float, int>>& counts,
                                             int busy_bins) {
        history.clear();
        AddVisits(counts);
        hold_bins(busy_bins);
        const bool console = Reported(Run());
        ::testing::internal::CaptureStdout();
        return console;
    };
    const std::vector<std::pair<float, int>> sixty = {{2412.0f, 20}, {2437.0f, 20}, {2462.0f, 20}};
    EXPECT_FALSE(reported(sixty, 14));  // standard: 60 < 75
    refinedtest::RulesScope scope(RuleSetId::kRefined);
    EXPECT_TRUE(reported(sixty, 14));  // 60 >= 75 * 42/56
    EXPECT_FALSE(reported(sixty, 0));  // a clear band needs the full 75
    EXPECT_FALSE(reported({{2412.0f, 19}, {2437.0f, 19}, {2462.0f, 18}}, 14));
    EXPECT_TRUE(reported({{2412.0f, 19}, {2437.0f, 19}, {2462.0f, 19}}, 14));
    // Fully held views still need half the count.
    EXPECT_FALSE(reported({{2412.0f, 12}, {2437.0f, 12}, {2462.0f, 13}}, 56));
    EXPECT_TRUE(reported({{2412.0f, 13}, {2437.0f, 13}, {2462.0f, 12}}, 56));
    // A window with no measured duty is taken as clear.
    history.clear();
    AddVisits({{2412.0f, 25}, {2437.0f, 25}, {2462.0f, 25}});
    EXPECT_DOUBLE_EQ(XboxAnalyser::ClearViewShare(history, history.begin()), 1.0);
    TakeStdout();
}

TEST_F(XboxTest, EmptyWindowPrintsZeroFeatures) {
    hoppertest::AddSubband(history, 2412.0f, 0, 100000);
    EXPECT_EQ(Run(),
              "XBOX 0 1:0 2:0 3:0 4:0 5:0 6:0 7:0 8:0 9:0 10:0 11:0\n"
              "Xbox pulse_counts 2412 0 2422 0 2437 0 2442 0 2452 0 2462 0 \n");
}

}  // namespace
