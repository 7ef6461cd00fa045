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

#endif
