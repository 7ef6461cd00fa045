// The daemon's own event builders against the UI server's reader: whatever
// the tracker, the channel average and the survey step send must be taken in.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "channel_visit.h"
#include "device_analyzer.h"
#include "host_clock.h"
#include "tessaron_main.h"
#include "ui_event_listener.h"
#include "ui_event_text.h"
#include "ui_state.h"

namespace tessaron_ui {
namespace {

class DaemonTextsTest : public ::testing::Test {
protected:
    void SetUp() override {
        DeviceAnalyzer::ResetForTests();
        ExternalInterface::ResetForTests();
        SetHostClock(FakeHostClock::Read);
        FakeHostClock::Set(1700000000);
        ExternalInterface::InitSocket(listener_.address());
        ChannelVisit::Reset();
    }
    void TearDown() override {
        DeviceAnalyzer::ResetForTests();
        ExternalInterface::ResetForTests();
        ResetHostClock();
    }

    static std::vector<FixedFreqInterferer> Microwave() {
        FixedFreqInterferer mwo({28, 0, 55, 55, 40}, 0, 10, 2437.0f, PULSE_MWO);
        timeval now;
        GetHostTime(&now);
        mwo.set_host_start_time(now);
        mwo.set_host_end_time(now);
        return {mwo};
    }

    UiEventListener listener_;
};

TEST_F(DaemonTextsTest, EveryEventTheDaemonSendsIsReadAndRelayed) {
    std::vector<RssiPulse> no_pulses;
    DeviceAnalyzer::AddNewFhDevice(no_pulses, PULSE_BLUETOOTH_SCO, 0, 1000, -60.5f, 30);
    auto batch = Microwave();
    DeviceAnalyzer::AddNewDevices(batch);
    FakeHostClock::Advance(3);
    batch = Microwave();
    DeviceAnalyzer::AddNewDevices(batch);  // span 3 s: announced
    FakeHostClock::Advance(10);
    DeviceAnalyzer::EndInactiveDevices();
    // The survey of a visit goes out after its scan, the visit's spectrum when
    // the next channel's first sample arrives.
    ExternalInterface::SendData(
        ChannelUtilEventText({"noise -95\n\"busy\": 12\nrx 3\n", 1700000013}));
    ExternalInterface::SendData(ChannelEventText(ChannelVisit::Spectrum(123456, 2437.0f)));

    const std::vector<std::string> texts = listener_.Drain();
    ASSERT_EQ(6u, texts.size());
    UiState state;
    for (const std::string& text : texts) {
        UiEvent event;
        std::string error;
        ASSERT_TRUE(ParseUiEvent(text, &event, &error)) << error << " in: " << text;
        event.sensor = "local";
        state.Apply(event, 1000);
        // The records read from the texts make JSON that reads back the same.
        if (event.type == UiEventKind::Device) {
            UiEvent back;
            ASSERT_TRUE(
                ParseEventJson(DeviceEventJson(event.device, {"local", {1, 0}}), &back, &error))
                << error;
            EXPECT_EQ(back.device.classification, event.device.classification);
            EXPECT_EQ(back.device.end_bin, event.device.end_bin);
        }
    }
    const auto devices = state.Devices(1000);
    ASSERT_EQ(2u, devices.size());
    for (const DeviceRecord& d : devices) {
        EXPECT_TRUE(d.ended && d.end_announced) << d.ClassName();
    }
    const DeviceRecord& bt = devices[0].hopper ? devices[0] : devices[1];
    const DeviceRecord& mwo = devices[0].hopper ? devices[1] : devices[0];
    EXPECT_EQ("Bluetooth_Streaming", bt.ClassName());
    EXPECT_EQ(1700000000 - 6, bt.first_seen);
    EXPECT_DOUBLE_EQ(-60.5, bt.power_dbm);
    EXPECT_EQ("Microwave_Oven", mwo.ClassName());
    EXPECT_DOUBLE_EQ(2437.0, mwo.freq_mhz);
    EXPECT_EQ(3, mwo.duration);
    EXPECT_EQ(28, mwo.centre_bin);
    EXPECT_DOUBLE_EQ(-40.0, mwo.power_dbm);

    const auto channels = state.Channels();
    ASSERT_EQ(1u, channels.size());
    EXPECT_EQ(123456u, channels[0].mac_time);
    ASSERT_TRUE(channels[0].has_util);
    EXPECT_EQ("noise -95\n\"busy\": 12\nrx 3", channels[0].util.text);
}

}  // namespace
}  // namespace tessaron_ui
