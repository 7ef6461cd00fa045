#include "air_quality.h"

#include <algorithm>
#include <cmath>

#include "decibel.h"

namespace tessaron_ui {

namespace {

constexpr double kWifiHalfWidthMhz = 10.0;
constexpr double kBinMhz = 0.3125;

// Rate a link keeps while the interferer is on, relative to clean air, by
// Shannon's capacity at the reference SNR.
double RateKept(double interference_dbm) {
    const double snr = DbToPowerRatio(kReferenceSnrDb);
    const double degraded = snr / (1.0 + DbToPowerRatio(interference_dbm - kNoiseFloorDbm));
    return std::log2(1.0 + degraded) / std::log2(1.0 + snr);
}

}  // namespace

double WifiCentreMhz(int channel) {
    return 2407.0 + 5.0 * channel;
}

double TypicalDuty(PulseType classification) {
    switch (classification) {
        case PULSE_MWO:
            return 0.5;  // the magnetron fires on one half of each mains cycle
        case PULSE_ANALOGPHONE:
        case PULSE_VIDEOCAM:
        case PULSE_UNK_HIGHDUTY:
            return 1.0;  // continuous carriers
        case PULSE_ZIGBEE:
            return 0.05;  // short frames of sensors and switches
        case PULSE_BLUETOOTH_SCO:
            return 0.33;  // a voice link fills two slots of every six
        case PULSE_BLUETOOTH:
            return 0.5;  // a busy data link
        case PULSE_FHSSPHONE_LOW:
        case PULSE_FHSSPHONE_HIGH:
            return 0.5;  // one side of a time-division duplex voice call
        default:
            return 0.3;  // game controllers and unknown hoppers
    }
}

bool InChannel(const Interferer& device, int channel, double* duty, double* power_dbm) {
    if (device.hopper) {
        // Each hop is narrow and lands whole inside the channel, for the
        // share of hops that fall within its 20 MHz.
        *duty = device.duty * std::min(1.0, 2.0 * kWifiHalfWidthMhz / kHopBandMhz);
        *power_dbm = device.power_dbm;
        return *duty > 0.0;
    }
    const double centre = WifiCentreMhz(channel);
    const double low = std::max(device.low_mhz, centre - kWifiHalfWidthMhz);
    const double high = std::min(device.high_mhz, centre + kWifiHalfWidthMhz);
    if (high <= low) {
        return false;
    }
    // A flat top at the strongest bin's level over the part inside the channel.
    const double bins = std::max(1.0, (high - low) / kBinMhz);
    *duty = device.duty;
    *power_dbm = device.power_dbm + 10.0 * std::log10(bins);
    return *duty > 0.0;
}

ChannelQuality AssessChannel(int channel, const std::vector<Interferer>& devices) {
    ChannelQuality q;
    q.channel = channel;
    double clear = 1.0;
    double rate = 1.0;
    for (const Interferer& device : devices) {
        double duty = 0.0;
        double power = 0.0;
        if (!InChannel(device, channel, &duty, &power)) {
            continue;
        }
        duty = std::min(1.0, std::max(0.0, duty));
        if (power >= kEnergyDetectDbm) {
            clear *= 1.0 - duty;
            continue;
        }
        const double kept = RateKept(power);
        rate *= 1.0 - duty + duty * kept;
        q.worst_sinr_loss_db = std::max(
            q.worst_sinr_loss_db, 10.0 * std::log10(1.0 + DbToPowerRatio(power - kNoiseFloorDbm)));
    }
    q.airtime_lost = 1.0 - clear;
    q.quality = static_cast<int>(std::lround(100.0 * clear * rate));
    return q;
}

int DeviceImpact(const Interferer& device, int* worst_channel) {
    int worst = 0;
    *worst_channel = 0;
    for (int ch = kFirstWifiChannel; ch <= kLastWifiChannel; ++ch) {
        const int cost = 100 - AssessChannel(ch, {device}).quality;
        if (cost > worst) {
            worst = cost;
            *worst_channel = ch;
        }
    }
    return worst;
}

}  // namespace tessaron_ui
