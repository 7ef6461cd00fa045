// How much a Wi-Fi link on each 20 MHz channel (1 to 13) loses to the
// non-Wi-Fi devices heard around it, as a figure from 0 (unusable) to 100
// (clean air). See docs/air-quality.md for the reasoning.
//
// An interferer whose power inside the channel reaches the energy-detect
// threshold (-62 dBm) makes Wi-Fi stations defer: while it transmits the
// channel's airtime is lost. Weaker interferers leave the air usable but
// lower the SINR of every frame they overlap, and with it the rate.
//   airtime lost     A = 1 - prod(1 - d_i)              over deferring devices
//   rate kept        E = prod(1 - d_i + d_i * e_i)      over the others
//   e_i              = log2(1 + SNR / (1 + I_i/N)) / log2(1 + SNR)
//   quality          Q = 100 * (1 - A) * E
// d_i is the share of time device i is on the air inside the channel, I_i its
// in-channel power, N the noise floor of a 20 MHz channel and SNR that of a
// good link without interference.
#ifndef TESSARON_UI_AIR_QUALITY_H
#define TESSARON_UI_AIR_QUALITY_H

#include <vector>

#include "pulse_class.h"

namespace tessaron_ui {

constexpr int kFirstWifiChannel = 1;
constexpr int kLastWifiChannel = 13;
constexpr double kEnergyDetectDbm = -62.0;
constexpr double kNoiseFloorDbm = -95.0;  // 20 MHz: -101 dBm thermal plus a 6 dB noise figure
constexpr double kReferenceSnrDb = 25.0;  // a good link: 64-QAM territory
constexpr double kHopBandMhz = 79.0;      // hoppers spread over 2402..2480 MHz

struct Interferer {
    PulseType classification = PULSE_NONE;
    bool hopper = false;
    double low_mhz = 0.0;  // occupied band of a fixed device
    double high_mhz = 0.0;
    double power_dbm = -100.0;  // strongest 312.5 kHz bin, or the hopper's power
    double duty = 0.0;          // share of time on the air (on its own band)
};

struct ChannelQuality {
    int channel = 0;
    double airtime_lost = 0.0;  // 0..1
    double worst_sinr_loss_db = 0.0;
    int quality = 100;  // 0..100
};

double WifiCentreMhz(int channel);
// Typical on-air share of a class, when the spectrum gives no measurement.
double TypicalDuty(PulseType classification);
// Share of time the device is inside the channel and its power there; false
// when it never is.
bool InChannel(const Interferer& device, int channel, double* duty, double* power_dbm);
ChannelQuality AssessChannel(int channel, const std::vector<Interferer>& devices);
// Quality points the device costs on the channel it hurts most, alone.
int DeviceImpact(const Interferer& device, int* worst_channel);

}  // namespace tessaron_ui

#endif  // TESSARON_UI_AIR_QUALITY_H
