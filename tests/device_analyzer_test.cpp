#include "device_analyzer.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <ctime>

#include "host_clock.h"
#include "refined_test_support.h"
#include "temp_dir.h"
#include "temp_path.h"
#include "tessaron_main.h"
#include "ui_event_listener.h"

namespace {

constexpr long T0 = 1700000000;  // 2023-11-14 22:13:20 UTC

FixedFreqInterferer Fixed(PulseType type, float cfreq, int start, int end, float peak = 60.0f) {
    const int centre = (start + end) / 2;
    FixedFreqInterferer d({static_cast<float>(centre), static_cast<float>(start),
                           static_cast<float>(end), static_cast<float>(end - start), peak},
                          1000, 2000, cfreq, type);
    // Fixed-frequency classifiers stamp both host times with the detection instant.
    timeval now{};
    GetHostTime(&now);
    d.set_host_start_time(now);
    d.set_host_end_time(now);
    return d;
}

class DeviceAnalyzerTest : public ::testing::Test {
protected:
    void SetUp() override {
        setenv("TZ", "UTC", 1);
        tzset();
        FakeHostClock::Install(T0);
        ExternalInterface::InitSocket(listener.address());
        log_path = TestTempPath("trk_device_log.txt");
        std::remove(log_path.c_str());
        ExternalInterface::outputLogFile = log_path;
    }
    void TearDown() override { std::remove(log_path.c_str()); }

    void AddFixed(std::vector<FixedFreqInterferer> batch) {
        testing::internal::CaptureStdout();
        DeviceAnalyzer::AddNewDevices(batch);
        last_stdout = testing::internal::GetCapturedStdout();
    }
    void AddHopper(PulseType type, float rssi, int count) {
        std::vector<RssiPulse> pulses;
        testing::internal::CaptureStdout();
        DeviceAnalyzer::AddNewFhDevice(pulses, type, 100, 200, rssi, count);
        last_stdout = testing::internal::GetCapturedStdout();
    }
    void EndInactive() {
        testing::internal::CaptureStdout();
        DeviceAnalyzer::EndInactiveDevices();
        last_stdout = testing::internal::GetCapturedStdout();
    }

    UiEventListener listener;
    std::string log_path;
    std::string last_stdout;
};

TEST_F(DeviceAnalyzerTest, EmptyBatchIsIgnored) {
    AddFixed({});
    EXPECT_EQ(last_stdout, "");
    std::vector<FhInterferer> none;
    testing::internal::CaptureStdout();
    DeviceAnalyzer::AddNewDevices(none);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
    EXPECT_TRUE(listener.Drain(0).empty());
}

TEST_F(DeviceAnalyzerTest, DetectionsOfOneBatchAreMatchedOnlyAgainstEarlierRecords) {
    AddFixed({Fixed(PULSE_ANALOGPHONE, 2437, 10, 20), Fixed(PULSE_ANALOGPHONE, 2437, 10, 20)});
    ASSERT_EQ(DeviceAnalyzer::ActiveFixedDevices().size(), 2u);
    EXPECT_NE(last_stdout.find("DeviceAnalyzer: Pushing new fixed device...\n"
                               "DeviceAnalyzer: Pushing new fixed device...\n"
                               "Status: Number of active fixed devices: 2\n"
                               "Status: Number of completed fixed devices: 0\n"),
              std::string::npos);

    DeviceAnalyzer::ResetForTests();
    AddFixed({Fixed(PULSE_ANALOGPHONE, 2437, 10, 20)});
    // One record, three matching detections: it absorbs the first only; the
    // rest start records of their own.
    AddFixed({Fixed(PULSE_ANALOGPHONE, 2437, 12, 18), Fixed(PULSE_ANALOGPHONE, 2437, 15, 25),
              Fixed(PULSE_VIDEOCAM, 2452, 0, 5)});
    ASSERT_EQ(DeviceAnalyzer::ActiveFixedDevices().size(), 3u);
    EXPECT_EQ(DeviceAnalyzer::ActiveFixedDevices()[0].count_instances, 2);
    EXPECT_EQ(DeviceAnalyzer::ActiveFixedDevices()[1].start_bin_number, 15);
    EXPECT_EQ(DeviceAnalyzer::ActiveFixedDevices()[2].classification, PULSE_VIDEOCAM);
}

TEST_F(DeviceAnalyzerTest, EachRecordTakesItsFirstUntakenMatch) {
    AddFixed({Fixed(PULSE_ZIGBEE, 2437, 10, 20), Fixed(PULSE_ZIGBEE, 2437, 10, 20)});
    ASSERT_EQ(DeviceAnalyzer::ActiveFixedDevices().size(), 2u);
    AddFixed({Fixed(PULSE_ZIGBEE, 2437, 11, 12), Fixed(PULSE_ZIGBEE, 2437, 13, 14)});
    ASSERT_EQ(DeviceAnalyzer::ActiveFixedDevices().size(), 2u);
    EXPECT_EQ(DeviceAnalyzer::ActiveFixedDevices()[0].count_instances, 2);
    EXPECT_EQ(DeviceAnalyzer::ActiveFixedDevices()[1].count_instances, 2);
}

TEST_F(DeviceAnalyzerTest, HopperIsAnnouncedAtOnceAndEndedAfterFiveQuietSeconds) {
    AddHopper(PULSE_BLUETOOTH_SCO, -61.254f, 40);
    const std::string announced =
        "event: devices\r\ndata: { \"dev\": [\"1\",\"Bluetooth_Streaming\",\"1699999994\","
        "\"1700000000\",\"6\",\"-61.25\",\"0\",\"Freq Hopper\",\"1\"]}\n\n";
    EXPECT_EQ(listener.Drain(), std::vector<std::string>{announced});
    EXPECT_NE(last_stdout.find("DeviceAnalyzer: Pushing new fh device...\n"
                               "Status: Number of active fhss devices: 1\n"
                               "Status: Number of completed fhss devices: 0\n" +
                               announced + "\n"),
              std::string::npos);

    FakeHostClock::Advance(4);
    EndInactive();
    EXPECT_EQ(DeviceAnalyzer::ActiveHoppers().size(), 1u);
    EXPECT_TRUE(listener.Drain(0).empty());

    FakeHostClock::Advance(1);
    EndInactive();
    EXPECT_TRUE(DeviceAnalyzer::ActiveHoppers().empty());
    EXPECT_EQ(DeviceAnalyzer::CompletedDeviceCount(), 1);
    const std::string log_line =
        "fhss inactive gt: FreqHop: 1700000005 2023-11-14 22:13:25 108 2400 40 28 55 1699999994 "
        "1700000000 6 -61.254\n";
    EXPECT_EQ(ReadFile(log_path), log_line);
    EXPECT_EQ(last_stdout, "DeviceAnalyzer::EndInactiveDevices: 2023-11-14 22:13:25\n" + log_line +
                               "\nfile_name: " + log_path + "\n" +
                               "event: devices\r\ndata: { \"dev\": [\"0\",\"Bluetooth_Streaming\","
                               "\"1699999994\",\"0\",\"0\",\"0\",\"0\",\"0\",\"0\"]}\n\n\n");
    EXPECT_EQ(listener.Drain(),
              std::vector<std::string>{"event: devices\r\ndata: { \"dev\": [\"0\","
                                       "\"Bluetooth_Streaming\",\"1699999994\",\"0\",\"0\",\"0\","
                                       "\"0\",\"0\",\"0\"]}\n\n"});
}

TEST_F(DeviceAnalyzerTest, RepeatedHopperReportsMergeIntoOneRecord) {
    AddHopper(PULSE_FH_DEVICE, -70.0f, 10);
    FakeHostClock::Advance(3);
    AddHopper(PULSE_FHSSPHONE_HIGH, -65.0f, 20);
    ASSERT_EQ(DeviceAnalyzer::ActiveHoppers().size(), 1u);
    const FhInterferer& phone = DeviceAnalyzer::ActiveHoppers()[0];
    EXPECT_EQ(phone.classification, PULSE_FHSSPHONE_HIGH);
    EXPECT_EQ(phone.count_pulses, 30);
    EXPECT_EQ(phone.host_start_time.tv_sec, T0 - 6);
    EXPECT_EQ(phone.host_end_time.tv_sec, T0 + 3);
    const std::vector<std::string> events = listener.Drain();
    ASSERT_EQ(events.size(), 2u);
    EXPECT_EQ(events[1],
              "event: devices\r\ndata: { \"dev\": [\"1\",\"FHSS_Phone_(Handset)\",\"1699999994\","
              "\"1700000003\",\"9\",\"-65.00\",\"0\",\"Freq Hopper\",\"1\"]}\n\n");
}

TEST_F(DeviceAnalyzerTest, FixedDeviceIsAnnouncedOnceItsSpanReachesTwoSeconds) {
    AddFixed({Fixed(PULSE_MWO, 2437, 0, 55, 48.5f)});
    EXPECT_NE(last_stdout.find("Not sending active/completed device as GetHostDuration 0 < 2\n"),
              std::string::npos);
    FakeHostClock::Advance(1);
    AddFixed({Fixed(PULSE_UNK_HIGHDUTY, 2412, 3, 9)});
    EXPECT_TRUE(listener.Drain(0).empty());
    FakeHostClock::Advance(1);
    AddFixed({Fixed(PULSE_MWO, 2462, 0, 55)});
    ASSERT_EQ(DeviceAnalyzer::ActiveFixedDevices().size(), 1u);
    EXPECT_EQ(DeviceAnalyzer::ActiveFixedDevices()[0].count_instances, 3);
    EXPECT_EQ(listener.Drain(),
              std::vector<std::string>{
                  "event: devices\r\ndata: { \"dev\": [\"1\",\"Microwave_Oven\",\"1700000000\","
                  "\"1700000002\",\"2\",\"-48.50\",\"2437.00\",\"0,27,55\",\"1\"]}\n\n"});
}

// Refined: an analog phone's carrier at 2447 MHz seen from the 2442 and the
// 2452 MHz views in one pass is confirmed: it is shown at once, and its end
// is announced although it lasted under 2 host seconds. A band seen three
// times but only from one view (a burst of traffic during one visit looks
// the same) still waits for a later pass.
TEST_F(DeviceAnalyzerTest, RefinedShowsAFixedDeviceSeenFromTwoViewsInOnePass) {
    refinedtest::RulesScope refined(RuleSetId::kRefined);
    FixedFreqInterferer phone = Fixed(PULSE_ANALOGPHONE, 2442, 14, 16, 55.0f);
    phone.UpdateDeviceInfo(Fixed(PULSE_ANALOGPHONE, 2452, 0, 2, 57.0f));
    FixedFreqInterferer burst = Fixed(PULSE_UNK_HIGHDUTY, 2462, 30, 42);
    burst.UpdateDeviceInfo(Fixed(PULSE_UNK_HIGHDUTY, 2462, 30, 42));
    burst.UpdateDeviceInfo(Fixed(PULSE_UNK_HIGHDUTY, 2462, 31, 42));
    AddFixed({phone, burst});
    EXPECT_EQ(listener.Drain(),
              std::vector<std::string>{
                  "event: devices\r\ndata: { \"dev\": [\"1\",\"Analog_Phone\",\"1700000000\","
                  "\"1700000000\",\"0\",\"-55.00\",\"2442.00\",\"14,15,16\",\"1\"]}\n\n"});
    FakeHostClock::Advance(5);
    EndInactive();
    EXPECT_EQ(ReadFile(log_path),
              "fixed inactive gt: Fixed: 1700000005 2023-11-14 22:13:25 1 2442 14 15 16 1700000000 "
              "1700000000 0 -55\n");
    const std::vector<std::string> ended = listener.Drain();
    ASSERT_EQ(ended.size(), 1u);
    EXPECT_NE(ended[0].find("[\"0\",\"Analog_Phone\""), std::string::npos);
}

TEST_F(DeviceAnalyzerTest, AnnouncementIndexSkipsShortLivedDevices) {
    AddFixed({Fixed(PULSE_ANALOGPHONE, 2412, 0, 5)});
    FakeHostClock::Advance(2);
    AddFixed({Fixed(PULSE_VIDEOCAM, 2462, 40, 50), Fixed(PULSE_ANALOGPHONE, 2412, 0, 5)});
    const std::vector<std::string> events = listener.Drain();
    ASSERT_EQ(events.size(), 1u);
    EXPECT_NE(events[0].find("[\"1\",\"Analog_Phone\""), std::string::npos);
    FakeHostClock::Advance(2);
    AddFixed({Fixed(PULSE_VIDEOCAM, 2462, 40, 50)});
    const std::vector<std::string> again = listener.Drain();
    ASSERT_EQ(again.size(), 2u);
    EXPECT_NE(again[1].find("[\"2\",\"Video_Camera\""), std::string::npos);
}

TEST_F(DeviceAnalyzerTest, ShortLivedFixedDeviceEndsQuietly) {
    AddFixed({Fixed(PULSE_ZIGBEE, 2437, 10, 20, 77.0f)});
    listener.Drain(0);
    FakeHostClock::Advance(5);
    EndInactive();
    EXPECT_EQ(last_stdout,
              "DeviceAnalyzer::EndInactiveDevices: 2023-11-14 22:13:25\n"
              "Not sending active/completed device as GetHostDuration 0 < 2\n"
              "fixed inactive lt: Fixed: 1700000005 2023-11-14 22:13:25 2 2437 10 15 20 "
              "1700000000 1700000000 0 -77\n\n");
    EXPECT_TRUE(listener.Drain(0).empty());
    EXPECT_EQ(ReadFile(log_path), "");
    EXPECT_EQ(DeviceAnalyzer::CompletedDeviceCount(), 1);
    EXPECT_TRUE(DeviceAnalyzer::ActiveFixedDevices().empty());
}

TEST_F(DeviceAnalyzerTest, LongLivedFixedDeviceIsLoggedAndAnnouncedAsEnded) {
    AddFixed({Fixed(PULSE_VIDEOCAM, 2442, 5, 12, 66.0f)});
    FakeHostClock::Advance(3);
    AddFixed({Fixed(PULSE_VIDEOCAM, 2442, 5, 12, 66.0f)});
    AddHopper(PULSE_BLUETOOTH, -80.0f, 12);
    listener.Drain();
    FakeHostClock::Advance(5);
    EndInactive();
    EXPECT_EQ(ReadFile(log_path),
              "fixed inactive gt: Fixed: 1700000008 2023-11-14 22:13:28 3 2442 5 8 12 1700000000 "
              "1700000003 3 -66\n"
              "fhss inactive gt: FreqHop: 1700000008 2023-11-14 22:13:28 107 2400 12 28 55 "
              "1699999997 1700000003 6 -80\n");
    const std::vector<std::string> events = listener.Drain();
    ASSERT_EQ(events.size(), 2u);
    EXPECT_EQ(events[0],
              "event: devices\r\ndata: { \"dev\": [\"0\",\"Video_Camera\",\"1700000000\",\"0\","
              "\"0\",\"0\",\"0\",\"0\",\"0\"]}\n\n");
    EXPECT_NE(events[1].find("\"Bluetooth\",\"1699999997\""), std::string::npos);

    testing::internal::CaptureStdout();
    DeviceAnalyzer::PrintDeviceStatus();
    EXPECT_EQ(testing::internal::GetCapturedStdout(),
              "Status: Number of active fixed devices: 0\n"
              "Status: Number of completed fixed devices: 1\n"
              "Status: Number of active fhss devices: 0\n"
              "Status: Number of completed fhss devices: 1\n");
}

TEST_F(DeviceAnalyzerTest, FilterListMapsTrackedBandsToTheWholeBandFrame) {
    AddFixed({Fixed(PULSE_ZIGBEE, 2412, 0, 4), Fixed(PULSE_ANALOGPHONE, 2437, 10, 20),
              Fixed(PULSE_MWO, 2462, 0, 55)});
    std::vector<std::pair<int, int>> filters = {{1, 1}};
    testing::internal::CaptureStdout();
    DeviceAnalyzer::ObtainFilterList(filters, true);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "1: 90 100\n2: 160 215\n");
    EXPECT_EQ(filters, (std::vector<std::pair<int, int>>{{90, 100}, {160, 215}}));
    testing::internal::CaptureStdout();
    DeviceAnalyzer::ObtainFilterList(filters, false);
    testing::internal::GetCapturedStdout();
    EXPECT_EQ(filters, (std::vector<std::pair<int, int>>{{0, 4}, {90, 100}, {160, 215}}));
}

TEST_F(DeviceAnalyzerTest, HighDutyActivityOnlyForAnalogPhonesAndCameras) {
    AddFixed({Fixed(PULSE_MWO, 2437, 10, 20)});
    EXPECT_FALSE(DeviceAnalyzer::IsHighDeviceActivity(2412, 100));
    DeviceAnalyzer::ResetForTests();
    AddFixed({Fixed(PULSE_VIDEOCAM, 2437, 10, 20)});
    EXPECT_TRUE(DeviceAnalyzer::IsHighDeviceActivity(2412, 100));
    EXPECT_TRUE(DeviceAnalyzer::IsHighDeviceActivity(2412, 90));
    EXPECT_FALSE(DeviceAnalyzer::IsHighDeviceActivity(2412, 101));
    EXPECT_TRUE(DeviceAnalyzer::IsHighDeviceActivity(2437, 15));
    // Seen from 2442 MHz the camera sits 16 bins lower.
    EXPECT_TRUE(DeviceAnalyzer::IsHighDeviceActivity(2442, 0));
    EXPECT_FALSE(DeviceAnalyzer::IsHighDeviceActivity(2442, 5));
}

}  // namespace
