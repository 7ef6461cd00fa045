#include "service_signals.h"

#include <gtest/gtest.h>

#include "device_analyzer.h"

namespace {

FhInterferer Hopper(PulseType type) {
    return FhInterferer({}, type, 1000, 2000, -60.0f, 10);
}

}  // namespace

TEST(ServiceSignals, StatusLineCountsDevicesByClass) {
    DatagramCounters counters;
    counters.samples = 1400;
    counters.used = 100;
    counters.wrong_size = 2;
    counters.bad_count = 1;
    counters.off_centre = 5;
    EXPECT_EQ(FormatStatusLine(61, counters),
              "Status: up 61 s, 1400 samples, 100 datagrams, active devices: none, dropped: 2 "
              "wrong-sized, 1 bad sample count, 5 off-centre samples\n");

    std::vector<FhInterferer> batch = {Hopper(PULSE_BLUETOOTH_SCO), Hopper(PULSE_FHSSPHONE_LOW),
                                       Hopper(PULSE_BLUETOOTH_SCO)};
    DeviceAnalyzer::AddNewDevices(batch);
    const std::string line = FormatStatusLine(0, DatagramCounters{});
    EXPECT_NE(line.find("active devices: 2 Bluetooth_Streaming, 1 FHSS_Phone, dropped"),
              std::string::npos)
        << line;
}
