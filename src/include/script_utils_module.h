// Shared vocabulary of the analysis: units, tuning constants read by more than
// one unit, and small stateless helpers for statistics and text.
//
// Units: card time in microseconds (u64), host time as timeval, frequency in
// MHz (float), 56 FFT bins of 312.5 kHz per 20 MHz subband (3.2 bins per MHz).
// Power values travel as positive floats meaning dB below 1 mW (75.0 is
// -75 dBm, smaller is stronger); the signed dBm thresholds below are compared
// against the negated value.
#ifndef TESSARON_SCRIPT_UTILS_MODULE_H
#define TESSARON_SCRIPT_UTILS_MODULE_H

#include <cstdint>
#include <string>
#include <vector>

#include "band_geometry.h"

typedef uint64_t u64;
typedef uint32_t u32;
typedef uint16_t u16;

inline constexpr u64 CONST_INVALID_TIME = 0;
inline constexpr u64 MAX_MAC_TIMESTAMP_VAL = 0xFFFFFFFFULL;  // the card's 32-bit clock
inline constexpr u32 TIME_DIFF_LIMIT = 3000;                 // us without samples ends pulses
inline constexpr u32 ACTIVE_PULSE_GAP = 0;                   // us
inline constexpr u32 CONST_MIN_PULSE_DURATION = 0;           // us
inline constexpr u32 MIN_ROWS_PER_SUBBAND = 50;
inline constexpr u64 MIN_SUBBAND_DURATION = 15000;  // us
inline constexpr int CONST_NOISE_FLOOR_RSSI = -85;  // dBm
inline constexpr int CONST_MIN_PEAK_THRESHOLD = -75;
inline constexpr int CONST_MIN_PEAK_RSSI_HIGHDUTY = -80;
inline constexpr int CONST_NF_HIGHDUTY = -90;
inline constexpr int CONST_BW_THRESHOLD = 15;  // dB below the peak a band may reach
inline constexpr u32 MIN_MWO_ON_PULSES = 3;
inline constexpr u32 MIN_MWO_DRIFT_INSTANCES = 2;
inline constexpr int MIN_BTACL_PULSES = 11;
inline constexpr int MIN_BTSCO_PULSES = 27;
inline constexpr int MIN_FHSS_HIGH_PULSES = 95;
inline constexpr int MAX_BTSCO_PULSES = 400;
inline constexpr int MAX_FHSS_PULSES = 800;
inline constexpr int MIN_XBOX_PULSES = 75;
inline constexpr float MAX_PULSE_PDF_PERSUBBAND = 0.5f;
inline constexpr int MIN_ZIGBEE_TIMESLICES = 55;
inline const std::string AP_MAC_INFO_FILE = "testFiles/ether_to_wireless_mapping";

// Power summary of a set of pulses, in dBm: min is the weakest.
struct PowerTuple {
    float min;
    float max;
    float mean;
    float stddev;
};

int GetNumSubbandFreq();
// Subband index of an exact centre frequency, or -1 (with a warning) for any
// other frequency. Callers must never use -1 as an index.
int GetFreqToBin(float curr_freq);
float GetAdaptiveNF(float avg_nf, float const_nf);
void calc_mean_stdev(const std::vector<float>& listin, float& mean, float& stdev);
float calc_median(const std::vector<float>& listin);
PowerTuple GetPulsePowerDistributionFromList(const std::vector<float>& power_list);
std::vector<float> GetEmptyList(unsigned tot_cols);
std::vector<int> GetEmptyListInt(unsigned tot_cols);
// Unsigned "absolute value": callers pass wrapped u64 differences.
u64 abs(u64 number);

std::string getStr(int var);
std::string getStr(u64 var);
std::string getStr(float var);
std::string getStr(double var);
std::string inttostr(int number);
std::string u64tostr(u64 number);
std::string floattostr(float number);
// A classifier's training-feature line: the label, then each value as
// " k:value" with k counting from 1.
std::string NumberedFeatureLine(const std::string& label, const std::vector<std::string>& values);

int stoint(const std::string& str);
float stofloat(const std::string& str);
void stoupper(std::string& s);
std::string rtrim(const std::string& pString);
void split(const std::string& str, const std::string& delimiters, std::vector<std::string>& tokens);

#endif
