#include "event_sink.h"

#include <gtest/gtest.h>

#include <vector>

#include "device_analyzer.h"
#include "event_records.h"
#include "host_clock.h"
#include "ui_event_listener.h"
#include "ui_event_text.h"

namespace {

// Keeps every report, in arrival order, as the UI text it would become.
class RecordingSink : public EventSink {
public:
    void OnDevice(const DeviceEventRecord& device) override {
        devices.push_back(device);
        texts.push_back(DeviceEventText(device));
    }
    void OnChannelSpectrum(const ChannelSpectrumRecord& spectrum) override {
        texts.push_back(ChannelEventText(spectrum));
    }
    void OnChannelUtilisation(const ChannelUtilisationRecord& survey) override {
        texts.push_back(ChannelUtilEventText(survey));
    }
    void OnLogLine(const std::string& line) override { log_lines.push_back(line); }

    std::vector<DeviceEventRecord> devices;
    std::vector<std::string> texts;
    std::vector<std::string> log_lines;
};

TEST(EventSinksTest, EveryInstalledSinkHearsEachReportOnce) {
    RecordingSink first, second;
    {
        ScopedEventSink a(&first);
        ScopedEventSink b(&second);
        EventSinks::Install(&first);  // already installed: no second copy
        EXPECT_EQ(EventSinks::Count(), 2u);
        EventSinks::ReportLogLine("one");
        EventSinks::ReportChannelUtilisation({"noise -95\n", 7});
    }
    EXPECT_EQ(EventSinks::Count(), 0u);
    EventSinks::ReportLogLine("nobody hears this");
    for (const RecordingSink* sink : {&first, &second}) {
        EXPECT_EQ(sink->log_lines, std::vector<std::string>{"one"});
        EXPECT_EQ(sink->texts,
                  std::vector<std::string>{"event: channel_util_info\r\ndata: { "
                                           "\"channel_util_str\": \"noise -95\", \"timestamp\": "
                                           "7}\r\n\n"});
    }
}

TEST(EventSinksTest, ChannelTextTruncatesEachBin) {
    const float bins[3] = {60.9f, 0.2f, 75.0f};
    ChannelSpectrumRecord spectrum = SpectrumRecord(2437.0f, 0, bins, 3);
    spectrum.card_time_us = 42;
    EXPECT_EQ(
        ChannelEventText(spectrum),
        "event: channel\r\ndata:{ \"ch\": [60,0,75],\"timestamp\":42,\"freq\": 2437.00}\r\n\n");
}

class TrackerReportTest : public ::testing::Test {
protected:
    void SetUp() override { FakeHostClock::Install(1700000000); }
    RecordingSink sink;
    ScopedEventSink installed{&sink};
};

TEST_F(TrackerReportTest, HopperIsAnnouncedLoggedAndEndedThroughTheSinks) {
    std::vector<RssiPulse> no_pulses;
    testing::internal::CaptureStdout();
    DeviceAnalyzer::AddNewFhDevice(no_pulses, PULSE_BLUETOOTH_SCO, 0, 1000, -60.5f, 30);
    FakeHostClock::Set(1700000010);
    DeviceAnalyzer::EndInactiveDevices();
    const std::string out = testing::internal::GetCapturedStdout();

    ASSERT_EQ(sink.devices.size(), 2u);
    const DeviceEventRecord& active = sink.devices[0];
    EXPECT_EQ(active.kind, DeviceEventRecord::Kind::Active);
    EXPECT_TRUE(active.hopper);
    EXPECT_EQ(active.index, 1);
    EXPECT_EQ(active.first_seen_s, 1700000000 - 6);
    EXPECT_EQ(active.duration_s, 6);
    EXPECT_FLOAT_EQ(active.power_dbm, -60.5f);
    EXPECT_EQ(sink.devices[1].kind, DeviceEventRecord::Kind::Ended);
    EXPECT_EQ(sink.devices[1].first_seen_s, 1700000000 - 6);
    ASSERT_EQ(sink.log_lines.size(), 1u);
    EXPECT_EQ(sink.log_lines[0].rfind("fhss inactive gt: ", 0), 0u);
    // The tracker still prints each event text on stdout.
    for (const std::string& text : sink.texts) {
        EXPECT_NE(out.find(text + "\n"), std::string::npos) << text;
    }
    EXPECT_TRUE(DeviceAnalyzer::ActiveDevices().empty());
}

TEST_F(TrackerReportTest, QueryListsTrackedDevicesWithoutAnnouncingThem) {
    std::vector<RssiPulse> no_pulses;
    testing::internal::CaptureStdout();
    DeviceAnalyzer::AddNewFhDevice(no_pulses, PULSE_XBOX, 0, 1000, -70.0f, 80);
    testing::internal::GetCapturedStdout();
    const size_t reported = sink.devices.size();
    const std::vector<DeviceEventRecord> active = DeviceAnalyzer::ActiveDevices();
    ASSERT_EQ(active.size(), 1u);
    EXPECT_EQ(DeviceAnalyzer::ActiveDeviceCount(), 1u);
    EXPECT_EQ(active[0].classification, PULSE_XBOX);
    EXPECT_EQ(active[0].last_seen_s, 1700000000);
    EXPECT_EQ(sink.devices.size(), reported);
}

}  // namespace
