#include "access_point.h"

#include <gtest/gtest.h>

#include "pipeline_class_module.h"

namespace {

AccessPoint MakeAp() {
    return AccessPoint("00:11:22:33:44:55", 777, "sensor");
}

void FillHistory(AccessPoint& ap, int count) {
    for (int i = 0; i < count; i++) {
        ap.AddNewSubband(&ap, static_cast<u64>(i), 2437.0f, 95.0f, 0);
    }
}

}  // namespace

TEST(AccessPointHistory, CurrentSubbandFollowsAddAndRemove) {
    AccessPoint ap = MakeAp();
    ap.AddNewSubband(&ap, 100, 2412.0f, 95.0f, 0);
    SubBand& first = ap.GetCurrentSubband();
    ap.AddNewSubband(&ap, 200, 2437.0f, 95.0f, 0);
    EXPECT_EQ(ap.GetCurrentSubband().start_time, 200u);
    EXPECT_EQ(ap.GetCurrentSubband().parent, &ap);
    // Built in place: the back pointers a subband hands out point at it.
    SubBand& current = ap.GetCurrentSubband();
    EXPECT_EQ(current.drift_analyser.parent, &current);

    ap.RemoveLastSubband();
    EXPECT_EQ(&ap.GetCurrentSubband(), &first) << "earlier subbands stay where they were";
    ap.RemoveLastSubband();
    EXPECT_TRUE(ap.completed_sub_bands_list.empty());
    ap.RemoveLastSubband();  // nothing left: no effect
    EXPECT_TRUE(ap.completed_sub_bands_list.empty());
}

TEST(AccessPointHistory, TrimsOldestBlockOnlyPastTwiceTheHistory) {
    AccessPoint ap = MakeAp();
    FillHistory(ap, 2 * CONST_NUM_SUBBANDS_HISTORY);
    ap.UpdateApState();
    EXPECT_EQ(ap.completed_sub_bands_list.size(), 240u);

    ap.AddNewSubband(&ap, 240, 2437.0f, 95.0f, 0);
    ap.UpdateApState();
    ASSERT_EQ(ap.completed_sub_bands_list.size(), 121u);
    EXPECT_EQ(ap.completed_sub_bands_list.front().start_time, 120u);
    EXPECT_EQ(ap.GetCurrentSubband().start_time, 240u);
}

TEST(AccessPointCycles, SingleChannelCountsEverySubbandAndWrapsAfter1200) {
    ASSERT_EQ(CONST_OPERATION_MODE, CONST_OP_MODE_SC);
    AccessPoint ap = MakeAp();
    ap.IncrementCycleCount();
    EXPECT_EQ(ap.GetCycleCount(), 1u);
    EXPECT_EQ(ap.GetSubbandCount(), 0u);
    for (int i = 1; i < 1200; i++) {
        ap.IncrementCycleCount();
    }
    EXPECT_EQ(ap.GetCycleCount(), 1200u);
    ap.IncrementCycleCount();
    EXPECT_EQ(ap.GetCycleCount(), 1u);
    EXPECT_EQ(ap.GetSubbandCount(), 0u);
}

TEST(AccessPointCycles, ScanModeCountsSixSubbandsPerCycle) {
    AccessPoint ap = MakeAp();
    for (u64 i = 1; i <= 5; i++) {
        ap.AdvanceCycleCount(CONST_NUM_SUBBANDS_PER_CYCLE);
        EXPECT_EQ(ap.GetSubbandCount(), i);
        EXPECT_EQ(ap.GetCycleCount(), 0u);
    }
    ap.AdvanceCycleCount(CONST_NUM_SUBBANDS_PER_CYCLE);
    EXPECT_EQ(ap.GetSubbandCount(), 0u);
    EXPECT_EQ(ap.GetCycleCount(), 1u);
    for (int i = 0; i < 6 * 1199; i++) {
        ap.AdvanceCycleCount(CONST_NUM_SUBBANDS_PER_CYCLE);
    }
    EXPECT_EQ(ap.GetCycleCount(), 1200u);
    for (int i = 0; i < 6; i++) {
        ap.AdvanceCycleCount(CONST_NUM_SUBBANDS_PER_CYCLE);
    }
    EXPECT_EQ(ap.GetCycleCount(), 1u) << "wraps at 1200 in scan mode too";
}

TEST(AccessPointCycles, ZeroSubbandsPerCycleCountsLikeOne) {
    AccessPoint ap = MakeAp();
    ap.AdvanceCycleCount(0);
    EXPECT_EQ(ap.GetCycleCount(), 1u);
    EXPECT_EQ(ap.GetSubbandCount(), 0u);
}
