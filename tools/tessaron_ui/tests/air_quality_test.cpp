#include "air_quality.h"

#include <gtest/gtest.h>

namespace tessaron_ui {
namespace {

Interferer Fixed(double low, double high, double power, double duty) {
    return Interferer{PULSE_MWO, false, low, high, power, duty};
}

Interferer Hopper(double power, double duty) {
    return Interferer{PULSE_BLUETOOTH, true, 0.0, 0.0, power, duty};
}

TEST(AirQuality, CleanAirAndTheTwoWaysALinkLoses) {
    for (int ch = kFirstWifiChannel; ch <= kLastWifiChannel; ++ch) {
        EXPECT_EQ(AssessChannel(ch, {}).quality, 100);
    }
    // A continuous carrier above energy detect takes all of channel 6's air,
    // and none of channels 1 and 11, which it does not overlap.
    const Interferer sender = Fixed(2433.0, 2441.0, -50.0, 1.0);
    EXPECT_EQ(AssessChannel(6, {sender}).quality, 0);
    EXPECT_DOUBLE_EQ(AssessChannel(6, {sender}).airtime_lost, 1.0);
    EXPECT_EQ(AssessChannel(1, {sender}).quality, 100);
    EXPECT_EQ(AssessChannel(11, {sender}).quality, 100);
    // Below energy detect it costs rate, not airtime.
    const ChannelQuality weak = AssessChannel(6, {Fixed(2436.0, 2438.0, -80.0, 1.0)});
    EXPECT_DOUBLE_EQ(weak.airtime_lost, 0.0);
    EXPECT_GT(weak.worst_sinr_loss_db, 10.0);
    EXPECT_LT(weak.quality, 70);
    // At the noise floor and below, nothing to speak of.
    EXPECT_GE(AssessChannel(6, {Fixed(2436.0, 2438.0, -115.0, 1.0)}).quality, 99);
    // A hopper visits every channel alike, for a quarter of its time.
    const Interferer bt = Hopper(-50.0, 1.0);
    EXPECT_NEAR(AssessChannel(1, {bt}).airtime_lost, 20.0 / 79.0, 1e-9);
    EXPECT_EQ(AssessChannel(1, {bt}).quality, AssessChannel(13, {bt}).quality);
    int worst = 0;
    EXPECT_EQ(DeviceImpact(sender, &worst), 100);
    EXPECT_TRUE(worst >= 4 && worst <= 9) << worst;
}

TEST(AirQuality, NeverBetterForMorePowerMoreDutyOrMoreDevices) {
    const double powers[] = {-110.0, -90.0, -75.0, -63.0, -62.0, -40.0};
    const double duties[] = {0.0, 0.05, 0.3, 0.5, 0.9, 1.0};
    for (int ch : {1, 6, 11}) {
        for (size_t p = 0; p < 6; ++p) {
            for (size_t d = 0; d < 6; ++d) {
                const Interferer base = Fixed(2430.0, 2445.0, powers[p], duties[d]);
                const int q = AssessChannel(ch, {base}).quality;
                EXPECT_GE(q, 0);
                EXPECT_LE(q, 100);
                if (p + 1 < 6) {
                    EXPECT_LE(AssessChannel(ch, {Fixed(2430.0, 2445.0, powers[p + 1], duties[d])})
                                  .quality,
                              q);
                }
                if (d + 1 < 6) {
                    EXPECT_LE(AssessChannel(ch, {Fixed(2430.0, 2445.0, powers[p], duties[d + 1])})
                                  .quality,
                              q);
                }
                EXPECT_LE(AssessChannel(ch, {base, Hopper(powers[p], duties[d])}).quality, q);
            }
        }
    }
}

}  // namespace
}  // namespace tessaron_ui
