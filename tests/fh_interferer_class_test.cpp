#include "fh_interferer_class.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>

#include "host_clock.h"
#include "record_log_line.h"
#include "ui_event_listener.h"

namespace {

std::vector<RssiPulse> Pulses(int n) {
    std::vector<float> rssi(56, 90.0f);
    std::vector<RssiPulse> pulses;
    for (int i = 0; i < n; ++i) {
        pulses.emplace_back(1000 + i, 2437.0f, 10, 12, 11, rssi, nullptr);
    }
    return pulses;
}

FhInterferer Hopper(PulseType type, u64 start = 1000, u64 end = 2000, float rssi = -60.0f,
                    int count = 30) {
    return FhInterferer(Pulses(2), type, start, end, rssi, count);
}

class FhInterfererTest : public ::testing::Test {
protected:
    void SetUp() override {
        setenv("TZ", "UTC", 1);
        tzset();
        SetHostClock(FakeHostClock::Read);
    }
};

TEST_F(FhInterfererTest, MatchesOnClassificationOnly) {
    FhInterferer bt = Hopper(PULSE_BLUETOOTH);
    FhInterferer sco = Hopper(PULSE_BLUETOOTH_SCO);
    FhInterferer bt_again = Hopper(PULSE_BLUETOOTH, 900000, 990000, -80.0f, 3);
    testing::internal::CaptureStdout();
    EXPECT_FALSE(bt.IsMatchingInterferer(sco));
    EXPECT_TRUE(bt.IsMatchingInterferer(bt_again));
    const std::string out = testing::internal::GetCapturedStdout();
    EXPECT_EQ(out,
              "my classification: 107 new classification: 108\n"
              "FhInterferer::IsMatchingInterferer false: no classification match...\n"
              "my classification: 107 new classification: 107\n");
}

TEST_F(FhInterfererTest, GenericHopperAndHandsetAreOnePhone) {
    FhInterferer generic = Hopper(PULSE_FH_DEVICE);
    FhInterferer handset = Hopper(PULSE_FHSSPHONE_HIGH);
    FhInterferer unknown = Hopper(PULSE_UNK_FH);
    testing::internal::CaptureStdout();
    EXPECT_TRUE(generic.IsMatchingInterferer(handset));
    EXPECT_TRUE(handset.IsMatchingInterferer(generic));
    EXPECT_FALSE(generic.IsMatchingInterferer(unknown));
    testing::internal::GetCapturedStdout();

    FhInterferer merged_generic = generic;
    merged_generic.UpdateInterfererInstance(handset);
    EXPECT_EQ(merged_generic.classification, PULSE_FHSSPHONE_HIGH);

    FhInterferer merged_handset = handset;
    merged_handset.UpdateInterfererInstance(generic);
    EXPECT_EQ(merged_handset.classification, PULSE_FHSSPHONE_HIGH);
}

TEST_F(FhInterfererTest, MergeWidensSpansSumsPulsesAndKeepsLatestPower) {
    FhInterferer record = Hopper(PULSE_BLUETOOTH, 5000, 8000, -60.0f, 30);
    record.set_host_start_time({100, 500});
    record.set_host_end_time({106, 0});
    FhInterferer instance = Hopper(PULSE_BLUETOOTH, 3000, 7000, -72.5f, 12);
    instance.set_host_start_time({100, 200});
    instance.set_host_end_time({110, 1});

    record.UpdateInterfererInstance(instance);
    EXPECT_EQ(record.start_time, 3000u);
    EXPECT_EQ(record.end_time, 8000u);
    EXPECT_EQ(record.count_pulses, 42);
    EXPECT_FLOAT_EQ(record.device_rssi, -72.5f);
    EXPECT_EQ(record.pulse_list.size(), 4u);
    EXPECT_EQ(record.host_start_time.tv_sec, 100);
    EXPECT_EQ(record.host_start_time.tv_usec, 200);
    EXPECT_EQ(record.host_end_time.tv_sec, 110);
    EXPECT_EQ(record.GetHostDuration(), 10);
}

TEST_F(FhInterfererTest, HostDurationCountsWholeSeconds) {
    FhInterferer record = Hopper(PULSE_UNK_FH);
    record.set_host_start_time({100, 900000});
    record.set_host_end_time({101, 100000});
    EXPECT_EQ(record.GetHostDuration(), 1);
    EXPECT_FLOAT_EQ(record.average_slot_start_time, 0.0f);
}

TEST_F(FhInterfererTest, LogLineLayout) {
    EXPECT_EQ(LogLineAt({1700000000, 123}, Hopper(PULSE_BLUETOOTH_SCO, 1, 2, -62.5f, 30),
                        1699999994, 1700000000),
              "FreqHop: 1700000000 2023-11-14 22:13:20 108 2400 30 28 55 1699999994 1700000000 6 "
              "-62.5\n");
}

}  // namespace
