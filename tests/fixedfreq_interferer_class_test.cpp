#include "fixedfreq_interferer_class.h"

#include <gtest/gtest.h>

#include "record_log_line.h"

namespace {

FixedFreqInterferer Fixed(PulseType type, float cfreq, int start, int end, float peak = 60.0f) {
    const float centre = (start + end) / 2.0f;
    return FixedFreqInterferer({centre, static_cast<float>(start), static_cast<float>(end),
                                static_cast<float>(end - start), peak},
                               1000, 2000, cfreq, type);
}

// Matching prints its reasoning; the tests look only at the verdicts.
bool Matches(const FixedFreqInterferer& record, const FixedFreqInterferer& instance) {
    testing::internal::CaptureStdout();
    const bool match = record.IsMatchingInterferer(instance);
    testing::internal::GetCapturedStdout();
    return match;
}

TEST(FixedFreqInterfererTest, ConstructorTruncatesBinsAndStartsOneInstance) {
    FixedFreqInterferer d({27.9f, 3.99f, 50.5f, 46.6f, 71.25f}, 10, 20, 2442.0f, PULSE_ANALOGPHONE);
    EXPECT_EQ(d.center_bin_number, 27);
    EXPECT_EQ(d.start_bin_number, 3);
    EXPECT_EQ(d.end_bin_number, 50);
    EXPECT_FLOAT_EQ(d.bandwidth, 46.6f);
    EXPECT_FLOAT_EQ(d.peak_rssi, 71.25f);
    EXPECT_EQ(d.count_instances, 1);
    EXPECT_FLOAT_EQ(d.band_cfreq, 2442.0f);
}

TEST(FixedFreqInterfererTest, ShortInformationListIsNotReadPastItsEnd) {
    testing::internal::CaptureStderr();
    FixedFreqInterferer d({12.0f, 10.0f}, 10, 20, 2437.0f, PULSE_ZIGBEE);
    EXPECT_NE(testing::internal::GetCapturedStderr().find("Warning"), std::string::npos);
    EXPECT_EQ(d.center_bin_number, 12);
    EXPECT_EQ(d.start_bin_number, 10);
    EXPECT_EQ(d.end_bin_number, 0);
    EXPECT_FLOAT_EQ(d.peak_rssi, 0.0f);
}

TEST(FixedFreqInterfererTest, MicrowaveMatchesAnyOvenOrUnnamedHighDutyOnTheBand) {
    const FixedFreqInterferer oven = Fixed(PULSE_MWO, 2412.0f, 0, 55);
    EXPECT_TRUE(Matches(oven, Fixed(PULSE_MWO, 2462.0f, 0, 3)));
    EXPECT_TRUE(Matches(oven, Fixed(PULSE_UNK_HIGHDUTY, 2462.0f, 50, 55)));
    EXPECT_FALSE(Matches(oven, Fixed(PULSE_VIDEOCAM, 2412.0f, 0, 55)));
}

TEST(FixedFreqInterfererTest, BinsAreComparedInTheRecordsFrame) {
    struct Case {
        FixedFreqInterferer record, detection;
        bool match;
        const char* why;
    };
    const FixedFreqInterferer cam = Fixed(PULSE_VIDEOCAM, 2437.0f, 20, 30);
    const FixedFreqInterferer phone = Fixed(PULSE_ANALOGPHONE, 2422.0f, 50, 55);
    const Case cases[] = {
        {cam, Fixed(PULSE_UNK_HIGHDUTY, 2442.0f, 5, 12), true, "5 MHz up: 5..12 is 21..28"},
        {cam, Fixed(PULSE_UNK_HIGHDUTY, 2462.0f, 0, 55), false, "25 MHz apart"},
        {cam, Fixed(PULSE_VIDEOCAM, 2442.0f, 5, 15), true, "21..31: the start end inside"},
        {cam, Fixed(PULSE_VIDEOCAM, 2442.0f, 0, 2), false, "16..18: wholly below"},
        {Fixed(PULSE_VIDEOCAM, 2437.0f, 20, 22), Fixed(PULSE_VIDEOCAM, 2442.0f, 0, 10), false,
         "encloses the record without an end inside it"},
        {Fixed(PULSE_ANALOGPHONE, 2442.0f, 5, 12), Fixed(PULSE_ANALOGPHONE, 2437.0f, 20, 25), true,
         "moving down: 20..25 is 4..9"},
        {cam, Fixed(PULSE_ANALOGPHONE, 2437.0f, 20, 30), false, "another class than a camera"},
        {phone, Fixed(PULSE_ANALOGPHONE, 2437.0f, 0, 5), true, "15 MHz is 48 bins: 48..53"},
        {phone, Fixed(PULSE_ANALOGPHONE, 2437.0f, 10, 20), false, "15 MHz: 58..68"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(Matches(c.record, c.detection), c.match) << c.why;
    }
}

TEST(FixedFreqInterfererTest, SameSubbandNeedsOverlappingRanges) {
    const FixedFreqInterferer zig = Fixed(PULSE_ZIGBEE, 2437.0f, 10, 20);
    EXPECT_TRUE(Matches(zig, Fixed(PULSE_ZIGBEE, 2437.0f, 20, 30)));
    EXPECT_TRUE(Matches(zig, Fixed(PULSE_ZIGBEE, 2437.0f, 0, 10)));
    EXPECT_FALSE(Matches(zig, Fixed(PULSE_ZIGBEE, 2437.0f, 21, 30)));
    testing::internal::CaptureStdout();
    zig.IsMatchingInterferer(Fixed(PULSE_ZIGBEE, 2437.0f, 21, 31));
    EXPECT_EQ(testing::internal::GetCapturedStdout(),
              "2437 2437FixedFreqInterferer::IsMatchingInterferer Classification false4: 15 other "
              "26\n");
}

TEST(FixedFreqInterfererTest, UnnamedHighDutyConfirmsWithoutRenaming) {
    FixedFreqInterferer cam = Fixed(PULSE_VIDEOCAM, 2437.0f, 20, 30);
    cam.UpdateInterfererInstance(Fixed(PULSE_UNK_HIGHDUTY, 2442.0f, 5, 12));
    EXPECT_EQ(cam.classification, PULSE_VIDEOCAM);
    FixedFreqInterferer unknown = Fixed(PULSE_UNK_HIGHDUTY, 2437.0f, 20, 30);
    unknown.UpdateInterfererInstance(Fixed(PULSE_ANALOGPHONE, 2437.0f, 20, 30));
    EXPECT_EQ(unknown.classification, PULSE_ANALOGPHONE);
}

TEST(FixedFreqInterfererTest, MergeWidensSpansAndKeepsTheStrongestSighting) {
    FixedFreqInterferer record = Fixed(PULSE_ANALOGPHONE, 2437.0f, 20, 30, 70.0f);
    record.set_host_start_time({100, 0});
    record.set_host_end_time({100, 0});
    FixedFreqInterferer stronger({8, 5, 12, 7, 55.0f}, 500, 1500, 2442.0f, PULSE_ANALOGPHONE);
    stronger.set_host_start_time({99, 5});
    stronger.set_host_end_time({103, 0});

    testing::internal::CaptureStdout();
    record.UpdateDeviceInfo(stronger);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "UpdateDeviceInfo: 70 55\n");
    EXPECT_EQ(record.start_time, 500u);
    EXPECT_EQ(record.end_time, 2000u);
    EXPECT_EQ(record.count_instances, 2);
    EXPECT_EQ(record.host_start_time.tv_sec, 99);
    EXPECT_EQ(record.GetHostDuration(), 4);
    EXPECT_FLOAT_EQ(record.peak_rssi, 55.0f);
    EXPECT_FLOAT_EQ(record.band_cfreq, 2442.0f);
    EXPECT_EQ(record.start_bin_number, 5);
    EXPECT_EQ(record.center_bin_number, 8);
    EXPECT_EQ(record.end_bin_number, 12);

    // A weaker sighting confirms the device but leaves its description.
    FixedFreqInterferer weaker = Fixed(PULSE_ANALOGPHONE, 2437.0f, 18, 33, 80.0f);
    weaker.set_host_start_time({104, 0});
    weaker.set_host_end_time({104, 0});
    testing::internal::CaptureStdout();
    record.UpdateDeviceInfo(weaker);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
    EXPECT_EQ(record.count_instances, 3);
    EXPECT_FLOAT_EQ(record.peak_rssi, 55.0f);
    EXPECT_FLOAT_EQ(record.band_cfreq, 2442.0f);
    EXPECT_EQ(record.host_end_time.tv_sec, 104);
}

TEST(FixedFreqInterfererTest, LogLineLayout) {
    const FixedFreqInterferer cam({25, 20, 30, 10, 62.5f}, 1, 2, 2437.0f, PULSE_VIDEOCAM);
    EXPECT_EQ(LogLineAt({1700000000, 999999}, cam, 1699999990, 1699999997),
              "Fixed: 1700000000 2023-11-14 22:13:20 3 2437 20 25 30 1699999990 1699999997 7 "
              "-62.5\n");
}

}  // namespace
