// Continuous carriers told apart by their occupied bandwidth. An analog
// cordless phone is narrowband FM voice: well under 1 MHz. An analog video
// sender is wideband FM: more than 10 MHz, with the bell-shaped spectrum of
// a video signal's amplitude distribution, whatever ripple rides on it.
#ifndef TESSARON_CARRIER_WIDTH_RULE_H
#define TESSARON_CARRIER_WIDTH_RULE_H

#include <vector>

#include "pulse_class.h"
#include "shapematch_module.h"

inline constexpr float CARRIER_MIN_DUTY = 0.9f;      // on the air 90 % of the time
inline constexpr float VIDEO_MIN_WIDTH_MHZ = 10.0f;  // at 15 dB below the peak
inline constexpr float ANALOG_MAX_WIDTH_MHZ = 1.0f;  // at 15 dB below the peak
inline constexpr float VIDEO_MAX_TOP_SHARE = 0.7f;   // -3 dB width / -15 dB width
inline constexpr float CARRIER_WIDTH_DROP_DB = 15.0f;
inline constexpr float CARRIER_TOP_DROP_DB = 3.0f;

inline constexpr float NO_NOISE_EDGE_DBM = -1000.0f;
// The widest a single narrowband line shows at 15 dB under its peak: the
// card's window's main lobe, 4 bins.
inline constexpr float LINE_MAX_WIDTH_MHZ = 4.0f / 3.2f;

// First and last bin of a band.
struct BinSpan {
    int low;
    int high;
};

// The contiguous bins around `peak` of a mean spectrum (dBm) within drop_db
// of the peak and at or above noise_edge_dbm.
BinSpan SpanWithin(const std::vector<float>& db_avg_dbm, int peak, float drop_db,
                   float noise_edge_dbm = NO_NOISE_EDGE_DBM);

// Width in MHz of the contiguous bins around `peak` of a mean spectrum
// (dBm) within drop_db of the peak and at or above noise_edge_dbm: a weak
// carrier's width ends where it meets the noise, not in the noise beyond.
// A band that runs into one edge of the view is taken as symmetric about
// its peak.
float CarrierWidthMhz(const std::vector<float>& db_avg_dbm, int peak, float drop_db,
                      float noise_edge_dbm = NO_NOISE_EDGE_DBM);

// Whether a carrier is no wider than one narrowband line seen through the
// card's window (at most LINE_MAX_WIDTH_MHZ at 15 dB under its peak).
bool IsNarrowLine(const HighDutyMetrics& metrics, const std::vector<float>& db_avg_dbm,
                  float noise_edge_dbm = NO_NOISE_EDGE_DBM);

// PULSE_VIDEOCAM or PULSE_ANALOGPHONE when the width alone decides a
// continuous carrier, PULSE_NONE when it is left to the shape rules.
PulseType CarrierClassByWidth(const HighDutyMetrics& metrics, const std::vector<float>& db_avg_dbm,
                              float noise_edge_dbm = NO_NOISE_EDGE_DBM);

// --- Near the noise --------------------------------------------------------

// Noise of mean power N averages, in dB over many samples, this far under
// N: 2.5 dB for exponential (Rayleigh-amplitude) power, less 0.5 dB for the
// whole-dB truncation that reads every stored value a little strong.
inline constexpr float NOISE_AVERAGE_BELOW_MEAN_DB = 2.0f;
// A bin's power over the noise is measured down to this far above where the
// noise averages: 5 spreads of a bin averaged over a 110 ms dwell even at
// 114 us (0.18 dB).
inline constexpr float EXCESS_FLOOR_DB = 1.0f;
// Shallower than this under its peak, a carrier's power over the noise
// shows too little of its shape to be measured by width.
inline constexpr float MIN_WIDTH_DEPTH_DB = 6.0f;

// The duty tells the share on the air only where its counter's level lies
// near the noise: at most 1 dB over N, the duty of a bin grows with the
// share at any mean level. With the level far above the noise (a card whose
// floor lies well under it) a few strong bursts pass it more often than a
// continuous emitter of the same mean, and the duty orders nothing.
inline constexpr float MAX_DUTY_LEVEL_OVER_NOISE_DB = 1.0f;
// Nor where a continuous emitter would pass the level less than this much
// more often than the noise alone.
inline constexpr double MIN_DUTY_EVIDENCE = 0.1;

// Share of the time a band is on the air, from the dB average and the duty
// of one bin: mean_dbm its averaged level, duty the share of samples whose
// power passed duty_level_dbm, noise_dbm the channel's mean noise power.
// The emitter is taken as noise-like (exponential power) while on, the bin
// as noise alone while off. `informative` is false where the share says
// nothing (see above).
struct OnShare {
    float share;
    bool informative;
};
OnShare OnShareOfBin(float mean_dbm, float duty, float noise_dbm, float duty_level_dbm);

// A mean spectrum (dBm) as the power over the noise, in dB relative to the
// noise's mean power; bins at or under where the noise averages read -100.
std::vector<float> ExcessOverNoiseDb(const std::vector<float>& db_avg_dbm, float noise_dbm);

// PULSE_VIDEOCAM or PULSE_ANALOGPHONE when the width of the carrier's power
// over the noise decides, PULSE_NONE otherwise (too weak to measure, or
// neither wide and bell-shaped nor narrow). Duty is the caller's test.
PulseType CarrierClassOverNoise(const HighDutyMetrics& metrics,
                                const std::vector<float>& db_avg_dbm, float noise_dbm);

#endif
